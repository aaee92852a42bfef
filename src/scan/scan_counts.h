// The counters a conference scan counts and the run adds up. Each one is a
// field here and one row of the table in scan_counts.cc, which holds the
// words the reports print for it; the sum and every counts block go by that
// table, so a new counter is one field and one row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "report/report_output.h"

namespace twtrim {

struct ScanCounts {
  uint32_t ptrRecords = 0, idxRecords = 0, datRecords = 0;
  uint32_t projectedPtrRecords = 0, projectedIdxRecords = 0, projectedDatRecords = 0;
  uint32_t deletedCount = 0;
  uint32_t bodylessCount = 0;
  uint32_t dangerCount = 0;
  uint32_t normalRoots = 0;
  uint32_t rootsWithoutChild = 0;
  uint32_t orphanReplies = 0;
  uint32_t staleIdxIdentity = 0;
  uint32_t idxCrcErrors = 0;
  uint32_t datOverlapBlocks = 0;
  uint32_t unreferencedDat = 0;
  uint32_t validationErrors = 0;
  uint32_t duplicateMsgNumbers = 0;
  uint32_t dangerFixes = 0;
  uint32_t replyLinksCleared = 0;
  uint32_t rootsKeptWithoutChild = 0;

  ScanCounts& operator+=(const ScanCounts& other);
  friend bool operator==(const ScanCounts&, const ScanCounts&) = default;
};

// The two verbose groups of counters: the counts every conference shows and
// the plan shown when it has no validation errors.
enum class CountGroup { kCounts, kPlan };

// Where a count line stands: its indent, and the column its value starts in
// (the label and its colon are padded to it with at least one space).
struct CountColumn {
  std::string_view indent;
  size_t width;
};
inline constexpr CountColumn kConferenceCountsColumn{"  ", 24};
inline constexpr CountColumn kConferencePlanColumn{"    ", 40};
inline constexpr CountColumn kTotalsColumn{"", 23};
inline constexpr CountColumn kPlanTotalsColumn{"", 28};

void CountLine(ReportOutput& out, CountColumn column, std::string_view label,
               std::string_view value);
void CountLine(ReportOutput& out, CountColumn column, std::string_view label, uint64_t value);

// The group's lines of one conference's verbose block.
void PrintConferenceCounts(ReportOutput& out, const ScanCounts& counts, CountGroup group);
// The group's lines of the verbose run totals.
void PrintTotalCounts(ReportOutput& out, const ScanCounts& counts, CountGroup group);
// " key=value" for every finding above 0, in report order.
void AppendFindings(std::string* line, const ScanCounts& counts);

}  // namespace twtrim
