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
  plan.backupPtrPath = "old";
  ASSERT_TRUE(BuildConferencePlan(&plan, "BOARD", 12, ScanWith(true, false, 0)));
  EXPECT_EQ(plan.livePtrPath, test::JoinExpected("BOARD", "TWMSG12.PTR"));
  EXPECT_EQ(plan.liveIdxPath, test::JoinExpected("BOARD", "TWMSG12.IDX"));
  EXPECT_EQ(plan.liveDatPath, test::JoinExpected("BOARD", "TWMSG12.DAT"));
  EXPECT_EQ(plan.stagedPtrPath, test::JoinExpected("BOARD", "TWMSG12.PTR.NEW"));
  EXPECT_EQ(plan.stagedIdxPath, test::JoinExpected("BOARD", "TWMSG12.IDX.NEW"));
  EXPECT_EQ(plan.stagedDatPath, test::JoinExpected("BOARD", "TWMSG12.DAT.NEW"));
  EXPECT_FALSE(plan.stagedVerified);
  EXPECT_TRUE(plan.backupPtrPath.empty());
  EXPECT_EQ(plan.stagedPtrFingerprint, FileFingerprint{});
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

class RemoveStagedFilesTest : public ::testing::Test {
 protected:
  RemoveStagedFilesTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_) {
    EXPECT_TRUE(BuildConferencePlan(&plan_, dir_.path(), 5, ScanWith(true, false, 0)));
    plan_.stagedVerified = true;
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ConferencePlan plan_;
};

TEST_F(RemoveStagedFilesTest, DeletesStagedFilesAndNothingElse) {
  ASSERT_TRUE(dir_.Write("TWMSG05.PTR.NEW", "p"));
  ASSERT_TRUE(dir_.Write("TWMSG05.DAT.NEW", "d"));
  ASSERT_TRUE(dir_.Write("TWMSG05.PTR", "live"));
  RemoveStagedFiles(os_, &plan_);
  EXPECT_FALSE(dir_.Exists("TWMSG05.PTR.NEW"));
  EXPECT_FALSE(dir_.Exists("TWMSG05.DAT.NEW"));
  EXPECT_EQ(dir_.Read("TWMSG05.PTR"), "live");
  EXPECT_FALSE(plan_.stagedVerified);
}

// A failed attribute query reads as "missing": the staged file must still
// go, or the next write stops at it as a stale file.
TEST_F(RemoveStagedFilesTest, AStagedFileWhoseAttributesCannotBeReadIsStillDeleted) {
  ASSERT_TRUE(dir_.Write("TWMSG05.PTR.NEW", "p"));
  os_.FailPath(OsCall::kGetPathKind, "TWMSG05.PTR.NEW");
  RemoveStagedFiles(os_, &plan_);
  EXPECT_FALSE(dir_.Exists("TWMSG05.PTR.NEW"));
}

TEST_F(RemoveStagedFilesTest, NothingStagedOnlyClearsTheFlag) {
  RemoveStagedFiles(os_, &plan_);
  EXPECT_FALSE(plan_.stagedVerified);
  EXPECT_FALSE(dir_.Exists("TWMSG05.PTR.NEW"));
}

TEST_F(RemoveStagedFilesTest, ADirectoryWithAStagedNameIsLeftAlone) {
  ASSERT_TRUE(dir_.MakeDirectory("TWMSG05.DAT.NEW"));
  ASSERT_TRUE(dir_.Write("TWMSG05.DAT.NEW/keep", "k"));
  RemoveStagedFiles(os_, &plan_);
  EXPECT_EQ(dir_.Read("TWMSG05.DAT.NEW/keep"), "k");
  for (const CallRecord& call : os_.log()) {
    EXPECT_FALSE(call.kind == OsCall::kDeleteFile && call.path == plan_.stagedDatPath);
  }
}

TEST_F(RemoveStagedFilesTest, AFailedDeleteDoesNotStopTheOthers) {
  ASSERT_TRUE(dir_.Write("TWMSG05.PTR.NEW", "p"));
  ASSERT_TRUE(dir_.Write("TWMSG05.IDX.NEW", "i"));
  ASSERT_TRUE(dir_.Write("TWMSG05.DAT.NEW", "d"));
  os_.FailPath(OsCall::kDeleteFile, "TWMSG05.PTR.NEW");
  RemoveStagedFiles(os_, &plan_);
  EXPECT_TRUE(dir_.Exists("TWMSG05.PTR.NEW"));
  EXPECT_FALSE(dir_.Exists("TWMSG05.IDX.NEW"));
  EXPECT_FALSE(dir_.Exists("TWMSG05.DAT.NEW"));
  EXPECT_FALSE(plan_.stagedVerified);
}

TEST_F(RemoveStagedFilesTest, AnUnbuiltPlanTouchesNothing) {
  ConferencePlan empty;
  empty.stagedVerified = true;
  RemoveStagedFiles(os_, &empty);
  EXPECT_FALSE(empty.stagedVerified);
  EXPECT_EQ(os_.calls(), 0u);
}

}  // namespace
}  // namespace twtrim
