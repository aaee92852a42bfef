#include "safety/backup_folders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "safety_fixture.h"

namespace twtrim {
namespace {

class BackupFoldersTest : public SafetyTest {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.MakeDirectory("MESSAGE")); }
  std::string msg() const { return dir_.Path("MESSAGE"); }
};

// Folders only, any tail after the dash, any case.
TEST_F(BackupFoldersTest, CountsFoldersOnlyAndListsThemInVerboseMode) {
  for (const char* name : {"VUVERUDODIV-BAK-1", "vuverudodiv-bak-old", "VUVERUDODIV-BAK-",
                           "VUVERUDODIV-BAK", "XVUVERUDODIV-BAK-1"}) {
    ASSERT_TRUE(dir_.MakeDirectory(std::string("MESSAGE/") + name));
  }
  ASSERT_TRUE(dir_.Write("MESSAGE/VUVERUDODIV-BAK-3.ZIP", "archive"));
  ASSERT_TRUE(dir_.Write("MESSAGE/TWMSG01.PTR", ""));
  // Folders inside a backup folder are not examined.
  ASSERT_TRUE(dir_.MakeDirectory("MESSAGE/VUVERUDODIV-BAK-1/VUVERUDODIV-BAK-9"));

  EXPECT_EQ(DetectBackupFolders(os_, out_, msg()), 3u);
  EXPECT_EQ(os_.stdoutText(), "") << "concise mode: the caller prints the count";

  out_.SetVerbose(true);
  EXPECT_EQ(DetectBackupFolders(os_, out_, msg()), 3u);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"  VUVERUDODIV-BAK-", "  VUVERUDODIV-BAK-1",
                                               "  vuverudodiv-bak-old"}));
}

TEST_F(BackupFoldersTest, NothingFoundOrNoSearchCountsZeroSilently) {
  out_.SetVerbose(true);
  EXPECT_EQ(DetectBackupFolders(os_, out_, msg()), 0u);
  EXPECT_EQ(DetectBackupFolders(os_, out_, dir_.Path("NO-SUCH-DIR")), 0u);
  ASSERT_TRUE(dir_.MakeDirectory("MESSAGE/VUVERUDODIV-BAK-1"));
  os_.FailNthCall(OsCall::kListDirectory, 1);
  EXPECT_EQ(DetectBackupFolders(os_, out_, msg()), 0u);
  const std::string longDir = dir_.path() + "/" + std::string(500 - dir_.path().size(), 'M');
  EXPECT_EQ(DetectBackupFolders(os_, out_, longDir), 0u);
  EXPECT_EQ(os_.stdoutText(), "") << "\"  none\" is the caller's line";
}

}  // namespace
}  // namespace twtrim
