#include "safety/fingerprint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/format.h"
#include "safety_fixture.h"

namespace twtrim {
namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return bytes;
}

using FingerprintTest = SafetyTest;

TEST_F(FingerprintTest, MatchesPublishedValuesAndTheByteWiseComputation) {
  struct Case {
    std::string bytes;
    FileFingerprint expected;
  };
  // The empty file's documented values, the CRC-32 check value and a
  // published FNV-1a vector, then lengths around the interleaving slices,
  // the 8-byte CRC steps and the 32 KiB read blocks.
  std::vector<Case> cases = {{"", {0, 0x811C9DC5u, 0}},
                             {"123456789", {9, test::Fnv1a("123456789"), 0xCBF43926u}},
                             {"a", {1, 0xE40C292Cu, test::Crc32("a")}}};
  for (size_t size : {7u, 8u, 17u, 255u, 32767u, 32768u, 32769u, 65576u, 200000u}) {
    cases.push_back({Pattern(size), ReferenceFingerprint(Pattern(size))});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    ASSERT_TRUE(dir_.Write("DATA", c.bytes));
    FileFingerprint fp{1, 2, 3};
    ASSERT_TRUE(FingerprintFile(os_, dir_.Path("DATA"), &fp));
    EXPECT_EQ(fp, c.expected);
  }
}

TEST_F(FingerprintTest, ShortReadsStillHashEveryByte) {
  const std::string bytes = Pattern(100000);
  ASSERT_TRUE(dir_.Write("DATA", bytes));
  os_.ShortNthCall(OsCall::kRead, 1);
  os_.ShortNthCall(OsCall::kRead, 3);
  FileFingerprint fp;
  ASSERT_TRUE(FingerprintFile(os_, dir_.Path("DATA"), &fp));
  EXPECT_EQ(fp, ReferenceFingerprint(bytes));
}

TEST_F(FingerprintTest, EveryFailingStepFailsAndLeavesTheResultAlone) {
  ASSERT_TRUE(dir_.Write("DATA", Pattern(70000)));
  FileFingerprint fp{7, 8, 9};
  EXPECT_FALSE(FingerprintFile(os_, dir_.Path("NOPE.DAT"), &fp));
  for (OsCall kind : {OsCall::kOpenSharedRead, OsCall::kSize, OsCall::kSeek, OsCall::kRead}) {
    for (uint64_t nth : {1u, 2u}) {
      if (nth == 2 && kind != OsCall::kRead) continue;
      SCOPED_TRACE(std::string(OsCallName(kind)) + " #" + std::to_string(nth));
      os_.ClearFaults();
      os_.ResetCounts();
      os_.FailNthCall(kind, nth);
      EXPECT_FALSE(FingerprintFile(os_, dir_.Path("DATA"), &fp));
      EXPECT_EQ(fp, (FileFingerprint{7, 8, 9}));
    }
  }
}

TEST_F(FingerprintTest, FileThatGrowsOrShrinksWhileReadFails) {
  for (const std::string& replacement : {Pattern(120000), Pattern(40000)}) {
    SCOPED_TRACE(replacement.size());
    ASSERT_TRUE(dir_.Write("DATA", Pattern(80000)));
    os_.ClearHooks();
    os_.ResetCounts();
    // After the size was taken and the first block read, someone rewrites it.
    os_.AddHook({OsCall::kRead, "DATA", 2}, [&] { ASSERT_TRUE(dir_.Write("DATA", replacement)); });
    FileFingerprint fp;
    EXPECT_FALSE(FingerprintFile(os_, dir_.Path("DATA"), &fp));
  }
}

// A file over 4 GiB must be hashed to its last byte and its size kept in
// 64 bits. It takes minutes under the sanitizers, so it runs only when
// TWTRIM_SLOW_TESTS is set.
TEST_F(FingerprintTest, SlowSparseFileOver4GiB) {
  if (std::getenv("TWTRIM_SLOW_TESTS") == nullptr) GTEST_SKIP() << "set TWTRIM_SLOW_TESTS=1";
  const uint64_t zeros = (uint64_t{1} << 32) + 3;
  const std::string path = dir_.Path("HUGE.DAT");
  {
    std::unique_ptr<OsFile> file = real_->CreateNew(path);
    ASSERT_TRUE(file);
    uint32_t put = 0;
    ASSERT_TRUE(file->Seek(zeros) && file->Write("tail!", 5, &put) && put == 5 && file->Close());
  }
  FileFingerprint fp;
  ASSERT_TRUE(FingerprintFile(*real_, path, &fp));
  EXPECT_EQ(fp.size, zeros + 5);

  // The reference runs byte by byte over every zero, with a plain table CRC.
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    table[i] = i;
    for (int k = 0; k < 8; ++k) table[i] = (table[i] >> 1) ^ (0xEDB88320u & (0u - (table[i] & 1)));
  }
  uint32_t fnv = 0x811C9DC5u, crc = 0xFFFFFFFFu;
  for (uint64_t i = 0; i < zeros + 5; ++i) {
    const uint8_t byte = i < zeros ? 0 : static_cast<uint8_t>("tail!"[i - zeros]);
    fnv = (fnv ^ byte) * 0x01000193u;
    crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  }
  EXPECT_EQ(Hex32(fp.fnv), Hex32(fnv));
  EXPECT_EQ(Hex32(fp.crc), Hex32(~crc));
}

}  // namespace
}  // namespace twtrim
