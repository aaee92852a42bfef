// The verified backup: a new timestamped directory under
// <home>/TWTRIM32-BACKUPS holding proven copies of every file a write can touch.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"
#include "report/report_output.h"
#include "safety/integrity.h"
#include "write/conference_plan.h"

namespace twtrim {

// Creates TWTRIM32-BACKUPS/TWTRIM32-YYYYMMDD-HHMMSS (or -01..-99 when taken).
// Each name is created exclusively: one another process made first is taken.
bool CreateBackupDirectory(Os& os, const std::string& homeDir, std::string* backupDir);
// What BackupFile does when the source is not there.
enum class IfMissing { kFail, kSkip };

// Copies `source` into `backupDir` under its base name and proves the copy,
// against `original` too when given. `copyPath` may be null.
bool BackupFile(Os& os, ReportOutput& out, const std::string& source, const std::string& backupDir,
                std::string* copyPath, IfMissing ifMissing,
                const FileFingerprint* original = nullptr);
// PTR, IDX and DAT (required, proven against `snapshot`, paths kept in the
// plan), then LMR and SIG.
bool BackupConference(Os& os, ReportOutput& out, ConferencePlan* plan,
                      const std::string& messageDir, const std::string& backupDir,
                      const IntegrityList& snapshot);
// The snapshot's fingerprint of `path`, or null when it took none.
const FileFingerprint* SnapshotFingerprint(const IntegrityList& snapshot, const std::string& path);
// Copies through a 32 KiB buffer into a new file given the owner and mode of
// `ownerOf`, flushes, and proves the copy equal to the source and, when
// given, to `expected`; on any failure no file is left at `destination`.
bool CopyFileVerified(Os& os, const std::string& source, const std::string& destination,
                      const std::string& ownerOf, const FileFingerprint* expected = nullptr);
// Appends `value` zero-padded to `width`; false past 79 characters.
bool AppendPaddedNumber(std::string* name, uint32_t value, int width);

}  // namespace twtrim
