// Feeds arbitrary argument vectors to the switch parser and the path
// resolution that follows it, over an in-memory Os whose report log can be
// opened (or refused). Checks what must hold whatever the operator types: no
// crash or overrun; a usage error always ends with the syntax trailer; a run
// that passes has exactly one selector, one mode and /TESTCOPY only with
// /WRITE; '-' equals '/' and switch letters ignore case; every resolved path
// fits 511 characters; and the report log is open exactly when it is enabled
// and passed every report-path rule.
//
// Input layout:
//   [0] bits 0-1 the home directory (relative, POSIX, drive letter, 500
//       characters long); bit 2 the report log cannot be created
//   the rest: the arguments after the program name, separated by NUL bytes
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "fuzz_support.h"
#include "platform/command_line.h"
#include "report/paths.h"
#include "report/report_output.h"

namespace twtrim::fuzz {
namespace {

std::string HomeFor(uint8_t kind) {
  switch (kind & 3) {
    case 0:
      return "board";
    case 1:
      return "/srv/bbs";
    case 2:
      return "C:\\TW";
    default:
      return "/" + std::string(499, 'h');
  }
}

std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments = {"twtrim32"};
  std::string current;
  for (size_t i = 0; i < size && arguments.size() < kMaxArguments; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty() && arguments.size() < kMaxArguments) arguments.push_back(current);
  return arguments;
}

// The same command line as another operator might type it: '-' for '/' and
// the other way round, and the switch name (before any '=') in swapped case.
std::vector<std::string> Respelled(std::vector<std::string> arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string& a = arguments[i];
    if (a.empty() || (a[0] != '/' && a[0] != '-')) continue;
    a[0] = a[0] == '/' ? '-' : '/';
    for (size_t k = 1; k < a.size() && a[k] != '='; ++k) {
      const char c = a[k];
      if (c >= 'a' && c <= 'z') a[k] = static_cast<char>(c - 'a' + 'A');
      if (c >= 'A' && c <= 'Z') a[k] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return arguments;
}

bool SameOptions(const RunOptions& a, const RunOptions& b) {
  return a.help == b.help && a.version == b.version && a.verbose == b.verbose &&
         a.dryRun == b.dryRun && a.write == b.write && a.testCopy == b.testCopy &&
         a.selectAll == b.selectAll && a.selectorGiven == b.selectorGiven &&
         a.confFirst == b.confFirst && a.confLast == b.confLast && a.homeDir == b.homeDir &&
         a.messageDir == b.messageDir && a.messageDirGiven == b.messageDirGiven &&
         a.logEnabled == b.logEnabled && a.logGiven == b.logGiven && a.logPath == b.logPath;
}

// Whether an argument holds a line-end byte, which error messages echo.
bool HasLineEnd(const std::vector<std::string>& arguments) {
  for (const std::string& a : arguments) {
    if (a.find_first_of("\r\n") != std::string::npos) return true;
  }
  return false;
}

void CheckParse(CommandOutcome outcome, const RunOptions& o, const std::string& output,
                bool echoed) {
  CheckCrLf(output, outcome == CommandOutcome::kUsageError, echoed);
  switch (outcome) {
    case CommandOutcome::kUsageError:
      Check(EndsWith(output, "Use TWTRIM32 /HELP for syntax.\r\n"), "usage error without trailer");
      Check(output.compare(0, 7, "ERROR: ") == 0, "usage error does not start with ERROR:");
      return;
    case CommandOutcome::kHelp:
      Check(o.help && output.empty(), "help outcome");
      return;
    case CommandOutcome::kVersion:
      Check(o.version && !o.help && output.empty(), "version outcome");
      return;
    case CommandOutcome::kRun:
      break;
  }
  Check(output.empty(), "a passing command line printed something");
  Check(!o.help && !o.version, "help or version reached the run");
  Check(o.selectorGiven, "run without selector");
  Check(o.dryRun != o.write, "run without exactly one mode");
  Check(!o.testCopy || o.write, "/TESTCOPY without /WRITE");
  if (!o.selectAll) {
    Check(o.confFirst >= 1 && o.confFirst <= o.confLast && o.confLast <= 999, "selection range");
  }
  Check(o.homeDir.size() <= kMaxPath && o.messageDir.size() <= kMaxPath &&
            o.logPath.size() <= kMaxPath,
        "a parsed path exceeds 511 characters");
}

void CheckResolved(bool resolved, const RunOptions& o, const ReportOutput& out, const LogOs& os,
                   bool echoed) {
  CheckCrLf(os.stdoutText, !resolved, echoed);
  if (!resolved) {
    Check(!out.logOpen() && os.openLogs == 0, "a refused run left its report log open");
    Check(os.stdoutText.compare(0, 7, "ERROR: ") == 0, "path error does not start with ERROR:");
    return;
  }
  Check(os.stdoutText.empty(), "path resolution printed something on success");
  for (const std::string* path :
       {&o.messageDir, &o.logPath, &o.conferenceConfigPath, &o.callerStatusPath, &o.lockPath,
        &o.testCopyMarkerPath, &o.outboundSeqPath}) {
    Check(path->size() <= kMaxPath, "a resolved path exceeds 511 characters");
  }
  Check(BaseName(o.lockPath) == "VIZIZE.BSY", "lock file name");
  Check(BaseName(o.conferenceConfigPath) == "TWMCONF.DAT", "configuration file name");
  Check(BaseName(o.callerStatusPath) == "TWWHOSON.DAT", "caller table name");
  Check(BaseName(o.outboundSeqPath) == "TWOUTBOUND.SEQ", "outbound sequence name");
  Check(out.logOpen() == o.logEnabled, "report log open state");
  if (!o.logEnabled) {
    Check(os.logPath.empty(), "a disabled report log was touched");
    return;
  }
  Check(os.logPath == o.logPath, "the report log opened is not the one resolved");
  Check(!HasParentSegment(o.logPath), "report path with a '..' segment");
  Check(HasTxtExtension(o.logPath), "report path without .TXT");
  Check(!IsInsideDirectory(o.logPath, o.messageDir), "report inside the message directory");
}

}  // namespace
}  // namespace twtrim::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  using namespace twtrim::fuzz;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const std::vector<std::string> arguments = SplitAtNul(data + 1, size - 1);

  LogOs os;
  RunOptions options;
  options.homeDir = HomeFor(mode);
  ReportOutput out(os);
  const CommandOutcome outcome = ParseCommandLine(out, arguments, &options);
  const bool echoed = HasLineEnd(arguments);
  CheckParse(outcome, options, os.stdoutText, echoed);

  // The same line spelled differently means the same thing.
  LogOs otherOs;
  RunOptions other;
  other.homeDir = options.homeDir;
  ReportOutput otherOut(otherOs);
  Check(ParseCommandLine(otherOut, Respelled(arguments), &other) == outcome,
        "'-' or letter case changed the outcome");
  Check(outcome == CommandOutcome::kUsageError || SameOptions(options, other),
        "'-' or letter case changed the options");

  if (outcome != CommandOutcome::kRun) return 0;
  os.stdoutText.clear();
  if (mode & 4) {
    // Refuse the log wherever it would go.
    RunOptions probe = options;
    ReportOutput probeOut(otherOs);
    if (ResolvePaths(otherOs, probeOut, &probe) && probe.logEnabled) {
      os.unwritable.insert(probe.logPath);
    }
  }
  const bool resolved = ResolvePaths(os, out, &options);
  CheckResolved(resolved, options, out, os, echoed);
  if (resolved && out.logOpen()) {
    out.Line("probe");
    Check(os.log == "probe\r\n", "a report line did not reach the log");
  }
  return 0;
}
