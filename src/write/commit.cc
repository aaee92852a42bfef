// The last steps of a write: staged files renamed over the live ones, the
// proof that exactly the verified bytes went live, and the way back from the
// verified backup when anything from the first rename on fails.
#include "write/commit.h"

#include "report/paths.h"
#include "write/backup.h"

namespace twtrim {
namespace {

// The staged fingerprint when `path` is a live file of a written conference,
// otherwise the snapshot's.
FileFingerprint ExpectedFingerprint(const IntegrityEntry& entry,
                                    const std::vector<ConferencePlan>& plans) {
  for (const ConferencePlan& plan : plans) {
    if (!plan.writeWanted) continue;
    if (SamePath(entry.path, plan.livePtrPath)) return plan.stagedPtrFingerprint;
    if (SamePath(entry.path, plan.liveIdxPath)) return plan.stagedIdxFingerprint;
    if (SamePath(entry.path, plan.liveDatPath)) return plan.stagedDatFingerprint;
  }
  return entry.fingerprint;
}

}  // namespace

bool CommitConference(Os& os, ConferencePlan* plan) {
  // DAT first: until the PTR moves, the live headers still describe the old
  // bodies, and the rollback knows from the flags which files to restore.
  if (!os.ReplaceRename(plan->stagedDatPath, plan->liveDatPath)) return false;
  plan->datCommitted = true;
  if (!os.ReplaceRename(plan->stagedPtrPath, plan->livePtrPath)) return false;
  plan->ptrCommitted = true;
  if (!os.ReplaceRename(plan->stagedIdxPath, plan->liveIdxPath)) return false;
  plan->idxCommitted = true;
  plan->stagedVerified = false;
  return true;
}

bool VerifyAfterWrite(Os& os, ReportOutput& out, const IntegrityList& list,
                      const std::vector<ConferencePlan>& plans) {
  uint32_t failures = 0;
  for (const IntegrityEntry& entry : list.entries) {
    const FileFingerprint expected = ExpectedFingerprint(entry, plans);
    FileFingerprint now;
    if (!FingerprintFile(os, entry.path, &now) || !(now == expected)) {
      out.Line("  POST-WRITE VERIFY FAILED: " + entry.path);
      ++failures;
    }
  }
  if (failures > 0) return false;
  if (out.verbose()) out.Line("Post-write integrity verification: PASS");
  return true;
}

bool RollbackConference(Os& os, ConferencePlan* plan) {
  // The commit's order undone backwards: IDX, PTR, then DAT. A run that
  // dies between two restores then leaves headers that no longer match the
  // files beside them, which every later scan rejects as a validation
  // error. Restoring the DAT first would put the original bodies under the
  // packed headers, a state a scan passes as clean while every moved
  // message shows another's body.
  bool result = true;
  if (plan->idxCommitted && !RestoreFileFromBackup(os, plan->backupIdxPath, plan->liveIdxPath)) {
    result = false;
  }
  if (plan->ptrCommitted && !RestoreFileFromBackup(os, plan->backupPtrPath, plan->livePtrPath)) {
    result = false;
  }
  if (plan->datCommitted && !RestoreFileFromBackup(os, plan->backupDatPath, plan->liveDatPath)) {
    result = false;
  }
  // Cleared even after a failure, so no file is restored twice in one run.
  plan->datCommitted = plan->ptrCommitted = plan->idxCommitted = false;
  RemoveStagedFiles(os, plan);
  return result;
}

bool RestoreFileFromBackup(Os& os, const std::string& backupPath, const std::string& livePath) {
  const std::string temporary = livePath + ".ROLLBACK";
  if (temporary.size() > kMaxPath) return false;
  if (os.GetPathKind(temporary) == PathKind::kFile) os.DeleteFile(temporary);
  // The live file is only ever replaced whole, by a copy already proven equal
  // to the backup.
  if (!CopyFileVerified(os, backupPath, temporary)) return false;
  if (!os.ReplaceRename(temporary, livePath)) {
    if (os.GetPathKind(temporary) == PathKind::kFile) os.DeleteFile(temporary);
    return false;
  }
  FileFingerprint backup, live;
  return FingerprintFile(os, backupPath, &backup) && FingerprintFile(os, livePath, &live) &&
         backup == live;
}

}  // namespace twtrim
