// The scan of one conference: validation of its three files, one pass over
// every record, the thread checks, the Phase-1 verdict and the report block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "report/report_output.h"
#include "scan/scan_counts.h"

namespace twtrim {

// The counters the run adds up are in the ScanCounts base; the rest belongs
// to this conference alone.
struct ConferenceScan : ScanCounts {
  uint64_t ptrBytes = 0, idxBytes = 0, datBytes = 0;
  uint64_t projectedPtrBytes = 0, projectedIdxBytes = 0, projectedDatBytes = 0;
  uint64_t reclaimBytes = 0;
  uint32_t nonBooleanFlags = 0;
  uint32_t deletedDatRecords = 0;
  uint32_t liveDatRecords = 0;
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
