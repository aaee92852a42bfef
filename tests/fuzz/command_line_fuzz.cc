// Feeds raw command lines to the splitter the Windows build uses, or argument
// vectors, to the switch parser and the path resolution: no crash; a split
// keeps no quote, ignores all past a NUL or byte 4095, cuts a quote-free line
// at its blanks and splits requoted arguments back; a usage error ends with
// the syntax trailer; a run has one selector and one mode; '-' is '/' and
// letter case is free; paths fit; an open report log obeys the path rules.
//
// Input: [0] bits 0-1 the home (relative, POSIX, drive letter, 500 long),
//   bit 2 the report log cannot be created, bit 3 the rest is a raw line
//   (else the arguments after the program name, NUL-separated).
#include <cctype>
#include <tuple>

#include "app/options.h"
#include "fuzz_check.h"
#include "platform/command_line.h"
#include "report/paths.h"

using namespace twtrim;
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string> SplitChecked(std::string_view line) {
  const std::vector<std::string> arguments = SplitCommandLine(line);
  const std::string_view effective = line.substr(0, line.find('\0')).substr(0, kMaxCommandLine);
  Check(SplitCommandLine(effective) == arguments, "bytes after a NUL or past 4095 counted");
  const bool quoteFree = effective.find('"') == std::string_view::npos;
  std::string spaced, requoted, words;  // words: the line's blank runs as single spaces
  for (const std::string& a : arguments) {
    const bool blank = a.find_first_of(" \t") != std::string::npos;
    Check(a.find('"') == std::string::npos && !(quoteFree && blank), "a quote or blank kept");
    spaced += (spaced.empty() ? "" : " ") + a;
    requoted += (requoted.empty() ? "" : " ") + (a.empty() || blank ? '"' + a + '"' : a);
  }
  for (size_t i = 0; i < effective.size(); ++i) {
    if (!IsBlank(effective[i]))
      words += std::string(!words.empty() && IsBlank(effective[i - 1]), ' ') + effective[i];
  }
  Check(!quoteFree || spaced == words, "a quote-free line not split at its blanks");
  Check(requoted.size() > kMaxCommandLine || SplitCommandLine(requoted) == arguments,
        "requoted arguments did not split back");
  return arguments;
}

std::vector<std::string> SplitAtNul(std::string_view rest) {
  std::vector<std::string> arguments = {"twtrim32"};
  for (size_t at = 0, end = 0; at < rest.size() && arguments.size() <= kMaxArguments;
       at = end + 1) {
    end = std::min(rest.find('\0', at), rest.size());
    arguments.emplace_back(rest.substr(at, end - at));
  }
  return arguments;
}

// The same command line as another operator types it: '-' and '/' swapped,
// the switch name (before any '=') in swapped case.
std::vector<std::string> Respelled(std::vector<std::string> arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string& a = arguments[i];
    if (a.empty() || (a[0] != '/' && a[0] != '-')) continue;
    a[0] = a[0] == '/' ? '-' : '/';
    for (size_t k = 1; k < a.size() && a[k] != '='; ++k) {
      if (std::isalpha(static_cast<unsigned char>(a[k]))) a[k] ^= 0x20;
    }
  }
  return arguments;
}

auto Meaning(const RunOptions& o) {
  return std::tie(o.help, o.version, o.verbose, o.dryRun, o.write, o.testCopy, o.selectAll,
                  o.selectorGiven, o.confFirst, o.confLast, o.messageDir, o.logEnabled, o.logPath);
}

void CheckRun(const RunOptions& o) {
  Check(o.selectorGiven && o.dryRun != o.write && (!o.testCopy || o.write) && !o.help && !o.version,
        "a run without one selector and one mode, or /TESTCOPY without /WRITE");
  Check(o.selectAll || (1 <= o.confFirst && o.confFirst <= o.confLast && o.confLast <= 999),
        "selection range");
}

void CheckResolved(const RunOptions& o, const MemoryOs& os) {
  for (const std::string* path :
       {&o.homeDir, &o.messageDir, &o.logPath, &o.conferenceConfigPath, &o.callerStatusPath,
        &o.lockPath, &o.testCopyMarkerPath, &o.outboundSeqPath}) {
    Check(path->size() <= kMaxPath, "a path over 511 characters");
  }
  Check(o.logEnabled ? !HasParentSegment(o.logPath) && HasTxtExtension(o.logPath) &&
                           !IsInsideDirectory(o.logPath, o.messageDir)
                     : os.FilesUnder("/").empty(),
        "a report path that breaks the rules, or a disabled log touched");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::string> arguments = (data[0] & 8) ? SplitChecked(rest) : SplitAtNul(rest);
  static const std::string kHomes[] = {"board", "/srv/bbs", "C:\\TW", "/" + std::string(499, 'h')};
  MemoryOs os, otherOs;
  RunOptions options, other;
  options.homeDir = other.homeDir = kHomes[data[0] & 3];
  ReportOutput out(os), otherOut(otherOs);
  const CommandOutcome outcome = ParseCommandLine(out, arguments, &options);
  bool echoed = false;  // error lines echo what was typed, line ends and all
  for (const std::string& a : arguments) echoed |= a.find_first_of("\r\n") != std::string::npos;
  if (!echoed) CheckLines(os.stdoutText());
  Check(outcome == CommandOutcome::kUsageError
            ? os.stdoutText().starts_with("ERROR: ") &&
                  os.stdoutText().ends_with("Use TWTRIM32 /HELP for syntax.\r\n")
            : os.stdoutText().empty() && arguments.size() <= kMaxArguments,
        "a usage error without ERROR: or the trailer, or a passing line that printed");
  Check(ParseCommandLine(otherOut, Respelled(arguments), &other) == outcome &&
            (outcome == CommandOutcome::kUsageError || Meaning(options) == Meaning(other)),
        "'-' for '/' or letter case changed the meaning");
  if (outcome != CommandOutcome::kRun) return 0;
  CheckRun(options);
  // Where the log goes: a directory in its place refuses it; else its directory exists.
  RunOptions probe = options;
  if (ResolvePaths(otherOs, otherOut, &probe) && probe.logEnabled) {
    const std::string& log = probe.logPath;
    os.MakeDirectories((data[0] & 4) ? log : log.substr(0, log.find_last_of("/\\") + 1));
  }
  const bool resolved = ResolvePaths(os, out, &options);
  if (!echoed) CheckLines(os.stdoutText());
  Check(resolved ? os.stdoutText().empty() : os.stdoutText().starts_with("ERROR: "),
        "a path refusal without ERROR:, or a success that printed");
  Check(out.logOpen() == (resolved && options.logEnabled), "report log open state");
  if (resolved) CheckResolved(options, os);
  return 0;
}
