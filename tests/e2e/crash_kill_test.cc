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
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/judge.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

std::unique_ptr<Os> RealOs() {
  static char program[] = "twtrim_e2e_tests";
  static char* argv[] = {program, nullptr};
  return CreateSystemOs(1, argv);
}

// The mixed board with a large conference whose write takes long enough for
// random moments to land in every phase.
BoardImage LargeBoard() {
  BoardImage image = MixedBoard();
  const ConferenceBytes large = ToBytes(board::RandomConference(5, 4000, 40, 3));
  image.SetConference(5, large);
  image.conferences.push_back(5);
  std::vector<std::string> names;
  for (uint32_t n = 1; n <= 5; ++n) names.push_back("Conference " + std::to_string(n));
  const std::vector<uint8_t> config = board::ConferenceConfigBytes(names);
  image.files["TWMCONF.DAT"] = std::string(config.begin(), config.end());
  return image;
}

// Sets the signals the test sends back to their default while a child
// starts: the program keeps a signal ignored when it was started so.
class DefaultInterrupts {
 public:
  DefaultInterrupts() {
    for (size_t i = 0; i < std::size(kSignals); ++i) saved_[i] = ::signal(kSignals[i], SIG_DFL);
  }
  ~DefaultInterrupts() {
    for (size_t i = 0; i < std::size(kSignals); ++i) ::signal(kSignals[i], saved_[i]);
  }
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

 private:
  sighandler_t saved_[std::size(kSignals)];
};

// Stops `count` writes of the large board with `signals` (in turn) at
// seeded random moments within the length of a whole write.
void StopAtRandomMoments(const std::vector<int>& signals, int count, uint32_t seed) {
  const std::unique_ptr<Os> real = RealOs();
  TempDir scratch;
  const std::string home = scratch.Path("BBS");
  Judge judge(LargeBoard(), home);
  ASSERT_EQ(judge.problem(), "");
  const std::vector<std::string> write = {"/ALL", "/WRITE", "/HOME=" + home};
  const auto fresh = [&] {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return LayOut(*real, home, LargeBoard());
  };
  ASSERT_TRUE(fresh());
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(RunProcess(TwtrimBinary(), write, home).exitCode, 0);
  const auto span = std::chrono::steady_clock::now() - begin;
  std::mt19937 random(seed);
  for (int i = 0; i < count; ++i) {
    const int signal = signals[static_cast<size_t>(i) % signals.size()];
    const auto wait = span * (random() % 110) / 100;
    ASSERT_TRUE(fresh());
    ChildProcess child;
    {
      const DefaultInterrupts defaults;
      child = StartProcess(TwtrimBinary(), write, home);
    }
    ASSERT_TRUE(child.started);
    std::this_thread::sleep_for(wait);
    SendSignal(child, signal);
    const ProcessResult result = WaitProcess(child);
    EXPECT_TRUE(result.exitCode == -signal || result.exitCode == 0) << result.exitCode;
    const std::vector<std::string> failures = judge.AfterCrash(Snapshot(*real, home));
    for (const std::string& failure : failures) {
      ADD_FAILURE() << "signal " << signal << ", run " << i << " (seed " << seed << "): " << failure;
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
