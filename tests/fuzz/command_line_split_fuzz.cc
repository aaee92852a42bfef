// Feeds arbitrary raw command lines to the splitter the Windows build runs on
// GetCommandLineA, then the arguments to the switch parser, as the process
// entry does. Checks what must hold for any line: at most 64 arguments, no
// quote survives, only the first 4095 bytes before a NUL count, a line
// without quotes splits at its blanks, and arguments quoted the way the
// tests' process starter quotes them split back into themselves.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "fuzz_support.h"
#include "platform/command_line.h"
#include "report/report_output.h"

namespace twtrim::fuzz {
namespace {

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
  while (words.size() < kMaxArguments) {
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

}  // namespace
}  // namespace twtrim::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  using namespace twtrim::fuzz;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> arguments = SplitCommandLine(line);

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

  // What the process entry does next.
  LogOs os;
  RunOptions options;
  options.homeDir = "C:\\TW";
  ReportOutput out(os);
  const CommandOutcome outcome = ParseCommandLine(out, arguments, &options);
  CheckCrLf(os.stdoutText, outcome == CommandOutcome::kUsageError,
            effective.find_first_of("\r\n") != std::string_view::npos);
  return 0;
}
