#include "app/write_sequence.h"

#include "app/run_sequence.h"
#include "report/format.h"
#include "safety/checkpoint.h"
#include "write/backup.h"
#include "write/commit.h"
#include "write/staged_rebuild.h"

namespace twtrim {
namespace {

constexpr std::string_view kFailedUnchanged =
    "WRITE RESULT: FAILED; live-format originals are unchanged or were restored from backup.";
constexpr std::string_view kFailedManual =
    "WRITE RESULT: FAILED; manual restoration from the backup directory is required.";

void Heading(RunState& run, std::string_view rule) {
  run.out.Line("");
  run.out.Line(rule);
}

// A failure before anything live was replaced.
bool Fail(RunState& run, const std::string& message) {
  run.out.Line(message);
  run.out.Line(kFailedUnchanged);
  run.exitCode = kExitWriteFailure;
  return false;
}

std::string PerConference(uint32_t count) { return " (" + Decimal(count) + " conference(s))"; }

bool WriteDecision(RunState& run) {
  if (run.validationErrors() != 0) {
    run.out.Line("WRITE REFUSED: validation errors must be resolved first.");
  } else if (run.totals.conferencesBlocked != 0) {
    run.out.Line(
        "WRITE REFUSED: one or more selected conferences are blocked by conservative Phase-1 "
        "rules.");
  } else if (run.conferencesToWrite == 0) {
    run.out.Line(
        "WRITE RESULT: no selected conference needs a Phase-1 change; no backup or write "
        "performed.");
    run.exitCode = kExitSuccess;
    run.safetyPassed = true;
    return false;
  } else {
    return true;
  }
  run.exitCode = kExitUsageOrValidation;
  return false;
}

bool BuildOne(RunState& run, size_t i) {
  ConferencePlan& plan = run.plans[i];
  const std::string conf = ConfName(plan.conferenceNumber);
  if (run.out.verbose()) run.out.Line("Building " + conf + " staged files...");
  if (!BuildStagedFiles(run.os, run.out, &plan, run.integrity)) {
    return Fail(run, "WRITE ERROR: failed while building staged files for " + conf + ".");
  }
  run.builtThisRun[i] = 1;
  if (!VerifyConferenceFiles(run.os, &plan, /*useStaged=*/true, /*record=*/true)) {
    return Fail(run, "WRITE ERROR: staged verification failed for " + conf + ".");
  }
  plan.stagedVerified = true;
  if (run.out.verbose()) run.out.Line("  " + conf + " .NEW verification: PASS");
  return true;
}

bool BuildPhase(RunState& run) {
  Heading(run, "=================== BUILD AND VERIFY .NEW ==================");
  for (size_t i = 0; i < run.plans.size(); ++i) {
    if (run.plans[i].writeWanted && !BuildOne(run, i)) return false;
  }
  if (!run.out.verbose()) {
    run.out.Line("Staged build and verification: PASS" + PerConference(run.conferencesToWrite));
  }
  return true;
}

// The guard between the staged build and the commit: nothing live has been
// touched yet, so a change here ends the run with the originals intact.
bool PreCommitCheck(RunState& run, std::string_view label) {
  if (RunSafetyCheck(run.os, run.out, run.options.homeDir, run.options.messageDir, label) &&
      VerifyIntegritySnapshot(run.os, run.out, run.integrity)) {
    return true;
  }
  Heading(run, kSafetyAbortRule);
  run.out.Line("Safety changed before commit. Original message-base files were not modified.");
  run.out.Line("Staged .NEW files will be removed.");
  run.exitCode = kExitSafetyAbort;
  return false;
}

bool BackupControlFiles(RunState& run) {
  const RunOptions& o = run.options;
  if (run.os.GetPathKind(o.conferenceConfigPath) == PathKind::kFile &&
      !BackupFile(run.os, run.out, o.conferenceConfigPath, run.backupDir, nullptr, true)) {
    return Fail(run, "WRITE ERROR: TWMCONF.DAT backup failed verification.");
  }
  if (!BackupFile(run.os, run.out, o.outboundSeqPath, run.backupDir, nullptr, false)) {
    return Fail(run, "WRITE ERROR: TWOUTBOUND.SEQ backup failed verification.");
  }
  return true;
}

bool BackupPhase(RunState& run) {
  Heading(run, "=================== VERIFIED BACKUP ========================");
  std::string directory;
  if (!CreateBackupDirectory(run.os, run.options.homeDir, &directory)) {
    return Fail(run, "WRITE ERROR: could not create the timestamped backup directory.");
  }
  run.backupDir = directory;
  run.out.LabelLine("Backup directory:", run.backupDir);
  if (!BackupControlFiles(run)) return false;
  for (ConferencePlan& plan : run.plans) {
    if (plan.writeWanted &&
        !BackupConference(run.os, run.out, &plan, run.options.messageDir, run.backupDir)) {
      return Fail(
          run, "WRITE ERROR: verified backup failed for " + ConfName(plan.conferenceNumber) + ".");
    }
  }
  run.out.Line("Verified backup result: PASS");
  return true;
}

bool CommitPhase(RunState& run) {
  Heading(run, "======================= COMMIT =============================");
  for (ConferencePlan& plan : run.plans) {
    if (!plan.writeWanted) continue;
    const std::string conf = ConfName(plan.conferenceNumber);
    if (run.out.verbose()) run.out.Line("Committing " + conf + "...");
    if (!CommitConference(run.os, &plan)) {
      run.out.Line("WRITE ERROR: commit failed for " + conf + ". Starting rollback.");
      return false;
    }
    if (run.out.verbose()) run.out.Line("  " + conf + " commit: COMPLETE");
  }
  if (!run.out.verbose()) run.out.Line("Commit: COMPLETE" + PerConference(run.conferencesToWrite));
  return true;
}

bool VerifyCommittedFiles(RunState& run) {
  for (ConferencePlan& plan : run.plans) {
    if (!plan.writeWanted) continue;
    const std::string conf = ConfName(plan.conferenceNumber);
    if (!VerifyConferenceFiles(run.os, &plan, /*useStaged=*/false, /*record=*/false)) {
      run.out.Line("POST-WRITE ERROR: final structure/hash verification failed for " + conf + ".");
      return false;
    }
    if (run.out.verbose()) run.out.Line("  " + conf + " final verification: PASS");
  }
  return true;
}

bool VerificationPhase(RunState& run) {
  Heading(run, "=================== POST-WRITE VERIFY ======================");
  const RunOptions& o = run.options;
  if (!RunSafetyCheck(run.os, run.out, o.homeDir, o.messageDir, kAfterCommit)) return false;
  if (!VerifyCommittedFiles(run)) return false;
  if (!VerifyAfterWrite(run.os, run.out, run.integrity, run.plans)) return false;
  if (!RunSafetyCheck(run.os, run.out, o.homeDir, o.messageDir, kFinalWriteVerification)) {
    return false;
  }
  if (!run.out.verbose()) run.out.Line("Post-write verification: PASS");
  run.out.Line(o.testCopy ? "WRITE RESULT: SUCCESS - changes committed and verified on the "
                            "marked test copy."
                          : "WRITE RESULT: SUCCESS - changes committed and verified.");
  run.out.LabelLine("Backup directory:", run.backupDir);
  run.out.Line(
      "PUBLIC BETA: review the report and keep the verified backup until the BBS is confirmed "
      "healthy.");
  run.exitCode = kExitSuccess;
  run.safetyPassed = true;
  return true;
}

// Restores, from the highest conference down, every conference with a file
// already replaced; then proves the live files equal the pre-scan snapshot.
void Rollback(RunState& run) {
  Heading(run, "======================= ROLLBACK ===========================");
  bool restoreFailed = false;
  for (size_t i = run.plans.size(); i-- > 0;) {
    ConferencePlan& plan = run.plans[i];
    if (!plan.datCommitted && !plan.ptrCommitted && !plan.idxCommitted) continue;
    run.out.Line("Restoring " + ConfName(plan.conferenceNumber) + " from verified backup...");
    if (RollbackConference(run.os, &plan)) {
      run.out.Line("  rollback verification: PASS");
    } else {
      run.out.Line("  ROLLBACK FAILED");
      restoreFailed = true;
    }
  }
  run.exitCode = kExitWriteFailure;
  if (!restoreFailed && VerifyIntegritySnapshot(run.os, run.out, run.integrity)) {
    run.out.Line("ROLLBACK RESULT: originals restored and verified.");
    run.out.Line(kFailedUnchanged);
    return;
  }
  run.out.Line("ROLLBACK RESULT: INCOMPLETE - restore manually from the logged backup directory.");
  run.out.Line(kFailedManual);
}

}  // namespace

void RunWritePhases(RunState& run) {
  if (!WriteDecision(run)) return;
  if (!BuildPhase(run)) return;
  if (!PreCommitCheck(run, kBeforeBackup)) return;
  if (!BackupPhase(run)) return;
  if (!PreCommitCheck(run, kBeforeCommit)) return;
  if (!CommitPhase(run) || !VerificationPhase(run)) Rollback(run);
}

}  // namespace twtrim
