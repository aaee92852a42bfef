// The last steps of a write: staged files renamed over the live ones, the
// proof that exactly the verified bytes went live, and the way back from the
// verified backup when anything from the first rename on fails.
#include "write/commit.h"

#include <algorithm>

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
    for (const PlannedFile& file : plan.files) {
      if (SamePath(entry.path, file.live)) return file.stagedFingerprint;
    }
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
         std::all_of(plan.files.begin(), plan.files.end(),
                     [](const PlannedFile& file) { return Fits(file.live, ".ROLLBACK"); });
}

bool MakeIntentRecord(const ConferencePlan& plan, const IntegrityList& snapshot,
                      const std::string& backupDir, IntentRecord* record) {
  record->backupDir = backupDir;
  for (FileKind kind : kFileKinds) {
    const FileFingerprint* original = SnapshotFingerprint(snapshot, plan.files[kind].live);
    if (original == nullptr) return false;
    record->original[kind] = *original;
    record->staged[kind] = plan.files[kind].stagedFingerprint;
  }
  return true;
}

bool CommitConference(Os& os, ConferencePlan* plan) {
  // The flags only say what to report; the rollback goes by the
  // fingerprints in the intent record.
  for (FileKind kind : kCommitOrder) {
    PlannedFile& file = plan->files[kind];
    if (!os.ReplaceRename(file.staged, file.live)) return false;
    file.committed = true;
  }
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
  for (auto kind = kCommitOrder.rbegin(); kind != kCommitOrder.rend(); ++kind) {
    const PlannedFile& file = plan->files[*kind];
    result &= RestoreOne(os, file.backup, file.live, record.original[*kind], record.staged[*kind]);
  }
  // Cleared even after a failure, so no file is restored twice in one run.
  for (PlannedFile& file : plan->files) file.committed = false;
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
