// Feeds arbitrary TWMCONF.DAT contents, sizes and read faults to the
// conference-list loader, and arbitrary sets of TWMSGnn.PTR files to the /ALL
// discovery: no crash, at most one error line, a verdict that fits the size,
// printable names in step with the count, and the 20-number gap rule.
//
// Input: [0] flags: 1 no file, 2 a directory in its place, 4 reads fail from
//   a call on, 8 one read comes up short, 16 a faked size, 32 a PTR-file set
//   follows; [1] fault and size details; with flag 32, 125 bytes whose bit
//   n-1 puts TWMSG(n).PTR there and a byte whose low bit turns the highest of
//   them into a directory; the rest: the bytes of TWMCONF.DAT.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "msgbase/conference_list.h"
#include "msgbase/records.h"
#include "report/report_output.h"
#include "support/fault_os.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

constexpr char kConfig[] = "H/TWMCONF.DAT";
constexpr char kMessageDir[] = "H/MESSAGE";

// Sizes no fuzzer input reaches: 4 GiB and either side of it, one record too
// many, the most records, or more records than the file holds.
uint64_t FakedSize(uint8_t detail, uint64_t real) {
  static const uint64_t kSizes[] = {1ull << 32, (1ull << 32) + 128, (1ull << 32) - 128, 1000 * 128,
                                    999 * 128};
  return detail % 6 < 5 ? kSizes[detail % 6] : real + 128 * (detail / 6);
}

// `whole`: no fault strikes and the file holds every byte its size promises.
void CheckLoad(const ConferenceList& list, const std::string& output, bool present, uint64_t size,
               bool whole) {
  CheckLines(output);
  Check(list.errors <= 1 && (list.errors == 0) == output.empty() &&
            std::count(output.begin(), output.end(), '\n') <= 1,
        "not one report line per counted error, at most one");
  Check(list.present == present && list.names.size() == list.count, "present flag or names");
  const bool valid = present && size % 128 == 0 && size >= 128 && size / 128 <= kMaxConference;
  Check(valid ? list.count == size / 128 : list.count == 0, "count is not size / 128");
  Check(valid || list.errors == (present ? 1u : 0u), "an unusable file unreported or a missing one reported");
  Check(!valid || !whole || list.errors == 0, "a whole, valid file reported");
  for (const std::string& name : list.names) {
    Check(name.size() <= 64 && std::all_of(name.begin(), name.end(),
                                           [](char c) { return c >= 32 && c <= 126; }),
          "a name too long or not printable");
  }
}

void CheckDiscovery(MemoryOs& os, const uint8_t* bitmap) {
  std::vector<bool> exists(kMaxConference + 1, false);
  std::string path;
  uint32_t last = 0;
  for (uint32_t n = 1; n <= kMaxConference; ++n) {
    exists[n] = bitmap[(n - 1) / 8] >> ((n - 1) % 8) & 1;
    if (exists[n] && ConferenceFilePath(&path, kMessageDir, n, "PTR")) os.WriteFile(path, "");
    if (exists[n]) last = n;
  }
  if ((bitmap[125] & 1) && last != 0) {  // a directory named like a PTR file is no conference
    ConferenceFilePath(&path, kMessageDir, last, "PTR");
    os.DeleteFile(path);
    os.MakeDirectories(path);
    exists[last] = false;
  }
  uint32_t reached = 0;  // the first file, then every one within 21 numbers of the last reached
  for (uint32_t n = 1; n <= kMaxConference; ++n) {
    if (exists[n] && (reached == 0 || n - reached <= 21)) reached = n;
  }
  Check(DiscoverHighestConference(os, kMessageDir) == reached, "discovery broke the gap rule");
}

}  // namespace
}  // namespace twtrim

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  if (size < 2) return 0;
  const uint8_t flags = data[0], detail = data[1];
  size_t at = 2;
  MemoryOs memory;
  if (flags & 32) {
    if (size < at + 126) return 0;
    CheckDiscovery(memory, data + at);
    at += 126;
  }
  const std::string bytes(data + at, data + size);
  const bool present = (flags & 3) == 0;
  if ((flags & 3) == 2) memory.MakeDirectories(kConfig);
  if (present) memory.WriteFile(kConfig, bytes);
  uint64_t fileSize = bytes.size();
  if (present && (flags & 16)) memory.FakeSize(kConfig, fileSize = FakedSize(detail, bytes.size()));
  FaultOs os(memory);
  if (flags & 4) os.AddFault({{OsCall::kRead, "TWMCONF.DAT", 1u + detail % 8}, FaultEffect::kFail, true});
  if (flags & 8) os.ShortNthCall(OsCall::kRead, 1 + (detail >> 3) % 8);
  ReportOutput out(os);
  const ConferenceList list = LoadConferenceList(os, out, kConfig);
  CheckLoad(list, os.stdoutText(), present, fileSize, (flags & 12) == 0 && fileSize <= bytes.size());
  return 0;
}
