#include "app/safety_phases.h"

#include <new>

#include "app/run_sequence.h"
#include "safety/checkpoint.h"
#include "safety/tosser_lock.h"

namespace twtrim {
namespace {

bool Checkpoint(RunState& run, std::string_view label) {
  if (RunSafetyCheck(run.os, run.out, run.options.homeDir, run.options.messageDir, label)) {
    return true;
  }
  SafetyAbortBlock(run);
  return false;
}

bool BuildList(RunState& run) {
  try {
    return BuildIntegrityList(run.os, &run.integrity, run.options.conferenceConfigPath,
                              run.options.messageDir, run.lo, run.hi);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

void SafetyAbortBlock(RunState& run) {
  run.out.Line("");
  run.out.Line(kSafetyAbortRule);
  run.out.Line("No message-base file was opened for write or modified by TWTRIM32.");
  run.out.Line("This operation did not complete as a verified consistent snapshot.");
  run.out.Line(kEqualsRule);
  run.exitCode = kExitSafetyAbort;
}

bool LockPhase(RunState& run) {
  const std::string& path = run.options.lockPath;
  run.os.InstallControlHandler(&ConsoleControlHandler);
  if (AcquireSharedTosserLock(run.os, path)) {
    run.lockOwned = true;
    run.out.Line("Shared VIZIZE.BSY lock: ACQUIRED - VIZize32 is blocked for this run.");
    return true;
  }
  // Someone else's lock is never touched: no release follows this failure.
  if (run.os.GetPathKind(path) == PathKind::kFile) {
    run.out.Line("SAFETY ABORT: shared message-base lock already exists: " + path);
    run.out.Line("VIZize32 or another TWTRIM32 run may already be active.");
  } else {
    run.out.Line("SAFETY ERROR: could not atomically create the shared message-base lock: " + path);
  }
  SafetyAbortBlock(run);
  return false;
}

bool PreflightPhase(RunState& run) {
  run.out.Line("");
  run.out.Line("====================== SAFETY ==============================");
  if (!Checkpoint(run, kInitialPreflight)) return false;
  if (!BuildList(run)) {
    run.out.Line("ERROR: unable to allocate/build the integrity file list.");
    run.exitCode = kExitUsageOrValidation;
    return false;
  }
  if (!TakeIntegritySnapshot(run.os, run.out, &run.integrity)) {
    SafetyAbortBlock(run);
    return false;
  }
  if (!Checkpoint(run, kBeforeScan)) return false;
  run.out.Line("Safety preflight:      PASS");
  run.out.Line("");
  return true;
}

bool PostScanPhase(RunState& run) {
  run.out.Line("");
  run.out.Line("=================== POST-SCAN SAFETY =======================");
  if (!Checkpoint(run, kAfterScan)) return false;
  if (!VerifyIntegritySnapshot(run.os, run.out, run.integrity)) {
    SafetyAbortBlock(run);
    return false;
  }
  if (!Checkpoint(run, kScanVerification)) return false;
  run.out.Line("Scan safety result:    PASS");
  return true;
}

void ReleasePhase(RunState& run) {
  if (!run.lockOwned) return;
  run.lockOwned = false;
  if (ReleaseSharedTosserLock()) {
    run.out.Line("Shared VIZIZE.BSY lock: RELEASED.");
    return;
  }
  run.out.Line("LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.");
  run.exitCode = kExitWriteFailure;
  run.safetyPassed = false;
  run.out.Line("Verify no TWTRIM32 or VIZize32 process is active before removing it manually.");
}

}  // namespace twtrim
