#include "platform/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace twtrim {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLineTest, BlanksQuotesAndEmptyArguments) {
  const struct {
    std::string line;
    Args arguments;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"  TWTRIM32\t\t/ALL   /DRYRUN  ", {"TWTRIM32", "/ALL", "/DRYRUN"}},
      // Quotes around the whole argument or only part of it vanish alike.
      {"TWTRIM32 \"/HOME=C:\\My Board\" /ALL", {"TWTRIM32", "/HOME=C:\\My Board", "/ALL"}},
      {"TWTRIM32 /HOME=\"C:\\My Board\" /ALL", {"TWTRIM32", "/HOME=C:\\My Board", "/ALL"}},
      {"\"C:\\Program Files\\TWTRIM32.EXE\" /V", {"C:\\Program Files\\TWTRIM32.EXE", "/V"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      // "" is an empty argument, wherever it stands.
      {"TWTRIM32 \"\" /ALL", {"TWTRIM32", "", "/ALL"}},
      {"TWTRIM32 a\"\"b", {"TWTRIM32", "ab"}},
      // An unclosed quote runs to the end of the line.
      {"TWTRIM32 \"/LOG=a b.TXT", {"TWTRIM32", "/LOG=a b.TXT"}},
      // No escape character: backslashes are ordinary bytes.
      {"TWTRIM32 C:\\TW\\ \\\"x", {"TWTRIM32", "C:\\TW\\", "\\x"}},
      // Bytes above 127 pass through untouched.
      {"TWTRIM32 /HOME=C:\\\xC9T\xC9", {"TWTRIM32", "/HOME=C:\\\xC9T\xC9"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << c.line;
}

TEST(SplitCommandLineTest, KeepsEveryArgumentForTheParserToRefuse) {
  std::string line = "TWTRIM32";
  Args expected = {"TWTRIM32"};
  for (int i = 1; i < 70; ++i) {
    line += " /A" + std::to_string(i);
    expected.push_back("/A" + std::to_string(i));
  }
  EXPECT_EQ(SplitCommandLine(line), expected);
}

TEST(SplitCommandLineTest, KeepsOnlyTheFirst4095BytesUpToANul) {
  // 5,000 characters: "P /LOG=" then a long value, cut after byte 4095.
  const std::string head = "P /LOG=";
  const std::string line = head + std::string(5000 - head.size(), 'x');
  const Args arguments = SplitCommandLine(line);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(arguments[1].size(), 4095u - 2u);

  // A blank exactly at byte 4096 no longer separates anything.
  const std::string edge = std::string(4095, 'a') + " b";
  EXPECT_EQ(SplitCommandLine(edge), Args{std::string(4095, 'a')});
  const std::string inside = std::string(4093, 'a') + " b c";
  EXPECT_EQ(SplitCommandLine(inside), (Args{std::string(4093, 'a'), "b"}));
  EXPECT_EQ(SplitCommandLine(std::string("P /ALL\0/WRITE", 13)), (Args{"P", "/ALL"}));
}

}  // namespace
}  // namespace twtrim
