// Feeds raw command lines through the Windows splitter into the switch parser
// and path resolution: no crash; a split keeps no quote, ignores all past a NUL
// or byte 4095, and gives back the same arguments requoted; a usage error ends
// with the trailer; a run has one selector and one mode; '-' is '/' and case is
// free; paths fit; an open report log obeys its rules.
// Input: [0] bits 0-1 the home (relative, POSIX, drive letter, 500 long),
//   bit 2 the report log cannot be created; the rest: the command line.
#include <cctype>
#include <tuple>

#include "app/options.h"
#include "fuzz_check.h"
#include "platform/command_line.h"
#include "platform/paths.h"

using namespace twtrim;

static std::vector<std::string> SplitChecked(std::string_view line) {
  const std::vector<std::string> arguments = SplitCommandLine(line);
  const std::string_view effective = line.substr(0, line.find('\0')).substr(0, kMaxCommandLine);
  Check(SplitCommandLine(effective) == arguments, "bytes after a NUL or past 4095 counted");
  const bool quoteFree = effective.find('"') == std::string_view::npos;
  std::string requoted;
  for (const std::string& a : arguments) {
    const bool blank = a.find_first_of(" \t") != std::string::npos;
    Check(a.find('"') == std::string::npos && !(quoteFree && blank), "a quote or blank kept");
    requoted += (requoted.empty() ? "" : " ") + (a.empty() || blank ? '"' + a + '"' : a);
  }
  Check(requoted.size() > kMaxCommandLine || SplitCommandLine(requoted) == arguments,
        "requoted arguments did not split back");
  return arguments;
}

// The same line as another operator types it: '-' for '/', the other case.
static std::vector<std::string> Respelled(std::vector<std::string> arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string& a = arguments[i];
    if (a.empty() || (a[0] != '/' && a[0] != '-')) continue;
    a[0] = a[0] == '/' ? '-' : '/';
    for (size_t k = 1; k < a.size() && a[k] != '='; ++k)  // the switch name, not its value
      a[k] ^= std::isalpha(static_cast<unsigned char>(a[k])) ? 0x20 : 0;
  }
  return arguments;
}

static auto Meaning(const RunOptions& o) {
  return std::tie(o.help, o.version, o.verbose, o.dryRun, o.write, o.testCopy, o.selectAll,
                  o.confFirst, o.confLast, o.messageDir, o.logEnabled, o.logPath);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<std::string> arguments = SplitChecked(line);
  static const std::string kHomes[] = {"board", "/srv/bbs", "C:\\TW", "/" + std::string(499, 'h')};
  MemoryOs os, otherOs;
  RunOptions o, other;
  o.homeDir = other.homeDir = kHomes[data[0] & 3];
  ReportOutput out(os), otherOut(otherOs);
  const CommandOutcome outcome = ParseCommandLine(out, arguments, &o);
  const std::string& text = os.stdoutText();
  const bool echoed = line.find_first_of("\r\n") != line.npos;  // errors echo what was typed
  if (!echoed) CheckLines(text);
  Check(outcome == CommandOutcome::kUsageError
            ? text.starts_with("ERROR: ") && text.ends_with("Use TWTRIM32 /HELP for syntax.\r\n")
            : text.empty() && arguments.size() <= kMaxArguments,
        "a usage error without ERROR: or the trailer, or a passing line that printed");
  Check(ParseCommandLine(otherOut, Respelled(arguments), &other) == outcome &&
            (outcome == CommandOutcome::kUsageError || Meaning(o) == Meaning(other)),
        "'-' for '/' or letter case changed the meaning");
  if (outcome != CommandOutcome::kRun) return 0;
  Check(o.selectorGiven && o.dryRun != o.write && (!o.testCopy || o.write) && !o.help && !o.version,
        "a run without one selector and one mode, or /TESTCOPY without /WRITE");
  // Where the log goes (`other` means the same): a directory in its way, or its directory.
  if (ResolvePaths(otherOs, otherOut, &other) && other.logEnabled) {
    const std::string& log = other.logPath;
    os.MakeDirectories((data[0] & 4) ? log : log.substr(0, log.find_last_of("/\\") + 1));
  }
  const bool resolved = ResolvePaths(os, out, &o);
  if (!echoed) CheckLines(text);
  Check(resolved ? text.empty() : text.starts_with("ERROR: "), "a path refusal without ERROR:");
  Check(out.logOpen() == (resolved && o.logEnabled), "report log open state");
  for (const std::string& path : {o.homeDir, o.messageDir, o.logPath, o.conferenceConfigPath,
                                  o.callerStatusPath, o.lockPath, o.outboundSeqPath}) {
    Check(!resolved || path.size() <= kMaxPath, "a path over 511 characters");
  }
  Check(!resolved || (o.logEnabled ? !HasParentSegment(o.logPath) && HasTxtExtension(o.logPath) &&
                                         !IsInsideDirectory(o.logPath, o.messageDir)
                                   : os.FilesUnder("/").empty()),
        "a report path that breaks the rules, or a disabled log touched");
  return 0;
}
