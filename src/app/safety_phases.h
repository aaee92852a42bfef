// The safety phases around the scan: the shared tosser lock, the preflight
// checks and snapshot, the post-scan proof and the lock release. Each phase
// returns false when the run must go on to the common end.
#pragma once

#include "app/run_state.h"

namespace twtrim {

// Registers the control handler and takes VIZIZE.BSY.
bool LockPhase(RunState& run);
// SAFETY heading, the two checkpoints around the integrity snapshot.
bool PreflightPhase(RunState& run);
// POST-SCAN SAFETY: checkpoint, integrity verification, checkpoint.
bool PostScanPhase(RunState& run);
// Releases the lock this run owns; a failed release turns the run into exit 4.
void ReleasePhase(RunState& run);
// The block that ends a run stopped by a guard; sets exit code 3.
void SafetyAbortBlock(RunState& run);

}  // namespace twtrim
