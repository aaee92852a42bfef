// The verified backup: a new timestamped directory under
// <home>/TWTRIM32-BACKUPS holding proven copies of every file a write can touch.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"
#include "report/report_output.h"
#include "scan/conference_plan.h"

namespace twtrim {

// Creates TWTRIM32-BACKUPS/TWTRIM32-YYYYMMDD-HHMMSS (or -01..-99 when taken).
bool CreateBackupDirectory(Os& os, const std::string& homeDir, std::string* backupDir);
// Copies `source` into `backupDir` under its base name and proves the copy.
// A missing source is success unless `required`. `copyPath` may be null.
bool BackupFile(Os& os, ReportOutput& out, const std::string& source, const std::string& backupDir,
                std::string* copyPath, bool required);
// PTR, IDX and DAT (required, paths kept in the plan), then LMR and SIG.
bool BackupConference(Os& os, ReportOutput& out, ConferencePlan* plan,
                      const std::string& messageDir, const std::string& backupDir);
// Copies through a 32 KiB buffer, flushes, and proves the copy by
// fingerprint; on any failure no file is left at `destination`.
bool CopyFileVerified(Os& os, const std::string& source, const std::string& destination);
// Appends `value` zero-padded to `width`; false past 79 characters.
bool AppendPaddedNumber(std::string* name, uint32_t value, int width);

}  // namespace twtrim
