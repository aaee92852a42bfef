// Feeds arbitrary command lines to the splitter the Windows build runs on
// GetCommandLineA, or arbitrary argument vectors, to the switch parser and the
// path resolution that follows it, over an in-memory Os whose report log can
// be refused. Checks what must hold whatever the operator types: no crash or
// overrun; more than 64 arguments are refused; a raw line splits with no quote left,
// only its first 4095 bytes before a NUL counting, at its blanks when it holds
// no quote, and back into the same arguments when they are quoted as the
// tests' process starter quotes them; a usage error always ends with the
// syntax trailer; a run that passes has exactly one selector, one mode and
// /TESTCOPY only with /WRITE; '-' equals '/' and switch letters ignore case;
// every resolved path fits 511 characters; and the report log is open exactly
// when it is enabled and passed every report-path rule.
//
// Input layout:
//   [0] bits 0-1 the home directory (relative, POSIX, drive letter, 500
//       characters long); bit 2 the report log cannot be created; bit 3 the
//       rest is one raw command line
//   the rest: the raw line, or the arguments after the program name
//       separated by NUL bytes
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "platform/command_line.h"
#include "platform/paths.h"
#include "report/report_output.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Every CR is followed by LF and every LF preceded by CR (unless `echoed`:
// the program echoes what the operator typed, line ends and all); when
// `nonEmpty`, the text ends with CR LF.
void CheckCrLf(std::string_view text, bool nonEmpty, bool echoed) {
  for (size_t i = 0; i < text.size() && !echoed; ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n', "CR without LF");
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r', "LF without CR");
  }
  if (nonEmpty) Check(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n", "output does not end a line");
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The line the splitter is meant to see: up to the first NUL, 4095 bytes.
std::string_view Effective(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  return line.substr(0, kMaxCommandLine);
}

// Blank-separated words, for a line that holds no quote.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (true) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at >= line.size()) break;
    const size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    words.emplace_back(line.substr(start, at - start));
  }
  return words;
}

std::string Quoted(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) {
    if (!line.empty()) line += ' ';
    const bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
    line += quote ? "\"" + a + "\"" : a;
  }
  return line;
}


// The raw-line checks; returns the arguments, the program name first.
std::vector<std::string> SplitChecked(std::string_view line) {
  std::vector<std::string> arguments = SplitCommandLine(line);
  for (const std::string& a : arguments) {
    Check(a.find('"') == std::string::npos, "a quote survived splitting");
    Check(a.find('\0') == std::string::npos, "an argument holds a NUL");
  }
  const std::string_view effective = Effective(line);
  Check(SplitCommandLine(effective) == arguments, "bytes after a NUL or past 4095 counted");
  if (effective.find('"') == std::string_view::npos) {
    Check(arguments == Words(effective), "a line without quotes did not split at its blanks");
  }
  const std::string requoted = Quoted(arguments);
  if (requoted.size() <= kMaxCommandLine) {
    Check(SplitCommandLine(requoted) == arguments, "quoted arguments did not split back");
  }
  return arguments;
}

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

void CheckResolved(bool resolved, const RunOptions& o, const ReportOutput& out, const MemoryOs& os,
                   bool echoed) {
  CheckCrLf(os.stdoutText(), !resolved, echoed);
  if (!resolved) {
    Check(!out.logOpen(), "a refused run left its report log open");
    Check(os.stdoutText().compare(0, 7, "ERROR: ") == 0, "path error does not start with ERROR:");
    return;
  }
  Check(os.stdoutText().empty(), "path resolution printed something on success");
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
    Check(os.FilesUnder("/").empty(), "a disabled report log was touched");
    return;
  }
  std::string log;
  Check(os.ReadFile(o.logPath, &log), "the report log opened is not the one resolved");
  Check(!HasParentSegment(o.logPath), "report path with a '..' segment");
  Check(HasTxtExtension(o.logPath), "report path without .TXT");
  Check(!IsInsideDirectory(o.logPath, o.messageDir), "report inside the message directory");
}

}  // namespace
}  // namespace twtrim

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> arguments;
  if (mode & 8) {
    arguments = SplitChecked(rest);
  } else {
    arguments = SplitAtNul(data + 1, size - 1);
  }

  MemoryOs os;
  RunOptions options;
  options.homeDir = HomeFor(mode);
  ReportOutput out(os);
  const CommandOutcome outcome = ParseCommandLine(out, arguments, &options);
  const bool echoed = HasLineEnd(arguments);
  CheckParse(outcome, options, os.stdoutText(), echoed);
  Check(arguments.size() <= kMaxArguments || outcome == CommandOutcome::kUsageError,
        "more than 64 arguments accepted");

  // The same line spelled differently means the same thing.
  MemoryOs otherOs;
  RunOptions other;
  other.homeDir = options.homeDir;
  ReportOutput otherOut(otherOs);
  Check(ParseCommandLine(otherOut, Respelled(arguments), &other) == outcome,
        "'-' or letter case changed the outcome");
  Check(outcome == CommandOutcome::kUsageError || SameOptions(options, other),
        "'-' or letter case changed the options");
  if (outcome != CommandOutcome::kRun) return 0;

  // Where the log would go: a directory in its place refuses it, otherwise
  // its directory exists.
  RunOptions probe = options;
  ReportOutput probeOut(otherOs);
  if (ResolvePaths(otherOs, probeOut, &probe) && probe.logEnabled) {
    const std::string& log = probe.logPath;
    os.MakeDirectories((mode & 4) ? log : log.substr(0, log.find_last_of("/\\") + 1));
  }
  const bool resolved = ResolvePaths(os, out, &options);
  CheckResolved(resolved, options, out, os, echoed);
  if (resolved && out.logOpen()) {
    out.Line("probe");
    std::string log;
    Check(os.ReadFile(options.logPath, &log) && log == "probe\r\n", "a report line did not reach the log");
  }
  return 0;
}
