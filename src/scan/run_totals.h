// The sums over every scanned conference, and the concise SUMMARY block.
#pragma once

#include <cstdint>

#include "report/report_output.h"
#include "scan/conference_scan.h"

namespace twtrim {

struct RunTotals {
  uint32_t conferencesScanned = 0;
  uint32_t ptrRecords = 0, idxRecords = 0, datRecords = 0;
  uint32_t projectedPtrRecords = 0, projectedIdxRecords = 0, projectedDatRecords = 0;
  uint32_t deletedCount = 0;
  uint32_t bodylessCount = 0;
  uint32_t dangerCount = 0;
  uint32_t normalRoots = 0;
  uint32_t orphanReplies = 0;
  uint32_t rootsWithoutChild = 0;
  uint32_t duplicateMsgNumbers = 0;
  uint32_t validationErrors = 0;
  uint32_t staleIdxIdentity = 0;
  uint32_t idxCrcErrors = 0;
  uint32_t datOverlapBlocks = 0;
  uint32_t unreferencedDat = 0;
  uint32_t dangerFixes = 0;
  uint32_t replyLinksCleared = 0;
  uint32_t rootsKeptWithoutChild = 0;
  uint32_t conferencesNeedingAction = 0;
  uint32_t conferencesBlocked = 0;
  uint64_t totalBytes = 0, projectedBytes = 0, reclaimBytes = 0;
};

void AddScanToTotals(RunTotals* totals, const ConferenceScan& scan);
void PrintSummary(ReportOutput& out, const RunTotals& totals, uint32_t extraValidationErrors,
                  uint32_t ignoredBackupFolders, bool write);

}  // namespace twtrim
