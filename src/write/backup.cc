// The verified backup: a timestamped directory of proven copies, made before
// any live file is replaced. The rollback and the operator restore from it.
#include "write/backup.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>

#include "msgbase/records.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "safety/fingerprint.h"

namespace twtrim {
namespace {

constexpr size_t kMaxBackupName = 79;
constexpr int kMaxPaddedDigits = 15;
constexpr int kMaxAttempt = 99;

bool AppendText(std::string* name, std::string_view text) {
  if (name->size() + text.size() > kMaxBackupName) return false;
  name->append(text);
  return true;
}

// TWTRIM32-YYYYMMDD-HHMMSS, then -NN from the first retry on.
bool BackupDirectoryName(const LocalTime& t, int attempt, std::string* name) {
  name->clear();
  const auto number = [](int value) { return static_cast<uint32_t>(value); };
  return AppendText(name, "TWTRIM32-") && AppendPaddedNumber(name, number(t.year), 4) &&
         AppendPaddedNumber(name, number(t.month), 2) &&
         AppendPaddedNumber(name, number(t.day), 2) && AppendText(name, "-") &&
         AppendPaddedNumber(name, number(t.hour), 2) &&
         AppendPaddedNumber(name, number(t.minute), 2) &&
         AppendPaddedNumber(name, number(t.second), 2) &&
         (attempt == 0 || (AppendText(name, "-") && AppendPaddedNumber(name, number(attempt), 2)));
}

// Streams the bytes into a new file and gets them onto the disk; proving the
// copy comes after.
bool StreamCopy(Os& os, const std::string& source, const std::string& destination,
                const std::string& ownerOf) {
  std::unique_ptr<OsFile> in = os.OpenSharedRead(source);
  if (!in) return false;
  std::unique_ptr<OsFile> copy = os.CreateNew(destination);
  // A copy run as root must not end up owned by root or readable by all.
  if (!copy || !copy->CopyOwnerAndMode(ownerOf)) return false;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kTransferBufferSize]());
  if (!buffer) return false;
  const bool copied = ReadToEnd(*in, buffer.get(), [&copy](const uint8_t* data, uint32_t count) {
    return WriteExact(*copy, data, count);
  });
  // A copy whose close the system refused does not count as written.
  return copied && copy->Flush() && copy->Close();
}

// The copy equals its source now and, when known, the source as the
// snapshot saw it: a file changed and changed back around the copy fails.
bool ProvenCopy(Os& os, const std::string& source, const std::string& copy,
                const FileFingerprint* expected) {
  FileFingerprint first, second;
  return FingerprintFile(os, source, &first) && FingerprintFile(os, copy, &second) &&
         first == second && (expected == nullptr || second == *expected);
}

void DeleteIfFile(Os& os, const std::string& path) {
  if (os.GetPathKind(path) == PathKind::kFile) os.DeleteFile(path);
}

// A crash in the middle of a copy must never leave a half-written file under
// a name the operator restores from: the copy is made and proven under a
// .PARTIAL name and only then renamed to its own.
bool CopyPartialThenRename(Os& os, const std::string& source, const std::string& partial,
                           const std::string& destination, const FileFingerprint* original) {
  if (!CopyFileVerified(os, source, partial, source, original)) return false;
  if (os.ReplaceRename(partial, destination)) return true;
  DeleteIfFile(os, partial);
  return false;
}

}  // namespace

bool AppendPaddedNumber(std::string* name, uint32_t value, int width) {
  std::string digits = std::to_string(value);
  const auto minimum = static_cast<size_t>(std::clamp(width, 0, kMaxPaddedDigits));
  if (digits.size() < minimum) digits.insert(0, minimum - digits.size(), '0');
  if (name->size() + digits.size() > kMaxBackupName) return false;
  name->append(digits);
  return true;
}

bool CreateBackupDirectory(Os& os, const std::string& homeDir, std::string* backupDir) {
  backupDir->clear();
  std::string root;
  if (!JoinPath(&root, homeDir, "TWTRIM32-BACKUPS")) return false;
  // Another run may create the root between the look and the create.
  if (os.GetPathKind(root) != PathKind::kDirectory && !os.CreateDirectory(root) &&
      os.GetPathKind(root) != PathKind::kDirectory) {
    return false;
  }
  const LocalTime now = os.Now();
  std::string name, path;
  for (int attempt = 0; attempt <= kMaxAttempt; ++attempt) {
    if (!BackupDirectoryName(now, attempt, &name) || !JoinPath(&path, root, name) ||
        path.size() > kMaxPath) {
      return false;
    }
    // Created, not found: a name that exists in any form, or that another
    // run takes first, is never shared.
    if (os.CreateDirectory(path)) {
      *backupDir = path;
      return true;
    }
  }
  return false;
}

bool CopyFileVerified(Os& os, const std::string& source, const std::string& destination,
                      const std::string& ownerOf, const FileFingerprint* expected) {
  if (!StreamCopy(os, source, destination, ownerOf) ||
      !ProvenCopy(os, source, destination, expected)) {
    DeleteIfFile(os, destination);
    return false;
  }
  return true;
}

bool BackupFile(Os& os, ReportOutput& out, const std::string& source, const std::string& backupDir,
                std::string* copyPath, IfMissing ifMissing, const FileFingerprint* original) {
  if (copyPath != nullptr) copyPath->clear();
  if (os.GetPathKind(source) != PathKind::kFile) return ifMissing == IfMissing::kSkip;
  std::string destination, partial;
  if (!JoinPath(&destination, backupDir, BaseName(source))) return false;
  if (!JoinPath(&partial, backupDir, std::string(BaseName(source)) + ".PARTIAL")) return false;
  if (!CopyPartialThenRename(os, source, partial, destination, original)) return false;
  if (copyPath != nullptr) *copyPath = destination;
  if (out.verbose()) out.Line("  Backed up: " + source + " -> " + destination);
  return true;
}

const FileFingerprint* SnapshotFingerprint(const IntegrityList& snapshot, const std::string& path) {
  for (const IntegrityEntry& entry : snapshot.entries) {
    if (SamePath(entry.path, path)) return &entry.fingerprint;
  }
  return nullptr;
}

bool BackupConference(Os& os, ReportOutput& out, ConferencePlan* plan,
                      const std::string& messageDir, const std::string& backupDir,
                      const IntegrityList& snapshot) {
  for (PlannedFile& file : plan->files) {
    // The rollback trusts these copies: each must hold what the snapshot saw.
    const FileFingerprint* original = SnapshotFingerprint(snapshot, file.live);
    if (original == nullptr ||
        !BackupFile(os, out, file.live, backupDir, &file.backup, IfMissing::kFail, original)) {
      return false;
    }
  }
  // The companions are carried along when present, never restored.
  for (const char* extension : {"LMR", "SIG"}) {
    std::string path;
    if (!ConferenceFilePath(&path, messageDir, plan->conferenceNumber, extension)) continue;
    if (!BackupFile(os, out, path, backupDir, nullptr, IfMissing::kSkip)) return false;
  }
  return true;
}

}  // namespace twtrim
