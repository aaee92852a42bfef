#include "report/format.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace twtrim {
namespace {

TEST(FormatTest, NumbersCoverTheirWholeRange) {
  EXPECT_EQ(Decimal(0), "0");
  EXPECT_EQ(Decimal(10), "10");
  EXPECT_EQ(Decimal(UINT32_MAX), "4294967295");
  EXPECT_EQ(Decimal(uint64_t{UINT32_MAX} + 1), "4294967296");
  EXPECT_EQ(Decimal(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(SignedDecimal(-5), "-5");
  EXPECT_EQ(SignedDecimal(INT32_MAX), "2147483647");
  EXPECT_EQ(SignedDecimal(INT32_MIN), "-2147483648");
  EXPECT_EQ(Hex32(0), "00000000");
  EXPECT_EQ(Hex32(7), "00000007");
  EXPECT_EQ(Hex32(0xDEADBEEF), "DEADBEEF");
  EXPECT_EQ(Hex32(UINT32_MAX), "FFFFFFFF");
}

TEST(FormatTest, LabelsAndTimestampsArePadded) {
  EXPECT_EQ(PadLabel("Shared tosser lock:"), "Shared tosser lock: ");
  EXPECT_EQ(PadLabel("Started:"), "Started:            ");
  EXPECT_EQ(PadLabel("Exactly twenty chars"), "Exactly twenty chars");
  EXPECT_EQ(PadLabel("Longer than twenty characters:"), "Longer than twenty characters:");
  EXPECT_EQ(PadLabel(""), std::string(20, ' '));
  EXPECT_EQ(Timestamp(LocalTime{2026, 1, 9, 7, 5, 3}), "2026-01-09 07:05:03");
  EXPECT_EQ(Timestamp(LocalTime{2026, 12, 31, 23, 59, 59}), "2026-12-31 23:59:59");
  EXPECT_EQ(Timestamp(LocalTime{2000, 10, 10, 0, 0, 0}), "2000-10-10 00:00:00");
}

TEST(FormatTest, CommandLineEchoQuotesOnlyArgumentsWithBlanks) {
  const struct {
    std::vector<std::string> arguments;
    const char* echo;
  } cases[] = {
      {{}, ""},
      {{"TWTRIM32", "/ALL", "/DRYRUN"}, "TWTRIM32 /ALL /DRYRUN"},
      {{"C:\\Program Files\\TWTRIM32.EXE", "/ALL"}, "\"C:\\Program Files\\TWTRIM32.EXE\" /ALL"},
      {{"TWTRIM32", "/HOME=C:\\My Board"}, "TWTRIM32 \"/HOME=C:\\My Board\""},
      {{"TWTRIM32", "a\tb"}, "TWTRIM32 \"a\tb\""},
      // An empty argument leaves nothing between its two spaces.
      {{"TWTRIM32", "", "/ALL"}, "TWTRIM32  /ALL"},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandLineEcho(c.arguments), c.echo);
}

}  // namespace
}  // namespace twtrim
