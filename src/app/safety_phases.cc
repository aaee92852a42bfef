#include "app/safety_phases.h"

#include <memory>
#include <new>

#include "app/run_sequence.h"
#include "platform/paths.h"
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

namespace {

void LockCleanupError(RunState& run, std::string_view what) {
  run.out.Line(what);
  run.out.CauseLine();
  run.out.Line("Verify no TWTRIM32 or VIZize32 process is active before removing it manually.");
  run.exitCode = kExitWriteFailure;
  run.safetyPassed = false;
}

// A lock holding our own line was left by a TWTRIM32 run: say so, and where
// the operator reads how to clear it. Its content stays as it is.
void NoteOwnLock(RunState& run, const std::string& path) {
  std::unique_ptr<OsFile> file = run.os.OpenSharedRead(path);
  char text[sizeof(kLockFileText)] = {};
  uint32_t got = 0;
  if (!file || !file->Read(text, sizeof text - 1, &got)) return;
  file->Close();
  if (!StartsWithIgnoreCase(std::string_view(text, got), "TWTRIM32 ")) return;
  run.out.Line(
      "The lock holds TWTRIM32's own line: a TWTRIM32 run left it; unless one is still "
      "running, see \"A stale VIZIZE.BSY\" in the README.");
}

void ReportLockFailure(RunState& run, LockFailure failure) {
  const std::string& path = run.options.lockPath;
  if (failure != LockFailure::kNotCreated) {
    run.out.Line("SAFETY ERROR: could not write the shared message-base lock: " + path);
    // When the clean-up failed too, its cause is the newer one: it goes
    // under the clean-up's own error line.
    if (failure == LockFailure::kUnwritten) run.out.CauseLine();
  } else if (run.os.GetPathKind(path) == PathKind::kFile) {
    // Someone else's lock is never touched: no release follows this failure.
    run.out.Line("SAFETY ABORT: shared message-base lock already exists: " + path);
    run.out.Line("VIZize32 or another TWTRIM32 run may already be active.");
    NoteOwnLock(run, path);
  } else {
    run.out.Line("SAFETY ERROR: could not atomically create the shared message-base lock: " + path);
    run.out.CauseLine();
  }
  SafetyAbortBlock(run);
  if (failure == LockFailure::kUnwrittenLeft) {
    LockCleanupError(run, "LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.");
  }
}

}  // namespace

bool LockPhase(RunState& run) {
  run.os.InstallControlHandler(&ConsoleControlHandler);
  LockFailure failure = LockFailure::kNotCreated;
  run.os.ForgetFailure();
  if (AcquireSharedTosserLock(run.os, run.options.lockPath, &failure)) {
    run.lockOwned = true;
    run.out.Line("Shared VIZIZE.BSY lock: ACQUIRED - VIZize32 is blocked for this run.");
    return true;
  }
  ReportLockFailure(run, failure);
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
  bool replaced = false;
  run.os.ForgetFailure();
  if (ReleaseSharedTosserLock(&replaced)) {
    run.out.Line("Shared VIZIZE.BSY lock: RELEASED.");
    return;
  }
  LockCleanupError(run, replaced ? "LOCK CLEANUP ERROR: VIZIZE.BSY is no longer the lock this "
                                   "run created; it was left as it is."
                                 : "LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.");
}

}  // namespace twtrim
