#include "scan/conference_plan.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

ConferenceScan ScanWith(bool needsAction, bool blocked, uint32_t validationErrors) {
  ConferenceScan scan;
  scan.needsAction = needsAction;
  scan.blocked = blocked;
  scan.validationErrors = validationErrors;
  scan.deletedCount = 3;
  return scan;
}

TEST(ConferencePlanTest, WriteWantedOnlyForActionWithoutBlockOrError) {
  struct Case {
    bool needsAction, blocked;
    uint32_t errors;
    bool wanted;
  };
  const Case cases[] = {
      {true, false, 0, true},   {true, false, 1, false}, {true, true, 0, false},
      {false, false, 0, false}, {true, true, 2, false},
  };
  for (const Case& c : cases) {
    ConferencePlan plan;
    ASSERT_TRUE(BuildConferencePlan(&plan, "MSG", 5, ScanWith(c.needsAction, c.blocked, c.errors)));
    EXPECT_EQ(plan.writeWanted, c.wanted) << c.needsAction << " " << c.blocked << " " << c.errors;
    EXPECT_EQ(plan.scan.deletedCount, 3u);
    EXPECT_EQ(plan.conferenceNumber, 5u);
  }
}

TEST(ConferencePlanTest, LiveAndStagedPaths) {
  ConferencePlan plan;
  plan.stagedVerified = true;  // left over from an earlier use: a build starts clean
  ASSERT_TRUE(BuildConferencePlan(&plan, "BOARD", 12, ScanWith(true, false, 0)));
  EXPECT_EQ(plan.liveDatPath, test::JoinExpected("BOARD", "TWMSG12.DAT"));
  EXPECT_EQ(plan.stagedPtrPath, test::JoinExpected("BOARD", "TWMSG12.PTR.NEW"));
  EXPECT_EQ(plan.stagedIdxPath, test::JoinExpected("BOARD", "TWMSG12.IDX.NEW"));
  EXPECT_EQ(plan.stagedDatPath, test::JoinExpected("BOARD", "TWMSG12.DAT.NEW"));
  EXPECT_FALSE(plan.stagedVerified);
}

TEST(ConferencePlanTest, PathLengthLimits) {
  // "/TWMSG05.PTR" is 12 characters: with a 499-character directory the live
  // path is exactly 511 and fits, but ".NEW" takes the staged path past it.
  const std::string fits(499, 'd');
  ConferencePlan plan;
  EXPECT_FALSE(BuildConferencePlan(&plan, fits, 5, ScanWith(true, false, 0)));
  EXPECT_EQ(plan.livePtrPath.size(), 511u);

  const std::string stagedFits(495, 'd');
  EXPECT_TRUE(BuildConferencePlan(&plan, stagedFits, 5, ScanWith(true, false, 0)));
  EXPECT_EQ(plan.stagedDatPath.size(), 511u);

  const std::string tooLong(500, 'd');
  EXPECT_FALSE(BuildConferencePlan(&plan, tooLong, 5, ScanWith(true, false, 0)));
}

// Staged files go; live files and a directory with a staged name stay. A
// failed delete does not stop the others, and a failed attribute query must
// not leave a .NEW behind to stop the next write as a stale file.
TEST(RemoveStagedFilesTest, DeletesStagedFilesAndNothingElse) {
  TempDir dir;
  std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  FaultOs os(*real);
  ConferencePlan plan;
  ASSERT_TRUE(BuildConferencePlan(&plan, dir.path(), 5, ScanWith(true, false, 0)));
  for (const char* name : {"TWMSG05.PTR.NEW", "TWMSG05.IDX.NEW", "TWMSG05.PTR"}) {
    ASSERT_TRUE(dir.Write(name, "x"));
  }
  ASSERT_TRUE(dir.Write("TWMSG06.DAT.NEW", "other conference"));
  ASSERT_TRUE(dir.MakeDirectory("TWMSG05.DAT.NEW"));
  ASSERT_TRUE(dir.Write("TWMSG05.DAT.NEW/keep", "k"));
  os.FailPath(OsCall::kDeleteFile, "TWMSG05.PTR.NEW");
  os.FailPath(OsCall::kGetPathKind, "TWMSG05.IDX.NEW");
  plan.stagedVerified = true;
  RemoveStagedFiles(os, &plan);
  EXPECT_TRUE(dir.Exists("TWMSG05.PTR.NEW"));  // its delete failed
  EXPECT_FALSE(dir.Exists("TWMSG05.IDX.NEW"));
  EXPECT_EQ(dir.Read("TWMSG05.DAT.NEW/keep"), "k");
  EXPECT_TRUE(dir.Exists("TWMSG05.PTR"));
  EXPECT_TRUE(dir.Exists("TWMSG06.DAT.NEW"));
  EXPECT_FALSE(plan.stagedVerified);

  ConferencePlan unbuilt;
  os.ResetCounts();
  RemoveStagedFiles(os, &unbuilt);
  EXPECT_EQ(os.calls(), 0u);
}

}  // namespace
}  // namespace twtrim
