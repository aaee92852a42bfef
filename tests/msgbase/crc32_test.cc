#include "msgbase/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace twtrim {
namespace {

// The plain byte-at-a-time method the fast CRC must agree with.
uint32_t ReferenceCrc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

uint32_t CrcOf(const std::string& text) {
  return Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc32Test, KnownVectors) {
  EXPECT_EQ(CrcOf(""), 0x00000000u);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

// Every length from 0 to 100 and every alignment of the start exercises the
// eight-byte steps and both tails.
TEST(Crc32Test, SlicingMatchesByteWiseOnRandomData) {
  std::mt19937 random(12345);
  std::vector<uint8_t> data(4096 + 16);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length <= 100; ++length) {
      ASSERT_EQ(Crc32(data.data() + offset, length), ReferenceCrc32(data.data() + offset, length))
          << "offset " << offset << " length " << length;
    }
  }
  EXPECT_EQ(Crc32(data.data(), 4096), ReferenceCrc32(data.data(), 4096));
}

// A file is hashed buffer by buffer: updating in pieces must equal one pass.
TEST(Crc32Test, UpdatesInPiecesEqualOnePass) {
  std::mt19937 random(99);
  std::vector<uint8_t> data(1000);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (size_t split : {1u, 7u, 8u, 9u, 500u, 999u}) {
    uint32_t crc = Crc32Update(kCrc32Start, data.data(), split);
    crc = Crc32Update(crc, data.data() + split, data.size() - split);
    EXPECT_EQ(~crc, Crc32(data.data(), data.size())) << "split at " << split;
  }
}

TEST(FnvTest, KnownValuesAndPieces) {
  const auto* text = reinterpret_cast<const uint8_t*>("foobar");
  EXPECT_EQ(FnvUpdate(kFnvStart, text, 0), 0x811C9DC5u);  // the empty file
  EXPECT_EQ(FnvUpdate(kFnvStart, text, 1), 0xE30C2799u);  // "f"
  EXPECT_EQ(FnvUpdate(kFnvStart, text, 6), 0xBF9CF968u);  // "foobar"
  EXPECT_EQ(FnvUpdate(FnvUpdate(kFnvStart, text, 2), text + 2, 4), 0xBF9CF968u);
}

}  // namespace
}  // namespace twtrim
