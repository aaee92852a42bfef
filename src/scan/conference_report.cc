// The tail of a conference's report block: counts and plan (verbose) or the
// one RESULT line with its FINDINGS (concise).
#include <string>

#include "msgbase/records.h"
#include "report/format.h"
#include "scan/diagnostics.h"
#include "scan/scan_steps.h"

namespace twtrim::scan_steps {

namespace {

void CountLine(ReportOutput& out, std::string_view label, uint64_t value) {
  std::string line(label);
  line += Decimal(value);
  out.Line(line);
}

void PrintVerboseCounts(ReportOutput& out, const ConferenceScan& s) {
  CountLine(out, "  Deleted records:      ", s.deletedCount);
  CountLine(out, "  Bodyless records:     ", s.bodylessCount);
  CountLine(out, "  DANGER records:       ", s.dangerCount);
  CountLine(out, "  Normal roots:         ", s.normalRoots);
  CountLine(out, "  Root w/o child warn:  ", s.rootsWithoutChild);
  CountLine(out, "  Orphan reply warn:    ", s.orphanReplies);
  CountLine(out, "  IDX identity stale:   ", s.staleIdxIdentity);
  CountLine(out, "  IDX CRC errors:       ", s.idxCrcErrors);
  CountLine(out, "  DAT overlap records:  ", s.datOverlapBlocks);
  CountLine(out, "  Unreferenced DAT:     ", s.unreferencedDat);
  CountLine(out, "  Validation errors:    ", s.validationErrors);
}

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
  CountLine(out, "    Deleted-message DAT records:       ", s.deletedDatRecords);
  CountLine(out, "    Proven DANGER records to clear:     ", s.dangerFixes);
  CountLine(out, "    Replies cleared after parent purge: ", s.replyLinksCleared);
  CountLine(out, "    Root-without-child metadata kept:   ", s.rootsKeptWithoutChild);
  CountLine(out,
            s.needsAction ? "    IDX identity fields rebuilt:        "
                          : "    IDX identity stale/left untouched:  ",
            s.staleIdxIdentity);
  CountLine(out, "    Estimated bytes reclaimed:          ", s.reclaimBytes);
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
  AppendIfAny(&line, " bodyless=", s.bodylessCount);
  AppendIfAny(&line, " root-no-child=", s.rootsWithoutChild);
  AppendIfAny(&line, " orphan-replies=", s.orphanReplies);
  AppendIfAny(&line, " stale-IDX=", s.staleIdxIdentity);
  AppendIfAny(&line, " DAT-overlaps=", s.datOverlapBlocks);
  AppendIfAny(&line, " unreferenced-DAT=", s.unreferencedDat);
  if (line.size() != bare) out.Line(line);
}

}  // namespace

void PrintScanReport(ReportOutput& out, const ConferenceScan& scan, bool write) {
  if (out.verbose()) {
    PrintVerboseCounts(out, scan);
    if (scan.validationErrors == 0) PrintVerbosePlan(out, scan, write);
    return;
  }
  out.Line(ConciseResult(scan, write));
  if (scan.validationErrors == 0) PrintConciseFindings(out, scan);
}

}  // namespace twtrim::scan_steps
