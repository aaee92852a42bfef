// The command line: splitting, switch parsing, combination checks and the
// resolution of every path a run touches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "report/report_output.h"
#include "version.h"

namespace twtrim {

inline constexpr char kProgramBanner[] =
    "TWTRIM32 " TWTRIM_VERSION_TEXT " - Safeguarded Tarnwick Message Packer";

struct RunOptions {
  bool help = false;
  bool version = false;
  bool verbose = false;
  bool dryRun = false;
  bool write = false;
  bool testCopy = false;
  bool selectAll = false;
  bool selectorGiven = false;
  uint32_t confFirst = 0, confLast = 0;
  std::string homeDir;
  std::string messageDir;
  bool messageDirGiven = false;
  bool logEnabled = true;
  bool logGiven = false;
  std::string logPath;
  std::string conferenceConfigPath;
  std::string callerStatusPath;
  std::string lockPath;
  std::string testCopyMarkerPath;
  std::string outboundSeqPath;
};

// What the command line asks for once parsed and checked.
enum class CommandOutcome { kRun, kHelp, kVersion, kUsageError };

// The value after "/CONF": "#" or "#..#", each 1 to 999, leading zeros
// allowed, the second not below the first. False when malformed.
bool ParseConferenceSelector(std::string_view value, uint32_t* first, uint32_t* last);
// Parses the switches into `*options` (homeDir already set) and applies the
// combination checks. Usage errors are printed with their trailer.
CommandOutcome ParseCommandLine(ReportOutput& out, const std::vector<std::string>& arguments,
                                RunOptions* options);
// Derives every path, keeps a /TESTCOPY run inside its home and, when
// enabled, checks and opens the report log.
bool ResolvePaths(Os& os, ReportOutput& out, RunOptions* options);

}  // namespace twtrim
