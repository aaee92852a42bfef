#include "report/paths.h"

#include <string>

#include <gtest/gtest.h>

namespace twtrim {
namespace {

// The separator JoinPath inserts, as a string for building expectations.
const std::string kSep(1, kPathSeparator);

struct JoinCase {
  std::string directory;
  std::string name;
  bool ok;
  std::string expected;
};

TEST(JoinPathTest, JoinsWithOneSeparatorAndKeepsAbsoluteNames) {
  const JoinCase cases[] = {
      {"C:\\TW", "MESSAGE", true, "C:\\TW" + kSep + "MESSAGE"},
      {"C:\\TW\\", "MESSAGE", true, "C:\\TW\\MESSAGE"},
      {"/srv/bbs/", "MESSAGE", true, "/srv/bbs/MESSAGE"},
      {"", "TWMCONF.DAT", true, "TWMCONF.DAT"},
      {"C:\\TW", "D:\\logs\\run.TXT", true, "D:\\logs\\run.TXT"},
      {"C:\\TW", "/abs/run.TXT", true, "/abs/run.TXT"},
      {"C:\\TW", "\\\\server\\share\\r.TXT", true, "\\\\server\\share\\r.TXT"},
      {"C:", "x.TXT", true, "C:" + kSep + "x.TXT"},
      // No normalisation: dot segments and doubled separators stay.
      {"a\\\\..\\b", "c", true, "a\\\\..\\b" + kSep + "c"},
  };
  for (const JoinCase& c : cases) {
    std::string result = "stale";
    EXPECT_EQ(JoinPath(&result, c.directory, c.name), c.ok) << c.directory << " + " << c.name;
    EXPECT_EQ(result, c.expected) << c.directory << " + " << c.name;
  }
}

TEST(JoinPathTest, FailsRatherThanTruncates) {
  std::string result;
  const std::string dir504(504, 'd');
  EXPECT_TRUE(JoinPath(&result, dir504, "123456"));
  EXPECT_EQ(result.size(), 511u);
  EXPECT_EQ(result, dir504 + kSep + "123456");

  result = "stale";
  EXPECT_FALSE(JoinPath(&result, dir504, "1234567"));
  EXPECT_TRUE(result.empty());

  // A full directory has no room for the separator, even for an empty name.
  EXPECT_FALSE(JoinPath(&result, std::string(511, 'd'), ""));
  EXPECT_TRUE(result.empty());
  // ...but one that already ends in a separator needs none.
  EXPECT_TRUE(JoinPath(&result, std::string(510, 'd') + "\\", ""));
  EXPECT_EQ(result.size(), 511u);

  EXPECT_FALSE(JoinPath(&result, std::string(512, 'd'), "x"));
  EXPECT_FALSE(JoinPath(&result, "C:\\TW", "\\" + std::string(511, 'n')));
  EXPECT_TRUE(JoinPath(&result, "C:\\TW", "\\" + std::string(510, 'n')));
  EXPECT_EQ(result.size(), 511u);
}

TEST(PathPredicateTest, IsAbsolutePath) {
  for (const char* path : {"C:\\x", "C:x", "\\x", "/x", "\\\\server\\share"}) {
    EXPECT_TRUE(IsAbsolutePath(path)) << path;
  }
  for (const char* path : {"x", "..\\x", "", "a/b", "x/:"}) {
    EXPECT_FALSE(IsAbsolutePath(path)) << path;
  }
}

TEST(PathPredicateTest, HasParentSegment) {
  for (const char* path : {"..", "..\\x", "a\\..\\b", "a/../", "C:\\TW\\..", "/../x.TXT"}) {
    EXPECT_TRUE(HasParentSegment(path)) << path;
  }
  for (const char* path : {"...", "a..b", ".\\x", "", "a\\.\\b", "..x\\y", "x..\\y"}) {
    EXPECT_FALSE(HasParentSegment(path)) << path;
  }
}

TEST(PathPredicateTest, HasTxtExtension) {
  for (const char* path : {"r.TXT", "r.txt", "R.TxT", ".txt", "C:\\a b\\x.tXt"}) {
    EXPECT_TRUE(HasTxtExtension(path)) << path;
  }
  for (const char* path : {"txt", "r.log", "r.TXT ", "r.TXTX", "rTXT", "", "r.TX"}) {
    EXPECT_FALSE(HasTxtExtension(path)) << path;
  }
}

struct InsideCase {
  const char* path;
  const char* directory;
  bool inside;
};

TEST(PathPredicateTest, IsInsideDirectory) {
  const InsideCase cases[] = {
      {"C:\\TW\\MESSAGE", "c:/tw/message/", true},
      {"C:\\TW\\MESSAGE\\r.txt", "C:\\TW\\MESSAGE", true},
      {"C:\\TW\\MESSAGE\\", "C:\\TW\\MESSAGE", true},
      {"d:/board/msgs/x.TXT", "D:\\Board\\Msgs\\", true},
      {"C:\\TW\\MESSAGES\\r.TXT", "C:\\TW\\MESSAGE", false},
      {"C:\\TW\\MESSAGE2\\x.TXT", "C:\\TW\\MESSAGE", false},
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
  for (const InsideCase& c : cases) {
    EXPECT_EQ(IsInsideDirectory(c.path, c.directory), c.inside) << c.path << " in " << c.directory;
  }
}

struct SameCase {
  const char* a;
  const char* b;
  bool same;
};

TEST(PathPredicateTest, SameDirectory) {
  const SameCase cases[] = {
      {"c:/tw/", "C:\\TW", true},
      {"C:\\TW\\\\", "C:\\TW", true},
      {"c:/tw/", "C:\\TW\\\\", true},
      {"C:\\", "c:/", true},
      {"", "", true},
      {"C:\\TW\\MESSAGE", "c:/tw/message/", true},
      {"C:\\TW2", "C:\\TW", false},
      {"C:\\TW", "C:\\TW2", false},
      {"C:", "C:\\", false},
      {"/", "\\", true},
      {"C:\\TW", "", false},
  };
  for (const SameCase& c : cases) {
    EXPECT_EQ(SameDirectory(c.a, c.b), c.same) << c.a << " vs " << c.b;
    EXPECT_EQ(SameDirectory(c.b, c.a), c.same) << c.b << " vs " << c.a;
  }
}

TEST(PathPredicateTest, SamePathIgnoresCaseAndSlashKindOnly) {
  EXPECT_TRUE(SamePath("C:\\TW\\TWMSG01.PTR", "c:/tw/twmsg01.ptr"));
  EXPECT_FALSE(SamePath("C:\\TW\\", "C:\\TW"));
  EXPECT_FALSE(SamePath("C:\\TW\\A", "C:\\TW\\B"));
}

TEST(TextCompareTest, EqualsAndStartsWithIgnoreAsciiCaseOnly) {
  EXPECT_TRUE(EqualsIgnoreCase("/dryrun", "/DRYRUN"));
  EXPECT_FALSE(EqualsIgnoreCase("/DRYRUNX", "/DRYRUN"));
  EXPECT_FALSE(EqualsIgnoreCase("/DRYRUN", "/DRYRUNX"));
  EXPECT_TRUE(EqualsIgnoreCase("", ""));
  // Code-page letters with diacritics are never folded (0xE9 'e acute', 0xC9 'E acute').
  EXPECT_FALSE(EqualsIgnoreCase("\xE9", "\xC9"));
  EXPECT_FALSE(EqualsIgnoreCase("@", "`"));  // neighbours of the letter ranges

  EXPECT_TRUE(StartsWithIgnoreCase("/home=C:\\x", "/HOME="));
  EXPECT_TRUE(StartsWithIgnoreCase("anything", ""));
  EXPECT_TRUE(StartsWithIgnoreCase("/CONF", "/conf"));
  EXPECT_FALSE(StartsWithIgnoreCase("/CON", "/CONF"));
  EXPECT_FALSE(StartsWithIgnoreCase("/\xC9", "/\xE9"));
}

TEST(TextCompareTest, BaseNameTakesThePartAfterEitherSeparator) {
  EXPECT_EQ(BaseName("C:\\Program Files\\VIZIZE32.EXE"), "VIZIZE32.EXE");
  EXPECT_EQ(BaseName("/usr/bin/vizize32.exe"), "vizize32.exe");
  EXPECT_EQ(BaseName("a/b\\c"), "c");
  EXPECT_EQ(BaseName("plain"), "plain");
  EXPECT_EQ(BaseName("dir\\"), "");
}

}  // namespace
}  // namespace twtrim
