// Feeds arbitrary caller tables, busy markers and process names to the
// safety check and compares its verdict and the number of lines it prints
// with an independent reading of the same input: no crash, no read out of
// bounds, and never a pass when a caller, a marker or the tosser is there.
//
// Input layout:
//   [0] flags: 1 a busy marker exists, 2 verbose, 4 reads fail, 8 one read
//       comes up short, 16 seeks fail, 32 the process list is unavailable
//   [1] length of a process name (mod 16), then that many name bytes
//   the rest: the caller table's bytes
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "report/report_output.h"
#include "safety/checkpoint.h"
#include "support/fault_os.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

const char kHome[] = "H";
const char kMessageDir[] = "M";

struct Input {
  uint8_t flags = 0;
  std::vector<std::string> processes;
  bool Has(uint8_t flag) const { return (flags & flag) != 0; }
};

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

bool IsTosser(const std::string& name) {
  const std::string tosser = "VIZIZE32.EXE";
  if (name.size() != tosser.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != tosser[i]) return false;
  }
  return true;
}

// Lines the check must print, or -1 when it may print any number (a read
// fault makes the outcome depend on where it strikes); `*pass` the verdict.
int ExpectedLines(const Input& in, const std::vector<uint8_t>& table, bool marker, bool verbose,
                  bool* pass) {
  *pass = false;
  const size_t size = table.size();
  if (size != 1530 && size != 1536) return 2;
  if (in.Has(4) || in.Has(8) || in.Has(16)) return 1;
  int active = 0;
  for (size_t slot = 0; slot < 255; ++slot) {
    const uint16_t userNo = static_cast<uint16_t>(table[slot * 6] | table[slot * 6 + 1] << 8);
    if (userNo != 0xFFFF || table[slot * 6 + 2] == 'M') ++active;
  }
  if (active > 0) return active + 2 + (verbose ? 1 : 0);
  const int passed = verbose ? 2 : 0;  // format and caller lines
  if (marker) return passed + 2;
  if (in.Has(32) || in.processes.empty()) return passed + 1 + (verbose ? 1 : 0);
  for (const std::string& name : in.processes) {
    if (IsTosser(name)) return passed + 1 + (verbose ? 1 : 0);
  }
  *pass = true;
  return verbose ? 4 : 0;
}

int CountLines(const std::string& text) {
  int lines = 0;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    Check(end != std::string::npos, "every line ends with CR LF");
    Check(text.find('\n', start) == end + 1, "no bare LF inside a line");
    ++lines;
    start = end + 2;
  }
  return lines;
}

}  // namespace
}  // namespace twtrim

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  size_t at = 0;
  const uint8_t flags = at < size ? data[at++] : 0;
  const size_t nameLength = at < size ? data[at++] % 16 : 0;
  std::string name;
  for (; name.size() < nameLength && at < size; ++at) name += static_cast<char>(data[at]);
  const std::vector<uint8_t> table(data + at, data + size);

  Input in{flags, {"init", "bash"}};
  if (!name.empty()) in.processes.push_back(name);
  MemoryOs memory;
  memory.WriteFile(std::string(kHome) + "/WORK/TWWHOSON.DAT", std::string(table.begin(), table.end()));
  const bool marker = (flags & 1) != 0;
  if (marker) memory.WriteFile(std::string(kMessageDir) + "/VIZIZE.BSY", "");
  FaultOs os(memory);
  if (in.Has(4)) os.AddFault({{OsCall::kRead, "", 1}, FaultEffect::kFail, true});
  if (in.Has(8)) os.ShortNthCall(OsCall::kRead, 1);
  if (in.Has(16)) os.AddFault({{OsCall::kSeek, "", 0}, FaultEffect::kFail, false});
  os.SetProcessNames(in.processes);
  if (in.Has(32)) os.FailProcessList();

  ReportOutput out(os);
  const bool verbose = (flags & 2) != 0;
  out.SetVerbose(verbose);
  bool pass = false;
  const int expected = ExpectedLines(in, table, marker, verbose, &pass);
  const bool result = RunSafetyCheck(os, out, kHome, kMessageDir, kAfterScan);
  Check(result == pass, "verdict matches the independent reading");
  Check(CountLines(os.stdoutText()) == expected, "line count matches the independent reading");
  return 0;
}
