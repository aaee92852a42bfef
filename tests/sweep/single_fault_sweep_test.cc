// One /WRITE of a three-conference board, run again with each of its OS
// calls failing the way the system fails it: once, and then from that call
// on (a full disk, a dead drive). Whatever fails, no message may be lost,
// the report must say what happened, and nothing may be left behind.
//
// The native default run injects at every call (the board is small); the
// Windows build, run under Wine, at every 7th call and every call that
// creates, renames or deletes a name. The figures are printed as "[ FIGURES  ]" lines. See
// sweep_harness.h for TWTRIM_FULL_SWEEPS.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/sweep_harness.h"

namespace twtrim::test {
namespace {

const std::vector<std::string> kWrite = {"/ALL", "/WRITE"};
constexpr int kMaxReportedFailures = 10;

std::unique_ptr<Os> SystemOs() {
  static char program[] = "twtrim_tests";
  static char* argv[] = {program, nullptr};
  return CreateSystemOs(1, argv);
}

// The ways call `kind` can fail: every call can fail outright; a read or a
// write can also move fewer bytes than asked.
std::vector<FaultEffect> EffectsFor(OsCall kind) {
  if (kind == OsCall::kRead || kind == OsCall::kWrite) {
    return {FaultEffect::kFail, FaultEffect::kShort};
  }
  return {FaultEffect::kFail};
}

const char* EffectName(FaultEffect effect) {
  return effect == FaultEffect::kShort ? "short" : "fail";
}

class SingleFaultSweep : public ::testing::Test {
 protected:
  // The fault-free run: its call log is the list of injection points.
  SweepRun Baseline() {
    ScratchBoard board(image_);
    EXPECT_TRUE(board.ok());
    return RunInProcess(*real_, board.home(), kWrite);
  }

  void Sweep(const std::string& name, bool persistent) {
    const SweepRun baseline = Baseline();
    ASSERT_EQ(baseline.exitCode, 0) << Context(baseline, 0);
    SweepTally tally(name);
    int reported = 0;
    for (uint64_t k : SweepPoints(baseline.log, 1, baseline.log.size(), 1, 7)) {
      const CallRecord& call = baseline.log[k - 1];
      for (FaultEffect effect : EffectsFor(call.kind)) {
        ScratchBoard board(image_);
        ASSERT_TRUE(board.ok());
        const SweepRun run = RunInProcess(*real_, board.home(), kWrite, [&](FaultOs& os) {
          os.AddFault({{std::nullopt, "", call.index}, effect, persistent});
        });
        const DiskState disk = Observe(*real_, board, image_, expected_);
        // A fault that keeps failing may leave a rollback unable to finish:
        // then the report must send the operator to the verified backup.
        const RunVerdict verdict =
            CheckWriteRun(image_, expected_, run, disk, {/*allowIncomplete=*/persistent});
        tally.Count(verdict, run);
        if (!verdict.ok() && reported++ < kMaxReportedFailures) {
          ADD_FAILURE() << name << ": " << EffectName(effect) << " at " << CallText(call)
                        << ", exit " << run.exitCode << "\n"
                        << verdict.Describe() << Context(run, call.index);
        }
      }
    }
    tally.Report(baseline.log.size());
    EXPECT_TRUE(tally.AllPassed());
  }

  std::unique_ptr<Os> real_ = SystemOs();
  BoardImage image_ = SweepBoard();
  BoardExpectation expected_ = Expect(image_);
};

// The sweep's yardstick: the fault-free write leaves exactly what an
// independent pack of each conference gives, and touches every kind of
// call the sweep means to fail.
TEST_F(SingleFaultSweep, FaultFreeWriteGivesTheIndependentPack) {
  ASSERT_TRUE(expected_.Written(1));
  ASSERT_TRUE(expected_.Written(2));
  ASSERT_EQ(expected_.packs.at(3).verdict, PackVerdict::kUntouched);
  ASSERT_GT(expected_.packs.at(1).purged, 0u);
  ASSERT_EQ(expected_.packs.at(2).purged, 0u);

  ScratchBoard board(image_);
  ASSERT_TRUE(board.ok());
  const SweepRun run = RunInProcess(*real_, board.home(), kWrite);
  const DiskState disk = Observe(*real_, board, image_, expected_);
  EXPECT_EQ(run.exitCode, 0) << Context(run, 0);
  EXPECT_TRUE(HasLine(run.lines, "WRITE RESULT: SUCCESS - changes committed and verified."));
  EXPECT_EQ(disk.conferences.at(1).live, expected_.packs.at(1).packed);
  EXPECT_EQ(disk.conferences.at(2).live, expected_.packs.at(2).packed);
  EXPECT_EQ(disk.conferences.at(3).live, image_.Conference(3));
  for (uint32_t conference : {1u, 2u}) {
    EXPECT_EQ(CompareMessages(image_.Conference(conference), disk.conferences.at(conference).live),
              "");
  }
  const RunVerdict verdict = CheckWriteRun(image_, expected_, run, disk, {});
  EXPECT_TRUE(verdict.ok()) << verdict.Describe();

  std::vector<bool> seen(kOsCallKinds, false);
  for (const CallRecord& call : run.log) seen[static_cast<int>(call.kind)] = true;
  for (OsCall kind :
       {OsCall::kOpenSharedRead, OsCall::kCreateNew, OsCall::kCreateNew,
        OsCall::kOpenForAppend, OsCall::kDeleteFile, OsCall::kGetPathKind, OsCall::kReplaceRename,
        OsCall::kCreateDirectory, OsCall::kListDirectory, OsCall::kCurrentDirectory,
        OsCall::kListProcessNames, OsCall::kRead, OsCall::kWrite, OsCall::kSeek, OsCall::kSize,
        OsCall::kFlush, OsCall::kClose}) {
    EXPECT_TRUE(seen[static_cast<int>(kind)]) << OsCallName(kind) << " never called";
  }
}

TEST_F(SingleFaultSweep, EveryCallFailingOnce) { Sweep("single-fault", /*persistent=*/false); }

TEST_F(SingleFaultSweep, EveryCallFailingFromThenOn) {
  Sweep("persistent-fault", /*persistent=*/true);
}

}  // namespace
}  // namespace twtrim::test
