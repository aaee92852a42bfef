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
  board::MessageShape shape = board::Root(1);
  shape.from = from;
  shape.to = to;
  return board::MakePtrRecord(shape, 0);
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
  const PtrRecord empty = Record("", "");
  const uint32_t from = CrcOf("Ada Brennan");
  const uint32_t to = CrcOf("All");
  struct Case {
    const PtrRecord* record;
    uint32_t fromCrc, toCrc;
    bool pass;
  };
  const Case cases[] = {
      {&ptr, from, to, true},          // both plain
      {&ptr, ~from, ~to, true},        // both complemented
      {&ptr, from, ~to, true},         // mixed within one record
      {&ptr, ~from, to, true},         //
      {&ptr, from ^ 1u, to, false},    // From wrong
      {&ptr, from, to + 1u, false},    // To wrong
      {&ptr, to, from, false},         // swapped fields
      {&ptr, 0u, 0xFFFFFFFFu, false},  // the empty-name values for non-empty names
      {&empty, 0u, 0xFFFFFFFFu, true}, {&empty, 0xFFFFFFFFu, 0u, true}, {&empty, 1u, 0u, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameCheck(*c.record, c.fromCrc, c.toCrc), c.pass)
        << std::hex << c.fromCrc << " " << c.toCrc;
  }
}

// An over-long length fails even when the stored CRCs are right for the
// bytes the length claims; 30 and 61 are the largest valid lengths.
TEST(NameCrcTest, OverLongLengthsFailWithoutComparing) {
  struct Case {
    size_t lengthAt, nameAt;
    uint8_t length;
    bool pass;
  };
  const Case cases[] = {
      {PtrRecord::kFromLength, PtrRecord::kFrom, 31, false},
      {PtrRecord::kFromLength, PtrRecord::kFrom, 30, true},
      {PtrRecord::kToLength, PtrRecord::kTo, 62, false},
      {PtrRecord::kToLength, PtrRecord::kTo, 61, true},
  };
  for (const Case& c : cases) {
    PtrRecord ptr = Record("Sysop", "All");
    ptr.bytes[c.lengthAt] = c.length;
    const uint32_t claimed = NameCrc(&ptr.bytes[c.nameAt], c.length);
    const bool isFrom = c.nameAt == PtrRecord::kFrom;
    EXPECT_EQ(NameCheck(ptr, isFrom ? claimed : CrcOf("Sysop"), isFrom ? CrcOf("All") : claimed),
              c.pass)
        << int{c.length};
  }
}

}  // namespace
}  // namespace twtrim
