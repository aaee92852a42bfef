// The intent record: a few CR LF text lines an operator can read too.
#include "write/intent_record.h"

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string_view>

#include "msgbase/records.h"
#include "platform/file_io.h"
#include "report/format.h"

namespace twtrim {
namespace {

constexpr std::string_view kTitle = "TWTRIM32 COMMIT IN PROGRESS";
constexpr std::string_view kBackupLabel = "Backup directory: ";
constexpr uint32_t kMaxRecordBytes = 4096;

std::string FingerprintText(const FileFingerprint& f) {
  return Decimal(f.size) + " " + Hex32(f.fnv) + " " + Hex32(f.crc);
}

std::string FileLine(const IntentRecord& record, FileKind kind) {
  return std::string(kFileExtension[kind]) + " original " + FingerprintText(record.original[kind]) +
         " staged " + FingerprintText(record.staged[kind]);
}

std::string RecordText(const IntentRecord& record) {
  std::string text =
      std::string(kTitle) + "\r\n" + std::string(kBackupLabel) + record.backupDir + "\r\n";
  for (FileKind kind : kFileKinds) text += FileLine(record, kind) + "\r\n";
  return text;
}

// Reads the line back by the format it was written with and accepts it only
// when writing the values again gives the very same text.
bool ParseFileLine(const std::string& line, FileKind kind, IntentRecord* record) {
  FileFingerprint& o = record->original[kind];
  FileFingerprint& s = record->staged[kind];
  const std::string format = std::string(kFileExtension[kind]) + " original %" SCNu64 " %8" SCNx32
                                                                 " %8" SCNx32 " staged %" SCNu64
                                                                 " %8" SCNx32 " %8" SCNx32;
  return std::sscanf(line.c_str(), format.c_str(), &o.size, &o.fnv, &o.crc, &s.size, &s.fnv,
                     &s.crc) == 6 &&
         FileLine(*record, kind) == line;
}

bool ReadSmallFile(Os& os, const std::string& path, std::string* text) {
  std::unique_ptr<OsFile> file = os.OpenSharedRead(path);
  if (!file) return false;
  char buffer[kMaxRecordBytes];
  uint32_t got = 0;
  if (!file->Read(buffer, sizeof buffer, &got)) return false;
  text->assign(buffer, got);
  return got < sizeof buffer;
}

// The next CR LF line from `*at`; false when none is complete.
bool NextLine(const std::string& text, size_t* at, std::string* line) {
  const size_t end = text.find("\r\n", *at);
  if (end == std::string::npos) return false;
  *line = text.substr(*at, end - *at);
  *at = end + 2;
  return true;
}

// ORIGINAL, PACKED or MIXED, by the live files' fingerprints now.
std::string LiveState(Os& os, const std::string& messageDir, uint32_t conference,
                      const IntentRecord& record) {
  bool original = true, packed = true;
  for (FileKind kind : kFileKinds) {
    std::string path;
    FileFingerprint live;
    if (!ConferenceFilePath(&path, messageDir, conference, kFileExtension[kind]) ||
        !FingerprintFile(os, path, &live)) {
      return "MIXED";
    }
    original = original && live == record.original[kind];
    packed = packed && live == record.staged[kind];
  }
  if (original) return "ORIGINAL";
  return packed ? "PACKED" : "MIXED";
}

}  // namespace

bool IntentRecordPath(std::string* path, const std::string& messageDir, uint32_t conference) {
  return ConferenceFilePath(path, messageDir, conference, "JNL");
}

bool WriteIntentRecord(Os& os, const std::string& path, const IntentRecord& record) {
  const std::string staged = path + ".NEW";
  const std::string text = RecordText(record);
  os.DeleteFile(staged);  // a stale name, whatever it is; unlinking never follows a link
  std::unique_ptr<OsFile> file = os.CreateNew(staged);
  const bool written = file && WriteExact(*file, text.data(), static_cast<uint32_t>(text.size())) &&
                       file->Flush() && file->Close();
  // The rename puts the name on disk as well (the directory is written through).
  if (written && os.ReplaceRename(staged, path)) return true;
  file.reset();
  os.DeleteFile(staged);
  return false;
}

bool ReadIntentRecord(Os& os, const std::string& path, IntentRecord* record) {
  *record = IntentRecord{};
  std::string text, line;
  size_t at = 0;
  if (!ReadSmallFile(os, path, &text) || !NextLine(text, &at, &line) || line != kTitle) {
    return false;
  }
  if (!NextLine(text, &at, &line) || line.rfind(kBackupLabel, 0) != 0) return false;
  record->backupDir = line.substr(kBackupLabel.size());
  for (FileKind kind : kFileKinds) {
    if (!NextLine(text, &at, &line) || !ParseFileLine(line, kind, record)) return false;
  }
  return at == text.size();
}

std::string InterruptedCommitLine(Os& os, const std::string& messageDir, uint32_t conference) {
  std::string path;
  if (!IntentRecordPath(&path, messageDir, conference)) return "";
  const PathKind kind = os.GetPathKind(path);
  FileIdentity identity;  // a dangling link reads as missing, yet is a name there
  if (kind == PathKind::kMissing && !os.PathIdentity(path, &identity)) return "";
  IntentRecord record;
  std::string state = "UNKNOWN";
  if (kind == PathKind::kFile && ReadIntentRecord(os, path, &record)) {
    state = LiveState(os, messageDir, conference, record);
  }
  const std::string backup = record.backupDir.empty() ? "unknown" : record.backupDir;
  return "  ERROR: interrupted commit: live files are " + state + "; backup: " + backup;
}

}  // namespace twtrim
