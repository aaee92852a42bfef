#include "msgbase/name_crc.h"

#include <gtest/gtest.h>

#include <string>

#include "board/board_builder.h"
#include "msgbase/crc32.h"

namespace twtrim {
namespace {

uint32_t CrcOf(const std::string& text) {
  return NameCrc(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

PtrRecord Record(const std::string& from, const std::string& to) {
  board::MessageSpec spec = board::Root(1);
  spec.from = from;
  spec.to = to;
  return board::MakePtrRecord(spec, 0);
}

TEST(NameCrcTest, IsCrc32OfExactlyTheNameBytes) {
  EXPECT_EQ(CrcOf(""), 0u);
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
  // No trimming and no case folding: each of these is a different name.
  EXPECT_NE(CrcOf("Sysop"), CrcOf("SYSOP"));
  EXPECT_NE(CrcOf("Sysop"), CrcOf("Sysop "));
}

TEST(NameCrcTest, NameCheckAcceptsEitherConventionPerField) {
  const PtrRecord ptr = Record("Ada Brennan", "All");
  const uint32_t from = CrcOf("Ada Brennan");
  const uint32_t to = CrcOf("All");
  struct Case {
    uint32_t fromCrc, toCrc;
    bool pass;
  };
  const Case cases[] = {
      {from, to, true},          // both plain
      {~from, ~to, true},        // both complemented
      {from, ~to, true},         // mixed within one record
      {~from, to, true},         //
      {from ^ 1u, to, false},    // From wrong
      {from, to + 1u, false},    // To wrong
      {to, from, false},         // swapped fields
      {0u, 0xFFFFFFFFu, false},  // the empty-name values for non-empty names
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameCheck(ptr, c.fromCrc, c.toCrc), c.pass)
        << std::hex << c.fromCrc << " " << c.toCrc;
  }
}

TEST(NameCrcTest, EmptyNameAcceptsZeroAndAllOnes) {
  const PtrRecord ptr = Record("", "");
  EXPECT_TRUE(NameCheck(ptr, 0u, 0u));
  EXPECT_TRUE(NameCheck(ptr, 0xFFFFFFFFu, 0xFFFFFFFFu));
  EXPECT_TRUE(NameCheck(ptr, 0u, 0xFFFFFFFFu));
  EXPECT_FALSE(NameCheck(ptr, 1u, 0u));
}

// An over-long length fails even when the stored CRCs are right for the
// bytes the length claims.
TEST(NameCrcTest, OverLongLengthsFailWithoutComparing) {
  PtrRecord ptr = Record("Sysop", "All");
  const uint32_t to = CrcOf("All");
  ptr.bytes[PtrRecord::kFromLength] = 31;
  const uint32_t from31 = NameCrc(&ptr.bytes[PtrRecord::kFrom], 31);
  EXPECT_FALSE(NameCheck(ptr, from31, to));
  ptr.bytes[PtrRecord::kFromLength] = 30;
  const uint32_t from30 = NameCrc(&ptr.bytes[PtrRecord::kFrom], 30);
  EXPECT_TRUE(NameCheck(ptr, from30, to));  // 30 is the largest valid length

  PtrRecord wide = Record("Sysop", "All");
  const uint32_t from = CrcOf("Sysop");
  wide.bytes[PtrRecord::kToLength] = 62;
  EXPECT_FALSE(NameCheck(wide, from, NameCrc(&wide.bytes[PtrRecord::kTo], 62)));
  wide.bytes[PtrRecord::kToLength] = 61;
  EXPECT_TRUE(NameCheck(wide, from, NameCrc(&wide.bytes[PtrRecord::kTo], 61)));
}

}  // namespace
}  // namespace twtrim
