// The sums over every scanned conference, and the totals that close the
// scan: the OVERALL and plan totals blocks (verbose) or the SUMMARY.
#pragma once

#include <cstdint>

#include "report/report_output.h"
#include "scan/conference_scan.h"

namespace twtrim {

struct RunTotals : ScanCounts {
  uint32_t conferencesScanned = 0;
  uint32_t conferencesNeedingAction = 0;
  uint32_t conferencesBlocked = 0;
  uint64_t totalBytes = 0, projectedBytes = 0, reclaimBytes = 0;
};

void AddScanToTotals(RunTotals* totals, const ConferenceScan& scan);
// `extraValidationErrors` are the run's own, outside any conference.
void PrintTotals(ReportOutput& out, const RunTotals& totals, uint32_t extraValidationErrors,
                 uint32_t ignoredBackupFolders, bool write);

}  // namespace twtrim
