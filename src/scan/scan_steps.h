// The stages of ScanConference, split by concern. Private to src/scan/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os.h"
#include "report/report_output.h"
#include "scan/conference_scan.h"

namespace twtrim::scan_steps {

// The conference's three files, open for shared reading; closed on destruction.
struct ScanFiles {
  std::unique_ptr<OsFile> ptr, idx, dat;
};

// Probes and opens PTR, IDX and DAT, recording sizes and counting failures.
// False when a report block must not follow (a file could not be opened).
bool OpenScanFiles(Os& os, ReportOutput& out, const std::string& messageDir, uint32_t conference,
                   ScanFiles* files, ConferenceScan* scan);
// Size, count and limit checks on the recorded sizes; prints the verbose size lines.
void CheckSizes(ReportOutput& out, ConferenceScan* scan);
// Reads every record once and fills the counts, the projections and the flags.
void AnalyseRecords(ReportOutput& out, OsFile& ptr, OsFile& idx, bool write, ConferenceScan* scan);
// The count lines (verbose) or the RESULT and FINDINGS lines (concise).
void PrintScanReport(ReportOutput& out, const ConferenceScan& scan, bool write);

}  // namespace twtrim::scan_steps
