// TWMCONF.DAT, the board's conference configuration (count and display
// names), and the discovery of TWMSGnn.PTR files that /ALL falls back on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"
#include "report/report_output.h"

namespace twtrim {

inline constexpr uint32_t kMaxConference = 999;
inline constexpr uint32_t kConferenceRecordSize = 128;

struct ConferenceList {
  uint32_t count = 0;             // records in the file; 0 after any load failure but a short read
  std::vector<std::string> names; // `count` entries, printable ASCII only
  bool present = false;           // the path exists and is not a directory
  uint32_t errors = 0;            // load failures reported, 0 or 1

  bool usable() const { return present && count != 0; }
};

// Never fails as a call: problems are reported and counted in `errors`.
ConferenceList LoadConferenceList(Os& os, ReportOutput& out, const std::string& path);

// Highest n in 1..999 with TWMSGnn.PTR present as a file, or 0. Stops at the
// first missing number more than 20 past the highest found.
uint32_t DiscoverHighestConference(Os& os, const std::string& messageDir);

}  // namespace twtrim
