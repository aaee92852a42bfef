// The real Os of this build on real files, terminals and processes.
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <thread>
#include <tuple>

#include "platform/file_io.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#undef CreateDirectory
#undef DeleteFile
#else
#include <fcntl.h>
#include <limits.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace twtrim {
namespace {

class OsTest : public ::testing::Test {
 protected:
  OsTest() : os_(CreateSystemOs(0, nullptr)) {}
  // A path in the temp directory, '\' as separator: POSIX must take it too.
  std::string P(const std::string& name) const { return dir_.path() + "\\" + name; }
  TempDir dir_;
  std::unique_ptr<Os> os_;
};

// While we read, the board may read and delete; a directory or FIFO is no file.
TEST_F(OsTest, SharedReadLetsOthersReadAndDelete) {
  ASSERT_TRUE(dir_.Write("CONF.DAT", "content") && dir_.MakeDirectory("SUB"));
#ifndef _WIN32
  ASSERT_EQ(mkfifo(dir_.Path("FIFO").c_str(), 0600), 0);
#endif
  for (const char* name : {"MISSING", "SUB", "FIFO"}) EXPECT_FALSE(os_->OpenSharedRead(P(name)));
  // The last one's failure, for the report: the system's words on one line.
  const OsFailure& failure = os_->LastFailure();
#ifdef _WIN32
  EXPECT_TRUE(failure.code == ERROR_FILE_NOT_FOUND && failure.text != "unknown error" &&
              failure.text.find_first_of("\r\n") == std::string::npos &&
              !failure.text.ends_with('.') && !failure.text.ends_with(' '))
      << failure.text;
#else
  EXPECT_EQ(failure.text, "not a regular file");
#endif
  std::unique_ptr<OsFile> reader = os_->OpenSharedRead(P("CONF.DAT"));
  std::unique_ptr<OsFile> board = os_->OpenSharedRead(P("CONF.DAT"));
  char both[14];
  ASSERT_TRUE(reader && board && ReadExact(*board, both, 7) && os_->DeleteFile(P("CONF.DAT")));
  EXPECT_TRUE(ReadExact(*reader, both + 7, 7) && reader->Close() && board->Close());
  EXPECT_EQ(std::string(both, 14), "contentcontent");
}

// A name that exists in any form (file, directory, link, dangling or not) is
// never written through; every refusal changes nothing; the lock is unshared.
TEST_F(OsTest, RefusalsChangeNothingAndCreateNewFollowsNoLink) {
  ASSERT_TRUE(dir_.Write("VIZIZE.BSY", "tosser") && os_->CreateDirectory(P("DIR")));
  EXPECT_FALSE(os_->CreateDirectory(P("DIR")) || os_->CreateDirectory(P("VIZIZE.BSY")) ||
               os_->CreateDirectory(P("NO\\PARENT")) || os_->DeleteFile(P("DIR")) ||
               os_->ReplaceRename(P("LOCK"), P("VIZIZE.BSY")));
#ifdef _WIN32
  ASSERT_TRUE(dir_.Write("DANGLING", "") && dir_.Write("LINKED", ""));
#else
  ASSERT_EQ(symlink(dir_.Path("ELSEWHERE").c_str(), dir_.Path("DANGLING").c_str()), 0);
  ASSERT_EQ(symlink(dir_.Path("VIZIZE.BSY").c_str(), dir_.Path("LINKED").c_str()), 0);
#endif
  for (const char* name : {"VIZIZE.BSY", "DIR", "DANGLING", "LINKED"})
    EXPECT_FALSE(os_->CreateNew(P(name))) << name;
  EXPECT_TRUE(dir_.Read("VIZIZE.BSY") == "tosser" && !dir_.Exists("ELSEWHERE"));
  std::unique_ptr<OsFile> lock = os_->CreateNew(P("LOCK"));
  ASSERT_TRUE(lock && WriteExact(*lock, "mine", 4) && lock->Flush());
#ifdef _WIN32
  EXPECT_FALSE(os_->OpenSharedRead(P("LOCK")) || os_->DeleteFile(P("LOCK")));  // held unshared
#endif
  ASSERT_TRUE(lock->Close());
  EXPECT_EQ(dir_.Read("LOCK"), "mine");
}

// Two runs never overwrite each other's report lines: Windows keeps the
// second writer out, POSIX appends both.
TEST_F(OsTest, SecondAppenderNeverOverwritesTheFirst) {
  std::unique_ptr<OsFile> first = os_->OpenForAppend(P("REPORT.TXT"));
  std::unique_ptr<OsFile> second = os_->OpenForAppend(P("REPORT.TXT"));
  ASSERT_TRUE(first && first->SeekToEnd() && WriteExact(*first, "first\r\n", 7));
#ifdef _WIN32
  EXPECT_FALSE(second);
  EXPECT_NE(os_->OpenSharedRead(P("REPORT.TXT")), nullptr);  // others may read the log
  EXPECT_EQ(os_->CreateNew(P("REPORT.TXT")), nullptr);       // but not write it
  ASSERT_TRUE(first->Close());
  EXPECT_EQ(dir_.Read("REPORT.TXT"), "first\r\n");
#else
  ASSERT_TRUE(second && second->SeekToEnd() && WriteExact(*second, "second\r\n", 8));
  ASSERT_TRUE(WriteExact(*first, "again\r\n", 7));
  EXPECT_EQ(dir_.Read("REPORT.TXT"), "first\r\nsecond\r\nagain\r\n");
#endif
}

// Positions and sizes past 2 and 4 GiB are not cut to 31 or 32 bits (sparse);
// a low half of all ones, the system's failure value, is a position too.
TEST_F(OsTest, SeekAndSizeAtAndPastTwoAndFourGiB) {
  const uint64_t offsets[] = {(1ull << 31) - 2, (1ull << 32) - 1, (1ull << 33) - 5};
  std::unique_ptr<OsFile> file = os_->CreateNew(P("HUGE"));
  for (uint64_t at : offsets) ASSERT_TRUE(file && file->Seek(at) && WriteExact(*file, "tail", 4));
  uint64_t size = 0;
  ASSERT_TRUE(file->Close() && (file = os_->OpenSharedRead(P("HUGE"))) && file->Size(&size));
  EXPECT_EQ(size, offsets[2] + 4);
  for (uint64_t at : offsets) {
    char tail[4] = {};
    EXPECT_TRUE(file->Seek(at) && ReadExact(*file, tail, 4) && std::string(tail, 4) == "tail")
        << at;
  }
}

// A file made anew under the held lock's name must not pass for the lock.
TEST_F(OsTest, IdentityTellsAFileFromItsReplacement) {
  ASSERT_TRUE(dir_.Write("OTHER", "x"));
  std::unique_ptr<OsFile> held = os_->CreateNew(P("LOCK"));
  FileIdentity mine, byName, other, replaced;
  ASSERT_TRUE(held && held->Identity(&mine) && os_->PathIdentity(P("LOCK"), &byName));
  ASSERT_TRUE(os_->PathIdentity(P("OTHER"), &other));
  EXPECT_TRUE(mine == byName && mine != other);
  ASSERT_TRUE(held->Close() && os_->ReplaceRename(P("LOCK"), P("LOCK.OLD")));
  ASSERT_TRUE(dir_.Write("LOCK", "someone else's") && os_->PathIdentity(P("LOCK"), &replaced));
  EXPECT_NE(mine, replaced);
  EXPECT_FALSE(os_->PathIdentity(P("MISSING"), &replaced));
}

// All entries but . and .., dirs with "/", in one order on both platforms (letters
// folded to upper case, then bytes); the wildcard after the last separator ignores case.
TEST_F(OsTest, ListingIsCompleteFlaggedAndOrdered) {
  std::vector<std::string> all = {
      "ok", "a", "AB/", "A_B", "B/", "vuverudodiv-bak-lower", "VUVERUDODIV-BAK-OLD", "_x"};
  std::vector<std::string> endingInB = {"ok", "AB/", "A_B", "B/"};
#ifndef _WIN32
  all.insert(all.begin() + 4, "a_B");  // equal after folding: raw bytes decide
  endingInB.insert(endingInB.begin() + 3, "a_B");
  all.insert(all.begin() + 6, "C/");  // a link to a directory counts as one
  ASSERT_EQ(symlink(dir_.Path("B").c_str(), dir_.Path("C").c_str()), 0);
#endif
  for (const std::string& name : all) {
    if (name == "ok" || name == "C/") continue;
    ASSERT_TRUE(name.back() == '/' ? dir_.MakeDirectory(name) : dir_.Write(name, "")) << name;
  }
  const auto list = [&](const std::string& pattern) {
    std::vector<DirEntry> entries;
    std::vector<std::string> names = {os_->ListDirectory(pattern, &entries) ? "ok" : "failed"};
    for (const DirEntry& e : entries) names.push_back(e.name + (e.isDirectory ? "/" : ""));
    return names;
  };
  EXPECT_EQ(list(P("*")), all);
  EXPECT_EQ(list(P("*b")), endingInB);
  EXPECT_EQ(list(P("MISSING\\*")), std::vector<std::string>{"failed"});
}

// Free space, the clock, and process names: argv[0]'s base name (a tosser under
// Wine shows a Windows path) and the kernel's comm (not VIZIZE32.EXE: runs of
// the real program elsewhere must never meet it).
TEST_F(OsTest, FreeSpaceClockAndProcessNames) {
  uint64_t bytes = 0;
  EXPECT_TRUE(os_->FreeSpace(dir_.path(), &bytes) && !os_->FreeSpace(P("MISSING"), &bytes));
  EXPECT_TRUE(bytes > 0 && bytes <= std::filesystem::space(dir_.path()).capacity) << bytes;
  // The system's own local time, to the minute (a tick between: a microsecond's chance).
  const std::time_t now = std::time(nullptr);
  const std::tm local = *std::localtime(&now);
  const LocalTime t = os_->Now();
  EXPECT_EQ(std::make_tuple(t.year, t.month, t.day, t.hour, t.minute),
            std::make_tuple(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                            local.tm_min));
  std::vector<std::string> names, expected = {"twtrim_tests.exe"};
#ifndef _WIN32
  expected = {"os-test-comm", "OS_TEST.EXE"};  // names no other process has
  ASSERT_EQ(symlink("/bin/sleep", dir_.Path("os-test-comm").c_str()), 0);
  int execed[2];
  ASSERT_EQ(pipe2(execed, O_CLOEXEC), 0);
  // A process number with a 0 in it, which a digit test off by one passes over.
  const auto hasZero = [](pid_t pid) { return std::to_string(pid).find('0') != std::string::npos; };
  pid_t other;
  while ((other = fork()) > 0 && !hasZero(other)) waitpid(other, nullptr, 0);
  if (other == 0) {
    if (!hasZero(getpid())) _exit(0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
    execl(dir_.Path("os-test-comm").c_str(), "C:\\TOOLS\\OS_TEST.EXE", "60", nullptr);
    _exit(127);
  }
  close(execed[1]);
  ASSERT_EQ(read(execed[0], &execed[1], 1), 0);  // the pipe closes at the exec
  close(execed[0]);
#endif
  EXPECT_TRUE(os_->ListProcessNames(&names));
#ifndef _WIN32
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
#endif
  for (const std::string& name : expected)
    EXPECT_NE(std::ranges::find(names, name), names.end()) << name;
}

#ifdef _WIN32
// A directory that exists but lies past the classic path limit is told apart
// from a missing one, unless the system takes long paths anyway.
TEST_F(OsTest, PathRefusedForItsLengthIsToldApart) {
  std::vector<std::wstring> made;  // each level in the long-name form, which takes no '/'
  for (std::string deep = dir_.path(); deep.size() < 300;) {
    deep += "\\" + std::string(60, 'D');
    std::wstring wide(deep.begin(), deep.end());
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    made.push_back(L"\\\\?\\" + wide);
    ASSERT_TRUE(CreateDirectoryW(made.back().c_str(), nullptr)) << deep;
  }
  EXPECT_FALSE(os_->PathTooLong(dir_.path()));
  EXPECT_FALSE(os_->PathTooLong(P("MISSING")));
  const std::string longest(made.back().begin() + 4, made.back().end());
  const bool longPathsTaken = os_->GetPathKind(longest) == PathKind::kDirectory;
  EXPECT_NE(os_->PathTooLong(longest), longPathsTaken);
  for (auto level = made.rbegin(); level != made.rend(); ++level) RemoveDirectoryW(level->c_str());
}
#endif

// Two spellings of one place must compare equal: every link on the way is
// followed (".." after a link leaves its target), a missing tail normalised,
// and (Windows) the long-name prefixes dropped, so no spelling of the live
// C:\TW passes for a test home.
TEST_F(OsTest, FullPathResolvesLinksDotsAndAMissingTail) {
#ifdef _WIN32
  std::string d = dir_.path();
  std::replace(d.begin(), d.end(), '/', '\\');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {d + "/SUB/./DEEP/..", d + "\\SUB"},
      {"\\\\?\\" + d + "\\SUB\\..\\X", d + "\\X"},
      {"\\\\?\\UNC\\server\\share\\x", "\\\\server\\share\\x"}};
#else
  char base[PATH_MAX], here[PATH_MAX], cwd[PATH_MAX];
  ASSERT_TRUE(realpath(dir_.path().c_str(), base) && getcwd(here, sizeof here) &&
              realpath(here, cwd));
  const std::string d = base;
  ASSERT_TRUE(dir_.MakeDirectory("SUB/DEEP"));
  ASSERT_EQ(symlink((d + "/SUB/DEEP").c_str(), dir_.Path("LINK").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {d + "/SUB/./DEEP/..", d + "/SUB"},
      {d + "//SUB/", d + "/SUB"},
      {d + "\\LINK", d + "/SUB/DEEP"},
      {d + "/LINK/..", d + "/SUB"},
      {d + "/LINK/NEW/./X", d + "/SUB/DEEP/NEW/X"},
      {d + "/MISSING/../LINK", d + "/SUB/DEEP"},
      {d + "/NEW/../..", d.substr(0, d.find_last_of('/'))},
      {".", cwd},
      {"NEW/X/..", std::string(cwd) + "/NEW"}};
#endif
  for (const auto& [path, resolved] : cases) {
    std::string full;
    EXPECT_TRUE(os_->FullPath(path, &full) && full == resolved) << path << " -> " << full;
  }
}

#ifndef _WIN32
// A pack run as root leaves the board's files to their owner, with their mode.
TEST_F(OsTest, CopyTakesTheOriginalsOwnerAndMode) {
  ASSERT_TRUE(dir_.Write("LIVE", "x") && chmod(dir_.Path("LIVE").c_str(), 0640) == 0);
  // Where the tests run as root, the owner is proven too: nobody's.
  ASSERT_TRUE(geteuid() != 0 || chown(dir_.Path("LIVE").c_str(), 65534, 65534) == 0);
  std::unique_ptr<OsFile> staged = os_->CreateNew(P("LIVE.NEW"));
  ASSERT_TRUE(staged && staged->CopyOwnerAndMode(P("LIVE")) && staged->Close());
  struct stat live, copy;
  ASSERT_TRUE(!stat(dir_.Path("LIVE").c_str(), &live) &&
              !stat(dir_.Path("LIVE.NEW").c_str(), &copy));
  EXPECT_TRUE((copy.st_mode & 07777) == 0640 && copy.st_uid == live.st_uid &&
              copy.st_gid == live.st_gid);
  staged = os_->CreateNew(P("ORPHAN.NEW"));
  EXPECT_FALSE(staged && staged->CopyOwnerAndMode(P("MISSING")));
}

// The pager's keys through a real terminal: each is typed once ReadKeyEvent
// waits in raw mode, and the terminal's own mode is back after it.
TEST_F(OsTest, ConsoleKeysThroughATerminal) {
  int master, slave;
  struct winsize size = {30, 100, 0, 0};
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
  const int savedIn = dup(0), savedOut = dup(1), null = open("/dev/null", O_WRONLY);
  dup2(slave, 0);
  dup2(null, 1);
  const bool piped = os_->IsInteractiveConsole();
  dup2(slave, 1);
  int rows = 0, columns = 0;
  const bool console = os_->IsInteractiveConsole() && os_->ConsoleSize(&rows, &columns);
  const std::tuple<std::string, bool, uint16_t, char> keys[] = {
      {"q", true, 'Q', 'q'},  {"Z", true, 'Z', 'Z'},     {"7", true, '7', '7'},
      {" ", true, ' ', ' '},  {"\r", true, 13, '\n'},    {"\t", true, 9, '\t'},
      {"~", true, 0, '~'},    {"\x7f", true, 8, '\x7f'}, {"\x1b", true, 27, 0},
      {"\x1b[A", true, 0, 0},  // an arrow key is an ordinary key
      {"\x03", false, 0, 0}};  // Ctrl+C raises SIGINT, ignored here
  const sighandler_t savedInt = signal(SIGINT, SIG_IGN);
  std::vector<std::string> wrong;
  for (const auto& [typed, wantRead, virtualKey, character] : keys) {
    KeyEvent event;
    std::atomic<bool> done{false};
    bool read = false;
    std::thread reader([&] { read = os_->ReadKeyEvent(&event), done = true; });
    struct termios mode;
    while (!done && tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ICANON) != 0) {
    }
    const bool sent = !done && write(master, typed.data(), typed.size()) > 0;
    reader.join();
    const tcflag_t cooked = ICANON | ECHO | ISIG;
    if (!sent || read != wantRead || event.virtualKey != virtualKey ||
        event.character != character || tcgetattr(slave, &mode) != 0 ||
        (mode.c_lflag & cooked) != cooked) {
      wrong.push_back(typed);
    }
  }
  signal(SIGINT, savedInt);
  dup2(savedIn, 0);
  dup2(savedOut, 1);
  for (int fd : {master, slave, null, savedIn, savedOut}) close(fd);
  EXPECT_TRUE(console && !piped && rows == 30 && columns == 100) << rows << "x" << columns;
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

// The wait status of `body` run in a child process (without a core dump).
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  const struct rlimit noCore = {0, 0};
  if (pid == 0 && setrlimit(RLIMIT_CORE, &noCore) == 0) body();
  if (pid == 0) _exit(0);
  int status = 0;
  return waitpid(pid, &status, 0) == pid ? status : -1;
}

// A disk that takes no more (here the file-size limit, as a full disk would
// refuse) fails the write with the system's reason; it is not retried.
TEST_F(OsTest, AWriteTheDiskRefusesFails) {
  const int status = InChild([&] {
    const struct rlimit four = {4, 4};
    signal(SIGXFSZ, SIG_IGN);
    alarm(10);  // a write retried for ever ends the child
    std::unique_ptr<OsFile> file = os_->CreateNew(P("FULL"));
    uint32_t put = 9;
    const bool refused = file && setrlimit(RLIMIT_FSIZE, &four) == 0 &&
                         WriteExact(*file, "four", 4) && !file->Write("more", 4, &put) &&
                         put == 0 && os_->LastFailure().code == EFBIG;
    _exit(refused ? 0 : 1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// What the lock release does, reachable from the handler without arguments.
Os* g_os = nullptr;
std::string g_lockPath;
void ReleaseLock() { g_os->DeleteFile(g_lockPath); }

// Each control signal releases the lock and the process still dies of it; one
// that comes while the run holds control events waits for their release. An
// ignored signal (nohup) or a reader of standard output gone away ends nothing.
TEST_F(OsTest, WhatEndsTheProcessAndWhatDoesNot) {
  g_os = os_.get();
  g_lockPath = P("VIZIZE.BSY");
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    const int status = InChild([&] {
      std::unique_ptr<OsFile> lock = os_->CreateNew(g_lockPath);
      ::signal(signal, SIG_DFL);  // a background job starts with SIGINT ignored
      os_->InstallControlHandler(ReleaseLock);
      os_->HoldControlEvents();
      raise(signal);
      if (lock && os_->GetPathKind(g_lockPath) == PathKind::kFile) os_->CreateNew(P("HELD"));
      os_->ReleaseControlEvents();
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << ": " << status;
    EXPECT_TRUE(!dir_.Exists("VIZIZE.BSY") && os_->DeleteFile(P("HELD"))) << signal;
  }
  const int status = InChild([&] {
    int ends[2];
    signal(SIGHUP, SIG_IGN);
    if (pipe(ends) != 0 || dup2(ends[1], 1) != 1 || close(ends[0]) != 0) _exit(10);
    std::unique_ptr<Os> os = CreateSystemOs(0, nullptr);
    os->InstallControlHandler([] { _exit(12); });
    raise(SIGHUP);
    os->WriteStdout("report", 6);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

#endif

}  // namespace
}  // namespace twtrim
