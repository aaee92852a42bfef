// /HELP and /VERSION.
#pragma once

#include "platform/os.h"
#include "report/report_output.h"

namespace twtrim {

// The 60 help lines, paged when stdin and stdout are an interactive console
// of at least 4 rows and 20 columns. Returns exit code 0.
int PagedHelp(Os& os, ReportOutput& out);
// The banner line. Returns exit code 0.
int PrintVersion(ReportOutput& out);

}  // namespace twtrim
