// The one outcome judge of the fault sweeps, the crash sweeps and the kill
// tests of the real program, and where the sweeps stop. The judge looks at
// messages, not files:
//
//  1. nothing lost: every live original message is whole in the live
//     conference (see MissingMessages), or a backup holds that conference's
//     three original files, and its LMR and SIG files, byte for byte;
//  2. after a run died, a dry run (its lock gone) calls a conference neither
//     original nor packed an ERROR (or BLOCKED), never NO CHANGES or WOULD PACK;
//  3. a later /WRITE by an operator who only deleted the lock and the staged
//     files never changes a conference that is neither original nor packed;
//  4. each "interrupted commit" line of a dry run names the state the live
//     files are in, and the documented recovery (lock gone; each such line:
//     ORIGINAL and PACKED delete the intent record, MIXED and UNKNOWN
//     first copy PTR, IDX and DAT back from the named backup; then the
//     staged, rollback and partial files go) leaves every conference original
//     or packed, a dry run that says so, and a /WRITE that packs the board;
//  and for a run that ended by itself: exit code, footer and report agree;
//  live files are original, or packed after SUCCESS with the originals backed
//  up, or backed up after a rollback INCOMPLETE; no work file is left unless
//  a failed delete or close explains it; every backup copy is an original.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/boards.h"
#include "support/fault_os.h"
#include "support/memory_os.h"
#include "support/report_lines.h"

namespace twtrim::test {

// TWTRIM_FULL_SWEEPS set (not "" or "0"): the long proofs (sweeps, kills,
// concurrent rounds) run their full counts, not the test command's reduced ones.
inline bool FullSweeps() {
  const char* value = std::getenv("TWTRIM_FULL_SWEEPS");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

// The calls of `log` from `from` on a sweep stops at: all of them with
// TWTRIM_FULL_SWEEPS, otherwise every `stride`th plus (`everyNameChange`)
// every call that creates, replaces or removes a name.
std::vector<uint64_t> SweepPoints(const std::vector<CallRecord>& log, uint64_t from,
                                  uint64_t stride, bool everyNameChange = true);

// Every file and directory under the real `home`, copied into a MemoryOs at
// the same path (a real board after a killed run, judged like the others).
MemoryOs Snapshot(const std::string& home);

class Judge {
 public:
  Judge(BoardImage image, std::string home = "/BBS");

  // Empty when the fault-free write packed as the model says.
  const std::string& problem() const { return problem_; }
  const MemoryOs& board() const { return board_; }
  const RunResult& baseline() const { return baseline_; }
  const std::string& home() const { return home_; }

  // Rules 1-4 on what a run that died left.
  std::vector<std::string> AfterCrash(const MemoryOs& left);
  // Rule 1 and the finished-run rules.
  std::vector<std::string> AfterRun(const RunResult& run, MemoryOs& after, bool allowIncomplete);

  // Runs judged and how many kept each rule; Print shows and checks them.
  void Print(const std::string& name) const;

 private:
  enum class State { kOriginal, kPacked, kOther };
  State StateOf(uint32_t conference, const ConferenceBytes& live) const;
  std::string Path(const std::string& relative) const { return home_ + "/" + relative; }
  ConferenceBytes Live(const MemoryOs& os, uint32_t conference) const;
  bool BackupHolds(const MemoryOs& os, uint32_t conference) const;
  std::string NothingLost(MemoryOs& os) const;
  std::string DryRunTruth(MemoryOs& os);
  std::string NoWriteOnMixed(MemoryOs& os);
  std::string Recovery(MemoryOs& os);
  std::string Finished(const RunResult& run, MemoryOs& after, bool allowIncomplete) const;
  void DeleteWorkFiles(MemoryOs& os, bool journalsToo) const;
  std::string StateKey(const MemoryOs& left) const;
  void Tally(const std::string& rule, const std::string& failure, std::vector<std::string>* out);

  BoardImage image_;
  std::string home_;
  MemoryOs board_;
  std::map<uint32_t, ConferenceBytes> packed_;
  std::map<uint32_t, std::string> pristine_;  // each conference's dry-run RESULT line
  RunResult baseline_;
  std::string problem_;
  std::map<std::string, std::pair<uint64_t, uint64_t>> figures_;  // rule -> kept, judged
  // The rules' findings per state already judged (see StateKey).
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> verdicts_;
};

}  // namespace twtrim::test
