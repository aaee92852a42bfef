// Eight runs of the real program, dry runs and writes, started together on
// one board, round after round: exactly one gets the lock and does its work,
// the others stop at the lock with exit code 3, the board is as the winner
// left it (judged like every run, support/judge.h) and every report is
// whole. The winner's verbose report runs to hundreds of kilobytes, so it
// blocks on its unread output while it holds the lock, and all the others
// certainly meet it. 5 rounds; TWTRIM_FULL_SWEEPS=1 makes 50.
#ifndef _WIN32

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/judge.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

Lines Sorted(const std::string& text) {
  Lines lines = ReportLines(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(Concurrency, OfEightRunsStartedTogetherExactlyOneProceeds) {
  board::ConferenceBuilder builder;
  builder.Add(board::Root(1, 1));
  for (int32_t n = 2; n < 3000; ++n) builder.Add(board::Deleted(board::Reply(n, 1, 1)));
  const BoardImage talkative = ImageOf({{1, builder.files()}});
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  TempDir scratch;
  const std::string home = scratch.Path("BBS");
  Judge judge(talkative, home);
  ASSERT_EQ(judge.problem(), "");
  std::mt19937 random(8088);
  for (int round = 0; round < (FullSweeps() ? 50 : 5); ++round) {
    SCOPED_TRACE("round " + std::to_string(round) + " (seed 8088)");
    std::filesystem::remove_all(home);
    ASSERT_TRUE(LayOut(*real, home, talkative));
    std::vector<ChildProcess> children;
    for (int i = 0; i < 8; ++i) {
      const bool write = i == 0 || (i > 1 && random() % 2 == 1);
      children.push_back(StartProcess(
          TwtrimBinary(), {"/ALL", write ? "/WRITE" : "/DRYRUN", "/V", "/HOME=" + home}));
      ASSERT_GT(children.back().pid, 0);
    }
    std::vector<ProcessResult> results(children.size());
    std::vector<size_t> winners;
    for (size_t i = 0; i < children.size(); ++i) {
      // The winner is left blocked on its output until every other run ended.
      if (ReadStdoutUntil(children[i], "Shared VIZIZE.BSY lock: ACQUIRED")) {
        winners.push_back(i);
      } else {
        results[i] = WaitProcess(children[i]);
        EXPECT_EQ(results[i].exitCode, 3) << results[i].stdoutBytes;
      }
    }
    ASSERT_EQ(winners.size(), 1u) << "runs that got the lock";
    const size_t winner = winners[0];
    results[winner] = WaitProcess(children[winner]);
    std::string everything;
    for (const ProcessResult& result : results) everything += result.stdoutBytes;
    SweepRun won{results[winner].exitCode, false, ReportLines(results[winner].stdoutBytes), {}};
    MemoryOs left = Snapshot(*real, home);
    for (const std::string& failure : judge.AfterRun(won, left, false)) ADD_FAILURE() << failure;
    // Appends from different runs never overwrite one another.
    std::string log;
    ASSERT_TRUE(left.ReadFile(home + "/TWTRIM32_REPORT.TXT", &log));
    EXPECT_EQ(Sorted(log), Sorted(everything));
  }
}

}  // namespace
}  // namespace twtrim::test

#endif  // _WIN32
