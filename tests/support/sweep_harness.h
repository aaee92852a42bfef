// The machinery of the fault sweeps: a board kept as file images and laid
// out afresh for every run, whole runs of the program in process on a
// FaultOs (with faults, or stopped dead at one call as by a crash), a look at
// what the run left on disk, the invariants every write run must keep, and
// the figures of a sweep.
//
// Counts: the sweeps run reduced counts by default (see SweepPoints), so the
// suite stays within a few minutes under the sanitizers and under Wine.
// TWTRIM_FULL_SWEEPS=1 in the environment runs every injection point, every
// double fault, every crash point and 500 property boards.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"
#include "support/app_harness.h"
#include "support/fault_os.h"
#include "support/full_sweeps.h"
#include "support/report_lines.h"
#include "support/sweep_model.h"

namespace twtrim::test {


// The calls from..to (1-based, inclusive) of `log` a sweep injects at: all
// of them with TWTRIM_FULL_SWEEPS; otherwise every `native`th (POSIX) or
// `windows`th (the Windows build, whose suite runs under Wine at a fraction
// of the speed) plus every call that creates, replaces or removes a name, so
// that no rename, delete or directory call is ever skipped.
std::vector<uint64_t> SweepPoints(const std::vector<CallRecord>& log, uint64_t from, uint64_t to,
                                  uint64_t native, uint64_t windows);

// A board as file images: home-relative paths with '/', and its conferences.
struct BoardImage {
  std::map<std::string, std::string> files;
  std::vector<uint32_t> conferences;

  // "MESSAGE/TWMSG01.PTR" and so on.
  static std::string ConferenceFile(uint32_t conference, const char* extension);
  ConferenceBytes Conference(uint32_t conference) const;
  // The original of a file by its base name ("TWMSG01.PTR", "TWMCONF.DAT"),
  // or nullptr: what a backup copy of that name must hold.
  const std::string* OriginalByBaseName(const std::string& name) const;
};

// The three conferences the sweeps write: 1 has deletions to pack and LMR
// and SIG companions, 2 only repairs, 3 is clean and never written; with
// TWMCONF.DAT, an idle caller table and TWOUTBOUND.SEQ.
BoardImage SweepBoard();
// A board of random conferences (see the property test).
BoardImage ImageOf(const std::vector<std::pair<uint32_t, board::ConferenceFiles>>& conferences);

// The expected outcome of a write of each conference of a board.
struct BoardExpectation {
  std::map<uint32_t, ExpectedPack> packs;
  bool Written(uint32_t conference) const;
};
BoardExpectation Expect(const BoardImage& image);

// A fresh copy of a board in its own scratch directory, removed afterwards.
class ScratchBoard {
 public:
  explicit ScratchBoard(const BoardImage& image);
  ~ScratchBoard();
  ScratchBoard(const ScratchBoard&) = delete;
  ScratchBoard& operator=(const ScratchBoard&) = delete;

  bool ok() const { return ok_; }
  const std::string& home() const { return home_; }
  std::string Path(const std::string& relative) const { return home_ + "/" + relative; }

 private:
  std::string root_, home_;
  bool ok_ = false;
};

// Thrown by a crash hook; nothing in the program catches it.
struct SimulatedCrash {};

struct SweepRun {
  int exitCode = -1;
  bool crashed = false;
  std::string output;
  Lines lines;
  std::vector<CallRecord> log;
};

// One whole run of the program on `home` with `switches` (program name and
// /HOME= added), through a FaultOs over `real` that `setup` may arm.
SweepRun RunInProcess(Os& real, const std::string& home, const std::vector<std::string>& switches,
                      const std::function<void(FaultOs&)>& setup = {});

// Arms `os` so that call `n` and everything after it never reach the disk,
// as if the process had died just before call n: the call throws
// SimulatedCrash and every later call fails.
void CrashAtCall(FaultOs& os, uint64_t n);

// What a run left on disk.
struct DiskState {
  enum class Form { kOriginal, kPacked, kMixed, kTorn };
  struct Conference {
    ConferenceBytes live;
    Form form = Form::kOriginal;
    std::string detail;  // per file: O original, P packed, ? neither
  };
  std::map<uint32_t, Conference> conferences;
  std::vector<std::string> leftovers;  // staged, rollback, partial and lock files
  // Every file under TWTRIM32-BACKUPS: "<directory>/<name>" -> bytes.
  std::map<std::string, std::string> backups;
};
DiskState Observe(Os& real, const ScratchBoard& board, const BoardImage& image,
                  const BoardExpectation& expected);
const char* FormName(DiskState::Form form);

// The invariants of a write run under faults.
enum Invariant {
  kExitInRange,     // 0-4, and the footer agrees
  kLiveFiles,       // original, or packed only when the report says so
  kReportOutcome,   // the report names what happened
  kNoLeftovers,     // no staged, rollback, partial or lock file left
  kBackupVerified,  // every backup copy equals the original it names
  kInvariantCount,
};
const char* InvariantName(Invariant invariant);

struct CheckOptions {
  // A rollback that could not finish may leave conferences neither original
  // nor packed, when the report says "ROLLBACK RESULT: INCOMPLETE" and
  // the backup holds their verified originals. Off for single faults.
  bool allowIncomplete = false;
};

struct RunVerdict {
  std::array<std::string, kInvariantCount> failures;  // empty: held
  bool ok() const;
  std::string Describe() const;
};
RunVerdict CheckWriteRun(const BoardImage& image, const BoardExpectation& expected,
                         const SweepRun& run, const DiskState& disk, CheckOptions options);

// True when the report carries a line equal to `text`, or starting with it.
bool HasLine(const Lines& lines, std::string_view text);
bool HasLineStarting(const Lines& lines, std::string_view prefix);

// The figures of one sweep.
class SweepTally {
 public:
  explicit SweepTally(std::string name) : name_(std::move(name)) {}
  void Count(const RunVerdict& verdict, const SweepRun& run);
  uint64_t runs() const { return runs_; }
  uint64_t passed(Invariant invariant) const { return passed_[invariant]; }
  bool AllPassed() const;
  // "<name>: N calls, R runs; <invariant> R/R, ...; exits ..." on stdout
  // and as test properties.
  void Report(uint64_t calls, const std::string& extra = "") const;

 private:
  std::string name_;
  uint64_t runs_ = 0;
  std::array<uint64_t, kInvariantCount> passed_{};
  std::array<uint64_t, 5> exits_{};  // runs ending with exit code 0..4
  uint64_t incomplete_ = 0;          // rollbacks reported INCOMPLETE
};

// The last lines of a report and the call log near call `n`, for a failure
// message.
std::string Context(const SweepRun& run, uint64_t n);
std::string CallText(const CallRecord& call);

}  // namespace twtrim::test
