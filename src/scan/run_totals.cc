#include "scan/run_totals.h"

#include <string>

#include "report/format.h"

namespace twtrim {

void AddScanToTotals(RunTotals* totals, const ConferenceScan& scan) {
  RunTotals& t = *totals;
  t += scan;
  ++t.conferencesScanned;
  if (scan.needsAction) ++t.conferencesNeedingAction;
  if (scan.blocked) ++t.conferencesBlocked;
  t.totalBytes += scan.ptrBytes + scan.idxBytes + scan.datBytes;
  t.projectedBytes += scan.projectedPtrBytes + scan.projectedIdxBytes + scan.projectedDatBytes;
  t.reclaimBytes += scan.reclaimBytes;
}

namespace {

std::string Projection(uint32_t before, uint32_t after) {
  return Decimal(before) + " -> " + Decimal(after);
}

void OverallBlock(ReportOutput& out, const RunTotals& t, const ScanCounts& counts,
                  uint32_t ignoredBackupFolders) {
  out.Line("");
  out.Line("======================= OVERALL ============================");
  CountLine(out, kTotalsColumn, "Conferences scanned", t.conferencesScanned);
  PrintTotalCounts(out, counts, CountGroup::kCounts);
  CountLine(out, kTotalsColumn, "Backup folders ignored", ignoredBackupFolders);
}

void PlanTotalsBlock(ReportOutput& out, const RunTotals& t, bool write) {
  const CountColumn c = kPlanTotalsColumn;
  out.Line("");
  out.Line(write ? "==================== WRITE PLAN TOTALS ====================="
                 : "================== PACKING PREVIEW TOTALS ==================");
  CountLine(out, c, "Conferences needing action", t.conferencesNeedingAction);
  CountLine(out, c, "Conferences blocked", t.conferencesBlocked);
  CountLine(out, c, "PTR records projected", Projection(t.ptrRecords, t.projectedPtrRecords));
  CountLine(out, c, "IDX records projected", Projection(t.idxRecords, t.projectedIdxRecords));
  CountLine(out, c, "DAT records projected", Projection(t.datRecords, t.projectedDatRecords));
  PrintTotalCounts(out, t, CountGroup::kPlan);
  CountLine(out, c, "Current PTR/IDX/DAT bytes", t.totalBytes);
  CountLine(out, c, "Projected bytes", t.projectedBytes);
  CountLine(out, c, "Estimated bytes reclaimed", t.reclaimBytes);
}

const char* Verdict(const RunTotals& t, uint32_t validationErrors, bool write) {
  if (t.conferencesBlocked != 0) return "BLOCKED conference(s) are selected; no write is allowed.";
  if (validationErrors != 0) return "VALIDATION ERROR; no write is allowed.";
  if (t.conferencesNeedingAction != 0) {
    return write ? "ready after remaining safeguards pass."
                 : "changes would be made; no files changed.";
  }
  return "no selected conference needs a change.";
}

void Summary(ReportOutput& out, const RunTotals& t, const ScanCounts& counts,
             uint32_t ignoredBackupFolders, bool write) {
  out.Line("");
  out.Line("======================= SUMMARY ============================");
  out.Line("Conferences: scanned=" + Decimal(t.conferencesScanned) + "; needing action=" +
           Decimal(t.conferencesNeedingAction) + "; blocked=" + Decimal(t.conferencesBlocked));
  out.Line("Planned work: deleted=" + Decimal(t.deletedCount) + "; DANGER fixes=" +
           Decimal(t.dangerFixes) + "; reply links cleared=" + Decimal(t.replyLinksCleared));
  out.Line("Records: PTR/IDX " + Projection(t.ptrRecords, t.projectedPtrRecords) + "; DAT " +
           Projection(t.datRecords, t.projectedDatRecords));
  out.Line("Estimated bytes reclaimed: " + Decimal(t.reclaimBytes));

  std::string findings = "Findings:";
  const size_t bare = findings.size();
  AppendFindings(&findings, counts);
  AppendIfAny(&findings, " ignored-backup-folders=", ignoredBackupFolders);
  if (findings.size() != bare) out.Line(findings);

  out.Line(std::string(write ? "WRITE PLAN: " : "PREVIEW: ") +
           Verdict(t, counts.validationErrors, write));
}

}  // namespace

void PrintTotals(ReportOutput& out, const RunTotals& totals, uint32_t extraValidationErrors,
                 uint32_t ignoredBackupFolders, bool write) {
  ScanCounts counts = totals;
  counts.validationErrors += extraValidationErrors;
  if (out.verbose()) {
    OverallBlock(out, totals, counts, ignoredBackupFolders);
    PlanTotalsBlock(out, totals, write);
  } else {
    Summary(out, totals, counts, ignoredBackupFolders, write);
  }
}

}  // namespace twtrim
