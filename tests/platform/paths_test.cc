#include "platform/paths.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace twtrim {
namespace {

// The separator JoinPath inserts, as a string for building expectations.
const std::string kSep(1, kPathSeparator);

TEST(JoinPathTest, JoinsWithOneSeparatorAndKeepsAbsoluteNames) {
  const struct {
    std::string directory, name, expected;
  } cases[] = {
      {"C:\\TW", "MESSAGE", "C:\\TW" + kSep + "MESSAGE"},
      {"C:\\TW\\", "MESSAGE", "C:\\TW\\MESSAGE"},
      {"/srv/bbs/", "MESSAGE", "/srv/bbs/MESSAGE"},
      {"", "TWMCONF.DAT", "TWMCONF.DAT"},
      {"C:\\TW", "D:\\logs\\run.TXT", "D:\\logs\\run.TXT"},
      {"C:\\TW", "/abs/run.TXT", "/abs/run.TXT"},
      {"C:\\TW", "\\\\server\\share\\r.TXT", "\\\\server\\share\\r.TXT"},
      {"C:", "x.TXT", "C:" + kSep + "x.TXT"},
      // No normalisation: dot segments and doubled separators stay.
      {"a\\\\..\\b", "c", "a\\\\..\\b" + kSep + "c"},
  };
  for (const auto& c : cases) {
    std::string result = "stale";
    EXPECT_TRUE(JoinPath(&result, c.directory, c.name)) << c.directory << " + " << c.name;
    EXPECT_EQ(result, c.expected) << c.directory << " + " << c.name;
  }
}

TEST(JoinPathTest, FailsRatherThanTruncates) {
  std::string result;
  const std::string dir504(504, 'd');
  EXPECT_TRUE(JoinPath(&result, dir504, "123456"));
  EXPECT_EQ(result, dir504 + kSep + "123456");  // 511 characters
  result = "stale";
  EXPECT_FALSE(JoinPath(&result, dir504, "1234567"));
  EXPECT_TRUE(result.empty());
  // A full directory has no room for the separator, even for an empty name...
  EXPECT_FALSE(JoinPath(&result, std::string(511, 'd'), ""));
  // ...but one that already ends in a separator needs none.
  EXPECT_TRUE(JoinPath(&result, std::string(510, 'd') + "\\", ""));
  EXPECT_EQ(result.size(), 511u);
  EXPECT_FALSE(JoinPath(&result, std::string(512, 'd'), "x"));
  EXPECT_FALSE(JoinPath(&result, "C:\\TW", "\\" + std::string(511, 'n')));
  EXPECT_TRUE(JoinPath(&result, "C:\\TW", "\\" + std::string(510, 'n')));
}

TEST(PathPredicateTest, OnePathPredicates) {
  const struct {
    const char* name;
    bool (*predicate)(std::string_view);
    std::vector<const char*> yes, no;
  } cases[] = {
      {"IsAbsolutePath",
       IsAbsolutePath,
       {"C:\\x", "C:x", "\\x", "/x", "\\\\server\\share"},
       {"x", "..\\x", "", "a/b", "x/:"}},
      {"HasParentSegment",
       HasParentSegment,
       {"..", "..\\x", "a\\..\\b", "a/../", "C:\\TW\\..", "/../x.TXT"},
       {"...", "a..b", ".\\x", "", "a\\.\\b", "..x\\y", "x..\\y"}},
      {"HasTxtExtension",
       HasTxtExtension,
       {"r.TXT", "r.txt", "R.TxT", ".txt", "C:\\a b\\x.tXt"},
       {"txt", "r.log", "r.TXT ", "r.TXTX", "rTXT", "", "r.TX"}},
  };
  for (const auto& c : cases) {
    for (const char* path : c.yes) EXPECT_TRUE(c.predicate(path)) << c.name << " " << path;
    for (const char* path : c.no) EXPECT_FALSE(c.predicate(path)) << c.name << " " << path;
  }
}

struct TwoPathCase {
  const char* a;
  const char* b;
  bool expected;
};

TEST(PathPredicateTest, IsInsideDirectory) {
  const TwoPathCase cases[] = {
      {"C:\\TW\\MESSAGE", "c:/tw/message/", true},
      {"C:\\TW\\MESSAGE\\r.txt", "C:\\TW\\MESSAGE", true},
      {"d:/board/msgs/x.TXT", "D:\\Board\\Msgs\\", true},
      {"C:\\TW\\MESSAGES\\r.TXT", "C:\\TW\\MESSAGE", false},
      {"C:\\TW\\r.TXT", "C:\\TW\\MESSAGE", false},
      {"C:\\TW", "C:\\TW\\MESSAGE", false},
      // Textual: a relative spelling of the same place does not match.
      {"MESSAGE\\r.TXT", "C:\\TW\\MESSAGE", false},
      // An empty directory, or one of separators only, holds the rooted paths.
      {"", "", true},
      {"\\r.TXT", "", true},
      {"/r.TXT", "//", true},
      {"r.TXT", "", false},
      {"C:\\r.TXT", "\\", false},
  };
  for (const TwoPathCase& c : cases) {
    EXPECT_EQ(IsInsideDirectory(c.a, c.b), c.expected) << c.a << " in " << c.b;
  }
}

TEST(PathPredicateTest, SameDirectoryAndSamePath) {
  const TwoPathCase cases[] = {
      {"c:/tw/", "C:\\TW", true}, {"c:/tw/", "C:\\TW\\\\", true},
      {"C:\\", "c:/", true},      {"", "", true},
      {"/", "\\", true},          {"C:\\TW2", "C:\\TW", false},
      {"C:", "C:\\", false},      {"C:\\TW", "", false},
  };
  for (const TwoPathCase& c : cases) {
    EXPECT_EQ(SameDirectory(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(SameDirectory(c.b, c.a), c.expected) << c.b << " vs " << c.a;
  }
  // Paths ignore case and slash kind only.
  EXPECT_TRUE(SamePath("C:\\TW\\TWMSG01.PTR", "c:/tw/twmsg01.ptr"));
  EXPECT_FALSE(SamePath("C:\\TW\\", "C:\\TW"));
  EXPECT_FALSE(SamePath("C:\\TW\\A", "C:\\TW\\B"));
}

TEST(TextCompareTest, EqualsAndStartsWithIgnoreAsciiCaseOnly) {
  EXPECT_TRUE(EqualsIgnoreCase("/dryrun", "/DRYRUN"));
  EXPECT_FALSE(EqualsIgnoreCase("/DRYRUNX", "/DRYRUN"));
  EXPECT_FALSE(EqualsIgnoreCase("/DRYRUN", "/DRYRUNX"));
  // Code-page letters with diacritics are never folded (0xE9 'e acute', 0xC9 'E acute').
  EXPECT_FALSE(EqualsIgnoreCase("\xE9", "\xC9"));
  EXPECT_FALSE(EqualsIgnoreCase("@", "`"));  // neighbours of the letter ranges
  EXPECT_TRUE(StartsWithIgnoreCase("/home=C:\\x", "/HOME="));
  EXPECT_TRUE(StartsWithIgnoreCase("anything", ""));
  EXPECT_FALSE(StartsWithIgnoreCase("/CON", "/CONF"));
  EXPECT_FALSE(StartsWithIgnoreCase("/\xC9", "/\xE9"));
}

TEST(TextCompareTest, BaseNameTakesThePartAfterEitherSeparator) {
  EXPECT_EQ(BaseName("C:\\Program Files\\VIZIZE32.EXE"), "VIZIZE32.EXE");
  EXPECT_EQ(BaseName("a/b\\c"), "c");
  EXPECT_EQ(BaseName("plain"), "plain");
  EXPECT_EQ(BaseName("dir\\"), "");
}

}  // namespace
}  // namespace twtrim
