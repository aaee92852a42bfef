// The intent record of a conference's commit (TWMSGnn.JNL beside its files):
// it exists from just before the conference's first rename until the write
// is proven or the conference is proven restored, so a crash in between is
// never mistaken for a clean base by a later run.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/os.h"
#include "safety/fingerprint.h"
#include "write/file_kind.h"

namespace twtrim {

struct IntentRecord {
  std::string backupDir;
  std::array<FileFingerprint, kFileKindCount> original;  // as the integrity snapshot took them
  std::array<FileFingerprint, kFileKindCount> staged;    // as the staged verification proved them
};

// TWMSGnn.JNL in `messageDir`; false when the name would not fit.
bool IntentRecordPath(std::string* path, const std::string& messageDir, uint32_t conference);
// Writes the record under <path>.NEW, flushes it and renames it to `path`, so
// both its bytes and its name are on disk when this returns true.
bool WriteIntentRecord(Os& os, const std::string& path, const IntentRecord& record);
// False when the record cannot be read or is malformed; `backupDir` is then
// filled as far as it could be read.
bool ReadIntentRecord(Os& os, const std::string& path, IntentRecord* record);
// For a conference with a record: the report line naming the state of its
// live files and the backup directory. Empty when there is no record.
std::string InterruptedCommitLine(Os& os, const std::string& messageDir, uint32_t conference);

}  // namespace twtrim
