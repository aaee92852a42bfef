#include "scan/run_totals.h"

#include <string>

#include "report/format.h"

namespace twtrim {

void AddScanToTotals(RunTotals* totals, const ConferenceScan& scan) {
  RunTotals& t = *totals;
  ++t.conferencesScanned;
  t.ptrRecords += scan.ptrRecords;
  t.idxRecords += scan.idxRecords;
  t.datRecords += scan.datRecords;
  t.projectedPtrRecords += scan.projectedPtrRecords;
  t.projectedIdxRecords += scan.projectedIdxRecords;
  t.projectedDatRecords += scan.projectedDatRecords;
  t.deletedCount += scan.deletedCount;
  t.bodylessCount += scan.bodylessCount;
  t.dangerCount += scan.dangerCount;
  t.normalRoots += scan.normalRoots;
  t.orphanReplies += scan.orphanReplies;
  t.rootsWithoutChild += scan.rootsWithoutChild;
  t.duplicateMsgNumbers += scan.duplicateMsgNumbers;
  t.validationErrors += scan.validationErrors;
  t.staleIdxIdentity += scan.staleIdxIdentity;
  t.idxCrcErrors += scan.idxCrcErrors;
  t.datOverlapBlocks += scan.datOverlapBlocks;
  t.unreferencedDat += scan.unreferencedDat;
  t.dangerFixes += scan.dangerFixes;
  t.replyLinksCleared += scan.replyLinksCleared;
  t.rootsKeptWithoutChild += scan.rootsKeptWithoutChild;
  if (scan.needsAction) ++t.conferencesNeedingAction;
  if (scan.blocked) ++t.conferencesBlocked;
  t.totalBytes += scan.ptrBytes + scan.idxBytes + scan.datBytes;
  t.projectedBytes += scan.projectedPtrBytes + scan.projectedIdxBytes + scan.projectedDatBytes;
  t.reclaimBytes += scan.reclaimBytes;
}

namespace {

const char* Verdict(const RunTotals& t, uint32_t validationErrors, bool write) {
  if (t.conferencesBlocked != 0) return "BLOCKED conference(s) are selected; no write is allowed.";
  if (validationErrors != 0) return "VALIDATION ERROR; no write is allowed.";
  if (t.conferencesNeedingAction != 0) {
    return write ? "ready after remaining safeguards pass."
                 : "changes would be made; no files changed.";
  }
  return "no selected conference needs a change.";
}

}  // namespace

void PrintSummary(ReportOutput& out, const RunTotals& totals, uint32_t extraValidationErrors,
                  uint32_t ignoredBackupFolders, bool write) {
  const RunTotals& t = totals;
  const uint32_t validationErrors = t.validationErrors + extraValidationErrors;
  out.Line("");
  out.Line("======================= SUMMARY ============================");
  out.Line("Conferences: scanned=" + Decimal(t.conferencesScanned) + "; needing action=" +
           Decimal(t.conferencesNeedingAction) + "; blocked=" + Decimal(t.conferencesBlocked));
  out.Line("Planned work: deleted=" + Decimal(t.deletedCount) + "; DANGER fixes=" +
           Decimal(t.dangerFixes) + "; reply links cleared=" + Decimal(t.replyLinksCleared));
  out.Line("Records: PTR/IDX " + Decimal(t.ptrRecords) + " -> " + Decimal(t.projectedPtrRecords) +
           "; DAT " + Decimal(t.datRecords) + " -> " + Decimal(t.projectedDatRecords));
  out.Line("Estimated bytes reclaimed: " + Decimal(t.reclaimBytes));

  std::string findings = "Findings:";
  const size_t bare = findings.size();
  AppendIfAny(&findings, " bodyless=", t.bodylessCount);
  AppendIfAny(&findings, " root-no-child=", t.rootsWithoutChild);
  AppendIfAny(&findings, " orphan-replies=", t.orphanReplies);
  AppendIfAny(&findings, " stale-IDX=", t.staleIdxIdentity);
  AppendIfAny(&findings, " IDX-CRC-errors=", t.idxCrcErrors);
  AppendIfAny(&findings, " DAT-overlaps=", t.datOverlapBlocks);
  AppendIfAny(&findings, " unreferenced-DAT=", t.unreferencedDat);
  AppendIfAny(&findings, " validation-errors=", validationErrors);
  AppendIfAny(&findings, " ignored-backup-folders=", ignoredBackupFolders);
  if (findings.size() != bare) out.Line(findings);

  out.Line(std::string(write ? "WRITE PLAN: " : "PREVIEW: ") + Verdict(t, validationErrors, write));
}

}  // namespace twtrim
