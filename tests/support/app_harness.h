// Whole runs of the program inside the test process, a crash at any call
// included, and a board for them in a scratch directory with a FaultOs over
// the real OS: a fixed clock, an idle process list, and the captured report.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_builder.h"
#include "platform/os.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim::test {

// The clock every in-process run sees, and what the report makes of it.
inline constexpr LocalTime kRunTime{2026, 3, 7, 9, 5, 4};
inline constexpr char kRunTimeText[] = "2026-03-07 09:05:04";
inline constexpr char kBackupName[] = "TWTRIM32-20260307-090504";

// What a run of the program gave; the calls only for one in process.
struct RunResult {
  int exitCode = -1;
  bool crashed = false;  // it threw SimulatedCrash
  Lines lines;           // standard output split at CR LF
  bool allCrLf = false;
  std::vector<CallRecord> log;
};

// Thrown by a crash hook; nothing in the program catches it.
struct SimulatedCrash {};
// Call `n` throws SimulatedCrash and every later call fails: the process
// died just before call n.
void CrashAtCall(FaultOs& os, uint64_t n);

// One whole run with `switches` (program name and /HOME= added) through
// `os`, which holds the clock and the process list the run sees.
RunResult RunWith(FaultOs& os, const std::string& home, const std::vector<std::string>& switches);
// The same through a new FaultOs over `os`, idle and at kRunTime, that `arm`
// may set up.
RunResult RunInProcess(Os& os, const std::string& home, const std::vector<std::string>& switches,
                       const std::function<void(FaultOs&)>& arm = {});

class AppHarness {
 public:
  // A board with TWMCONF.DAT naming `names` (none: no TWMCONF.DAT), an idle
  // caller table and an empty MESSAGE directory.
  explicit AppHarness(const std::vector<std::string>& names = {"General"});
  ~AppHarness();

  FaultOs& os() { return *os_; }
  Os& real() { return *real_; }

  // Test-side paths, '/' separated, for reading and writing board files.
  const std::string& home() const { return home_; }
  std::string HomePath(std::string_view relative) const {
    return home_ + "/" + std::string(relative);
  }
  std::string MessagePath(std::string_view name) const {
    return HomePath("MESSAGE/" + std::string(name));
  }

  // Paths as the program prints them (joined with the platform separator).
  std::string ShownHome(std::string_view name) const { return JoinExpected(home_, name); }
  std::string ShownMessageDir() const { return JoinExpected(home_, "MESSAGE"); }
  std::string ShownMessage(std::string_view name) const {
    return JoinExpected(ShownMessageDir(), name);
  }
  std::string ShownBackupDir() const {
    return JoinExpected(ShownHome("TWTRIM32-BACKUPS"), kBackupName);
  }

  bool AddConference(uint32_t conference, const board::ConferenceFiles& files);
  // The caller table with these slots active.
  bool SetCallers(const std::vector<std::pair<uint32_t, board::CallerSlot>>& active);

  RunResult Run(const std::vector<std::string>& switches) { return RunWith(*os_, home_, switches); }

  // The whole file, or "" when it cannot be read.
  std::string ReadFile(const std::string& path) const;
  bool Exists(const std::string& path) const;

 private:
  TempDir dir_;
  std::string home_;
  std::unique_ptr<Os> real_;
  std::unique_ptr<FaultOs> os_;
};

// Byte images of a conference's three live files.
struct ConferenceBytes {
  std::string ptr, idx, dat;
  friend bool operator==(const ConferenceBytes&, const ConferenceBytes&) = default;
};
ConferenceBytes ReadConference(const AppHarness& harness, uint32_t conference);
ConferenceBytes ToBytes(const board::ConferenceFiles& files);

// A conference of these messages, then `unreferencedBlocks` DAT blocks no
// record points at.
board::ConferenceFiles MakeConference(const std::vector<board::MessageShape>& shapes,
                                      uint32_t unreferencedBlocks = 0);
// The MessageShape with an explicit Where.
board::MessageShape ShapeAt(board::MessageShape shape, uint16_t where);

// Runs `action` before the nth safety checkpoint of a run (the nth time the
// caller table is opened).
void BeforeCheckpoint(AppHarness& harness, uint64_t nth, std::function<void()> action);
// Flips the lowest bit of byte `offset` of the file.
void FlipByte(const std::string& path, size_t offset);

}  // namespace twtrim::test
