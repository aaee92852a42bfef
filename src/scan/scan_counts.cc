#include "scan/scan_counts.h"

#include <iterator>

#include "report/format.h"

namespace twtrim {
namespace {

// An empty label or key: the counter is not printed there.
struct Counter {
  uint32_t ScanCounts::*field;
  CountGroup group;
  std::string_view label;       // in a conference's verbose block
  std::string_view totalLabel;  // in the verbose run totals
  std::string_view findingsKey;
};

using enum CountGroup;

// In report order. The record counts are printed by the projection lines.
constexpr Counter kCounters[] = {
    {&ScanCounts::ptrRecords, kCounts, "", "PTR records", ""},
    {&ScanCounts::idxRecords, kCounts, "", "IDX records", ""},
    {&ScanCounts::datRecords, kCounts, "", "DAT records", ""},
    {&ScanCounts::projectedPtrRecords, kPlan, "", "", ""},
    {&ScanCounts::projectedIdxRecords, kPlan, "", "", ""},
    {&ScanCounts::projectedDatRecords, kPlan, "", "", ""},
    {&ScanCounts::deletedCount, kCounts, "Deleted records", "Deleted records", ""},
    {&ScanCounts::bodylessCount, kCounts, "Bodyless records", "Bodyless records", "bodyless"},
    {&ScanCounts::dangerCount, kCounts, "DANGER records", "DANGER records", ""},
    {&ScanCounts::normalRoots, kCounts, "Normal roots", "Normal roots", ""},
    {&ScanCounts::rootsWithoutChild, kCounts, "Root w/o child warn", "Root w/o child warns",
     "root-no-child"},
    {&ScanCounts::orphanReplies, kCounts, "Orphan reply warn", "Orphan reply warns",
     "orphan-replies"},
    {&ScanCounts::staleIdxIdentity, kCounts, "IDX identity stale", "IDX identity stale",
     "stale-IDX"},
    {&ScanCounts::idxCrcErrors, kCounts, "IDX CRC errors", "IDX CRC errors", "IDX-CRC-errors"},
    {&ScanCounts::datOverlapBlocks, kCounts, "DAT overlap records", "DAT overlap records",
     "DAT-overlaps"},
    {&ScanCounts::unreferencedDat, kCounts, "Unreferenced DAT", "Unreferenced DAT",
     "unreferenced-DAT"},
    {&ScanCounts::validationErrors, kCounts, "Validation errors", "Validation errors",
     "validation-errors"},
    {&ScanCounts::duplicateMsgNumbers, kCounts, "", "", ""},
    {&ScanCounts::dangerFixes, kPlan, "Proven DANGER records to clear", "DANGER records to clear",
     ""},
    {&ScanCounts::replyLinksCleared, kPlan, "Replies cleared after parent purge",
     "Replies cleared after purge", ""},
    {&ScanCounts::rootsKeptWithoutChild, kPlan, "Root-without-child metadata kept",
     "Stale root metadata kept", ""},
};

// A field without a row would silently be left out of the sum.
static_assert(sizeof(ScanCounts) == std::size(kCounters) * sizeof(uint32_t),
              "every counter needs its row");

}  // namespace

ScanCounts& ScanCounts::operator+=(const ScanCounts& other) {
  for (const Counter& c : kCounters) this->*c.field += other.*c.field;
  return *this;
}

void CountLine(ReportOutput& out, CountColumn column, std::string_view label,
               std::string_view value) {
  std::string line(column.indent);
  line += label;
  line += ':';
  line.append(line.size() < column.width ? column.width - line.size() : 1, ' ');
  line += value;
  out.Line(line);
}

void CountLine(ReportOutput& out, CountColumn column, std::string_view label, uint64_t value) {
  CountLine(out, column, label, Decimal(value));
}

void PrintConferenceCounts(ReportOutput& out, const ScanCounts& counts, CountGroup group) {
  const CountColumn column = group == kCounts ? kConferenceCountsColumn : kConferencePlanColumn;
  for (const Counter& c : kCounters) {
    if (c.group == group && !c.label.empty()) CountLine(out, column, c.label, counts.*c.field);
  }
}

void PrintTotalCounts(ReportOutput& out, const ScanCounts& counts, CountGroup group) {
  const CountColumn column = group == kCounts ? kTotalsColumn : kPlanTotalsColumn;
  for (const Counter& c : kCounters) {
    if (c.group == group && !c.totalLabel.empty()) {
      CountLine(out, column, c.totalLabel, counts.*c.field);
    }
  }
}

void AppendFindings(std::string* line, const ScanCounts& counts) {
  for (const Counter& c : kCounters) {
    if (c.findingsKey.empty()) continue;
    AppendIfAny(line, " " + std::string(c.findingsKey) + "=", counts.*c.field);
  }
}

}  // namespace twtrim
