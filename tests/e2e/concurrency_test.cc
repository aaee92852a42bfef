// Runs that meet: eight runs of the real program released at the same
// moment on one board, where exactly one may get the shared lock; and
// interrupts (SIGINT, SIGTERM, SIGHUP) at random moments of a write, after
// which the lock must be gone and the board original, packed or recoverable.
// The interrupts are POSIX only: Windows has no signal a test could aim at
// another process's console the same way.
#include <algorithm>
#include <chrono>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crash/crash_board.h"
#include "crash/gated_start.h"

#ifndef _WIN32
#include <signal.h>

#include "crash/traced_run.h"
#endif

namespace twtrim::crash {
namespace {

constexpr char kAcquired[] = "Shared VIZIZE.BSY lock: ACQUIRED";
#ifdef _WIN32
constexpr bool kOwnLogs = true;
#else
constexpr bool kOwnLogs = false;
#endif

// A conference whose verbose report runs to hundreds of kilobytes: a run
// that nobody reads from blocks on its full output pipe while it holds the
// lock, so the others certainly meet the lock, however the system schedules
// them.
class TalkativeBoard {
 public:
  TalkativeBoard() {
    original_ = dir_.Path("original");
    packed_ = dir_.Path("packed");
    board::Board made;
    EXPECT_TRUE(board::CreateBoard(original_, {"Busy"}, &made));
    board::ConferenceBuilder builder;
    builder.Add(board::Root(1, 1));
    for (int32_t n = 2; n < 3000; ++n) builder.Add(board::Deleted(board::Reply(n, 1, 1)));
    EXPECT_TRUE(board::WriteConference(made.messageDir(), 1, builder.files()));
    CopyTree(original_, packed_);
    EXPECT_EQ(RunTwtrim(packed_, {"/ALL", "/WRITE", "/NOLOG"}).exitCode, 0);
  }
  std::string Conference(const std::string& home, const std::string& ext) const {
    return home + "/MESSAGE/" + ConferenceName(1, ext);
  }
  bool Is(const std::string& home, const std::string& which) const {
    for (const std::string& ext : Extensions()) {
      if (!SameFile(Conference(home, ext), Conference(which, ext))) return false;
    }
    return true;
  }
  const std::string& original() const { return original_; }
  const std::string& packed() const { return packed_; }

 private:
  TempDir dir_;
  std::string original_, packed_;
};

std::string Tail(const std::string& text) {
  return text.substr(text.size() - std::min<size_t>(2000, text.size()));
}

Lines SortedLines(const std::string& text) {
  Lines lines = test::ReportLines(text);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The runs of one round: whoever got the lock stays blocked on its output
// until every other run has ended, so all of them meet it.
struct Round {
  std::vector<ProcessResult> results;
  std::vector<size_t> winners;  // runs that got the lock
};

Round RunTogether(const std::vector<std::vector<std::string>>& commands, const std::string& home) {
  Round round;
  TogetherRuns runs(TwtrimBinary(), commands, home);
  round.results.resize(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_TRUE(runs.started(i));
    if (runs.ReadUntil(i, kAcquired)) {
      round.winners.push_back(i);
    } else {
      round.results[i] = runs.Finish(i);
    }
  }
  for (size_t i : round.winners) round.results[i] = runs.Finish(i);
  return round;
}

// Eight runs, dry and write, released together on one board, again and
// again: exactly one gets the lock and does its work; the others stop at
// the lock with exit code 3; nothing is lost and every report is whole. On
// POSIX all of them append to the one report file; on Windows a run cannot
// open a report file another run holds, so each gets its own /LOG=.
TEST(Concurrency, OfEightRunsStartedTogetherExactlyOneProceeds) {
  const TalkativeBoard talkative;
  const int rounds = FullSweeps() ? 50 : 5;
  const uint32_t seed = 8088;
  std::mt19937 random(seed);
  int dryWinners = 0, writeWinners = 0, passed = 0;
  TempDir scratch;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
    const int failuresBefore = FailureCount();
    const std::string home = scratch.Path("BBS");
    std::error_code error;
    fs::remove_all(home, error);
    CopyTree(talkative.original(), home);

    // Each run is a dry run or a write; both kinds in every round.
    std::vector<bool> writes(8);
    for (size_t i = 0; i < writes.size(); ++i) writes[i] = (random() & 1) != 0;
    writes[random() % 8] = true;
    writes[random() % 8] = false;
    std::vector<std::vector<std::string>> commands;
    for (size_t i = 0; i < writes.size(); ++i) {
      std::vector<std::string> switches = {"/ALL", writes[i] ? "/WRITE" : "/DRYRUN", "/V"};
      if (kOwnLogs) switches.push_back("/LOG=RUN" + std::to_string(i) + ".TXT");
      commands.push_back(WithHome(switches, home));
    }
    const Round r = RunTogether(commands, home);

    ASSERT_EQ(r.winners.size(), 1u) << "runs that got the lock";
    const size_t winner = r.winners[0];
    std::string everything;
    for (size_t i = 0; i < r.results.size(); ++i) {
      const ProcessResult& run = r.results[i];
      everything += run.stdoutBytes;
      if (kOwnLogs) {
        EXPECT_EQ(ReadFile(home + "/RUN" + std::to_string(i) + ".TXT"), run.stdoutBytes);
      }
      if (i == winner) {
        EXPECT_EQ(run.exitCode, writes[i] ? 0 : 1) << Tail(run.stdoutBytes);
        continue;
      }
      EXPECT_EQ(run.exitCode, 3) << run.stdoutBytes;
      EXPECT_TRUE(Contains(run.stdoutBytes, kAlreadyExists)) << run.stdoutBytes;
      EXPECT_TRUE(Contains(run.stdoutBytes, kFooterRule));
    }
    (writes[winner] ? writeWinners : dryWinners) += 1;

    // Nothing lost: the board is as the winner left it, nothing else.
    EXPECT_FALSE(IsFile(home + "/MESSAGE/" + kLockName));
    EXPECT_TRUE(talkative.Is(home, writes[winner] ? talkative.packed() : talkative.original()));
    EXPECT_EQ(Entries(home + "/MESSAGE"), Entries(talkative.original() + "/MESSAGE"));
    if (writes[winner]) {
      const std::vector<std::string> backups = Entries(home + "/" + kBackupRoot);
      ASSERT_EQ(backups.size(), 1u);
      const std::string backup = home + "/" + kBackupRoot + "/" + backups[0];
      for (const std::string& ext : Extensions()) {
        EXPECT_TRUE(SameFile(backup + "/" + ConferenceName(1, ext),
                             talkative.Conference(talkative.original(), ext)));
      }
    }
    if (!kOwnLogs) {
      // The shared report file holds every line of all eight reports, each
      // whole: appends from different runs never overwrite one another.
      const std::optional<std::string> log = ReadFile(home + "/" + kReportName);
      ASSERT_TRUE(log.has_value());
      EXPECT_EQ(SortedLines(*log), SortedLines(everything));
    }
    if (FailureCount() == failuresBefore) ++passed;
  }
  std::printf(
      "[concurrency] rounds=%d of 8 runs; passed=%d; winner was a dry run %d times, a write %d "
      "times\n",
      rounds, passed, dryWinners, writeWinners);
  EXPECT_EQ(passed, rounds);
}

#ifndef _WIN32
const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// The program keeps a signal ignored when it was started so (nohup, a
// background job of a script): while a test starts its runs, the signals it
// sends are set back to their default, whatever the test was started with.
class DefaultInterrupts {
 public:
  DefaultInterrupts() {
    for (size_t i = 0; i < std::size(kInterrupts); ++i) {
      saved_[i] = ::signal(kInterrupts[i], SIG_DFL);
    }
  }
  ~DefaultInterrupts() {
    for (size_t i = 0; i < std::size(kInterrupts); ++i) ::signal(kInterrupts[i], saved_[i]);
  }

 private:
  sighandler_t saved_[std::size(kInterrupts)];
};

const char* SignalName(int signal) {
  return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
}

// An interrupt at a random moment of a write on the large board.
TEST(Interrupts, AtRandomMomentsOfAWrite) {
  const Reference& ref = LargeReference();
  TempDir scratch;
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(RunTwtrim(ref.FreshCopy(scratch), WriteSwitches()).exitCode, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - begin);

  const uint32_t seed = 4242;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> delay(0, span.count() * 11 / 10);
  const int count = FullSweeps() ? 45 : 3;
  Tally tally;
  for (int i = 0; i < count; ++i) {
    const int signal = kInterrupts[i % 3];
    const auto wait = std::chrono::microseconds(delay(random));
    SCOPED_TRACE(std::string(SignalName(signal)) + " after " + std::to_string(wait.count()) +
                 " us (seed " + std::to_string(seed) + ", run " + std::to_string(i) + ")");
    const std::string home = ref.FreshCopy(scratch);
    ChildProcess child;
    {
      const DefaultInterrupts defaults;
      child = StartProcess(TwtrimBinary(), WithHome(WriteSwitches(), home), home);
    }
    ASSERT_TRUE(child.started);
    std::this_thread::sleep_for(wait);
    SendSignal(child, signal);
    const ProcessResult run = WaitProcess(child);
    EXPECT_TRUE(run.exitCode == -signal || run.exitCode == 0) << run.exitCode;
    // A signal can still land between the report's footer (written after the
    // lock's release) and the exit; the run then dies of it with its work done.
    const bool reported = Contains(run.stdoutBytes, kFooterRule);
    tally.Count(run.exitCode == 0     ? "finished before the signal"
                : reported ? "ended by the signal after its report"
                           : "ended by the signal");
    const Observed seen = CheckStoppedRun(ref, home, false, &tally);
    if (reported) {
      EXPECT_TRUE(seen.allPacked()) << "a complete report over an unpacked board";
    }
  }
  tally.Print("interrupt at random moment");
  EXPECT_EQ(tally.passed, tally.runs);
}

#if defined(__linux__)
// An interrupt that arrives right after one of the write's file-system
// changes: after every one of them (full counts), or a seeded sample.
TEST(Interrupts, RightAfterFileSystemChanges) {
  const Reference& ref = SmallReference();
  TempDir scratch;
  std::string home = ref.FreshCopy(scratch);
  const TracedResult full =
      RunTraced(TwtrimBinary(), WithHome(WriteSwitches(), home), home, home, 0, SIGINT);
  if (!full.started) GTEST_SKIP() << "this system does not let the test trace a process";
  ASSERT_EQ(full.exitCode, 0) << full.stdoutBytes;
  const uint64_t changes = full.events.size();

  std::vector<uint64_t> points;
  if (FullSweeps()) {
    for (uint64_t k = 1; k <= changes; ++k) points.push_back(k);
  } else {
    const uint32_t seed = 1515;
    std::mt19937 random(seed);
    // The lock's creation and the start of its release are always among
    // them: the narrowest windows.
    for (uint64_t k = 1; k <= changes; ++k) {
      const std::string& event = full.events[k - 1];
      if (EndsWith(event, std::string("/") + kLockName) &&
          (event.rfind("open ", 0) == 0 || event.rfind("close ", 0) == 0)) {
        points.push_back(k);
      }
    }
    while (points.size() < 6) points.push_back(1 + random() % changes);
  }
  Tally tally;
  for (size_t i = 0; i < points.size(); ++i) {
    const uint64_t k = points[i];
    const int signal = kInterrupts[i % 3];
    SCOPED_TRACE(std::string(SignalName(signal)) + " right after change " + std::to_string(k) +
                 " of " + std::to_string(changes) + ": " + full.events[k - 1]);
    home = ref.FreshCopy(scratch);
    const DefaultInterrupts defaults;
    const TracedResult run =
        RunTraced(TwtrimBinary(), WithHome(WriteSwitches(), home), home, home, k, signal);
    ASSERT_TRUE(run.reached);
    EXPECT_EQ(run.exitCode, -signal);
    CheckStoppedRun(ref, home, false, &tally);
  }
  std::printf("[interrupt after file-system change] changes in one write=%llu, points=%zu\n",
              static_cast<unsigned long long>(changes), points.size());
  tally.Print("interrupt after file-system change");
  EXPECT_EQ(tally.passed, tally.runs);
}
#endif  // __linux__
#endif  // _WIN32

}  // namespace
}  // namespace twtrim::crash
