// The guards around a run, in process: the command line that keeps every
// argument or refuses, paths compared by where they lead rather than how they
// are spelled, the lock proved to be this run's own, lock messages that match
// what happened, and a report file that is never silently short.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/run_sequence.h"
#include "board/board_builder.h"
#include "safety/tosser_lock.h"
#include "support/app_harness.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const board::ConferenceFiles kClean = MakeConference({board::Root(1, 2), board::Reply(2, 1, 2)});
const Lines kAbortBlock = {"", "===================== SAFETY ABORT =========================",
                           "No message-base file was opened for write or modified by TWTRIM32.",
                           "This operation did not complete as a verified consistent snapshot.",
                           std::string(60, '=')};
constexpr char kVerifyLine[] =
    "Verify no TWTRIM32 or VIZize32 process is active before removing it manually.";
constexpr char kTrailer[] = "Use TWTRIM32 /HELP for syntax.";
constexpr char kOursNote[] =
    "The lock holds TWTRIM32's own line: a TWTRIM32 run left it; unless one is still running, "
    "see \"A stale VIZIZE.BSY\" in the README.";

// The process's current directory for one scope.
class InDirectory {
 public:
  explicit InDirectory(const std::string& path) : old_(fs::current_path()) {
    fs::current_path(path);
  }
  ~InDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

// A marked test copy `h` and, beside it, a live board `live`.
struct TwoBoards {
  AppHarness h, live;
  TwoBoards() {
    EXPECT_TRUE(h.AddConference(1, kClean) && live.AddConference(1, kClean));
    EXPECT_TRUE(WriteWholeFile(h.HomePath("TWTRIM32_TESTCOPY.OK"), ""));
  }
  std::string Full(const std::string& path) {
    std::string full;
    EXPECT_TRUE(h.real().FullPath(path, &full));
    return full;
  }
  std::string OutsideHome() {
    return "ERROR: /TESTCOPY message directory is not inside the test home: " +
           Full(live.home() + "/MESSAGE");
  }
};

TEST(Guards, RefusedBeforeAnythingIsTouched) {
  const Args testCopy = {"/CONF1", "/WRITE", "/TESTCOPY"};
  const auto outside = [](TwoBoards& b) { return Lines{b.OutsideHome(), kTrailer}; };
  const struct {
    const char* name;
    std::function<Args(TwoBoards&)> switches;  // run in the live board's home
    std::function<Lines(TwoBoards&)> expected;
  } cases[] = {
    {"65 arguments",
     [](TwoBoards&) {
       Args a = {"/CONF1", "/DRYRUN"};
       a.resize(64, "/V");  // with the program name and /HOME=: 66
       return a;
     },
     [](TwoBoards&) {
       return Lines{"ERROR: too many arguments; at most 63 may follow the program name.",
                    kTrailer};
     }},
    {"relative message directory read in the live home",
     [&](TwoBoards&) { return JoinLines({testCopy, {"/MSGDIR=MESSAGE"}}); }, outside},
    {"report file inside MESSAGE by a doubled separator",
     [](TwoBoards& b) {
       return Args{"/CONF1", "/DRYRUN", "/LOG=" + b.h.home() + "//MESSAGE/R.TXT"};
     },
     [](TwoBoards&) { return Lines{"ERROR: /LOG may not be created inside the MESSAGE directory."}; }},
#ifndef _WIN32
    {"home's MESSAGE a link to the live one",
     [&](TwoBoards& b) {
       fs::remove_all(b.h.home() + "/MESSAGE");
       fs::create_directory_symlink(b.live.home() + "/MESSAGE", b.h.home() + "/MESSAGE");
       return testCopy;
     },
     outside},
    {"report file a FIFO",
     [](TwoBoards& b) {
       EXPECT_EQ(::mkfifo(b.h.HomePath("PIPE.TXT").c_str(), 0600), 0);
       return Args{"/CONF1", "/DRYRUN", "/LOG=PIPE.TXT"};
     },
     [](TwoBoards& b) {
       return Lines{"ERROR: report file is not a regular file: " + b.h.ShownHome("PIPE.TXT")};
     }},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TwoBoards b;
    const Args switches = c.switches(b);
    InDirectory cwd(b.live.home());
    const AppRun run = b.h.Run(switches);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(SameLines(run.lines, c.expected(b)));
    for (AppHarness* board : {&b.h, &b.live}) {
      EXPECT_FALSE(board->Exists(board->MessagePath("VIZIZE.BSY")) ||
                   board->Exists(board->HomePath("TWTRIM32_REPORT.TXT")));
    }
  }
  // 64 arguments, the program name and /HOME= among them, are all taken.
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  Args a = {"/CONF1", "/DRYRUN"};
  a.resize(62, "/V");
  EXPECT_EQ(h.Run(a).exitCode, 0);
}

#ifndef _WIN32
// C:\TW on a POSIX test machine is a relative path: run where it resolves.
TEST(Guards, KnownLivePathsAreRefusedInOtherSpellings) {
  TempDir dir;
  ASSERT_TRUE(board::MakeDirectories(dir.Path("C:/TW/MESSAGE")) &&
              board::MakeDirectories(dir.Path("c:/tw/MESSAGE")));
  InDirectory cwd(dir.path());
  for (const std::string home : {"c:/tw/", "C:\\TW\\.", "C:\\TW\\MESSAGE\\..", "C:\\\\TW"}) {
    SCOPED_TRACE(home);
    std::vector<std::string> arguments = {"twtrim32",  "/CONF1",        "/WRITE",
                                          "/TESTCOPY", "/HOME=" + home, "/NOLOG"};
    std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
    FaultOs os(*real);
    os.SetNow(kRunTime);
    os.SetProcessNames({"init"});
    EXPECT_EQ(RunProgram(os, arguments), 2);
    EXPECT_TRUE(EndsWith(
        ReportLines(os.stdoutText()),
        JoinLines({{"WRITE REFUSED: /TESTCOPY will not write the known C:\\TW paths.",
                    "Choose a separate test home, or omit /TESTCOPY for normal /WRITE mode.",
                    "Shared VIZIZE.BSY lock: RELEASED."},
                   Footer(kRunTimeText, 2, "NOT COMPLETED")})));
  }
}
#endif

struct LockCase {
  const char* name;
  std::function<void(AppHarness&)> setup;
  int exitCode;
  std::function<Lines(AppHarness&)> tail;  // the lines before the footer
  std::string lockLeft;                    // the lock file's bytes after the run; "-": gone
};

#ifndef _WIN32
// Replaces the run's lock by another file of the same name, as a second
// program that deleted and recreated it would.
void ReplaceLock(AppHarness& h) {
  const std::string lock = h.MessagePath("VIZIZE.BSY");
  ASSERT_TRUE(h.real().DeleteFile(lock) && WriteWholeFile(lock, "tosser\r\n"));
}
#endif

TEST(Guards, LockIsProvedOwnAndItsMessagesMatchWhatHappened) {
  auto lockWrite = [](AppHarness& h) { h.os().AddFault({{OsCall::kWrite, "VIZIZE.BSY", 1}}); };
  auto notWritten = [](AppHarness& h) {
    return Lines{"SAFETY ERROR: could not write the shared message-base lock: " +
                 h.ShownMessage("VIZIZE.BSY")};
  };
  auto existing = [](const std::string& content, bool ours) {
    return LockCase{ours ? "our own line in a lock left before" : "a lock left before",
                    [=](AppHarness& h) {
                      ASSERT_TRUE(WriteWholeFile(h.MessagePath("VIZIZE.BSY"), content));
                    },
                    3,
                    [=](AppHarness& h) {
                      Lines why = {"SAFETY ABORT: shared message-base lock already exists: " +
                                       h.ShownMessage("VIZIZE.BSY"),
                                   "VIZize32 or another TWTRIM32 run may already be active."};
                      if (ours) why.push_back(kOursNote);
                      return JoinLines({why, kAbortBlock});
                    },
                    content};
  };
  const LockCase cases[] = {
      existing(kLockFileText, true),
      existing("busy since 1998\r\n", false),
      {"lock line not written, file removed", lockWrite, 3,
       [&](AppHarness& h) { return JoinLines({notWritten(h), kAbortBlock}); }, "-"},
      {"lock line not written, file not removable",
       [&](AppHarness& h) {
         lockWrite(h);
         h.os().FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
       },
       4,
       [&](AppHarness& h) {
         return JoinLines(
             {notWritten(h),
              kAbortBlock,
              {"LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.", kVerifyLine}});
       },
       ""},
#ifndef _WIN32
      {"close fails but the file is gone",
       [](AppHarness& h) {
         h.os().AddFault({{OsCall::kClose, "VIZIZE.BSY", 1}});
       },
       0, [](AppHarness&) { return Lines{"Shared VIZIZE.BSY lock: RELEASED."}; }, "-"},
      {"lock replaced during the run",
       [](AppHarness& h) { BeforeCheckpoint(h, 3, [&] { ReplaceLock(h); }); }, 4,
       [](AppHarness&) {
         return JoinLines({{"SAFETY ERROR: TWTRIM32's shared VIZIZE.BSY lock is missing or "
                            "changed during immediately after scan."},
                           kAbortBlock,
                           {"LOCK CLEANUP ERROR: VIZIZE.BSY is no longer the lock this run "
                            "created; it was left as it is.",
                            kVerifyLine}});
       },
       "tosser\r\n"},
      {"lock replaced, then an interrupt",
       [](AppHarness& h) {
         BeforeCheckpoint(h, 3, [&] {
           ReplaceLock(h);
           ConsoleControlHandler();
         });
       },
       3,
       [](AppHarness& h) {
         // The interrupt let the run's lock go: the next check meets another's.
         return JoinLines(
             {{"SAFETY ABORT: VIZize32 busy marker exists during immediately after scan: " +
                   h.ShownMessage("VIZIZE.BSY"),
               "TWTRIM32 will not scan while VIZIZE.BSY indicates message-base activity."},
              kAbortBlock,
              {"Shared VIZIZE.BSY lock: RELEASED."}});
       },
       "tosser\r\n"},
#endif
  };
  for (const LockCase& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, kClean));
    c.setup(h);
    const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
    if (c.tail) {
      EXPECT_EQ(run.exitCode, c.exitCode);
      const char* result = c.exitCode == 0 ? "PASS" : c.exitCode == 3 ? "ABORTED" : "NOT COMPLETED";
      EXPECT_TRUE(
          EndsWith(run.lines, JoinLines({c.tail(h), Footer(kRunTimeText, c.exitCode, result)})));
    }
    const std::string lock = h.MessagePath("VIZIZE.BSY");
    EXPECT_EQ(h.Exists(lock) ? h.ReadFile(lock) : "-", c.lockLeft);
    EXPECT_FALSE(SharedTosserLockOwned());
  }
}

TEST(Guards, ReportFileIsFlushedAtTheEndAndAShortOneIsNamed) {
  struct Case {
    const char* name;
    std::function<void(FaultOs&)> fault;
    bool warned;
  } cases[] = {
      {"all written", [](FaultOs&) {}, false},
      {"a short write",
       [](FaultOs& os) {
         os.AddFault({{OsCall::kWrite, "TWTRIM32_REPORT.TXT", 3}, FaultEffect::kShort});
       },
       true},
      {"a failed flush",
       [](FaultOs& os) {
         os.AddFault({{OsCall::kFlush, "TWTRIM32_REPORT.TXT", 0}});
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, kClean));
    c.fault(h.os());
    const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string warning =
        "WARNING: the report file is incomplete: " + h.ShownHome("TWTRIM32_REPORT.TXT");
    EXPECT_EQ(run.lines.back(), c.warned ? warning : std::string(60, '-'));
    EXPECT_LT(IndexOf(run.lines, Labelled("Conference config:",
                                          h.ShownHome("TWMCONF.DAT") + " (1 records)")),
              run.lines.size());
    // The footer reached the disk: a flush of the report follows its last write.
    uint64_t lastWrite = 0, lastFlush = 0;
    for (const CallRecord& call : h.os().log()) {
      if (call.path.find("TWTRIM32_REPORT.TXT") == std::string::npos) continue;
      if (call.kind == OsCall::kWrite) lastWrite = call.index;
      if (call.kind == OsCall::kFlush) lastFlush = call.index;
    }
    EXPECT_GT(lastFlush, lastWrite);
  }
}

}  // namespace
}  // namespace twtrim::test
