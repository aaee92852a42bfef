// The spine of a run: every phase in its fixed order, the exit code and the
// report footer. The safety phases and the write phases live beside it.
#include "app/run_sequence.h"

#include <new>

#include "app/help.h"
#include "app/options.h"
#include "app/run_state.h"
#include "app/safety_phases.h"
#include "app/write_sequence.h"
#include "platform/paths.h"
#include "report/format.h"
#include "report/places.h"
#include "safety/backup_folders.h"
#include "scan/conference_scan.h"
#include "write/intent_record.h"

namespace twtrim {

std::string ConfName(uint32_t conference) { return "CONF" + Decimal(conference); }

namespace {

constexpr std::string_view kHashRule =
    "############################################################";

// Before the command line is parsed the home directory must be known; the
// error comes even with /HELP, since the defaults hang on it.
bool TakeCurrentDirectory(Os& os, ReportOutput& out, RunOptions* options) {
  if (os.CurrentDirectory(&options->homeDir) && !options->homeDir.empty() &&
      options->homeDir.size() <= kMaxPath) {
    return true;
  }
  out.Line("ERROR: cannot determine current directory.");
  out.Line("Use TWTRIM32 /HELP for syntax.");
  return false;
}

void ReportHeader(RunState& run) {
  run.out.Line("");
  run.out.Line(kHashRule);
  run.out.Line("TWTRIM32 REPORT RUN");
  run.out.LabelLine("Started:", Timestamp(run.os.Now()));
  run.out.LabelLine("Version:", kVersionText);
  run.out.LabelLine("Command line:", CommandLineEcho(run.arguments));
  run.out.Line(kHashRule);
}

bool MessageDirectoryExists(RunState& run) {
  if (run.os.GetPathKind(run.options.messageDir) == PathKind::kDirectory) return true;
  // Windows may refuse a long path that exists: "does not exist" would send
  // the operator looking for a directory that is there.
  run.out.Line((run.os.PathTooLong(run.options.messageDir)
                    ? "ERROR: message directory path is too long for this system: "
                    : "ERROR: message directory does not exist: ") +
               run.options.messageDir);
  run.exitCode = kExitUsageOrValidation;
  return false;
}

bool Refuse(RunState& run, const std::string& first, std::string_view second) {
  run.out.Line(first);
  run.out.Line(second);
  run.exitCode = kExitUsageOrValidation;
  return false;
}

// /TESTCOPY must never reach the live board: the well-known live paths are
// refused in every spelling, and the test home must carry the marker file.
bool TestCopyAllowed(RunState& run) {
  const RunOptions& o = run.options;
  if (SamePlace(run.os, o.homeDir, "C:\\TW") ||
      SamePlace(run.os, o.messageDir, "C:\\TW\\MESSAGE")) {
    return Refuse(run, "WRITE REFUSED: /TESTCOPY will not write the known C:\\TW paths.",
                  "Choose a separate test home, or omit /TESTCOPY for normal /WRITE mode.");
  }
  if (run.os.GetPathKind(o.testCopyMarkerPath) != PathKind::kFile) {
    return Refuse(run,
                  "WRITE REFUSED: required test-copy marker is missing: " + o.testCopyMarkerPath,
                  "Copy TWTRIM32_TESTCOPY.OK into the root of the separate test home.");
  }
  return true;
}

bool WriteNotices(RunState& run) {
  run.out.Line("");
  run.out.Line(kEqualsRule);
  run.out.Line("WARNING: OFFLINE MAINTENANCE REQUIRED FOR /WRITE");
  run.out.Line("Shut down every Tarnwick node and prevent caller access before continuing.");
  run.out.Line("Use a scheduled nightly or midnight maintenance window.");
  run.out.Line(kEqualsRule);
  if (run.options.testCopy) return TestCopyAllowed(run);
  run.out.Line("WRITE ENABLED: explicit /WRITE opt-in accepted.");
  run.out.Line("Confirm a current external backup exists before continuing.");
  return true;
}

bool ResolveSelection(RunState& run) {
  const RunOptions& o = run.options;
  if (!o.selectAll) {
    run.lo = o.confFirst;
    run.hi = o.confLast;
    return true;
  }
  run.lo = 1;
  run.hi = run.list.usable() ? run.list.count : DiscoverHighestConference(run.os, o.messageDir);
  if (run.hi != 0) return true;
  run.out.Line("ERROR: /ALL found neither usable TWMCONF.DAT nor TWMSGxx.PTR files.");
  run.exitCode = kExitUsageOrValidation;
  return false;
}

bool AllocatePlans(RunState& run) {
  try {
    const size_t count = static_cast<size_t>(run.hi - run.lo) + 1;
    run.plans.resize(count);
    run.builtThisRun.assign(count, 0);
  } catch (const std::bad_alloc&) {
    run.plans.clear();
    run.builtThisRun.clear();
    run.out.Line("ERROR: out of memory allocating conference plans.");
    run.exitCode = kExitUsageOrValidation;
    return false;
  }
  run.totals = RunTotals{};
  return true;
}

std::string ModeLine(const RunOptions& o) {
  if (!o.write) return "MODE: /DRYRUN PACKING PREVIEW - message-base files opened READ ONLY";
  return o.testCopy ? "MODE: /WRITE /TESTCOPY - BACKUP + STAGED PACKING"
                    : "MODE: /WRITE - BACKUP + STAGED PACKING";
}

void RunHeader(RunState& run) {
  const RunOptions& o = run.options;
  ReportOutput& out = run.out;
  out.Line(kEqualsRule);
  out.Line(kProgramBanner);
  out.Line(ModeLine(o));
  out.Line(kEqualsRule);
  out.LabelLine("Home:", o.homeDir);
  out.LabelLine("Message directory:", o.messageDir);
  out.LabelLine("Conference config:",
                o.conferenceConfigPath + (run.list.usable()
                                              ? " (" + Decimal(run.list.count) + " records)"
                                              : " (not usable; /ALL fallback may use PTR files)"));
  out.LabelLine("Caller status:", o.callerStatusPath);
  out.LabelLine("Shared tosser lock:", o.lockPath + " (owned by TWTRIM32)");
  if (o.write && o.testCopy) out.LabelLine("Test-copy marker:", o.testCopyMarkerPath);
  out.LabelLine("Selected:", ConfName(run.lo) + (run.hi != run.lo ? ".." + ConfName(run.hi) : ""));
  out.LabelLine("Log file:", o.logEnabled ? o.logPath : "disabled by /NOLOG");
  out.LabelLine("Report detail:", out.verbose() ? "VERBOSE (/V)" : "STANDARD (concise)");
}

void ReportBackupFolders(RunState& run) {
  ReportOutput& out = run.out;
  if (out.verbose()) {
    out.Line("Backup folders detected inside MESSAGE (ignored as non-live data):");
  }
  run.backupFolderCount = DetectBackupFolders(run.os, out, run.options.messageDir);
  if (out.verbose()) {
    if (run.backupFolderCount == 0) out.Line("  none");
    out.Line("Backup folder count: " + Decimal(run.backupFolderCount));
  } else if (run.backupFolderCount != 0) {
    out.Line("Ignored VUVERUDODIV backup folders inside MESSAGE: " +
             Decimal(run.backupFolderCount));
  }
}

std::string DisplayName(const RunState& run, uint32_t conference) {
  if (run.list.usable() && conference <= run.list.count && conference - 1 < run.list.names.size()) {
    return run.list.names[conference - 1];
  }
  return "";
}

void ScanOne(RunState& run, size_t index) {
  const uint32_t n = run.lo + static_cast<uint32_t>(index);
  ConferencePlan& plan = run.plans[index];
  ConferenceScan scan;
  ScanConference(run.os, run.out, run.options.messageDir, n, DisplayName(run, n), run.options.write,
                 &scan, InterruptedCommitLine(run.os, run.options.messageDir, n));
  if (!BuildConferencePlan(&plan, run.options.messageDir, n, scan)) {
    run.out.Line("ERROR: path construction failed for " + ConfName(n) + ".");
    run.totals.validationErrors += 1;
    plan.writeWanted = false;  // a partly formed plan is never written
  }
  if (plan.writeWanted) run.conferencesToWrite += 1;
  AddScanToTotals(&run.totals, scan);
}

void ScanLoop(RunState& run) {
  for (size_t i = 0; i < run.plans.size(); ++i) ScanOne(run, i);
}

int DryRunExitCode(const RunState& run) {
  const RunTotals& t = run.totals;
  if (run.validationErrors() != 0) return kExitUsageOrValidation;
  const bool findings = t.deletedCount != 0 || t.dangerCount != 0 || t.orphanReplies != 0 ||
                        t.rootsWithoutChild != 0 || t.datOverlapBlocks != 0;
  return findings ? kExitFindings : kExitSuccess;
}

void DryRunResult(RunState& run) {
  run.out.Line(run.totals.conferencesBlocked != 0
                   ? "PREVIEW RESULT: BLOCKED conference(s) must not be written by Phase 1."
                   : "PREVIEW RESULT: COMPLETE - no files were changed.");
  run.out.Line(kEqualsRule);
  run.safetyPassed = true;
  run.exitCode = DryRunExitCode(run);
}

// Everything between the message-directory check and the common end. Each
// step that fails has already reported and set the exit code.
void GuardedRun(RunState& run) {
  if (!LockPhase(run)) return;
  if (run.options.write && !WriteNotices(run)) return;
  run.list = LoadConferenceList(run.os, run.out, run.options.conferenceConfigPath);
  if (!ResolveSelection(run) || !AllocatePlans(run)) return;
  RunHeader(run);
  if (!PreflightPhase(run)) return;
  ReportBackupFolders(run);
  ScanLoop(run);
  if (!PostScanPhase(run)) return;
  PrintTotals(run.out, run.totals, run.list.errors, run.backupFolderCount, run.options.write);
  if (run.options.write) {
    RunWritePhases(run);
  } else {
    DryRunResult(run);
  }
}

// Only staged files this run built are removed: stale ones from an earlier
// run are left for the operator.
void CommonEnd(RunState& run) {
  for (size_t i = 0; i < run.plans.size(); ++i) {
    if (run.builtThisRun[i]) RemoveStagedFiles(run.os, &run.plans[i]);
  }
  ReleasePhase(run);
}

std::string SafetyResult(const RunState& run) {
  if (run.safetyPassed) return "PASS";
  return run.exitCode == kExitSafetyAbort ? "ABORTED" : "NOT COMPLETED";
}

void ReportFooter(RunState& run) {
  run.out.Line("");
  run.out.Line("-------------------- RUN COMPLETE --------------------------");
  run.out.LabelLine("Finished:", Timestamp(run.os.Now()));
  run.out.LabelLine("Exit code:", Decimal(static_cast<uint32_t>(run.exitCode)));
  run.out.LabelLine("Safety result:", SafetyResult(run));
  if (!run.backupDir.empty()) run.out.LabelLine("Backup directory:", run.backupDir);
  run.out.Line(kDashRule);
}

}  // namespace

int RunProgram(Os& os, const std::vector<std::string>& arguments) {
  ReportOutput out(os);
  RunState run(os, out);
  if (!TakeCurrentDirectory(os, out, &run.options)) return kExitUsageOrValidation;
  switch (ParseCommandLine(out, arguments, &run.options)) {
    case CommandOutcome::kHelp:
      return PagedHelp(os, out);
    case CommandOutcome::kVersion:
      return PrintVersion(out);
    case CommandOutcome::kUsageError:
      return kExitUsageOrValidation;
    case CommandOutcome::kRun:
      break;
  }
  out.SetVerbose(run.options.verbose);
  if (!ResolvePaths(os, out, &run.options)) return kExitUsageOrValidation;
  run.arguments = arguments;
  ReportHeader(run);
  if (MessageDirectoryExists(run)) {
    GuardedRun(run);
    CommonEnd(run);
  }
  ReportFooter(run);
  out.FlushLog();
  out.CloseReportLog();
  // The recovery procedure reads the report file; if lines are missing from
  // it, the console is the only place left to say so.
  if (out.logIncomplete()) {
    out.Line("WARNING: the report file is incomplete: " + run.options.logPath);
    out.CauseLine(out.logFailure());
  }
  return run.exitCode;
}

}  // namespace twtrim
