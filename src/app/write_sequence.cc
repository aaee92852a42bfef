#include "app/write_sequence.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/run_sequence.h"
#include "report/format.h"
#include "safety/checkpoint.h"
#include "write/backup.h"
#include "write/commit.h"
#include "write/intent_record.h"
#include "write/space_check.h"
#include "write/staged_rebuild.h"
#include "write/staged_verify.h"

namespace twtrim {
namespace {

// Interrupts wait while a conference is half-replaced: only once all its
// renames are done, or all undone, may the control handler end the run.
class ControlEventHold {
 public:
  explicit ControlEventHold(Os& os) : os_(os) {}
  ~ControlEventHold() { Release(); }
  ControlEventHold(const ControlEventHold&) = delete;
  ControlEventHold& operator=(const ControlEventHold&) = delete;
  void Hold() {
    if (!held_) os_.HoldControlEvents();
    held_ = true;
  }
  void Release() {
    if (held_) os_.ReleaseControlEvents();
    held_ = false;
  }

 private:
  Os& os_;
  bool held_ = false;
};

// What the commit has done so far: the intent record of each plan whose
// commit began (its first rename may have happened), and the hold.
struct CommitProgress {
  explicit CommitProgress(RunState& run) : hold(run.os), records(run.plans.size()) {}
  ControlEventHold hold;
  std::vector<std::optional<IntentRecord>> records;
};

constexpr std::string_view kFailedUnchanged =
    "WRITE RESULT: FAILED; live-format originals are unchanged or were restored from backup.";
constexpr std::string_view kFailedManual =
    "WRITE RESULT: FAILED; manual restoration from the backup directory is required.";

void Heading(RunState& run, std::string_view rule) {
  run.out.Line("");
  run.out.Line(rule);
}

// Each step that talks to the system starts with no failure kept, so that
// the cause under its error line is its own.
void StartStep(RunState& run) { run.os.ForgetFailure(); }

// A failure before anything live was replaced.
bool Fail(RunState& run, const std::string& message) {
  run.out.Line(message);
  run.out.CauseLine();
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

// Before anything is changed: a write whose rollback could not name its
// files must not start.
bool NamesFit(RunState& run) {
  for (const ConferencePlan& plan : run.plans) {
    if (plan.writeWanted && !CommitNamesFit(plan, run.options.messageDir)) {
      return Fail(run, "WRITE ERROR: a file name needed to commit or roll back " +
                           ConfName(plan.conferenceNumber) + " would be too long.");
    }
  }
  return true;
}

bool BuildOne(RunState& run, size_t i) {
  ConferencePlan& plan = run.plans[i];
  const std::string conf = ConfName(plan.conferenceNumber);
  if (run.out.verbose()) run.out.Line("Building " + conf + " staged files...");
  StartStep(run);
  if (!BuildStagedFiles(run.os, run.out, &plan, run.integrity)) {
    return Fail(run, "WRITE ERROR: failed while building staged files for " + conf + ".");
  }
  run.builtThisRun[i] = 1;
  StartStep(run);
  if (!VerifyConferenceFiles(run.os, &plan, Verification::kStaged)) {
    return Fail(run, "WRITE ERROR: staged verification failed for " + conf + ".");
  }
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
  StartStep(run);
  if (run.os.GetPathKind(o.conferenceConfigPath) == PathKind::kFile &&
      !BackupFile(run.os, run.out, o.conferenceConfigPath, run.backupDir, nullptr, IfMissing::kFail,
                  SnapshotFingerprint(run.integrity, o.conferenceConfigPath))) {
    return Fail(run, "WRITE ERROR: TWMCONF.DAT backup failed verification.");
  }
  StartStep(run);
  if (!BackupFile(run.os, run.out, o.outboundSeqPath, run.backupDir, nullptr, IfMissing::kSkip)) {
    return Fail(run, "WRITE ERROR: TWOUTBOUND.SEQ backup failed verification.");
  }
  return true;
}

// Refused before any backup is made: running out of disk half way through
// would only say that a copy failed.
bool RoomForBackup(RunState& run) {
  const RunOptions& o = run.options;
  StartStep(run);
  const std::string noRoom =
      FreeSpaceRefusal(run.os, run.plans,
                       {o.homeDir, o.messageDir, {o.conferenceConfigPath, o.outboundSeqPath}});
  return noRoom.empty() || Fail(run, noRoom);
}

bool BackupPhase(RunState& run) {
  Heading(run, "=================== VERIFIED BACKUP ========================");
  std::string directory;
  StartStep(run);
  if (!CreateBackupDirectory(run.os, run.options.homeDir, &directory)) {
    return Fail(run, "WRITE ERROR: could not create the timestamped backup directory.");
  }
  run.backupDir = directory;
  run.out.LabelLine("Backup directory:", run.backupDir);
  if (!BackupControlFiles(run)) return false;
  for (ConferencePlan& plan : run.plans) {
    StartStep(run);
    if (plan.writeWanted && !BackupConference(run.os, run.out, &plan, run.options.messageDir,
                                              run.backupDir, run.integrity)) {
      return Fail(
          run, "WRITE ERROR: verified backup failed for " + ConfName(plan.conferenceNumber) + ".");
    }
  }
  run.out.Line("Verified backup result: PASS");
  return true;
}

std::string IntentPath(const RunState& run, const ConferencePlan& plan) {
  std::string path;
  IntentRecordPath(&path, run.options.messageDir, plan.conferenceNumber);
  return path;
}

// The intent record goes to disk before the first rename; the hold stays on
// after a failure, until the rollback has made the conference whole.
bool CommitOne(RunState& run, size_t i, CommitProgress& progress) {
  ConferencePlan& plan = run.plans[i];
  IntentRecord record;
  if (!MakeIntentRecord(plan, run.integrity, run.backupDir, &record)) return false;
  progress.hold.Hold();
  if (!WriteIntentRecord(run.os, IntentPath(run, plan), record)) return false;
  progress.records[i] = record;
  if (!CommitConference(run.os, &plan)) return false;
  progress.hold.Release();
  return true;
}

bool CommitPhase(RunState& run, CommitProgress& progress) {
  Heading(run, "======================= COMMIT =============================");
  for (size_t i = 0; i < run.plans.size(); ++i) {
    const ConferencePlan& plan = run.plans[i];
    if (!plan.writeWanted) continue;
    const std::string conf = ConfName(plan.conferenceNumber);
    if (run.out.verbose()) run.out.Line("Committing " + conf + "...");
    StartStep(run);
    if (!CommitOne(run, i, progress)) {
      run.out.Line("WRITE ERROR: commit failed for " + conf + ". Starting rollback.");
      run.out.CauseLine();
      return false;
    }
    if (run.out.verbose()) run.out.Line("  " + conf + " commit: COMPLETE");
  }
  if (!run.out.verbose()) run.out.Line("Commit: COMPLETE" + PerConference(run.conferencesToWrite));
  return true;
}

// Only a proven write retires the records; a record that stays behind makes
// the next run stop at this conference, so say so.
void RemoveIntentRecords(RunState& run, const CommitProgress& progress) {
  for (size_t i = 0; i < run.plans.size(); ++i) {
    if (!progress.records[i]) continue;
    const std::string path = IntentPath(run, run.plans[i]);
    if (!run.os.DeleteFile(path)) {
      run.out.Line("WARNING: intent record could not be removed: " + path);
    }
  }
}

bool VerifyCommittedFiles(RunState& run) {
  for (ConferencePlan& plan : run.plans) {
    if (!plan.writeWanted) continue;
    const std::string conf = ConfName(plan.conferenceNumber);
    StartStep(run);
    if (!VerifyConferenceFiles(run.os, &plan, Verification::kCommitted)) {
      run.out.Line("POST-WRITE ERROR: final structure/hash verification failed for " + conf + ".");
      run.out.CauseLine();
      return false;
    }
    if (run.out.verbose()) run.out.Line("  " + conf + " final verification: PASS");
  }
  return true;
}

bool VerificationPhase(RunState& run, const CommitProgress& progress) {
  Heading(run, "=================== POST-WRITE VERIFY ======================");
  const RunOptions& o = run.options;
  if (!RunSafetyCheck(run.os, run.out, o.homeDir, o.messageDir, kAfterCommit)) return false;
  if (!VerifyCommittedFiles(run)) return false;
  if (!VerifyAfterWrite(run.os, run.out, run.integrity, run.plans)) return false;
  if (!RunSafetyCheck(run.os, run.out, o.homeDir, o.messageDir, kFinalWriteVerification)) {
    return false;
  }
  if (!run.out.verbose()) run.out.Line("Post-write verification: PASS");
  RemoveIntentRecords(run, progress);
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

// Every .NEW and .ROLLBACK name of a conference whose commit began that is
// still there, for the operator's manual restore.
void ReportLeftovers(RunState& run, const CommitProgress& progress) {
  for (size_t i = 0; i < run.plans.size(); ++i) {
    if (!progress.records[i]) continue;
    const ConferencePlan& plan = run.plans[i];
    const auto& [ptr, idx, dat] = plan.files;
    for (const std::string& path :
         {dat.staged, ptr.staged, idx.staged, IntentPath(run, plan) + ".NEW",
          dat.live + ".ROLLBACK", ptr.live + ".ROLLBACK", idx.live + ".ROLLBACK"}) {
      FileIdentity identity;
      if (run.os.PathIdentity(path, &identity)) run.out.Line("  Left behind: " + path);
    }
  }
}

// Rolls back one conference whose commit began; its intent record goes only
// once all three live files are proven original again. A conference whose
// files were never replaced is named only when it is not whole.
bool RollbackOne(RunState& run, size_t i, CommitProgress& progress) {
  ConferencePlan& plan = run.plans[i];
  const std::string heading =
      "Restoring " + ConfName(plan.conferenceNumber) + " from verified backup...";
  const bool changed = std::any_of(plan.files.begin(), plan.files.end(),
                                   [](const PlannedFile& file) { return file.committed; });
  if (changed) run.out.Line(heading);
  progress.hold.Hold();
  StartStep(run);
  const bool restored = RollbackConference(run.os, &plan, *progress.records[i]);
  if (restored) run.os.DeleteFile(IntentPath(run, plan));
  progress.hold.Release();
  if (!changed && !restored) run.out.Line(heading);
  if (changed || !restored) {
    run.out.Line(restored ? "  rollback verification: PASS" : "  ROLLBACK FAILED");
    if (!restored) run.out.CauseLine();
  }
  return restored;
}

// Restores, from the highest conference down, every conference whose commit
// began; then proves the live files equal the pre-scan snapshot.
void Rollback(RunState& run, CommitProgress& progress) {
  Heading(run, "======================= ROLLBACK ===========================");
  bool restoreFailed = false;
  for (size_t i = run.plans.size(); i-- > 0;) {
    if (progress.records[i] && !RollbackOne(run, i, progress)) restoreFailed = true;
  }
  progress.hold.Release();
  run.exitCode = kExitWriteFailure;
  if (!restoreFailed && VerifyIntegritySnapshot(run.os, run.out, run.integrity)) {
    run.out.Line("ROLLBACK RESULT: originals restored and verified.");
    run.out.Line(kFailedUnchanged);
    return;
  }
  run.out.Line("ROLLBACK RESULT: INCOMPLETE - restore manually from the logged backup directory.");
  ReportLeftovers(run, progress);
  run.out.Line(kFailedManual);
}

}  // namespace

void RunWritePhases(RunState& run) {
  StartStep(run);  // NamesFit talks to no system, but may fail
  if (!WriteDecision(run)) return;
  if (!NamesFit(run)) return;
  if (!BuildPhase(run)) return;
  if (!PreCommitCheck(run, kBeforeBackup)) return;
  if (!RoomForBackup(run)) return;
  if (!BackupPhase(run)) return;
  if (!PreCommitCheck(run, kBeforeCommit)) return;
  // The lines that prove the backup must be on disk before a live file changes.
  run.out.FlushLog();
  CommitProgress progress(run);
  if (!CommitPhase(run, progress) || !VerificationPhase(run, progress)) Rollback(run, progress);
}

}  // namespace twtrim
