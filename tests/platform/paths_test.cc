#include "platform/paths.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace twtrim {
namespace {

const std::string kSep(1, kPathSeparator);

TEST(PathsTest, JoinPathAddsOneSeparatorKeepsAbsoluteNamesAndNeverTruncates) {
  const std::string d504(504, 'd');
  const struct {
    std::string directory, name, expected;  // "!" for a refusal
  } cases[] = {
      {"C:\\TW", "MESSAGE", "C:\\TW" + kSep + "MESSAGE"},
      {"C:\\TW\\", "MESSAGE", "C:\\TW\\MESSAGE"},
      {"", "TWMCONF.DAT", "TWMCONF.DAT"},
      {"C:\\TW", "D:\\logs\\run.TXT", "D:\\logs\\run.TXT"},
      {"C:", "x.TXT", "C:" + kSep + "x.TXT"},
      {"a\\\\..\\b", "c", "a\\\\..\\b" + kSep + "c"},  // no normalisation
      {d504, "123456", d504 + kSep + "123456"},        // 511 characters
      {d504, "1234567", "!"},
      // A full directory has no room for the separator, even for an empty
      // name; one that already ends in a separator needs none.
      {std::string(511, 'd'), "", "!"},
      {std::string(510, 'd') + "\\", "", std::string(510, 'd') + "\\"},
      {std::string(512, 'd'), "x", "!"},
      {"C:\\TW", "\\" + std::string(511, 'n'), "!"},
      {"C:\\TW", "\\" + std::string(510, 'n'), "\\" + std::string(510, 'n')},
  };
  for (const auto& c : cases) {
    std::string result = "stale";
    EXPECT_EQ(JoinPath(&result, c.directory, c.name), c.expected != "!") << c.directory.size();
    EXPECT_EQ(result, c.expected == "!" ? "" : c.expected) << c.directory << " + " << c.name;
  }
}

TEST(PathsTest, OnePathPredicates) {
  const struct {
    const char* name;
    bool (*predicate)(std::string_view);
    std::vector<const char*> yes, no;
  } cases[] = {
      {"IsAbsolutePath", IsAbsolutePath,
       {"C:\\x", "C:x", "C:", "\\x", "/x", "\\\\server\\share"},
       {"x", "..\\x", "", "a/b", "x/:"}},
      {"HasParentSegment", HasParentSegment,
       {"..", "..\\x", "a\\..\\b", "a/../", "C:\\TW\\..", "/../x.TXT"},
       {"...", "a..b", ".\\x", "", "a\\.\\b", "..x\\y", "x..\\y"}},
      {"HasTxtExtension", HasTxtExtension,
       {"r.TXT", "r.txt", "R.TxT", ".txt", "C:\\a b\\x.tXt"},
       {"txt", "r.log", "r.TXT ", "r.TXTX", "rTXT", "", "r.TX"}},
  };
  for (const auto& c : cases) {
    for (const char* path : c.yes) EXPECT_TRUE(c.predicate(path)) << c.name << " " << path;
    for (const char* path : c.no) EXPECT_FALSE(c.predicate(path)) << c.name << " " << path;
  }
  EXPECT_EQ(BaseName("a/b\\c"), "c");
  EXPECT_EQ(BaseName("plain"), "plain");
  EXPECT_EQ(BaseName("dir/"), "");
}

// Paths ignore case and slash kind only; text compares ignore ASCII case only.
TEST(PathsTest, TwoPathPredicates) {
  using Predicate = bool (*)(std::string_view, std::string_view);
  const Predicate inside = IsInsideDirectory, sameDir = SameDirectory, same = SamePath,
                  equal = EqualsIgnoreCase, starts = StartsWithIgnoreCase;
  const struct {
    Predicate predicate;
    const char *a, *b;
    bool expected;
  } cases[] = {
      {inside, "C:\\TW\\MESSAGE", "c:/tw/message/", true},
      {inside, "C:\\TW\\MESSAGE\\r.txt", "C:\\TW\\MESSAGE", true},
      {inside, "C:\\TW\\MESSAGES\\r.TXT", "C:\\TW\\MESSAGE", false},
      {inside, "C:\\TW", "C:\\TW\\MESSAGE", false},
      {inside, "MESSAGE\\r.TXT", "C:\\TW\\MESSAGE", false},  // textual only
      // An empty directory, or one of separators only, holds the rooted paths.
      {inside, "", "", true}, {inside, "\\r.TXT", "", true}, {inside, "/r.TXT", "//", true},
      {inside, "r.TXT", "", false}, {inside, "C:\\r.TXT", "\\", false},
      {sameDir, "c:/tw/", "C:\\TW", true}, {sameDir, "C:\\TW\\\\", "c:/tw/", true},
      {sameDir, "C:\\", "c:/", true}, {sameDir, "c:/", "C:\\\\", true},
      {sameDir, "", "", true}, {sameDir, "/", "\\", true},
      {sameDir, "C:\\TW2", "C:\\TW", false}, {sameDir, "C:\\TW", "C:\\TW2", false},
      {sameDir, "C:", "C:\\", false}, {sameDir, "", "C:\\TW", false},
      {same, "C:\\TW\\TWMSG01.PTR", "c:/tw/twmsg01.ptr", true},
      {same, "C:\\TW\\", "C:\\TW", false}, {same, "C:\\TW\\A", "C:\\TW\\B", false},
      {equal, "/dryrun", "/DRYRUN", true}, {equal, "/DRYRUNX", "/DRYRUN", false},
      {equal, "/DRYRUN", "/DRYRUNX", false},
      {equal, "\xE9", "\xC9", false},  // code-page letters (e acute, E acute) are never folded
      {equal, "@", "`", false},        // neighbours of the letter ranges
      {starts, "/home=C:\\x", "/HOME=", true}, {starts, "anything", "", true},
      {starts, "/CON", "/CONF", false}, {starts, "/\xC9", "/\xE9", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.predicate(c.a, c.b), c.expected) << c.a << " ~ " << c.b;
}

}  // namespace
}  // namespace twtrim
