// The staged rebuild: a conference's packed PTR, IDX and DAT files written
// beside the live ones as .NEW files, and their verification.
#pragma once

#include <cstdint>

#include "platform/os.h"
#include "report/report_output.h"
#include "scan/conference_plan.h"

namespace twtrim {

// Writes the three .NEW files of a plan with writeWanted set (success at once
// otherwise). Prints only the stale-file refusal; every other failure is
// silent and leaves no staged file behind.
bool BuildStagedFiles(Os& os, ReportOutput& out, ConferencePlan* plan);

// Proves the staged (`useStaged`) or live files a sound packed conference
// against the scan's projections. With `record` it stores their
// fingerprints in the plan; without, it requires them to equal the stored
// ones. Prints nothing. Meant for plans with writeWanted set.
bool VerifyConferenceFiles(Os& os, ConferencePlan* plan, bool useStaged, bool record);

// Appends DAT blocks firstBlock .. firstBlock+blockCount-1 of `source` to
// `destination` at its current position, through `buffer` (kTransferBufferSize
// bytes). A count of 0 copies nothing.
bool CopyDatRange(OsFile& source, OsFile& destination, uint32_t firstBlock, uint32_t blockCount,
                  uint8_t* buffer);

}  // namespace twtrim
