// Commit, post-write verification and rollback on real files: what goes
// live, what the report names, and that a rollback puts back exactly the
// files that were replaced.
#include "write/commit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report/paths.h"
#include "safety/fingerprint.h"
#include "write/backup.h"
#include "write/staged_rebuild.h"
#include "write/write_fixture.h"

namespace twtrim {
namespace {

using board::ConferenceBuilder;
using board::Deleted;
using board::Reply;
using board::Root;

board::ConferenceFiles PackableConference(int32_t base) {
  ConferenceBuilder b;
  b.Add(Root(base + 1, 2));
  b.Add(Deleted(Root(base + 2, 3)));
  b.Add(Reply(base + 3, base + 2, 1));
  return b.files();
}

class CommitTest : public WriteTest {
 protected:
  // A conference taken as far as a write takes it before the commit:
  // staged, verified, backed up.
  ConferencePlan Prepare(uint32_t n) {
    ConferencePlan plan = PlanFor(n, PackableConference(static_cast<int32_t>(n) * 100));
    EXPECT_TRUE(BuildStagedFiles(os_, out_, &plan, SnapshotOf(plan)));
    EXPECT_TRUE(VerifyConferenceFiles(os_, &plan, true, true));
    plan.stagedVerified = true;
    if (backupDir_.empty()) {
      EXPECT_TRUE(CreateBackupDirectory(os_, home_, &backupDir_));
    }
    const IntegrityList snapshot = SnapshotOf(plan);
    EXPECT_TRUE(BackupConference(os_, out_, &plan, MessageDir(), backupDir_, snapshot));
    EXPECT_TRUE(MakeIntentRecord(plan, snapshot, backupDir_, &record_));
    return plan;
  }
  std::string backupDir_;
  IntentRecord record_;
};

// A restore that cannot read the backup, cannot rename its temporary, or
// finds the live file changed after the rename (the final proof) fails and
// leaves neither a temporary nor a damaged backup.
TEST_F(CommitTest, FailedRestoreLeavesNoTemporaryAndTheBackupIntact) {
  for (int fault = 0; fault < 3; ++fault) {
    SCOPED_TRACE(fault);
    backupDir_.clear();
    ConferencePlan plan = Prepare(5);
    ASSERT_TRUE(CommitConference(os_, &plan));
    const std::string committed = Read(plan.liveDatPath);
    const std::string backup = Read(plan.backupDatPath);
    os_.ClearFaults();
    os_.ClearHooks();
    if (fault == 0) os_.FailPath(OsCall::kOpenSharedRead, plan.backupDatPath);
    if (fault == 1) os_.FailPath(OsCall::kReplaceRename, "TWMSG05.DAT.ROLLBACK");
    if (fault == 2) {
      os_.BeforeCall(OsCall::kOpenSharedRead, "MESSAGE/TWMSG05.DAT",
                     [&] { WriteWholeFile(plan.liveDatPath, "someone else's bytes"); });
    }
    EXPECT_FALSE(RestoreFileFromBackup(os_, plan.backupDatPath, plan.liveDatPath,
                                       record_.original[kIntentDat]));
    if (fault < 2) {
      EXPECT_EQ(Read(plan.liveDatPath), committed);
    }
    EXPECT_EQ(Kind(plan.liveDatPath + ".ROLLBACK"), PathKind::kMissing);
    EXPECT_EQ(Read(plan.backupDatPath), backup);
    os_.ClearFaults();
    os_.ClearHooks();
    RollbackConference(os_, &plan, record_);
  }
}

TEST_F(CommitTest, LeftoverRollbackTemporaryIsReplaced) {
  ConferencePlan plan = Prepare(5);
  const std::string original = Read(plan.liveDatPath);
  ASSERT_TRUE(CommitConference(os_, &plan));
  const std::string leftover = plan.liveDatPath + ".ROLLBACK";
  ASSERT_TRUE(
      Write(leftover, "from an earlier run, longer than the real thing" + std::string(5000, 'z')));
  os_.ResetCounts();
  EXPECT_TRUE(RestoreFileFromBackup(os_, plan.backupDatPath, plan.liveDatPath,
                                    record_.original[kIntentDat]));
  EXPECT_EQ(Read(plan.liveDatPath), original);
  EXPECT_EQ(Kind(leftover), PathKind::kMissing);
}

class VerifyAfterWriteTest : public CommitTest {
 protected:
  // TWMCONF.DAT, conference 5 (written) and conference 6 (not written).
  void SetUp() override {
    plans_.push_back(Prepare(5));
    ConferencePlan untouched = PlanFor(6, board::CleanConference());
    untouched.writeWanted = false;
    untouched.stagedPtrFingerprint = {1, 2, 3};  // must never be consulted
    plans_.push_back(untouched);
    for (const std::string& path :
         {home_ + "/TWMCONF.DAT", ConfPath(5, "PTR"), ConfPath(5, "IDX"), ConfPath(5, "DAT"),
          ConfPath(6, "PTR"), ConfPath(6, "IDX"), ConfPath(6, "DAT")}) {
      IntegrityEntry entry;
      entry.path = path;
      ASSERT_TRUE(FingerprintFile(os_, path, &entry.fingerprint)) << path;
      list_.entries.push_back(entry);
    }
    ASSERT_TRUE(CommitConference(os_, &plans_[0]));
    os_.ClearStdout();
  }

  IntegrityList list_;
  std::vector<ConferencePlan> plans_;
};

// Written files are held to their staged fingerprints, the others to the
// snapshot; every file that fails gets its own line.
TEST_F(VerifyAfterWriteTest, EveryChangedOrMissingFileGetsItsOwnLine) {
  ASSERT_TRUE(Write(home_ + "/TWMCONF.DAT", Read(home_ + "/TWMCONF.DAT") + "x"));
  for (const std::string& path : {ConfPath(5, "DAT"), ConfPath(6, "IDX")}) {
    std::string bytes = Read(path);
    bytes[1] ^= 1;
    ASSERT_TRUE(Write(path, bytes));
  }
  ASSERT_TRUE(real_->DeleteFile(ConfPath(6, "DAT")));
  out_.SetVerbose(true);
  EXPECT_FALSE(VerifyAfterWrite(os_, out_, list_, plans_));
  EXPECT_EQ(Report(), (test::Lines{"  POST-WRITE VERIFY FAILED: " + home_ + "/TWMCONF.DAT",
                                   "  POST-WRITE VERIFY FAILED: " + ConfPath(5, "DAT"),
                                   "  POST-WRITE VERIFY FAILED: " + ConfPath(6, "IDX"),
                                   "  POST-WRITE VERIFY FAILED: " + ConfPath(6, "DAT")}));
}

// The list and the plan may spell one file differently; it is still the
// written file and must carry the staged fingerprint, not the snapshot's.
TEST_F(VerifyAfterWriteTest, PathsDifferingInCaseOrSlashStillMatch) {
  for (std::string* path :
       {&plans_[0].livePtrPath, &plans_[0].liveIdxPath, &plans_[0].liveDatPath}) {
    std::transform(path->begin(), path->end(), path->begin(), [](char c) {
      if (c == '/') return '\\';
      return (c >= 'a' && c <= 'z')   ? static_cast<char>(c - 'a' + 'A')
             : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a')
                                      : c;
    });
  }
  ASSERT_NE(plans_[0].livePtrPath, ConfPath(5, "PTR"));
  EXPECT_TRUE(VerifyAfterWrite(os_, out_, list_, plans_));
  EXPECT_EQ(os_.stdoutText(), "");
  plans_[0].writeWanted = false;  // unmatched, the committed files differ from the snapshot
  EXPECT_FALSE(VerifyAfterWrite(os_, out_, list_, plans_));
}

}  // namespace
}  // namespace twtrim
