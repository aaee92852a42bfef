// The last steps of a write: staged files renamed over the live ones, the
// proof that exactly the verified bytes went live, and the way back from the
// verified backup when anything from the first rename on fails.
#include "write/commit.h"

#include "msgbase/records.h"
#include "platform/paths.h"
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

bool Fits(const std::string& path, std::string_view suffix) {
  return !path.empty() && path.size() + suffix.size() <= kMaxPath;
}

// One live file of a rolled-back conference brought back to `original`.
bool RestoreOne(Os& os, const std::string& backupPath, const std::string& livePath,
                const FileFingerprint& original, const FileFingerprint& staged) {
  FileFingerprint live;
  if (!FingerprintFile(os, livePath, &live)) return false;
  if (live == original) return true;
  // Anything but what the commit put there is newer than this run.
  if (!(live == staged)) return false;
  return RestoreFileFromBackup(os, backupPath, livePath, original);
}

}  // namespace

bool CommitNamesFit(const ConferencePlan& plan, const std::string& messageDir) {
  std::string record;
  return IntentRecordPath(&record, messageDir, plan.conferenceNumber) && Fits(record, ".NEW") &&
         Fits(plan.livePtrPath, ".ROLLBACK") && Fits(plan.liveIdxPath, ".ROLLBACK") &&
         Fits(plan.liveDatPath, ".ROLLBACK");
}

bool MakeIntentRecord(const ConferencePlan& plan, const IntegrityList& snapshot,
                      const std::string& backupDir, IntentRecord* record) {
  const std::string* live[kIntentFiles] = {&plan.livePtrPath, &plan.liveIdxPath, &plan.liveDatPath};
  record->backupDir = backupDir;
  record->staged[kIntentPtr] = plan.stagedPtrFingerprint;
  record->staged[kIntentIdx] = plan.stagedIdxFingerprint;
  record->staged[kIntentDat] = plan.stagedDatFingerprint;
  for (int file = 0; file < kIntentFiles; ++file) {
    const FileFingerprint* original = SnapshotFingerprint(snapshot, *live[file]);
    if (original == nullptr) return false;
    record->original[file] = *original;
  }
  return true;
}

bool CommitConference(Os& os, ConferencePlan* plan) {
  // DAT first: until the PTR moves, the live headers still describe the old
  // bodies. The flags only say what to report; the rollback goes by the
  // fingerprints in the intent record.
  if (!os.ReplaceRename(plan->stagedDatPath, plan->liveDatPath)) return false;
  plan->datCommitted = true;
  if (!os.ReplaceRename(plan->stagedPtrPath, plan->livePtrPath)) return false;
  plan->ptrCommitted = true;
  if (!os.ReplaceRename(plan->stagedIdxPath, plan->liveIdxPath)) return false;
  plan->idxCommitted = true;
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

bool RollbackConference(Os& os, ConferencePlan* plan, const IntentRecord& record) {
  // The commit's order undone backwards: IDX, PTR, then DAT. A run that
  // dies between two restores then leaves headers that no longer match the
  // files beside them, which every later scan rejects as a validation
  // error. Restoring the DAT first would put the original bodies under the
  // packed headers, a state a scan passes as clean while every moved
  // message shows another's body.
  bool result = true;
  result &= RestoreOne(os, plan->backupIdxPath, plan->liveIdxPath, record.original[kIntentIdx],
                       record.staged[kIntentIdx]);
  result &= RestoreOne(os, plan->backupPtrPath, plan->livePtrPath, record.original[kIntentPtr],
                       record.staged[kIntentPtr]);
  result &= RestoreOne(os, plan->backupDatPath, plan->liveDatPath, record.original[kIntentDat],
                       record.staged[kIntentDat]);
  // Cleared even after a failure, so no file is restored twice in one run.
  plan->datCommitted = plan->ptrCommitted = plan->idxCommitted = false;
  RemoveStagedFiles(os, plan);
  return result;
}

bool RestoreFileFromBackup(Os& os, const std::string& backupPath, const std::string& livePath,
                           const FileFingerprint& original) {
  const std::string temporary = livePath + ".ROLLBACK";
  FileFingerprint copy;
  if (temporary.size() > kMaxPath || !FingerprintFile(os, backupPath, &copy) ||
      !(copy == original)) {
    return false;
  }
  // Whatever holds the name is stale; unlinking it never follows a link, and
  // the copy is then created new, so no link's target is ever written.
  os.DeleteFile(temporary);
  // The live file is only ever replaced whole, by a copy already proven to
  // hold the original, with the owner and mode the original had (the backup
  // copy was given them).
  if (!CopyFileVerified(os, backupPath, temporary, backupPath, &original)) return false;
  if (!os.ReplaceRename(temporary, livePath)) {
    if (os.GetPathKind(temporary) == PathKind::kFile) os.DeleteFile(temporary);
    return false;
  }
  FileFingerprint live;
  return FingerprintFile(os, livePath, &live) && live == original;
}

}  // namespace twtrim
