// Feeds arbitrary TWMCONF.DAT contents, sizes and read faults to the conference
// list loader, and sets of TWMSGnn.PTR files to the /ALL discovery: no crash,
// one error line at most, a verdict that fits the size, and the gap rule.
// Input: [0] flags: 1 no file, 2 a directory instead, 4 reads fail from a call
//   on, 8 a short read, 16 a faked size, 32 a PTR-file set follows; [1] details;
//   with 32, 16 entries of 2 bytes for discovery; the rest: TWMCONF.DAT's bytes.
#include <algorithm>

#include "fuzz_check.h"
#include "msgbase/conference_list.h"
#include "msgbase/records.h"

using namespace twtrim;

// Puts TWMSG(n).PTR, a directory of that name when bit 15 is set, for the low
// 10 bits n of each of 16 two-byte entries (0: none).
static void CheckDiscovery(MemoryOs& os, const uint8_t* entries) {
  std::string path;
  for (int i = 0; i < 32; i += 2) {
    const uint32_t n = (entries[i] | entries[i + 1] << 8) & 1023;
    if (n == 0 || !ConferenceFilePath(&path, "H/MESSAGE", n, "PTR")) continue;
    (entries[i + 1] & 0x80) ? os.MakeDirectories(path) : os.WriteFile(path, "");
  }
  uint32_t reached = 0;  // the first file, then each within 21 numbers of the last reached
  for (uint32_t n = 1; n <= kMaxConference && (reached == 0 || n <= reached + 21); ++n) {
    const bool file =
        ConferenceFilePath(&path, "H/MESSAGE", n, "PTR") && os.GetPathKind(path) == PathKind::kFile;
    if (file && (reached == 0 || n - reached <= 21)) reached = n;
  }
  Check(DiscoverHighestConference(os, "H/MESSAGE") == reached, "discovery broke the gap rule");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t skip = 2 + (size > 0 && (data[0] & 32) ? 32 : 0);
  if (size < skip) return 0;
  const uint8_t flags = data[0], detail = data[1];
  MemoryOs memory;
  if (flags & 32) CheckDiscovery(memory, data + 2);
  const std::string bytes(data + skip, data + size);
  const bool present = (flags & 3) == 0;
  if ((flags & 3) == 2) memory.MakeDirectories("H/TWMCONF.DAT");
  if (present) memory.WriteFile("H/TWMCONF.DAT", bytes);
  // Sizes no input reaches: 4 GiB and next to it, 1000 and 999 records, more than it holds.
  const uint64_t k4G = uint64_t{1} << 32, more = bytes.size() + 128 * (detail / 6);
  const uint64_t kSizes[] = {k4G, k4G + 128, k4G - 128, 128000, 127872, more};
  const uint64_t fileSize = (flags & 16) ? kSizes[detail % 6] : bytes.size();
  if (present) memory.FakeSize("H/TWMCONF.DAT", fileSize);
  FaultOs os(memory);
  if (flags & 4) os.AddFault({{OsCall::kRead, "", 1u + detail % 8}, FaultEffect::kFail, true});
  if (flags & 8) os.ShortNthCall(OsCall::kRead, 1 + (detail >> 3) % 8);
  ReportOutput out(os);
  const ConferenceList list = LoadConferenceList(os, out, "H/TWMCONF.DAT");
  const std::string& output = os.stdoutText();
  CheckLines(output);
  Check(std::count(output.begin(), output.end(), '\n') == list.errors && list.errors <= 1,
        "not one report line per counted error, at most one");
  const bool whole = (flags & 12) == 0 && fileSize <= bytes.size();  // no read can fail
  const bool valid = present && fileSize % 128 == 0 && fileSize >= 128 && fileSize <= 999 * 128;
  Check(list.present == present && list.count == (valid ? fileSize / 128 : 0) &&
            list.names.size() == list.count,
        "a count or names that do not fit the size");
  Check(list.errors == (valid ? 0u : present) || (valid && !whole), "an error unfit for the file");
  return 0;
}
