// The guards around a run, in process: the command line that keeps every
// argument or refuses, and paths compared by where they lead rather than how
// they are spelled.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "board/board_builder.h"
#include "support/app_harness.h"
#include "support/judge.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const board::ConferenceFiles kClean = MakeConference({board::Root(1, 2), board::Reply(2, 1, 2)});
constexpr char kTrailer[] = "Use TWTRIM32 /HELP for syntax.";

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
  Lines OutsideHome() {
    std::string full;
    EXPECT_TRUE(h.real().FullPath(live.home() + "/MESSAGE", &full));
    return {"ERROR: /TESTCOPY message directory is not inside the test home: " + full, kTrailer};
  }
};

TEST(Guards, RefusedBeforeAnythingIsTouched) {
  const Args testCopy = {"/CONF1", "/WRITE", "/TESTCOPY"};
  // Each case arranges the boards, then gives its switches (run in the live
  // board's home) and the whole report.
  const std::function<std::pair<Args, Lines>(TwoBoards&)> cases[] = {
      [](TwoBoards&) {  // 65 arguments; with the program name and /HOME=: 66
        Args a = {"/CONF1", "/DRYRUN"};
        a.resize(64, "/V");
        return std::pair{
            a, Lines{"ERROR: too many arguments; at most 63 may follow the program name.", kTrailer}};
      },
      [&](TwoBoards& b) {  // a relative message directory read in the live home
        return std::pair{JoinLines({testCopy, {"/MSGDIR=MESSAGE"}}), b.OutsideHome()};
      },
      [](TwoBoards& b) {  // the report file inside MESSAGE by a doubled separator
        return std::pair{Args{"/CONF1", "/DRYRUN", "/LOG=" + b.h.home() + "//MESSAGE/R.TXT"},
                         Lines{"ERROR: /LOG may not be created inside the MESSAGE directory."}};
      },
#ifndef _WIN32
      [&](TwoBoards& b) {  // the home's MESSAGE a link to the live one
        fs::remove_all(b.h.home() + "/MESSAGE");
        fs::create_directory_symlink(b.live.home() + "/MESSAGE", b.h.home() + "/MESSAGE");
        return std::pair{testCopy, b.OutsideHome()};
      },
      [](TwoBoards& b) {  // the report file a link, here to the live board's report
        fs::create_symlink(b.live.HomePath("TWTRIM32_REPORT.TXT"), b.h.HomePath("LINK.TXT"));
        return std::pair{
            Args{"/CONF1", "/DRYRUN", "/LOG=LINK.TXT"},
            Lines{"ERROR: cannot create log file: " + b.h.ShownHome("LINK.TXT"),
                  "Use /NOLOG only when intentionally testing without a report file."}};
      },
      [](TwoBoards& b) {  // the report file a FIFO
        EXPECT_EQ(::mkfifo(b.h.HomePath("PIPE.TXT").c_str(), 0600), 0);
        return std::pair{
            Args{"/CONF1", "/DRYRUN", "/LOG=PIPE.TXT"},
            Lines{"ERROR: report file is not a regular file: " + b.h.ShownHome("PIPE.TXT")}};
      },
#endif
  };
  for (const auto& arrange : cases) {
    SCOPED_TRACE(&arrange - cases);
    TwoBoards b;
    const auto [switches, expected] = arrange(b);
    InDirectory cwd(b.live.home());
    const RunResult run = b.h.Run(switches);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(SameLines(run.lines, expected));
    for (AppHarness* board : {&b.h, &b.live}) {
      EXPECT_FALSE(board->Exists(board->MessagePath("VIZIZE.BSY")) ||
                   board->Exists(board->HomePath("TWTRIM32_REPORT.TXT")));
    }
  }
  // 64 arguments, the program name and /HOME= among them, are all taken; a
  // configuration of one record is used, not passed over for discovery.
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  Args a = {"/CONF1", "/DRYRUN"};
  a.resize(62, "/V");
  const RunResult run = h.Run(a);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasLine(run.lines,
                      Labelled("Conference config:", h.ShownHome("TWMCONF.DAT") + " (1 records)")));
}

#ifndef _WIN32
// C:\TW on a POSIX test machine is a relative path: run where it resolves.
TEST(Guards, KnownLivePathsAreRefusedInOtherSpellings) {
  TempDir dir;
  ASSERT_TRUE(board::MakeDirectories(dir.Path("C:/TW/MESSAGE")) &&
              board::MakeDirectories(dir.Path("c:/tw/MESSAGE")));
  InDirectory cwd(dir.path());
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  // The last: a test home around the live message directory.
  const std::pair<const char*, const char*> places[] = {
      {"c:/tw/", "/NOLOG"}, {"C:\\TW\\.", "/NOLOG"}, {"C:\\TW\\MESSAGE\\..", "/NOLOG"},
      {"C:\\\\TW", "/NOLOG"}, {"C:", "/MSGDIR=C:\\TW\\MESSAGE\\."}};
  for (const auto& [home, last] : places) {
    SCOPED_TRACE(home);
    const RunResult run = RunInProcess(*real, home, {"/CONF1", "/WRITE", "/TESTCOPY", last});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(EndsWith(
        run.lines,
        JoinLines({{"WRITE REFUSED: /TESTCOPY will not write the known C:\\TW paths.",
                    "Choose a separate test home, or omit /TESTCOPY for normal /WRITE mode.",
                    "Shared VIZIZE.BSY lock: RELEASED."},
                   Footer(kRunTimeText, 2, "NOT COMPLETED")})));
  }
}
#endif

}  // namespace
}  // namespace twtrim::test
