// The staged rebuild: a conference's packed PTR, IDX and DAT files written
// beside the live ones as .NEW files.
#pragma once

#include "platform/os.h"
#include "report/report_output.h"
#include "safety/integrity.h"
#include "write/conference_plan.h"

namespace twtrim {

// Writes the three .NEW files of a plan with writeWanted set (success at once
// otherwise). Each live file is read once from start to end and its bytes
// must carry the fingerprint `snapshot` holds for its path, so nothing goes
// into the staged files that the scan did not see. Prints only the
// stale-file refusal; every other failure is silent and leaves no staged
// file behind.
bool BuildStagedFiles(Os& os, ReportOutput& out, ConferencePlan* plan,
                      const IntegrityList& snapshot);

}  // namespace twtrim
