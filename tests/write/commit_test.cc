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
    EXPECT_TRUE(BuildStagedFiles(os_, out_, &plan));
    EXPECT_TRUE(VerifyConferenceFiles(os_, &plan, true, true));
    plan.stagedVerified = true;
    if (backupDir_.empty()) {
      EXPECT_TRUE(CreateBackupDirectory(os_, home_, &backupDir_));
    }
    EXPECT_TRUE(BackupConference(os_, out_, &plan, MessageDir(), backupDir_));
    return plan;
  }
  std::vector<std::string> StagedBytes(const ConferencePlan& plan) const {
    return {Read(plan.stagedPtrPath), Read(plan.stagedIdxPath), Read(plan.stagedDatPath)};
  }
  // Every rename the Os was asked for, as "from -> to" base names.
  std::vector<std::string> Renames() const {
    std::vector<std::string> renames;
    for (const CallRecord& call : os_.log()) {
      if (call.kind != OsCall::kReplaceRename) continue;
      renames.push_back(std::string(BaseName(call.path)) + " -> " +
                        std::string(BaseName(call.otherPath)));
    }
    return renames;
  }
  bool NoRollbackTemporary(const ConferencePlan& plan) {
    return Kind(plan.livePtrPath + ".ROLLBACK") == PathKind::kMissing &&
           Kind(plan.liveIdxPath + ".ROLLBACK") == PathKind::kMissing &&
           Kind(plan.liveDatPath + ".ROLLBACK") == PathKind::kMissing;
  }

  std::string backupDir_;
};

TEST_F(CommitTest, CommitRenamesDatPtrIdxInOrderAndSetsEveryFlag) {
  ConferencePlan plan = Prepare(5);
  const std::vector<std::string> staged = StagedBytes(plan);
  os_.ResetCounts();
  ASSERT_TRUE(CommitConference(os_, &plan));
  EXPECT_EQ(Renames(), (std::vector<std::string>{"TWMSG05.DAT.NEW -> TWMSG05.DAT",
                                                 "TWMSG05.PTR.NEW -> TWMSG05.PTR",
                                                 "TWMSG05.IDX.NEW -> TWMSG05.IDX"}));
  EXPECT_EQ(LiveBytes(plan), staged);
  EXPECT_TRUE(NoStagedFile(plan));
  EXPECT_TRUE(plan.datCommitted && plan.ptrCommitted && plan.idxCommitted);
  EXPECT_FALSE(plan.stagedVerified);
  EXPECT_TRUE(VerifyConferenceFiles(os_, &plan, false, false));
}

// Only the DAT went live: the rollback restores the DAT alone and deletes
// the staged PTR and IDX that never moved.
TEST_F(CommitTest, PtrMoveFailureCommitsOnlyTheDatAndRollbackRestoresIt) {
  ConferencePlan plan = Prepare(5);
  const std::vector<std::string> original = LiveBytes(plan);
  os_.AddFault({{OsCall::kReplaceRename, "TWMSG05.PTR.NEW", 1}, FaultEffect::kFail, false});
  EXPECT_FALSE(CommitConference(os_, &plan));
  EXPECT_TRUE(plan.datCommitted);
  EXPECT_FALSE(plan.ptrCommitted || plan.idxCommitted);
  EXPECT_NE(Read(plan.liveDatPath), original[2]);
  EXPECT_EQ(Kind(plan.stagedPtrPath), PathKind::kFile);
  os_.ClearFaults();
  os_.ResetCounts();
  EXPECT_TRUE(RollbackConference(os_, &plan));
  EXPECT_EQ(Renames(), std::vector<std::string>{"TWMSG05.DAT.ROLLBACK -> TWMSG05.DAT"});
  EXPECT_EQ(LiveBytes(plan), original);
  EXPECT_TRUE(NoStagedFile(plan));
  EXPECT_TRUE(NoRollbackTemporary(plan));
  EXPECT_FALSE(plan.datCommitted || plan.ptrCommitted || plan.idxCommitted);
  EXPECT_EQ(os_.stdoutText(), "");
}

TEST_F(CommitTest, RollbackOfAFullCommitRestoresAllThreeInOrder) {
  ConferencePlan plan = Prepare(5);
  const std::vector<std::string> original = LiveBytes(plan);
  ASSERT_TRUE(CommitConference(os_, &plan));
  os_.ResetCounts();
  EXPECT_TRUE(RollbackConference(os_, &plan));
  EXPECT_EQ(Renames(), (std::vector<std::string>{"TWMSG05.DAT.ROLLBACK -> TWMSG05.DAT",
                                                 "TWMSG05.PTR.ROLLBACK -> TWMSG05.PTR",
                                                 "TWMSG05.IDX.ROLLBACK -> TWMSG05.IDX"}));
  EXPECT_EQ(LiveBytes(plan), original);
  EXPECT_TRUE(NoRollbackTemporary(plan));
}

// One restore failing does not stop the others; the flags are cleared
// anyway so the same conference is not restored twice in a run.
TEST_F(CommitTest, RollbackAttemptsEveryCommittedFileWhenOneFails) {
  ConferencePlan plan = Prepare(5);
  const std::vector<std::string> original = LiveBytes(plan);
  ASSERT_TRUE(CommitConference(os_, &plan));
  const std::string committedDat = Read(plan.liveDatPath);
  os_.FailPath(OsCall::kOpenSharedRead, plan.backupDatPath);
  EXPECT_FALSE(RollbackConference(os_, &plan));
  EXPECT_EQ(Read(plan.liveDatPath), committedDat);
  EXPECT_EQ(Read(plan.livePtrPath), original[0]);
  EXPECT_EQ(Read(plan.liveIdxPath), original[1]);
  EXPECT_FALSE(plan.datCommitted || plan.ptrCommitted || plan.idxCommitted);
  EXPECT_TRUE(NoRollbackTemporary(plan));
  EXPECT_EQ(Read(plan.backupDatPath), original[2]);  // still there for the operator
}

TEST_F(CommitTest, RollbackWithoutCommittedFlagsOnlyRemovesStagedFiles) {
  ConferencePlan plan = Prepare(5);
  const std::vector<std::string> original = LiveBytes(plan);
  os_.ResetCounts();
  EXPECT_TRUE(RollbackConference(os_, &plan));
  EXPECT_TRUE(Renames().empty());
  EXPECT_EQ(LiveBytes(plan), original);
  EXPECT_TRUE(NoStagedFile(plan));
  EXPECT_FALSE(plan.stagedVerified);
}

TEST_F(CommitTest, RestoreFromUnreadableBackupLeavesNoTemporaryAndTheLiveFileAsItWas) {
  ConferencePlan plan = Prepare(5);
  ASSERT_TRUE(CommitConference(os_, &plan));
  const std::string committed = Read(plan.liveDatPath);
  const std::string backup = Read(plan.backupDatPath);
  os_.FailPath(OsCall::kOpenSharedRead, plan.backupDatPath);
  EXPECT_FALSE(RestoreFileFromBackup(os_, plan.backupDatPath, plan.liveDatPath));
  EXPECT_EQ(Read(plan.liveDatPath), committed);
  EXPECT_EQ(Kind(plan.liveDatPath + ".ROLLBACK"), PathKind::kMissing);
  EXPECT_EQ(Read(plan.backupDatPath), backup);
}

TEST_F(CommitTest, FailedRenameOfTheTemporaryDeletesIt) {
  ConferencePlan plan = Prepare(5);
  ASSERT_TRUE(CommitConference(os_, &plan));
  const std::string committed = Read(plan.liveDatPath);
  os_.AddFault({{OsCall::kReplaceRename, "TWMSG05.DAT.ROLLBACK", 1}, FaultEffect::kFail, false});
  EXPECT_FALSE(RestoreFileFromBackup(os_, plan.backupDatPath, plan.liveDatPath));
  EXPECT_EQ(Read(plan.liveDatPath), committed);
  EXPECT_EQ(Kind(plan.liveDatPath + ".ROLLBACK"), PathKind::kMissing);
}

TEST_F(CommitTest, LeftoverRollbackTemporaryIsReplaced) {
  ConferencePlan plan = Prepare(5);
  const std::string original = Read(plan.liveDatPath);
  ASSERT_TRUE(CommitConference(os_, &plan));
  const std::string leftover = plan.liveDatPath + ".ROLLBACK";
  ASSERT_TRUE(
      Write(leftover, "from an earlier run, longer than the real thing" + std::string(5000, 'z')));
  os_.ResetCounts();
  EXPECT_TRUE(RestoreFileFromBackup(os_, plan.backupDatPath, plan.liveDatPath));
  EXPECT_EQ(Read(plan.liveDatPath), original);
  EXPECT_EQ(Kind(leftover), PathKind::kMissing);
  ASSERT_FALSE(os_.log().empty());
  const auto deleted = std::find_if(os_.log().begin(), os_.log().end(), [&](const CallRecord& c) {
    return c.kind == OsCall::kDeleteFile && c.path == leftover;
  });
  EXPECT_NE(deleted, os_.log().end());
}

// The restore ends by proving the live file equal to the backup: a change
// slipped in after the rename is not reported as a restore.
TEST_F(CommitTest, LiveFileChangedAfterTheRenameFailsTheFinalProof) {
  ConferencePlan plan = Prepare(5);
  ASSERT_TRUE(CommitConference(os_, &plan));
  os_.BeforeCall(OsCall::kOpenSharedRead, "MESSAGE/TWMSG05.DAT",
                 [&] { WriteWholeFile(plan.liveDatPath, "someone else's bytes"); });
  EXPECT_FALSE(RestoreFileFromBackup(os_, plan.backupDatPath, plan.liveDatPath));
  EXPECT_EQ(Kind(plan.liveDatPath + ".ROLLBACK"), PathKind::kMissing);
}

class VerifyAfterWriteTest : public CommitTest {
 protected:
  // TWMCONF.DAT, conference 5 (written) and conference 6 (not written).
  void SetUp() override {
    plans_.push_back(Prepare(5));
    board::ConferenceFiles clean;
    {
      ConferenceBuilder b;
      b.Add(Root(1, 1));
      clean = b.files();
    }
    ConferencePlan untouched = PlanFor(6, clean);
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

TEST_F(VerifyAfterWriteTest, WrittenFilesMatchTheStagedFingerprintsOthersTheSnapshot) {
  for (bool verbose : {false, true}) {
    out_.SetVerbose(verbose);
    os_.ClearStdout();
    EXPECT_TRUE(VerifyAfterWrite(os_, out_, list_, plans_));
    EXPECT_EQ(Report(),
              verbose ? test::Lines{"Post-write integrity verification: PASS"} : test::Lines{});
  }
  EXPECT_TRUE(VerifyAfterWrite(os_, out_, IntegrityList{}, plans_));
}

TEST_F(VerifyAfterWriteTest, EveryChangedOrMissingFileGetsItsOwnLine) {
  ASSERT_TRUE(Write(home_ + "/TWMCONF.DAT", Read(home_ + "/TWMCONF.DAT") + "x"));
  std::string idx = Read(ConfPath(6, "IDX"));
  idx[0] ^= 1;
  ASSERT_TRUE(Write(ConfPath(6, "IDX"), idx));
  ASSERT_TRUE(real_->DeleteFile(ConfPath(6, "DAT")));
  out_.SetVerbose(true);
  EXPECT_FALSE(VerifyAfterWrite(os_, out_, list_, plans_));
  EXPECT_EQ(Report(), (test::Lines{"  POST-WRITE VERIFY FAILED: " + home_ + "/TWMCONF.DAT",
                                   "  POST-WRITE VERIFY FAILED: " + ConfPath(6, "IDX"),
                                   "  POST-WRITE VERIFY FAILED: " + ConfPath(6, "DAT")}));
}

TEST_F(VerifyAfterWriteTest, LiveFileDifferingFromTheStagedFingerprintFails) {
  std::string dat = Read(ConfPath(5, "DAT"));
  dat[1] ^= 1;
  ASSERT_TRUE(Write(ConfPath(5, "DAT"), dat));
  EXPECT_FALSE(VerifyAfterWrite(os_, out_, list_, plans_));
  EXPECT_EQ(Report(), test::Lines{"  POST-WRITE VERIFY FAILED: " + ConfPath(5, "DAT")});
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
  plans_[0].writeWanted = false;  // unmatched, the committed files differ from the snapshot
  EXPECT_FALSE(VerifyAfterWrite(os_, out_, list_, plans_));
}

}  // namespace
}  // namespace twtrim
