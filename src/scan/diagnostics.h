// Verbose evidence behind a scan's counts: file sizes, record dumps and the
// before/after projection lines. These only print.
#pragma once

#include <cstdint>
#include <string_view>

#include "msgbase/records.h"
#include "platform/os.h"
#include "report/report_output.h"

namespace twtrim {

// "  PTR: 25600 bytes / 100 records x 256"
void WriteFileSizeLine(ReportOutput& out, std::string_view kind, uint64_t size, uint32_t count,
                       uint32_t recordSize);
// "    IDX: 100 -> 97 records (1600 -> 1552 bytes)"
void WriteProjectionLine(ReportOutput& out, std::string_view kind, uint32_t before, uint32_t after,
                         uint32_t recordSize);
// Three-line dump of a record in memory.
void DumpPtrRecord(ReportOutput& out, const PtrRecord& record, uint32_t slot, std::string_view tag);
// Rereads slot `slot` from the open PTR file and dumps it.
void DumpSlot(ReportOutput& out, OsFile& ptrFile, uint32_t slot, std::string_view tag);

}  // namespace twtrim
