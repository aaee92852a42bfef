// The scan of one conference: validation of its three files, one pass over
// every record, the thread checks, the Phase-1 verdict and the report block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "report/report_output.h"

namespace twtrim {

struct ConferenceScan {
  uint64_t ptrBytes = 0, idxBytes = 0, datBytes = 0;
  uint64_t projectedPtrBytes = 0, projectedIdxBytes = 0, projectedDatBytes = 0;
  uint64_t reclaimBytes = 0;
  uint32_t ptrRecords = 0, idxRecords = 0, datRecords = 0;
  uint32_t projectedPtrRecords = 0, projectedIdxRecords = 0, projectedDatRecords = 0;
  uint32_t deletedCount = 0;
  uint32_t bodylessCount = 0;
  uint32_t dangerCount = 0;
  uint32_t normalRoots = 0;
  uint32_t orphanReplies = 0;
  uint32_t rootsWithoutChild = 0;
  uint32_t duplicateMsgNumbers = 0;
  uint32_t nonBooleanFlags = 0;
  uint32_t validationErrors = 0;
  uint32_t staleIdxIdentity = 0;
  uint32_t idxCrcErrors = 0;
  uint32_t datOverlapBlocks = 0;
  uint32_t unreferencedDat = 0;
  uint32_t deletedDatRecords = 0;
  uint32_t liveDatRecords = 0;
  uint32_t dangerFixes = 0;
  uint32_t replyLinksCleared = 0;
  uint32_t rootsKeptWithoutChild = 0;
  bool needsAction = false;
  bool blocked = false;

  friend bool operator==(const ConferenceScan&, const ConferenceScan&) = default;
};

// Per-slot summary kept in memory for the thread checks (16 bytes).
struct RecordSummary {
  int32_t msgNumber = 0;
  int32_t org = 0;
  uint16_t where = 0;
  uint16_t records = 0;
  uint8_t tm = 0, ts = 0, deleted = 0;
};

// Scans conference `conference` of `messageDir` into `*scan` and prints its
// report block (concise or verbose as `out` says). `name` may be empty.
// `write` changes only wording. `interruptedCommit`, when not empty, is the
// line reporting an unfinished commit of the conference: it is printed before
// the result and counts as one validation error. Never fails; files are
// opened read-only.
void ScanConference(Os& os, ReportOutput& out, const std::string& messageDir, uint32_t conference,
                    const std::string& name, bool write, ConferenceScan* scan,
                    std::string_view interruptedCommit = {});

}  // namespace twtrim
