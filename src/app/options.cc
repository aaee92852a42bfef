#include "app/options.h"

#include "msgbase/conference_list.h"
#include "platform/command_line.h"
#include "platform/paths.h"
#include "report/places.h"

namespace twtrim {
namespace {

constexpr char kSyntaxTrailer[] = "Use TWTRIM32 /HELP for syntax.";
constexpr char kOneSelector[] = "ERROR: specify only one conference selector.";

// Usage errors go out before the report log is open, so they reach the
// console only.
void UsageError(ReportOutput& out, std::string_view message) {
  out.Line(message);
  out.Line(kSyntaxTrailer);
}

// The switch text after its leading '/' or '-'.
std::string_view SwitchBody(std::string_view argument) {
  if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) return {};
  return argument.substr(1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of decimal digits at `*position`; false when there is none or
// the value would not fit 32 bits (so 4294967297 never wraps round to 1).
bool ReadNumber(std::string_view text, size_t* position, uint32_t* value) {
  if (*position >= text.size() || !IsDigit(text[*position])) return false;
  uint64_t number = 0;
  while (*position < text.size() && IsDigit(text[*position])) {
    number = number * 10 + static_cast<uint64_t>(text[*position] - '0');
    if (number > UINT32_MAX) return false;
    ++*position;
  }
  *value = static_cast<uint32_t>(number);
  return true;
}

enum class ParseStep { kContinue, kError };

ParseStep ParseSelector(ReportOutput& out, std::string_view argument, std::string_view value,
                        RunOptions* options) {
  if (options->selectorGiven) {
    UsageError(out, kOneSelector);
    return ParseStep::kError;
  }
  if (!ParseConferenceSelector(value, &options->confFirst, &options->confLast)) {
    UsageError(out, "ERROR: invalid /CONF selector: " + std::string(argument));
    return ParseStep::kError;
  }
  options->selectorGiven = true;
  return ParseStep::kContinue;
}

// /HOME=, /MSGDIR= and /LOG= values must fit a path buffer.
bool PathValueFits(ReportOutput& out, std::string_view value, std::string_view switchName) {
  if (value.size() <= kMaxPath) return true;
  UsageError(out, "ERROR: " + std::string(switchName) + " path too long.");
  return false;
}

ParseStep ParseValueSwitch(ReportOutput& out, std::string_view body, RunOptions* options,
                           bool* matched) {
  *matched = true;
  if (StartsWithIgnoreCase(body, "HOME=")) {
    const std::string_view value = body.substr(5);
    if (!PathValueFits(out, value, "/HOME")) return ParseStep::kError;
    options->homeDir = value;
  } else if (StartsWithIgnoreCase(body, "MSGDIR=")) {
    const std::string_view value = body.substr(7);
    if (!PathValueFits(out, value, "/MSGDIR")) return ParseStep::kError;
    options->messageDir = value;
    options->messageDirGiven = true;
  } else if (StartsWithIgnoreCase(body, "LOG=")) {
    const std::string_view value = body.substr(4);
    if (!PathValueFits(out, value, "/LOG")) return ParseStep::kError;
    if (value.empty()) {
      UsageError(out, "ERROR: /LOG requires a filename.");
      return ParseStep::kError;
    }
    options->logPath = value;
    options->logGiven = true;
    options->logEnabled = true;
  } else if (EqualsIgnoreCase(body, "NOLOG")) {
    options->logEnabled = false;
  } else {
    *matched = false;
  }
  return ParseStep::kContinue;
}

// The switches that only set a flag, matched whole. /BACKUP has no field:
// backups are always made in write mode, the switch stays for old scripts.
struct FlagSwitch {
  const char* name;
  bool RunOptions::*field;
};
constexpr FlagSwitch kFlagSwitches[] = {
    {"?", &RunOptions::help},
    {"HELP", &RunOptions::help},
    {"VERSION", &RunOptions::version},
    {"V", &RunOptions::verbose},
    {"VERBOSE", &RunOptions::verbose},
    {"DRYRUN", &RunOptions::dryRun},
    {"WRITE", &RunOptions::write},
    {"TESTCOPY", &RunOptions::testCopy},
    {"BACKUP", nullptr},
};

bool SetFlag(std::string_view body, RunOptions* options) {
  for (const FlagSwitch& flag : kFlagSwitches) {
    if (!EqualsIgnoreCase(body, flag.name)) continue;
    if (flag.field != nullptr) options->*flag.field = true;
    return true;
  }
  return false;
}

ParseStep ParseArgument(ReportOutput& out, std::string_view argument, RunOptions* options) {
  const std::string_view body = SwitchBody(argument);
  if (!body.empty()) {
    if (SetFlag(body, options)) return ParseStep::kContinue;
    if (EqualsIgnoreCase(body, "NOBACKUP")) {
      UsageError(out,
                 "ERROR: /NOBACKUP is disabled; write mode always creates and verifies a backup.");
      return ParseStep::kError;
    }
    if (EqualsIgnoreCase(body, "ALL")) {
      if (options->selectorGiven) {
        UsageError(out, kOneSelector);
        return ParseStep::kError;
      }
      options->selectAll = options->selectorGiven = true;
      return ParseStep::kContinue;
    }
    if (StartsWithIgnoreCase(body, "CONF")) {
      return ParseSelector(out, argument, body.substr(4), options);
    }
    bool matched = false;
    const ParseStep step = ParseValueSwitch(out, body, options, &matched);
    if (matched) return step;
  }
  out.Line("ERROR: unsupported switch: " + std::string(argument));
  out.Line("Use /? or /HELP for the complete command list.");
  out.Line(kSyntaxTrailer);
  return ParseStep::kError;
}

CommandOutcome CheckCombination(ReportOutput& out, const RunOptions& options) {
  if (options.help) return CommandOutcome::kHelp;
  if (options.version) return CommandOutcome::kVersion;
  const char* error = nullptr;
  if (!options.selectorGiven) {
    error = "ERROR: /ALL, /CONF# or /CONF#..# is required.";
  } else if (!options.dryRun && !options.write) {
    error = "ERROR: /DRYRUN or /WRITE is required.";
  } else if (options.dryRun && options.write) {
    error = "ERROR: choose either /DRYRUN or /WRITE, not both.";
  } else if (options.testCopy && options.dryRun) {
    error = "ERROR: /TESTCOPY is only used with /WRITE.";
  }
  if (error == nullptr) return CommandOutcome::kRun;
  UsageError(out, error);
  return CommandOutcome::kUsageError;
}

// Joins for ResolvePaths; `name` may alias `*destination`.
bool Join(std::string* destination, const std::string& directory, std::string_view name) {
  std::string joined;
  if (!JoinPath(&joined, directory, name)) return false;
  *destination = std::move(joined);
  return true;
}

bool DeriveControlPaths(RunOptions* o) {
  std::string workDir;
  return Join(&o->conferenceConfigPath, o->homeDir, "TWMCONF.DAT") &&
         Join(&workDir, o->homeDir, "WORK") &&
         Join(&o->callerStatusPath, workDir, "TWWHOSON.DAT") &&
         Join(&o->lockPath, o->messageDir, "VIZIZE.BSY") &&
         Join(&o->testCopyMarkerPath, o->homeDir, "TWTRIM32_TESTCOPY.OK") &&
         Join(&o->outboundSeqPath, o->messageDir, "TWOUTBOUND.SEQ");
}

// The report path rules, in order; the log is opened last, so nothing is
// created unless every other check has passed. A FIFO or a device would
// block the run before it takes its lock, or swallow the report.
bool CheckAndOpenLog(Os& os, ReportOutput& out, const RunOptions& options) {
  const std::string& path = options.logPath;
  os.ForgetFailure();  // an open that fails keeps its own
  if (HasParentSegment(path)) {
    out.Line("ERROR: /LOG path may not contain a '..' parent-directory segment.");
  } else if (!HasTxtExtension(path)) {
    out.Line("ERROR: /LOG must use a .TXT filename.");
  } else if (InsidePlaceByAnySpelling(os, path, options.messageDir)) {
    out.Line("ERROR: /LOG may not be created inside the MESSAGE directory.");
  } else if (os.GetPathKind(path) == PathKind::kOther) {
    out.Line("ERROR: report file is not a regular file: " + path);
  } else if (!out.OpenReportLog(path)) {
    out.Line("ERROR: cannot create log file: " + path);
    out.CauseLine();
    out.Line("Use /NOLOG only when intentionally testing without a report file.");
  } else {
    return true;
  }
  return false;
}

// A test run must pack the marked copy and nothing else, however the message
// directory is spelled: a relative one is read against the current
// directory, which may be the live board's.
bool TestCopyStaysHome(Os& os, ReportOutput& out, const RunOptions& options) {
  if (!options.testCopy || ResolvesInside(os, options.messageDir, options.homeDir)) return true;
  std::string resolved;
  if (!os.FullPath(options.messageDir, &resolved)) resolved = options.messageDir;
  UsageError(out, "ERROR: /TESTCOPY message directory is not inside the test home: " + resolved);
  return false;
}

}  // namespace

bool ParseConferenceSelector(std::string_view value, uint32_t* first, uint32_t* last) {
  size_t position = 0;
  uint32_t low = 0;
  if (!ReadNumber(value, &position, &low) || low < 1 || low > kMaxConference) return false;
  uint32_t high = low;
  if (position < value.size()) {
    if (value.substr(position, 2) != "..") return false;
    position += 2;
    if (!ReadNumber(value, &position, &high)) return false;
    if (position != value.size() || high > kMaxConference || high < low) return false;
  }
  *first = low;
  *last = high;
  return true;
}

CommandOutcome ParseCommandLine(ReportOutput& out, const std::vector<std::string>& arguments,
                                RunOptions* options) {
  // Arguments past the ones kept would vanish without a trace, and a
  // trailing /HOME= or /TESTCOPY with them.
  if (arguments.size() > kMaxArguments) {
    UsageError(out, "ERROR: too many arguments; at most " + std::to_string(kMaxArguments - 1) +
                        " may follow the program name.");
    return CommandOutcome::kUsageError;
  }
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (ParseArgument(out, arguments[i], options) == ParseStep::kError) {
      return CommandOutcome::kUsageError;
    }
  }
  return CheckCombination(out, *options);
}

bool ResolvePaths(Os& os, ReportOutput& out, RunOptions* options) {
  if (!options->messageDirGiven && !Join(&options->messageDir, options->homeDir, "MESSAGE")) {
    UsageError(out, "ERROR: message-directory path is too long.");
    return false;
  }
  if (options->logEnabled && !options->logGiven &&
      !Join(&options->logPath, options->homeDir, "TWTRIM32_REPORT.TXT")) {
    UsageError(out, "ERROR: default log path is too long.");
    return false;
  }
  // A relative /LOG= names a file in the home directory, not the current one.
  if (options->logEnabled && options->logGiven &&
      !Join(&options->logPath, options->homeDir, options->logPath)) {
    UsageError(out, "ERROR: resolved log path is too long.");
    return false;
  }
  if (!DeriveControlPaths(options)) {
    out.Line("ERROR: Tarnwick control-file path is too long.");
    return false;
  }
  if (!TestCopyStaysHome(os, out, *options)) return false;
  return !options->logEnabled || CheckAndOpenLog(os, out, *options);
}

}  // namespace twtrim
