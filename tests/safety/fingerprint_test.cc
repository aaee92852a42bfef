#include "safety/fingerprint.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/format.h"
#include "safety_fixture.h"

namespace twtrim {
namespace {

// The FNV-1a state is multiplied by prime^count over `count` zero bytes.
uint32_t FnvZeroFactor(uint64_t count) {
  uint32_t result = 1;
  for (uint32_t base = 0x01000193u; count != 0; count >>= 1, base *= base) {
    if (count & 1) result *= base;
  }
  return result;
}

// The CRC register over zero bytes, as 32x32 matrices over GF(2).
using Gf2Matrix = std::array<uint32_t, 32>;
uint32_t Apply(const Gf2Matrix& m, uint32_t v) {
  uint32_t sum = 0;
  for (int i = 0; v != 0; ++i, v >>= 1) {
    if (v & 1) sum ^= m[i];
  }
  return sum;
}
Gf2Matrix Square(const Gf2Matrix& m) {
  Gf2Matrix s{};
  for (int i = 0; i < 32; ++i) s[i] = Apply(m, m[i]);
  return s;
}
uint32_t CrcOverZeros(uint32_t crc, uint64_t count) {
  Gf2Matrix op{};
  op[0] = 0xEDB88320u;  // one zero bit
  for (int i = 1; i < 32; ++i) op[i] = 1u << (i - 1);
  for (int i = 0; i < 3; ++i) op = Square(op);  // one zero byte
  for (; count != 0; count >>= 1, op = Square(op)) {
    if (count & 1) crc = Apply(op, crc);
  }
  return crc;
}

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

TEST_F(FingerprintTest, EmptyFileHasTheDocumentedValues) {
  ASSERT_TRUE(dir_.Write("EMPTY.DAT", ""));
  FileFingerprint fp{1, 2, 3};
  ASSERT_TRUE(FingerprintFile(os_, dir_.Path("EMPTY.DAT"), &fp));
  EXPECT_EQ(fp.size, 0u);
  EXPECT_EQ(Hex32(fp.fnv), "811C9DC5");
  EXPECT_EQ(Hex32(fp.crc), "00000000");
}

TEST_F(FingerprintTest, PublishedCheckValues) {
  // The standard check value of CRC-32 and a published FNV-1a test vector.
  ASSERT_TRUE(dir_.Write("DIGITS", "123456789"));
  ASSERT_TRUE(dir_.Write("A", "a"));
  FileFingerprint digits, a;
  ASSERT_TRUE(FingerprintFile(os_, dir_.Path("DIGITS"), &digits));
  ASSERT_TRUE(FingerprintFile(os_, dir_.Path("A"), &a));
  EXPECT_EQ(digits.crc, 0xCBF43926u);
  EXPECT_EQ(a.fnv, 0xE40C292Cu);
}

TEST_F(FingerprintTest, MatchesByteWiseComputationAcrossBlockBoundaries) {
  // Lengths around the interleaving slices, the 8-byte CRC steps and the
  // 32 KiB read blocks.
  for (size_t size :
       {1u, 7u, 8u, 15u, 16u, 17u, 255u, 32767u, 32768u, 32769u, 65536u + 40u, 200000u}) {
    SCOPED_TRACE(size);
    const std::string bytes = Pattern(size);
    ASSERT_TRUE(dir_.Write("DATA", bytes));
    FileFingerprint fp;
    ASSERT_TRUE(FingerprintFile(os_, dir_.Path("DATA"), &fp));
    EXPECT_EQ(fp, ReferenceFingerprint(bytes));
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
  for (OsCall kind : {OsCall::kOpenSharedRead, OsCall::kSize, OsCall::kSeek, OsCall::kRead}) {
    for (uint64_t nth : {1u, 2u}) {
      if (nth == 2 && kind != OsCall::kRead) continue;
      SCOPED_TRACE(std::string(OsCallName(kind)) + " #" + std::to_string(nth));
      os_.ClearFaults();
      os_.FailNthCall(kind, nth);
      FileFingerprint fp{7, 8, 9};
      EXPECT_FALSE(FingerprintFile(os_, dir_.Path("DATA"), &fp));
      EXPECT_EQ(fp, (FileFingerprint{7, 8, 9}));
      os_.ResetCounts();
    }
  }
}

TEST_F(FingerprintTest, MissingFileFails) {
  FileFingerprint fp;
  EXPECT_FALSE(FingerprintFile(os_, dir_.Path("NOPE.DAT"), &fp));
}

TEST_F(FingerprintTest, FileThatGrowsOrShrinksWhileReadFails) {
  const std::string path = dir_.Path("DATA");
  for (const std::string& replacement : {Pattern(120000), Pattern(40000)}) {
    SCOPED_TRACE(replacement.size());
    ASSERT_TRUE(dir_.Write("DATA", Pattern(80000)));
    os_.ClearHooks();
    os_.ResetCounts();
    // After the size was taken and the first block read, someone rewrites it.
    os_.AddHook({OsCall::kRead, "DATA", 2}, [&] { ASSERT_TRUE(dir_.Write("DATA", replacement)); });
    FileFingerprint fp;
    EXPECT_FALSE(FingerprintFile(os_, path, &fp));
  }
}

// A file over 4 GiB must be hashed to its last byte and its size kept in
// 64 bits. It takes minutes under the sanitizers, so it runs only when
// TWTRIM_SLOW_TESTS is set.
TEST_F(FingerprintTest, SlowSparseFileOver4GiB) {
  if (std::getenv("TWTRIM_SLOW_TESTS") == nullptr) GTEST_SKIP() << "set TWTRIM_SLOW_TESTS=1";
  const uint64_t size = (uint64_t{1} << 32) + 5;
  const std::string path = dir_.Path("HUGE.DAT");
  {
    std::unique_ptr<OsFile> file = real_->CreateExclusive(path);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Seek(size - 5));
    uint32_t put = 0;
    ASSERT_TRUE(file->Write("tail!", 5, &put));
    ASSERT_EQ(put, 5u);
    ASSERT_TRUE(file->Close());
  }
  FileFingerprint fp;
  ASSERT_TRUE(FingerprintFile(*real_, path, &fp));
  EXPECT_EQ(fp.size, size);

  // Over a run of zero bytes FNV-1a multiplies by the prime once per byte
  // and the CRC register is a fixed linear map per byte, so the expected
  // values follow from powers instead of 4 GiB of reference work.
  uint32_t fnv = 0x811C9DC5u * FnvZeroFactor(size - 5);
  uint32_t crc = CrcOverZeros(0xFFFFFFFFu, size - 5);
  for (char c : std::string("tail!")) {
    fnv = (fnv ^ static_cast<uint8_t>(c)) * 0x01000193u;
    crc = ReferenceCrcByte(crc, static_cast<uint8_t>(c));
  }
  EXPECT_EQ(Hex32(fp.fnv), Hex32(fnv));
  EXPECT_EQ(Hex32(fp.crc), Hex32(~crc));
}

}  // namespace
}  // namespace twtrim
