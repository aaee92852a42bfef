// The tail of a conference's report block: counts and plan (verbose) or the
// one RESULT line with its FINDINGS (concise).
#include <string>

#include "msgbase/records.h"
#include "report/format.h"
#include "scan/diagnostics.h"
#include "scan/scan_steps.h"

namespace twtrim::scan_steps {

namespace {

void PrintVerbosePlan(ReportOutput& out, const ConferenceScan& s, bool write) {
  out.Line(write ? "  ---------------- WRITE PLAN ---------------------"
                 : "  ---------------- PACKING PREVIEW ----------------");
  if (s.blocked) {
    out.Line("    RESULT: BLOCKED - Phase-1 cannot safely rewrite this conference.");
    if (s.datOverlapBlocks > 0) out.Line("    Reason: overlapping PTR-to-DAT ranges.");
    if (s.unreferencedDat > 0) {
      out.Line("    Reason: unreferenced DAT records would be discarded.");
    }
    if (s.orphanReplies > 0) out.Line("    Reason: pre-existing orphan thread replies.");
  } else if (!s.needsAction) {
    out.Line("    RESULT: NO CHANGES - Phase-1 leaves this conference untouched.");
  } else {
    out.Line(write ? "    RESULT: READY TO PACK/FIX after all safeguards pass."
                   : "    RESULT: WOULD PACK/FIX - preview only; no files changed.");
  }
  WriteProjectionLine(out, "PTR", s.ptrRecords, s.projectedPtrRecords, kPtrRecordSize);
  WriteProjectionLine(out, "IDX", s.idxRecords, s.projectedIdxRecords, kIdxRecordSize);
  WriteProjectionLine(out, "DAT", s.datRecords, s.projectedDatRecords, kDatBlockSize);
  // This one line has always stood a column left of the others.
  CountLine(out, {"    ", kConferencePlanColumn.width - 1}, "Deleted-message DAT records",
            s.deletedDatRecords);
  PrintConferenceCounts(out, s, CountGroup::kPlan);
  CountLine(out, kConferencePlanColumn,
            s.needsAction ? "IDX identity fields rebuilt" : "IDX identity stale/left untouched",
            s.staleIdxIdentity);
  CountLine(out, kConferencePlanColumn, "Estimated bytes reclaimed", s.reclaimBytes);
}

std::string ConciseResult(const ConferenceScan& s, bool write) {
  std::string line = "  RESULT: ";
  if (s.validationErrors > 0) {
    return line + "ERROR - " + Decimal(s.validationErrors) +
           " validation error(s); no write allowed.";
  }
  if (s.blocked) {
    line += "BLOCKED - no write allowed";
    AppendIfAny(&line, "; deleted=", s.deletedCount);
    AppendIfAny(&line, "; DAT overlaps=", s.datOverlapBlocks);
    AppendIfAny(&line, "; unreferenced DAT=", s.unreferencedDat);
    AppendIfAny(&line, "; orphan replies=", s.orphanReplies);
    return line + ".";
  }
  if (!s.needsAction) return line + "NO CHANGES.";
  line += write ? "READY TO PACK/FIX" : "WOULD PACK/FIX";
  return line + " - deleted=" + Decimal(s.deletedCount) +
         "; DANGER fixes=" + Decimal(s.dangerFixes) +
         "; reply links cleared=" + Decimal(s.replyLinksCleared) + "; PTR/IDX " +
         Decimal(s.ptrRecords) + " -> " + Decimal(s.projectedPtrRecords) + "; DAT " +
         Decimal(s.datRecords) + " -> " + Decimal(s.projectedDatRecords) +
         "; reclaim=" + Decimal(s.reclaimBytes) + " bytes.";
}

void PrintConciseFindings(ReportOutput& out, const ConferenceScan& s) {
  std::string line = "  FINDINGS:";
  const size_t bare = line.size();
  AppendFindings(&line, s);  // the error keys stay 0: this line follows no error
  if (line.size() != bare) out.Line(line);
}

}  // namespace

void PrintScanReport(ReportOutput& out, const ConferenceScan& scan, bool write) {
  if (out.verbose()) {
    PrintConferenceCounts(out, scan, CountGroup::kCounts);
    if (scan.validationErrors == 0) PrintVerbosePlan(out, scan, write);
    return;
  }
  out.Line(ConciseResult(scan, write));
  if (scan.validationErrors == 0) PrintConciseFindings(out, scan);
}

}  // namespace twtrim::scan_steps
