// Everything one run owns from the accepted command line to the footer, and
// the small pieces of report text that several phases share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "msgbase/conference_list.h"
#include "platform/os.h"
#include "report/report_output.h"
#include "safety/integrity.h"
#include "scan/run_totals.h"
#include "write/conference_plan.h"

namespace twtrim {

struct RunState {
  RunState(Os& system, ReportOutput& output) : os(system), out(output) {}

  Os& os;
  ReportOutput& out;
  std::vector<std::string> arguments;  // as typed, entry 0 the program name
  RunOptions options;
  ConferenceList list;
  uint32_t lo = 0, hi = 0;            // the selection; plans[i] is conference lo + i
  std::vector<ConferencePlan> plans;  // empty until the selection is allocated
  std::vector<uint8_t> builtThisRun;  // one flag per plan: its staged files are ours
  RunTotals totals;
  uint32_t backupFolderCount = 0;
  uint32_t conferencesToWrite = 0;
  IntegrityList integrity;
  std::string backupDir;  // set only once this run created its backup directory
  int exitCode = 0;
  bool safetyPassed = false;
  bool lockOwned = false;

  // Validation errors of the whole run: the conference list's load failures
  // plus everything the scans and plan builds counted.
  uint32_t validationErrors() const { return list.errors + totals.validationErrors; }
};

// Report rules of 60 characters; the titled ones carry their own padding.
inline constexpr std::string_view kEqualsRule =
    "============================================================";
inline constexpr std::string_view kDashRule =
    "------------------------------------------------------------";
inline constexpr std::string_view kSafetyAbortRule =
    "===================== SAFETY ABORT =========================";

// "CONF" + n, as the write phases name a conference.
std::string ConfName(uint32_t conference);

}  // namespace twtrim
