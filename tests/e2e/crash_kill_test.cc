// The real program stopped at random moments of a /WRITE: killed outright
// (SIGKILL, as by a power cut or "End process") or interrupted (SIGINT,
// SIGTERM, SIGHUP). What it leaves is judged by the same outcome judge as
// the in-process crash sweep (support/judge.h). Where a kill lands is up to
// chance; every landing must pass. 3 kills and 3 interrupts by default,
// TWTRIM_FULL_SWEEPS=1 makes 40 and 45. POSIX only: Windows has no outside
// kill the tests could aim this way.
#ifndef _WIN32

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/judge.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

// Stops `count` writes of the mixed board with a large conference added (so
// that random moments land in every phase) with `signals` in turn, at seeded
// random moments within the length of a whole write.
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
  const auto fresh = [&] {
    std::filesystem::remove_all(home);
    return LayOut(*real, home, image);
  };
  ASSERT_TRUE(fresh());
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(RunProcess(TwtrimBinary(), write).exitCode, 0);
  const auto span = std::chrono::steady_clock::now() - begin;
  std::mt19937 random(seed);
  for (int i = 0; i < count; ++i) {
    const int signal = signals[static_cast<size_t>(i) % signals.size()];
    const auto wait = span * (random() % 110) / 100;
    ASSERT_TRUE(fresh());
    ChildProcess child = StartProcess(TwtrimBinary(), write);
    ASSERT_GT(child.pid, 0);
    std::this_thread::sleep_for(wait);
    kill(child.pid, signal);
    const ProcessResult result = WaitProcess(child);
    EXPECT_TRUE(result.exitCode == -signal || result.exitCode == 0) << result.exitCode;
    for (const std::string& failure : judge.AfterCrash(Snapshot(*real, home))) {
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

}  // namespace
}  // namespace twtrim::test

#endif  // _WIN32
