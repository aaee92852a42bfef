// The integrity snapshot: every file a run depends on is fingerprinted before
// the scan and proven unchanged after it, before the backup and before the
// commit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"
#include "report/report_output.h"
#include "safety/fingerprint.h"

namespace twtrim {

struct IntegrityEntry {
  std::string path;
  FileFingerprint fingerprint;
};

struct IntegrityList {
  std::vector<IntegrityEntry> entries;
  uint64_t bytesHashed = 0;
};

// TWMCONF.DAT when it exists as a file, then PTR, IDX and DAT of lo..hi.
bool BuildIntegrityList(Os& os, IntegrityList* list, const std::string& configPath,
                        const std::string& messageDir, uint32_t lo, uint32_t hi);
// Fingerprints every entry; reports and stops at the first failure.
bool TakeIntegritySnapshot(Os& os, ReportOutput& out, IntegrityList* list);
// Re-fingerprints every entry and reports each one that changed.
bool VerifyIntegritySnapshot(Os& os, ReportOutput& out, const IntegrityList& list);

}  // namespace twtrim
