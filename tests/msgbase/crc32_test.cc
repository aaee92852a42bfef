#include "msgbase/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace twtrim {
namespace {

// The sliced CRC against the plain bit-at-a-time one on every length from 0 to
// 100 at every alignment (names are hashed at odd offsets), and on 4 KiB.
TEST(Crc32Test, SlicingMatchesBitWiseOnRandomData) {
  const auto reference = [](const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size * 8; ++i) {
      if (i % 8 == 0) crc ^= data[i / 8];
      crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
  };
  std::mt19937 random(12345);
  std::vector<uint8_t> data(4096 + 16);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length <= 100; ++length) {
      ASSERT_EQ(Crc32(data.data() + offset, length), reference(data.data() + offset, length))
          << "offset " << offset << " length " << length;
    }
  }
  EXPECT_EQ(Crc32(data.data(), 4096), reference(data.data(), 4096));
}

// The fingerprint's second hash is the standard FNV-1a: published values.
TEST(Crc32Test, FnvMatchesPublishedValues) {
  const auto fnv = [](std::string_view text) {
    return FnvUpdate(kFnvStart, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  EXPECT_EQ(fnv("a"), 0xE40C292Cu);
  EXPECT_EQ(fnv("foobar"), 0xBF9CF968u);
}

}  // namespace
}  // namespace twtrim
