#include "safety/integrity.h"

#include <new>

#include "msgbase/records.h"
#include "platform/paths.h"
#include "report/format.h"

namespace twtrim {
namespace {

bool IsFile(Os& os, const std::string& path) { return os.GetPathKind(path) == PathKind::kFile; }

bool AppendConference(IntegrityList* list, const std::string& messageDir, uint32_t conference) {
  for (const char* extension : {"PTR", "IDX", "DAT"}) {
    IntegrityEntry entry;
    if (!ConferenceFilePath(&entry.path, messageDir, conference, extension)) return false;
    if (entry.path.empty() || entry.path.size() > kMaxPath) return false;
    list->entries.push_back(std::move(entry));
  }
  return true;
}

std::string FingerprintText(const FileFingerprint& fingerprint) {
  return "size=" + Decimal(fingerprint.size) + " FNV=" + Hex32(fingerprint.fnv) +
         " CRC32=" + Hex32(fingerprint.crc);
}

// True when the entry's file still carries its snapshot fingerprint;
// otherwise the file has been reported.
bool VerifyEntry(Os& os, ReportOutput& out, const IntegrityEntry& entry) {
  FileFingerprint now;
  if (!IsFile(os, entry.path) || !FingerprintFile(os, entry.path, &now)) {
    out.Line("  CHANGED/UNREADABLE: " + entry.path);
    return false;
  }
  if (now == entry.fingerprint) return true;
  out.Line("  CHANGED: " + entry.path);
  out.Line("    Before " + FingerprintText(entry.fingerprint));
  out.Line("    After  " + FingerprintText(now));
  return false;
}

}  // namespace

bool BuildIntegrityList(Os& os, IntegrityList* list, const std::string& configPath,
                        const std::string& messageDir, uint32_t lo, uint32_t hi) {
  list->entries.clear();
  list->bytesHashed = 0;
  if (lo > hi) return false;
  try {
    if (IsFile(os, configPath)) {
      if (configPath.size() > kMaxPath) return false;
      list->entries.push_back(IntegrityEntry{configPath, {}});
    }
    for (uint32_t conference = lo; conference <= hi; ++conference) {
      if (!AppendConference(list, messageDir, conference)) return false;
      if (conference == UINT32_MAX) break;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool TakeIntegritySnapshot(Os& os, ReportOutput& out, IntegrityList* list) {
  list->bytesHashed = 0;
  for (IntegrityEntry& entry : list->entries) {
    if (!IsFile(os, entry.path)) {
      out.Line("SAFETY ERROR: required file is missing: " + entry.path);
      return false;
    }
    if (!FingerprintFile(os, entry.path, &entry.fingerprint)) {
      out.Line("SAFETY ERROR: could not create integrity snapshot for: " + entry.path);
      return false;
    }
    list->bytesHashed += entry.fingerprint.size;
  }
  if (out.verbose()) {
    out.Line("Integrity snapshot:     " + Decimal(list->entries.size()) + " files / " +
             Decimal(list->bytesHashed) + " bytes hashed");
  }
  return true;
}

bool VerifyIntegritySnapshot(Os& os, ReportOutput& out, const IntegrityList& list) {
  uint32_t changed = 0;
  for (const IntegrityEntry& entry : list.entries) {
    if (!VerifyEntry(os, out, entry)) ++changed;
  }
  if (changed > 0) {
    out.Line("SAFETY ABORT: " + Decimal(changed) + " selected file(s) changed during the scan.");
    out.Line("The report must not be trusted as a single consistent message-base snapshot.");
    return false;
  }
  if (out.verbose()) out.Line("Integrity verification: PASS - selected files were unchanged");
  return true;
}

}  // namespace twtrim
