// One ConferencePlan per selected conference: the scan's copy, the write
// decision, the live, staged and backup paths, the write progress flags and
// the fingerprints of the verified staged files.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"
#include "safety/fingerprint.h"
#include "scan/conference_scan.h"

namespace twtrim {

struct ConferencePlan {
  uint32_t conferenceNumber = 0;
  ConferenceScan scan;
  bool writeWanted = false;
  bool datCommitted = false, ptrCommitted = false, idxCommitted = false;
  std::string livePtrPath, liveIdxPath, liveDatPath;
  std::string stagedPtrPath, stagedIdxPath, stagedDatPath;
  std::string backupPtrPath, backupIdxPath, backupDatPath;
  FileFingerprint stagedPtrFingerprint, stagedIdxFingerprint, stagedDatFingerprint;
};

// Fills `*plan` from the scan; false when a path does not fit.
bool BuildConferencePlan(ConferencePlan* plan, const std::string& messageDir, uint32_t conference,
                         const ConferenceScan& scan);
// Deletes the plan's staged files that exist as files; never fails.
void RemoveStagedFiles(Os& os, ConferencePlan* plan);

}  // namespace twtrim
