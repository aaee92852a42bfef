// Feeds arbitrary TWMCONF.DAT contents, sizes and read faults to the
// conference-list loader, and sets of TWMSGnn.PTR files to the /ALL
// discovery: no crash, one error line at most, a verdict that fits the size,
// printable names in step with the count, and the 20-number gap rule.
//
// Input: [0] flags: 1 no file, 2 a directory in its place, 4 reads fail from
//   a call on, 8 one read comes up short, 16 a faked size, 32 a PTR-file set
//   follows; [1] fault and size details; with flag 32, 125 bytes whose bit
//   n-1 puts TWMSG(n).PTR there and a byte whose low bit turns the highest
//   into a directory; the rest: the bytes of TWMCONF.DAT.
#include <algorithm>

#include "fuzz_check.h"
#include "msgbase/conference_list.h"
#include "msgbase/records.h"

using namespace twtrim;
namespace {

// `whole`: no fault strikes and the file holds every byte its size promises.
void CheckLoad(const ConferenceList& list, const std::string& output, bool present, uint64_t size,
               bool whole) {
  CheckLines(output);
  Check(std::count(output.begin(), output.end(), '\n') == list.errors && list.errors <= 1,
        "not one report line per counted error, at most one");
  const bool valid = present && size % 128 == 0 && size >= 128 && size / 128 <= kMaxConference;
  Check(list.present == present && list.count == (valid ? size / 128 : 0) &&
            (valid ? !whole || list.errors == 0 : list.errors == (present ? 1u : 0u)),
        "a count or an error that does not fit the file");
  Check(list.names.size() == list.count, "names and count disagree");
  for (const std::string& name : list.names) {
    Check(name.size() <= 64 &&
              std::all_of(name.begin(), name.end(), [](char c) { return c >= 32 && c <= 126; }),
          "a name too long or not printable");
  }
}

void CheckDiscovery(MemoryOs& os, const uint8_t* bitmap) {
  std::vector<bool> exists(kMaxConference + 1, false);
  std::string path;
  bool directory = bitmap[125] & 1;  // a directory named like a PTR file is no conference
  for (uint32_t n = kMaxConference; n >= 1; --n) {
    if ((bitmap[(n - 1) / 8] >> ((n - 1) % 8) & 1) == 0) continue;
    ConferenceFilePath(&path, "H/MESSAGE", n, "PTR");
    exists[n] = !directory;
    directory ? os.MakeDirectories(path) : os.WriteFile(path, "");
    directory = false;
  }
  uint32_t reached = 0;  // the first file, then each within 21 numbers of the last reached
  for (uint32_t n = 1; n <= kMaxConference; ++n) {
    if (exists[n] && (reached == 0 || n - reached <= 21)) reached = n;
  }
  Check(DiscoverHighestConference(os, "H/MESSAGE") == reached, "discovery broke the gap rule");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t skip = 2 + (size > 0 && (data[0] & 32) ? 126 : 0);
  if (size < skip) return 0;
  const uint8_t flags = data[0], detail = data[1];
  MemoryOs memory;
  if (flags & 32) CheckDiscovery(memory, data + 2);
  const std::string bytes(data + skip, data + size);
  const bool present = (flags & 3) == 0;
  if ((flags & 3) == 2) memory.MakeDirectories("H/TWMCONF.DAT");
  if (present) memory.WriteFile("H/TWMCONF.DAT", bytes);
  // Sizes no input reaches: 4 GiB and next to it, 1000 and 999 records, more than it holds.
  const uint64_t kSizes[] = {1ull << 32,
                             (1ull << 32) + 128,
                             (1ull << 32) - 128,
                             128000,
                             127872,
                             bytes.size() + 128 * (detail / 6)};
  const uint64_t fileSize = (flags & 16) ? kSizes[detail % 6] : bytes.size();
  if (present) memory.FakeSize("H/TWMCONF.DAT", fileSize);
  FaultOs os(memory);
  if (flags & 4) os.AddFault({{OsCall::kRead, "", 1u + detail % 8}, FaultEffect::kFail, true});
  if (flags & 8) os.ShortNthCall(OsCall::kRead, 1 + (detail >> 3) % 8);
  ReportOutput out(os);
  const ConferenceList list = LoadConferenceList(os, out, "H/TWMCONF.DAT");
  CheckLoad(list, os.stdoutText(), present, fileSize,
            (flags & 12) == 0 && fileSize <= bytes.size());
  return 0;
}
