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

constexpr char kAcquired[] = "Shared VIZIZE.BSY lock: ACQUIRED";

BoardImage TalkativeBoard() {
  board::ConferenceBuilder builder;
  builder.Add(board::Root(1, 1));
  for (int32_t n = 2; n < 3000; ++n) builder.Add(board::Deleted(board::Reply(n, 1, 1)));
  return ImageOf({{1, builder.files()}});
}

Lines Sorted(const std::string& text) {
  Lines lines = ReportLines(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(Concurrency, OfEightRunsStartedTogetherExactlyOneProceeds) {
  static char program[] = "twtrim_e2e_tests";
  static char* argv[] = {program, nullptr};
  const std::unique_ptr<Os> real = CreateSystemOs(1, argv);
  TempDir scratch;
  const std::string home = scratch.Path("BBS");
  Judge judge(TalkativeBoard(), home);
  ASSERT_EQ(judge.problem(), "");
  std::mt19937 random(8088);
  const int rounds = FullSweeps() ? 50 : 5;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round) + " (seed 8088)");
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    ASSERT_TRUE(LayOut(*real, home, TalkativeBoard()));
    std::vector<ChildProcess> children;
    for (int i = 0; i < 8; ++i) {
      const char* mode = i == 0 ? "/WRITE" : i == 1 ? "/DRYRUN" : random() % 2 ? "/WRITE" : "/DRYRUN";
      children.push_back(StartProcess(TwtrimBinary(), {"/ALL", mode, "/V", "/HOME=" + home}, home));
      ASSERT_TRUE(children.back().started);
    }
    std::vector<size_t> winners;
    std::vector<ProcessResult> results(children.size());
    for (size_t i = 0; i < children.size(); ++i) {
      if (ReadStdoutUntil(children[i], kAcquired)) {
        winners.push_back(i);
      } else {
        results[i] = WaitProcess(children[i]);
        EXPECT_EQ(results[i].exitCode, 3) << results[i].stdoutBytes;
      }
    }
    ASSERT_EQ(winners.size(), 1u) << "runs that got the lock";
    results[winners[0]] = WaitProcess(children[winners[0]]);
    std::string everything;
    for (const ProcessResult& result : results) everything += result.stdoutBytes;
    SweepRun won;
    won.exitCode = results[winners[0]].exitCode;
    won.lines = ReportLines(results[winners[0]].stdoutBytes);
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
