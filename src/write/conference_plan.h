// One ConferencePlan per selected conference: the scan's copy, the write
// decision and, per file, the live, staged and backup paths, the fingerprint
// of the verified staged file and whether the commit has put it live.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/os.h"
#include "safety/fingerprint.h"
#include "scan/conference_scan.h"
#include "write/file_kind.h"

namespace twtrim {

struct PlannedFile {
  std::string live, staged, backup;
  FileFingerprint stagedFingerprint;
  bool committed = false;
};

struct ConferencePlan {
  uint32_t conferenceNumber = 0;
  ConferenceScan scan;
  bool writeWanted = false;
  std::array<PlannedFile, kFileKindCount> files;
};

// Fills `*plan` from the scan; false when a path does not fit.
bool BuildConferencePlan(ConferencePlan* plan, const std::string& messageDir, uint32_t conference,
                         const ConferenceScan& scan);
// Deletes the plan's staged files that exist as files; never fails.
void RemoveStagedFiles(Os& os, ConferencePlan* plan);

}  // namespace twtrim
