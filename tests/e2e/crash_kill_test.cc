// The real program killed outright (SIGKILL, as by a power cut or "End
// process") in the middle of a /WRITE, at many points: after chosen report
// lines, when the file system shows a phase has begun, at seeded random
// moments, and (Linux) at the entry of every single file-system change it
// makes. After each kill no original byte may be lost, a dry run must tell
// the truth, and the recovery procedure of the README must lead back to a
// consistent board that a final write packs. POSIX only: Windows has no
// outside kill that the tests could aim this way.
#ifndef _WIN32

#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crash/crash_board.h"
#include "crash/traced_run.h"

namespace twtrim::crash {
namespace {

// Whether the child has ended, without reaping it.
bool Ended(const ChildProcess& child) {
  siginfo_t info;
  info.si_pid = 0;
  return ::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid != 0;
}

// An event with the backup directory's time stamp masked: runs a second
// apart name it differently.
std::string Masked(std::string event) {
  const std::string prefix = "TWTRIM32-";
  const size_t stampLength = 15;  // YYYYMMDD-HHMMSS
  for (size_t at = event.find(prefix); at != std::string::npos; at = event.find(prefix, at + 1)) {
    const size_t stamp = at + prefix.size();
    if (event.size() - stamp < stampLength) break;
    bool matches = true;
    for (size_t i = 0; i < stampLength; ++i) {
      const char c = event[stamp + i];
      matches = matches && (i == 8 ? c == '-' : c >= '0' && c <= '9');
    }
    if (matches) event.replace(stamp, stampLength, "<stamp>");
  }
  return event;
}

ChildProcess StartWrite(const std::string& home, bool verbose) {
  std::vector<std::string> switches = WriteSwitches();
  if (verbose) switches.push_back("/V");
  return StartProcess(TwtrimBinary(), WithHome(switches, home), home);
}

// Kills the write right after `line` has reached its standard output.
TEST(CrashKill, RightAfterChosenReportLines) {
  const Reference& ref = LargeReference();
  struct Point {
    bool verbose;
    const char* line;
  };
  std::vector<Point> points = {
      {false, "Shared VIZIZE.BSY lock: ACQUIRED"},
      {false, "=================== BUILD AND VERIFY .NEW"},
      {false, "=================== VERIFIED BACKUP"},
      {false, "======================= COMMIT"},
      {false, "=================== POST-WRITE VERIFY"},
  };
  if (FullSweeps()) {
    const std::vector<Point> more = {
        {false, "Safety preflight:      PASS"},
        {false, "CONF 04 - Second Pack"},
        {false, "Scan safety result:    PASS"},
        {false, "WRITE PLAN: ready"},
        {false, "Staged build and verification: PASS"},
        {false, "Backup directory:"},
        {false, "Verified backup result: PASS"},
        {false, "Commit: COMPLETE"},
        {false, "Post-write verification: PASS"},
        {false, "WRITE RESULT: SUCCESS"},
        {false, "Shared VIZIZE.BSY lock: RELEASED."},
        {true, "Building CONF1 staged files..."},
        {true, "Building CONF4 staged files..."},
        {true, "  CONF2 .NEW verification: PASS"},
        {true, "  Backed up: "},
        {true, "Committing CONF1..."},
        {true, "  CONF1 commit: COMPLETE"},
        {true, "Committing CONF2..."},
        {true, "Committing CONF4..."},
        {true, "  CONF1 final verification: PASS"},
    };
    points.insert(points.end(), more.begin(), more.end());
  }
  Tally tally;
  TempDir scratch;
  for (const Point& point : points) {
    SCOPED_TRACE(std::string("killed after: ") + point.line);
    const std::string home = ref.FreshCopy(scratch);
    ChildProcess child = StartWrite(home, point.verbose);
    ASSERT_TRUE(child.started);
    const bool seen = ReadStdoutUntil(child, point.line);
    EXPECT_TRUE(seen) << child.stdoutBytes;
    SendSignal(child, SIGKILL);
    const ProcessResult run = WaitProcess(child);
    tally.Count(run.exitCode == -SIGKILL ? "ended by SIGKILL" : "finished before the kill");
    CheckStoppedRun(ref, home, true, &tally);
  }
  tally.Print("kill after report line");
  EXPECT_EQ(tally.passed, tally.runs);
}

// Kills the write as soon as the file system shows a phase has begun.
TEST(CrashKill, WhenTheFileSystemShowsAPhase) {
  const Reference& ref = LargeReference();
  struct Point {
    const char* what;
    std::function<bool(const std::string& home)> reached;
  };
  const auto inode = [](const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : ino_t{0};
  };
  const auto anyEntry = [](const std::string& directory, const std::string& part) {
    for (const std::string& name : Entries(directory)) {
      if (Contains(name, part)) return true;
    }
    return false;
  };
  const auto backupHas = [anyEntry](const std::string& home, const std::string& part) {
    for (const std::string& run : Entries(home + "/" + kBackupRoot)) {
      if (anyEntry(home + "/" + kBackupRoot + "/" + run, part)) return true;
    }
    return false;
  };
  std::vector<Point> points = {
      {"first staged file appears",
       [anyEntry](const std::string& h) {
         return anyEntry(h + "/MESSAGE", "TWMSG01.") && anyEntry(h + "/MESSAGE", ".NEW");
       }},
      {"a backup copy is being made",
       [backupHas](const std::string& h) { return backupHas(h, ".PARTIAL"); }},
      {"CONF1 DAT replaced", nullptr},
      {"CONF4 IDX replaced", nullptr},
  };
  if (FullSweeps()) {
    points.push_back({"lock file created",
                      [](const std::string& h) { return IsFile(h + "/MESSAGE/VIZIZE.BSY"); }});
    points.push_back({"CONF4 staged files appear", [anyEntry](const std::string& h) {
                        return anyEntry(h + "/MESSAGE", "TWMSG04.PTR.NEW");
                      }});
    points.push_back({"backup directory appears", [](const std::string& h) {
                        return !Entries(h + "/" + kBackupRoot).empty();
                      }});
    points.push_back({"CONF4 DAT backed up",
                      [backupHas](const std::string& h) { return backupHas(h, "TWMSG04.DAT"); }});
    points.push_back({"CONF1 PTR replaced", nullptr});
    points.push_back({"CONF2 DAT replaced", nullptr});
    points.push_back({"CONF4 PTR replaced", nullptr});
  }
  Tally tally;
  TempDir scratch;
  for (Point& point : points) {
    SCOPED_TRACE(std::string("killed when: ") + point.what);
    const std::string home = ref.FreshCopy(scratch);
    if (!point.reached) {
      // "CONFn EXT replaced": the live file is a different file from now on.
      const std::string what = point.what;
      const std::string live =
          home + "/MESSAGE/TWMSG0" + what.substr(4, 1) + "." + what.substr(6, 3);
      const ino_t before = inode(live);
      point.reached = [inode, live, before](const std::string&) { return inode(live) != before; };
    }
    ChildProcess child = StartWrite(home, false);
    ASSERT_TRUE(child.started);
    bool killed = false;
    while (!Ended(child)) {
      if (point.reached(home)) {
        killed = SendSignal(child, SIGKILL);
        break;
      }
      sched_yield();
    }
    const ProcessResult run = WaitProcess(child);
    tally.Count(killed && run.exitCode == -SIGKILL ? "ended by SIGKILL"
                                                   : "finished before the phase was seen");
    CheckStoppedRun(ref, home, true, &tally);
  }
  tally.Print("kill at file-system phase");
  EXPECT_EQ(tally.passed, tally.runs);
}

// Kills the write after a random share of the time a whole write takes.
// Only the invariants are asserted: where the kill lands is up to chance.
TEST(CrashKill, AtSeededRandomMoments) {
  const Reference& ref = LargeReference();
  TempDir scratch;
  const auto begin = std::chrono::steady_clock::now();
  const ProcessResult whole = RunTwtrim(ref.FreshCopy(scratch), WriteSwitches());
  ASSERT_EQ(whole.exitCode, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - begin);

  const uint32_t seed = 20260307;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> delay(0, span.count() * 11 / 10);
  const int kills = FullSweeps() ? 40 : 3;
  Tally tally;
  for (int i = 0; i < kills; ++i) {
    const auto wait = std::chrono::microseconds(delay(random));
    SCOPED_TRACE("seed " + std::to_string(seed) + ", kill " + std::to_string(i) + " after " +
                 std::to_string(wait.count()) + " us");
    const std::string home = ref.FreshCopy(scratch);
    ChildProcess child = StartWrite(home, false);
    ASSERT_TRUE(child.started);
    std::this_thread::sleep_for(wait);
    SendSignal(child, SIGKILL);
    const ProcessResult run = WaitProcess(child);
    tally.Count(run.exitCode == -SIGKILL ? "ended by SIGKILL" : "finished before the kill");
    CheckStoppedRun(ref, home, true, &tally);
  }
  tally.Print("kill at random moment");
  EXPECT_EQ(tally.passed, tally.runs);
}

#if defined(__linux__)
// Every file-system change the real program makes during a write, in order;
// then one run per change, killed right before it.
TEST(CrashKill, BeforeEveryFileSystemChange) {
  const Reference& ref = SmallReference();
  TempDir scratch;
  std::string home = ref.FreshCopy(scratch);
  const TracedResult full =
      RunTraced(TwtrimBinary(), WithHome(WriteSwitches(), home), home, home, 0, SIGKILL);
  if (!full.started) GTEST_SKIP() << "this system does not let the test trace a process";
  ASSERT_EQ(full.exitCode, 0) << full.stdoutBytes;
  for (uint32_t c : ref.written()) {
    ASSERT_EQ(StateOf(ref, home, c), ConfState::kPacked) << "a traced write differs";
  }
  const uint64_t changes = full.events.size();
  ASSERT_GT(changes, 50u);

  // Every change, or eight spread over the write.
  std::vector<uint64_t> points;
  const uint64_t quick = 8;
  for (uint64_t i = 0; i < (FullSweeps() ? changes : quick); ++i) {
    points.push_back(FullSweeps() ? i + 1 : 1 + i * (changes - 1) / (quick - 1));
  }
  Tally tally;
  for (uint64_t k : points) {
    SCOPED_TRACE("killed before change " + std::to_string(k) + " of " + std::to_string(changes) +
                 ": " + full.events[k - 1]);
    home = ref.FreshCopy(scratch);
    const TracedResult run =
        RunTraced(TwtrimBinary(), WithHome(WriteSwitches(), home), home, home, k, SIGKILL);
    ASSERT_TRUE(run.reached) << "the run made fewer changes than the counted one";
    ASSERT_EQ(Masked(run.events.back()), Masked(full.events[k - 1])) << "the runs diverged";
    EXPECT_EQ(run.exitCode, -SIGKILL);
    CheckStoppedRun(ref, home, true, &tally);
  }
  std::printf("[kill before file-system change] changes in one write=%llu, kill points=%zu\n",
              static_cast<unsigned long long>(changes), points.size());
  tally.Print("kill before file-system change");
  EXPECT_EQ(tally.passed, tally.runs);
}
#endif

}  // namespace
}  // namespace twtrim::crash

#endif  // _WIN32
