// Feeds arbitrary TWMCONF.DAT contents, sizes and read faults to the
// conference-list loader, and arbitrary sets of TWMSGnn.PTR files to the /ALL
// discovery, checking what must hold whatever the board holds: no crash or
// overrun, one error line at most and the right one, `count` and `names` in
// step, printable names taken from the records, and a discovery result that
// obeys the 20-number gap rule.
//
// Input layout:
//   [0] flags: 1 no file, 2 a directory in its place, 4 reads fail from a
//       call on, 8 one read comes up short, 16 a faked file size,
//       32 a PTR-file set for discovery follows
//   [1] fault and size details
//   then, with flag 32: 125 bytes, bit n set when TWMSG(n+1).PTR exists, and
//       one byte whose low bit turns the highest of them into a directory
//   the rest: the bytes of TWMCONF.DAT
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <vector>

#include "msgbase/conference_list.h"
#include "msgbase/records.h"
#include "report/report_output.h"
#include "support/fault_os.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

constexpr char kConfig[] = "H/TWMCONF.DAT";
constexpr char kMessageDir[] = "H/MESSAGE";
constexpr uint64_t kFourGiB = 0x100000000ull;

// Sizes a real file could report that no fuzzer input would ever reach.
uint64_t FakedSize(uint8_t detail, uint64_t real) {
  switch (detail % 6) {
    case 0:
      return kFourGiB;  // a multiple of 128, but too large
    case 1:
      return kFourGiB + 128;
    case 2:
      return kFourGiB - 128;  // 33,554,431 records
    case 3:
      return 1000 * 128;  // one record too many
    case 4:
      return 999 * 128;  // the largest usable file
    default:
      return real + 128 * (detail / 6);  // more records than the file holds
  }
}

// Records before `failed` carry their names; the failing record and every
// later one stay empty.
void CheckNames(const ConferenceList& list, const std::vector<uint8_t>& bytes, uint64_t failed) {
  Check(list.names.size() == list.count, "names and count disagree");
  for (uint32_t i = 0; i < list.count; ++i) {
    const std::string& name = list.names[i];
    if (i >= failed) {
      Check(name.empty(), "name for a record that was never read whole");
      continue;
    }
    const uint64_t at = uint64_t{i} * kConferenceRecordSize;
    const size_t length = std::min<size_t>(bytes[at + 3], 64);
    Check(name.size() == length, "name length is not min(length byte, 64)");
    for (size_t k = 0; k < length; ++k) {
      const uint8_t source = bytes[at + 4 + k];
      const char expected = source >= 32 && source <= 126 ? static_cast<char>(source) : '.';
      Check(name[k] == expected, "name character is neither the record's nor '.'");
    }
  }
}

// `failed`: the first record whose read fails or comes up short (one read
// per record), or more than any record number when none does.
void CheckLoad(const ConferenceList& list, const std::string& output, bool present, uint64_t size,
               const std::vector<uint8_t>& bytes, uint64_t failed) {
  Check(output.empty() || output.find("\r\n") == output.size() - 2, "an error line without CR LF");
  Check(list.present == present, "present flag");
  Check(list.errors <= 1, "more than one load error counted");
  Check(list.errors == 0 ? output.empty() : std::count(output.begin(), output.end(), '\n') == 1,
        "one report line per counted error");
  if (!present) {
    Check(list.count == 0 && list.errors == 0 && output.empty(), "a missing file is not an error");
    return;
  }
  if (size % kConferenceRecordSize != 0 || size >= kFourGiB) {
    Check(output == "ERROR: TWMCONF.DAT size is not a valid multiple of 128 bytes.\r\n",
          "size error line");
    Check(list.count == 0 && list.errors == 1, "size error result");
    return;
  }
  const uint64_t count = size / kConferenceRecordSize;
  if (count == 0 || count > kMaxConference) {
    Check(output == "ERROR: TWMCONF.DAT conference count is outside 1..999.\r\n",
          "count error line");
    Check(list.count == 0 && list.errors == 1, "count error result");
    return;
  }
  Check(list.count == count, "count is not size / 128");
  failed = std::min(failed, bytes.size() / kConferenceRecordSize);
  if (failed >= count) {
    Check(list.errors == 0 && list.usable(), "a whole, readable file is usable");
  } else {
    Check(output == "ERROR: short read in TWMCONF.DAT.\r\n" && list.errors == 1,
          "a failed record read is a short read");
  }
  CheckNames(list, bytes, failed);
}

// Discovery, checked from the outside against the /ALL rule:
// the result exists, every PTR file below it is reachable through gaps of at
// most 20, and the 21 numbers after it are all missing.
void CheckDiscovery(uint32_t highest, const std::vector<bool>& exists) {
  if (highest == 0) {
    Check(std::none_of(exists.begin() + 1, exists.end(), [](bool b) { return b; }),
          "discovery found nothing although a PTR file exists");
    return;
  }
  Check(highest <= kMaxConference && exists[highest], "discovery returned a missing file");
  for (uint32_t n = highest + 1; n <= std::min(kMaxConference, highest + 21); ++n) {
    Check(!exists[n], "discovery stopped within 21 numbers of a found file");
  }
  uint32_t previous = 0;
  for (uint32_t n = 1; n <= highest; ++n) {
    if (!exists[n]) continue;
    Check(previous == 0 || n - previous <= 21, "discovery passed a gap of more than 20");
    previous = n;
  }
}

void Discover(MemoryOs& os, const uint8_t* bitmap, bool lastIsDirectory) {
  std::vector<bool> exists(kMaxConference + 1, false);
  uint32_t last = 0;
  for (uint32_t n = 1; n <= kMaxConference; ++n) {
    if ((bitmap[(n - 1) / 8] >> ((n - 1) % 8) & 1) == 0) continue;
    std::string path;
    Check(ConferenceFilePath(&path, kMessageDir, n, "PTR"), "PTR path");
    os.WriteFile(path, "");
    exists[n] = true;
    last = n;
  }
  if (lastIsDirectory && last != 0) {
    std::string path;
    ConferenceFilePath(&path, kMessageDir, last, "PTR");
    os.DeleteFile(path);
    os.MakeDirectories(path);
    exists[last] = false;  // a directory named like a PTR file is no conference
  }
  CheckDiscovery(DiscoverHighestConference(os, kMessageDir), exists);
}

}  // namespace
}  // namespace twtrim

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const uint8_t detail = data[1];
  size_t at = 2;

  MemoryOs memory;
  if (flags & 32) {
    if (size < at + 126) return 0;
    Discover(memory, data + at, data[at + 125] & 1);
    at += 126;
  }

  const std::vector<uint8_t> bytes(data + at, data + size);
  const bool missing = (flags & 1) != 0;
  const bool directory = !missing && (flags & 2) != 0;
  if (directory) {
    memory.MakeDirectories(kConfig);
  } else if (!missing) {
    memory.WriteFile(kConfig, std::string(bytes.begin(), bytes.end()));
  }
  uint64_t fileSize = bytes.size();
  if ((flags & 16) && !missing && !directory) {
    fileSize = FakedSize(detail, bytes.size());
    memory.FakeSize(kConfig, fileSize);
  }
  FaultOs os(memory);
  uint64_t failed = UINT64_MAX;
  if (flags & 4) {
    os.AddFault({{OsCall::kRead, "TWMCONF.DAT", 1u + detail % 8}, FaultEffect::kFail, true});
    failed = detail % 8;
  }
  if (flags & 8) {
    os.ShortNthCall(OsCall::kRead, 1 + (detail >> 3) % 8);
    failed = std::min<uint64_t>(failed, (detail >> 3) % 8);
  }

  ReportOutput out(os);
  const ConferenceList list = LoadConferenceList(os, out, kConfig);
  CheckLoad(list, os.stdoutText(), !missing && !directory, fileSize, bytes, failed);
  return 0;
}
