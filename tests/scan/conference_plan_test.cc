#include "scan/conference_plan.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/fault_os.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

// Which conferences are written, and their staged names, is checked by the
// write runs; here are the path limits and the clean-up.
TEST(ConferencePlanTest, PathLengthLimits) {
  // "/TWMSG05.PTR" is 12 characters: with a 499-character directory the live
  // path is exactly 511 and fits, but ".NEW" takes the staged path past it.
  const std::string fits(499, 'd');
  ConferencePlan plan;
  EXPECT_FALSE(BuildConferencePlan(&plan, fits, 5, ConferenceScan{}));
  EXPECT_EQ(plan.livePtrPath.size(), 511u);

  const std::string stagedFits(495, 'd');
  EXPECT_TRUE(BuildConferencePlan(&plan, stagedFits, 5, ConferenceScan{}));
  EXPECT_EQ(plan.stagedDatPath.size(), 511u);

  const std::string tooLong(500, 'd');
  EXPECT_FALSE(BuildConferencePlan(&plan, tooLong, 5, ConferenceScan{}));
}

// Staged files go; live files and a directory with a staged name stay. A
// failed delete does not stop the others, and a failed attribute query must
// not leave a .NEW behind to stop the next write as a stale file.
TEST(RemoveStagedFilesTest, DeletesStagedFilesAndNothingElse) {
  TempDir dir;
  std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  FaultOs os(*real);
  ConferencePlan plan;
  ASSERT_TRUE(BuildConferencePlan(&plan, dir.path(), 5, ConferenceScan{}));
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
