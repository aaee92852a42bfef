// Feeds arbitrary caller tables, busy markers, process names and faults to the
// safety check, concise and verbose: no crash, CR LF lines, a pass exactly when
// the table reads whole with every slot idle, no marker is there and no process
// is the tosser, and a concise pass alone is silent.
// Input: [0] flags: 1 busy marker, 4 reads fail, 8 a short read, 16 seeks fail,
//   32 no process list; [1] process name length (mod 16), the name; the table.
#include <algorithm>
#include <cctype>

#include "fuzz_check.h"
#include "safety/checkpoint.h"

using namespace twtrim;

// A slot is idle when it holds no user (0xFFFF) and no caller in the messages.
static bool Clear(uint8_t flags, const std::string& table, std::string process) {
  if ((flags & 0x3d) != 0 || (table.size() != 1530 && table.size() != 1536)) return false;
  for (size_t at = 0; at < 1530; at += 6) {
    if (table[at] != '\xff' || table[at + 1] != '\xff' || table[at + 2] == 'M') return false;
  }
  for (char& c : process) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return process != "VIZIZE32.EXE";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const uint8_t flags = size > 0 ? data[0] : 0;
  const std::string process = in.substr(std::min<size_t>(size, 2), size > 1 ? data[1] % 16 : 0);
  const std::string table = in.substr(std::min(size, 2 + process.size()));
  MemoryOs memory;
  memory.WriteFile("H/WORK/TWWHOSON.DAT", table);
  if (flags & 1) memory.WriteFile("M/VIZIZE.BSY", "");
  for (const bool verbose : {false, true}) {
    FaultOs os(memory);
    if (flags & 4) os.AddFault({{OsCall::kRead, "", 1}, FaultEffect::kFail, true});
    if (flags & 8) os.ShortNthCall(OsCall::kRead, 1);
    if (flags & 16) os.AddFault({{OsCall::kSeek, "", 0}, FaultEffect::kFail, false});
    os.SetProcessNames({"init", "bash", process});
    if (flags & 32) os.FailProcessList();
    ReportOutput out(os);
    out.SetVerbose(verbose);
    const bool pass = RunSafetyCheck(os, out, "H", "M", kAfterScan);
    CheckLines(os.stdoutText());
    Check(pass == Clear(flags, table, process), "verdict does not fit the input");
    Check(verbose || os.stdoutText().empty() == pass, "a concise pass printed, or a refusal not");
  }
  return 0;
}
