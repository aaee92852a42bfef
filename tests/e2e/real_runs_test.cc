// The real program under stress, judged as the in-process sweeps are (support/judge.h).
// POSIX only (no outside kill to aim on Windows); TWTRIM_FULL_SWEEPS=1 runs ten times more.
#ifndef _WIN32

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "support/judge.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

// /WRITEs of the mixed board and a large conference (so random moments land
// in every phase) stopped by `signals` in turn at seeded random moments: a
// kill (as by a power cut or "End process") or an interrupt.
void StopAtRandomMoments(const std::vector<int>& signals, int count, uint32_t seed) {
  BoardImage image = MixedBoard();
  image.SetConference(5, ToBytes(board::RandomConference(5, 4000, 40, 3)));
  image.conferences.push_back(5);
  const std::vector<uint8_t> config = board::ConferenceConfigBytes(
      {"Conference 1", "Conference 2", "Conference 3", "Conference 4", "Conference 5"});
  image.files["TWMCONF.DAT"] = std::string(config.begin(), config.end());
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  TempDir scratch;
  const std::string home = scratch.Path("BBS");
  Judge judge(image, home);
  ASSERT_EQ(judge.problem(), "");
  const std::vector<std::string> write = {"/ALL", "/WRITE", "/HOME=" + home};
  std::chrono::steady_clock::duration span{};
  std::mt19937 random(seed);
  for (int signal : signals) ::signal(signal, SIG_DFL);  // a background job ignores SIGINT
  for (int i = -1; i < count; ++i) {                     // run -1 is whole and measures the span
    std::filesystem::remove_all(home);
    ASSERT_TRUE(LayOut(*real, home, image));
    Process child(TwtrimBinary(), write, "", "echo $$;");  // the shell becomes the program
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.ReadUntil("\n"));
    const int signal = signals[static_cast<size_t>(i + 1) % signals.size()];
    if (i >= 0) std::this_thread::sleep_for(span * (random() % 110) / 100);
    if (i >= 0) kill(std::stoi(child.output()), signal);
    const ProcessResult result = child.Wait();
    if (i < 0) span = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(result.exitCode == 0 || (i >= 0 && result.exitCode == -signal)) << result.exitCode;
    for (const std::string& failure : judge.AfterCrash(Snapshot(home))) {
      ADD_FAILURE() << "signal " << signal << ", run " << i << " (seed " << seed
                    << "): " << failure;
    }
  }
}

TEST(CrashKill, AtSeededRandomMoments) {
  StopAtRandomMoments({SIGKILL}, FullSweeps() ? 40 : 3, 20260307);
}

TEST(Interrupts, AtSeededRandomMoments) {
  StopAtRandomMoments({SIGINT, SIGTERM, SIGHUP}, FullSweeps() ? 45 : 3, 4242);
}

// Eight runs started together: one gets the lock and works, the others stop at it (exit 3),
// every report is whole. The winner's verbose report (over 100 KB, more than a pipe holds)
// blocks on its unread output while it holds the lock, so all others meet it.
TEST(Concurrency, OfEightRunsStartedTogetherExactlyOneProceeds) {
  board::ConferenceBuilder builder;
  builder.Add(board::Root(1, 1));
  for (int32_t n = 2; n < 1000; ++n) builder.Add(board::Deleted(board::Reply(n, 1, 1)));
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
    std::deque<Process> children;
    for (int i = 0; i < 8; ++i) {
      const bool write = i == 0 || (i > 1 && random() % 2 == 1);
      const std::vector<std::string> args = {"/ALL", write ? "/WRITE" : "/DRYRUN", "/V",
                                             "/HOME=" + home};
      children.emplace_back(TwtrimBinary(), args);
    }
    std::vector<Process*> winners;
    std::string everything;
    for (Process& child : children) {
      // The winner is left blocked on its output until every other run ended.
      if (child.ReadUntil("Shared VIZIZE.BSY lock: ACQUIRED")) {
        winners.push_back(&child);
      } else {
        EXPECT_EQ(child.Wait().exitCode, 3) << child.output();
        everything += child.output();
      }
    }
    ASSERT_EQ(winners.size(), 1u) << "runs that got the lock";
    const ProcessResult result = winners[0]->Wait();
    everything += result.stdoutBytes;
    RunResult won;
    won.exitCode = result.exitCode;
    won.lines = ReportLines(result.stdoutBytes);
    MemoryOs left = Snapshot(home);
    for (const std::string& failure : judge.AfterRun(won, left, false)) ADD_FAILURE() << failure;
    // Appends from different runs never overwrite one another.
    std::string log;
    ASSERT_TRUE(left.ReadFile(home + "/TWTRIM32_REPORT.TXT", &log));
    const Lines logged = ReportLines(log), printed = ReportLines(everything);
    EXPECT_TRUE(std::is_permutation(logged.begin(), logged.end(), printed.begin(), printed.end()));
  }
}

}  // namespace
}  // namespace twtrim::test

#endif  // _WIN32
