// What a /WRITE run does after the totals: the write decision, the staged
// build, the verified backup, the commit, the post-write proof and, from the
// first commit on, the rollback. Every outcome returns to the common end.
#pragma once

#include "app/run_state.h"

namespace twtrim {

void RunWritePhases(RunState& run);

}  // namespace twtrim
