// Every way one /WRITE can be cut short, each run judged by the outcome
// judge (support/judge.h): each call failing once or for good (reads and
// writes also coming up short); a fault after the first commit rename and a
// second one in the rollback; a crash before each call of the write and of a
// rollback. By default the sweeps stop at every 8th, 16th/32nd and 2nd call
// (and every call that creates, replaces or removes a name) on two fixed
// boards and one random one; TWTRIM_FULL_SWEEPS=1 stops at every call and adds
// eleven random boards. Each sweep fails when it judged no run.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/judge.h"

namespace twtrim::test {
namespace {

struct NamedBoard {
  std::string name;
  BoardImage image;
};
void PrintTo(const NamedBoard& board, std::ostream* out) { *out << board.name; }

std::vector<NamedBoard> Boards() {
  std::vector<NamedBoard> boards = {{"ReorderOnly", ImageOf({{1, ReorderOnlyConference()}})},
                                    {"Mixed", MixedBoard()}};
  for (uint32_t seed = 1; seed <= (FullSweeps() ? 12u : 1u); ++seed)
    boards.push_back({"Random" + std::to_string(seed), RandomBoard(seed)});
  return boards;
}

std::string At(const std::vector<CallRecord>& log, uint64_t k) {
  return "call " + std::to_string(k) + " " + OsCallName(log[k - 1].kind) + " " + log[k - 1].path;
}

// The first (or last) commit rename, a staged file onto its live name.
uint64_t CommitRename(const std::vector<CallRecord>& log, bool last) {
  uint64_t found = 0;
  for (const CallRecord& call : log) {
    if (call.kind != OsCall::kReplaceRename || call.path.find(".NEW") == std::string::npos) continue;
    found = call.index;
    if (!last) break;
  }
  return found;
}

void FailAt(FaultOs& os, uint64_t n) { os.AddFault({{std::nullopt, "", n}}); }

class FaultSweep : public ::testing::TestWithParam<NamedBoard> {
 protected:
  void SetUp() override { ASSERT_EQ(judge_.problem(), "") << GetParam().name; }

  // Runs the write armed by `arm` and judges what it left; `crash`: it must die.
  void Run(const std::string& what, const std::function<void(FaultOs&)>& arm, bool crash,
           bool allowIncomplete = false) {
    MemoryOs os(judge_.board());
    const RunResult run = RunInProcess(os, judge_.home(), Write(), arm);
    std::vector<std::string> failures =
        crash ? judge_.AfterCrash(os) : judge_.AfterRun(run, os, allowIncomplete);
    if (crash && !run.crashed) failures.push_back("the run ended before the crash point");
    if (failures.empty() || reported_++ >= 5) return;
    std::string text;
    for (const std::string& failure : failures) text += "\n  " + failure;
    ADD_FAILURE() << GetParam().name << ": " << what << ", exit " << run.exitCode << text;
  }

  std::vector<std::string> Write() const { return {GetParam().image.selector, "/WRITE"}; }

  Judge judge_{GetParam().image};
  int reported_ = 0;
};

TEST_P(FaultSweep, EachCallFailingOnceOrForGood) {
  const std::vector<CallRecord>& log = judge_.baseline().log;
  for (bool persistent : {false, true}) {
    for (uint64_t k : SweepPoints(log, 1, 8)) {
      const OsCall kind = log[k - 1].kind;
      for (FaultEffect effect : {FaultEffect::kFail, FaultEffect::kShort}) {
        if (effect == FaultEffect::kShort && kind != OsCall::kRead && kind != OsCall::kWrite) continue;
        Run((persistent ? "failing for good from " : "failing once at ") + At(log, k),
            [&](FaultOs& os) { os.AddFault({{std::nullopt, "", k}, effect, persistent}); }, false,
            persistent);
      }
    }
  }
  judge_.Print(GetParam().name + " single and persistent faults");
}

TEST_P(FaultSweep, ASecondFaultDuringTheRollback) {
  const std::vector<CallRecord>& log = judge_.baseline().log;
  const uint64_t from = CommitRename(log, false);
  if (from == 0) GTEST_SKIP() << "the board has nothing to commit";
  for (uint64_t first : SweepPoints(log, from, 16)) {
    MemoryOs os(judge_.board());
    const RunResult once =
        RunInProcess(os, judge_.home(), Write(), [&](FaultOs& f) { FailAt(f, first); });
    for (uint64_t second : SweepPoints(once.log, first + 1, 32, false)) {
      Run("faults at " + At(log, first) + " and " + At(once.log, second),
          [&](FaultOs& f) { FailAt(f, first), FailAt(f, second); }, false, true);
    }
  }
  judge_.Print(GetParam().name + " double faults");
}

TEST_P(FaultSweep, ACrashAtEachCallOfTheWrite) {
  const std::vector<CallRecord>& log = judge_.baseline().log;
  for (uint64_t k : SweepPoints(log, 1, 2))
    Run("crash before " + At(log, k), [k](FaultOs& os) { CrashAtCall(os, k); }, true);
  judge_.Print(GetParam().name + " crashes");
}

// The last commit rename fails, so the run rolls every conference back; a
// crash anywhere in that rollback must be recoverable too.
TEST_P(FaultSweep, ACrashAtEachCallOfTheRollback) {
  const uint64_t last = CommitRename(judge_.baseline().log, true);
  if (last == 0) GTEST_SKIP() << "the board has nothing to commit";
  MemoryOs os(judge_.board());
  const RunResult failed =
      RunInProcess(os, judge_.home(), Write(), [last](FaultOs& f) { FailAt(f, last); });
  ASSERT_TRUE(HasLine(failed.lines, "ROLLBACK RESULT: originals restored and verified."));
  for (uint64_t k : SweepPoints(failed.log, last + 1, 2)) {
    Run("crash in the rollback before " + At(failed.log, k), [&](FaultOs& f) {
      FailAt(f, last);
      CrashAtCall(f, k);
    }, true);
  }
  judge_.Print(GetParam().name + " rollback crashes");
}

INSTANTIATE_TEST_SUITE_P(Boards, FaultSweep, ::testing::ValuesIn(Boards()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace twtrim::test
