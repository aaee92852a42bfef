// Leftover VUVERUDODIV-BAK-* folders in the message directory: counted and
// reported as ignored, never scanned or touched.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"
#include "report/report_output.h"

namespace twtrim {

// Number of matching directories (0 also when the search fails). In verbose
// mode it prints "  " + name for each one found.
uint32_t DetectBackupFolders(Os& os, ReportOutput& out, const std::string& messageDir);

}  // namespace twtrim
