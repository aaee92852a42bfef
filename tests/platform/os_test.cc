// The real Os of this build on real files: the sharing and creation modes,
// 64-bit positions, renames, listings, the process list and the control
// handler behave as the program relies on.
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/posix_os.h"
#endif

namespace twtrim {
namespace {

#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

class OsTest : public ::testing::Test {
 protected:
  OsTest() : os_(CreateSystemOs(0, nullptr)) {}

  // A path inside the temp directory with the platform's separator.
  std::string P(const std::string& name) const { return dir_.path() + kSep + name; }

  bool WriteVia(std::unique_ptr<OsFile> file, const std::string& bytes) {
    return file && WriteExact(*file, bytes.data(), static_cast<uint32_t>(bytes.size())) &&
           file->Flush() && file->Close();
  }
  std::string ReadVia(const std::string& path) {
    std::unique_ptr<OsFile> file = os_->OpenSharedRead(path);
    uint64_t size = 0;
    if (!file || !file->Size(&size)) return "<unreadable>";
    std::string bytes(size, '\0');
    if (!ReadExact(*file, bytes.data(), static_cast<uint32_t>(size))) return "<short>";
    return bytes;
  }

  TempDir dir_;
  std::unique_ptr<Os> os_;
};

TEST_F(OsTest, SharedReadLetsOthersReadAndDelete) {
  ASSERT_TRUE(dir_.Write("CONF.DAT", "content"));
  std::unique_ptr<OsFile> reader = os_->OpenSharedRead(P("CONF.DAT"));
  ASSERT_NE(reader, nullptr);
  // While we read, the board may read too, and may even delete the file.
  EXPECT_EQ(ReadVia(P("CONF.DAT")), "content");
  EXPECT_TRUE(os_->DeleteFile(P("CONF.DAT")));
  char buffer[7];
  EXPECT_TRUE(ReadExact(*reader, buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer, sizeof buffer), "content");
  EXPECT_TRUE(reader->Close());
  EXPECT_EQ(os_->GetPathKind(P("CONF.DAT")), PathKind::kMissing);
}

TEST_F(OsTest, OpenForReadingNeedsAnExistingPlainFile) {
  ASSERT_TRUE(dir_.MakeDirectory("SUB"));
  EXPECT_EQ(os_->OpenSharedRead(P("MISSING")), nullptr);
  EXPECT_EQ(os_->OpenSharedRead(P("SUB")), nullptr);
  EXPECT_FALSE(dir_.Exists("MISSING"));
}

TEST_F(OsTest, CreateNewFailsOnAnExistingNameAndLeavesItUntouched) {
  ASSERT_TRUE(dir_.Write("VIZIZE.BSY", "tosser"));
  EXPECT_EQ(os_->CreateNew(P("VIZIZE.BSY")), nullptr);
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "tosser");

  ASSERT_TRUE(WriteVia(os_->CreateNew(P("LOCK")), "mine\r\n"));
  EXPECT_EQ(dir_.Read("LOCK"), "mine\r\n");
  EXPECT_EQ(os_->CreateNew(P("LOCK")), nullptr);  // a second run is kept out
}

TEST_F(OsTest, CreateExclusiveTruncatesAndAppendAppends) {
  ASSERT_TRUE(dir_.Write("STAGED", "a much longer old content"));
  ASSERT_TRUE(WriteVia(os_->CreateExclusive(P("STAGED")), "new"));
  EXPECT_EQ(dir_.Read("STAGED"), "new");

  // The report log: created when missing, never truncated.
  for (const char* run : {"first run\r\n", "second run\r\n"}) {
    std::unique_ptr<OsFile> log = os_->OpenForAppend(P("REPORT.TXT"));
    ASSERT_NE(log, nullptr);
    ASSERT_TRUE(log->SeekToEnd());
    ASSERT_TRUE(WriteVia(std::move(log), run));
  }
  EXPECT_EQ(dir_.Read("REPORT.TXT"), "first run\r\nsecond run\r\n");
}

// Two runs sharing one report file must never overwrite each other's lines:
// Windows keeps the second writer out, POSIX appends both.
TEST_F(OsTest, SecondAppenderNeverOverwritesTheFirst) {
  std::unique_ptr<OsFile> first = os_->OpenForAppend(P("REPORT.TXT"));
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(first->SeekToEnd());
  std::unique_ptr<OsFile> second = os_->OpenForAppend(P("REPORT.TXT"));
#ifdef _WIN32
  EXPECT_EQ(second, nullptr);
  ASSERT_TRUE(WriteVia(std::move(first), "first\r\n"));
  EXPECT_EQ(dir_.Read("REPORT.TXT"), "first\r\n");
#else
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(second->SeekToEnd());
  ASSERT_TRUE(WriteExact(*first, "first\r\n", 7));
  ASSERT_TRUE(WriteExact(*second, "second\r\n", 8));
  ASSERT_TRUE(WriteExact(*first, "again\r\n", 7));
  EXPECT_EQ(dir_.Read("REPORT.TXT"), "first\r\nsecond\r\nagain\r\n");
#endif
}

#ifdef _WIN32
// Only Windows has sharing modes; POSIX relies on O_EXCL alone.
TEST_F(OsTest, WrittenFilesAreUnsharedAndTheLogIsReadable) {
  std::unique_ptr<OsFile> lock = os_->CreateNew(P("VIZIZE.BSY"));
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(os_->OpenSharedRead(P("VIZIZE.BSY")), nullptr);
  EXPECT_FALSE(os_->DeleteFile(P("VIZIZE.BSY")));
  EXPECT_TRUE(lock->Close());
  EXPECT_TRUE(os_->DeleteFile(P("VIZIZE.BSY")));

  std::unique_ptr<OsFile> staged = os_->CreateExclusive(P("STAGED"));
  ASSERT_NE(staged, nullptr);
  EXPECT_EQ(os_->OpenSharedRead(P("STAGED")), nullptr);

  std::unique_ptr<OsFile> log = os_->OpenForAppend(P("REPORT.TXT"));
  ASSERT_NE(log, nullptr);
  ASSERT_TRUE(WriteExact(*log, "x", 1));
  EXPECT_EQ(ReadVia(P("REPORT.TXT")), "x");                   // others may read the log
  EXPECT_EQ(os_->CreateExclusive(P("REPORT.TXT")), nullptr);  // but not write it
}
#endif

TEST_F(OsTest, ReadWriteSeekAndSize) {
  std::string bytes(1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13);
  ASSERT_TRUE(WriteVia(os_->CreateExclusive(P("DATA")), bytes));

  std::unique_ptr<OsFile> file = os_->OpenSharedRead(P("DATA"));
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 1000u);
  ASSERT_TRUE(file->Seek(600));
  char buffer[500];
  uint32_t got = 0;
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 400u);  // up to the end, no further
  EXPECT_EQ(std::string(buffer, got), bytes.substr(600));
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);  // end of file is not an error
  ASSERT_TRUE(file->Close());
  EXPECT_FALSE(file->Read(buffer, 1, &got));  // a closed file refuses every call
  EXPECT_FALSE(file->Close());
}

// A position or size past 4 GiB must not be cut to 32 bits.
TEST_F(OsTest, SeekAndSizePastFourGiB) {
  const uint64_t offset = (uint64_t{5} << 30) + 3;
  {
    std::unique_ptr<OsFile> file = os_->CreateExclusive(P("HUGE"));
    ASSERT_NE(file, nullptr);
    if (!file->Seek(offset) || !WriteExact(*file, "tail", 4) || !file->Close()) {
      GTEST_SKIP() << "the file system does not take a sparse file of 5 GiB";
    }
  }
  std::unique_ptr<OsFile> file = os_->OpenSharedRead(P("HUGE"));
  ASSERT_NE(file, nullptr);
  uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, offset + 4);
  ASSERT_TRUE(file->Seek(offset));
  char tail[4];
  ASSERT_TRUE(ReadExact(*file, tail, 4));
  EXPECT_EQ(std::string(tail, 4), "tail");
  file.reset();
  EXPECT_TRUE(os_->DeleteFile(P("HUGE")));
}

TEST_F(OsTest, DeleteAndPathKinds) {
  ASSERT_TRUE(dir_.Write("FILE", "x"));
  ASSERT_TRUE(dir_.MakeDirectory("DIR"));
  EXPECT_EQ(os_->GetPathKind(P("FILE")), PathKind::kFile);
  EXPECT_EQ(os_->GetPathKind(P("DIR")), PathKind::kDirectory);
  EXPECT_EQ(os_->GetPathKind(P("NONE")), PathKind::kMissing);
  EXPECT_EQ(os_->GetPathKind(P("NONE") + kSep + "X"), PathKind::kMissing);

  EXPECT_TRUE(os_->DeleteFile(P("FILE")));
  EXPECT_EQ(os_->GetPathKind(P("FILE")), PathKind::kMissing);
  EXPECT_FALSE(os_->DeleteFile(P("FILE")));
  EXPECT_FALSE(os_->DeleteFile(P("DIR")));  // never removes a directory
  EXPECT_EQ(os_->GetPathKind(P("DIR")), PathKind::kDirectory);
}

TEST_F(OsTest, ReplaceRenameReplacesTheLiveFile) {
  ASSERT_TRUE(dir_.Write("TWMSG05.PTR", "live"));
  ASSERT_TRUE(dir_.Write("TWMSG05.PTR.NEW", "staged"));
  EXPECT_TRUE(os_->ReplaceRename(P("TWMSG05.PTR.NEW"), P("TWMSG05.PTR")));
  EXPECT_EQ(dir_.Read("TWMSG05.PTR"), "staged");
  EXPECT_FALSE(dir_.Exists("TWMSG05.PTR.NEW"));

  // A missing source changes nothing.
  EXPECT_FALSE(os_->ReplaceRename(P("TWMSG05.PTR.NEW"), P("TWMSG05.PTR")));
  EXPECT_EQ(dir_.Read("TWMSG05.PTR"), "staged");
}

TEST_F(OsTest, CreateDirectoryOnce) {
  EXPECT_TRUE(os_->CreateDirectory(P("TWTRIM32-BACKUPS")));
  EXPECT_EQ(os_->GetPathKind(P("TWTRIM32-BACKUPS")), PathKind::kDirectory);
  EXPECT_FALSE(os_->CreateDirectory(P("TWTRIM32-BACKUPS")));  // names a taken backup
  EXPECT_FALSE(os_->CreateDirectory(P("NO") + kSep + "PARENT"));
}

TEST_F(OsTest, ListDirectoryMatchesWildcardsIgnoringCase) {
  for (const char* name : {"TWMSG01.PTR", "twmsg02.ptr", "TWMSG03.IDX", "TWMSG04.PTR.NEW"}) {
    ASSERT_TRUE(dir_.Write(name, "x"));
  }
  ASSERT_TRUE(dir_.MakeDirectory("VUVERUDODIV-BAK-1"));
  ASSERT_TRUE(dir_.Write("VUVERUDODIV-BAK-2", "a file, not a folder"));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(os_->ListDirectory(P("TWMSG*.PTR"), &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
#ifdef _WIN32
  std::sort(names.begin(), names.end());  // the system's order
#endif
  // Byte order on POSIX: upper case sorts before lower case.
  EXPECT_EQ(names, (std::vector<std::string>{"TWMSG01.PTR", "twmsg02.ptr"}));

  ASSERT_TRUE(os_->ListDirectory(P("vuverudodiv-bak-*"), &entries));
  ASSERT_EQ(entries.size(), 2u);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  EXPECT_EQ(entries[0].name, "VUVERUDODIV-BAK-1");
  EXPECT_TRUE(entries[0].isDirectory);
  EXPECT_FALSE(entries[1].isDirectory);

  ASSERT_TRUE(os_->ListDirectory(P("*"), &entries));
  EXPECT_EQ(entries.size(), 6u);  // no "." or ".."
  for (const DirEntry& e : entries) EXPECT_TRUE(e.name != "." && e.name != "..");

  ASSERT_TRUE(os_->ListDirectory(P("NOTHING*"), &entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(os_->ListDirectory(P("MISSING") + kSep + "*", &entries));
}

#ifndef _WIN32
TEST_F(OsTest, ListDirectoryReturnsByteOrder) {
  for (const char* name : {"b", "B", "a", "_", "A1", "A"}) ASSERT_TRUE(dir_.Write(name, ""));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(os_->ListDirectory(P("*"), &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "A1", "B", "_", "a", "b"}));
}
#endif

TEST_F(OsTest, CurrentDirectoryIsTheProcessOne) {
  std::string cwd;
  ASSERT_TRUE(os_->CurrentDirectory(&cwd));
  EXPECT_EQ(os_->GetPathKind(cwd), PathKind::kDirectory);
  EXPECT_EQ(std::filesystem::path(cwd), std::filesystem::current_path());
}

TEST_F(OsTest, NowIsAPlausibleLocalTime) {
  const LocalTime t = os_->Now();
  EXPECT_GE(t.year, 2024);
  EXPECT_LE(t.year, 2200);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
  EXPECT_TRUE(t.hour >= 0 && t.hour <= 23);
  EXPECT_TRUE(t.minute >= 0 && t.minute <= 59);
  EXPECT_TRUE(t.second >= 0 && t.second <= 59);
}

TEST_F(OsTest, ProcessListHoldsThisProcess) {
  std::vector<std::string> names;
  ASSERT_TRUE(os_->ListProcessNames(&names));
  std::string self = RunningExecutablePath();
  self = Upper(self.substr(self.find_last_of("/\\") + 1));
  bool found = false;
  for (const std::string& name : names) {
    // The kernel's comm keeps only the first 15 characters of a name.
    const std::string upper = Upper(name);
    found = found || upper == self || (upper.size() == 15 && self.rfind(upper, 0) == 0);
  }
  EXPECT_TRUE(found) << self << " not among " << names.size() << " names";
}

#ifdef _WIN32
TEST_F(OsTest, CommandLineComesFromTheProcess) {
  const std::vector<std::string> arguments = os_->CommandLineArguments();
  ASSERT_FALSE(arguments.empty());
  ASSERT_LE(arguments.size(), 64u);
  EXPECT_NE(Upper(arguments[0]).find("TWTRIM_TESTS"), std::string::npos) << arguments[0];
}
#else
TEST_F(OsTest, CommandLineIsArgvCutTo64) {
  std::vector<std::string> storage;
  for (int i = 0; i < 70; ++i) storage.push_back(i == 0 ? "./twtrim32" : "/A" + std::to_string(i));
  storage[1] = "/HOME=/srv/my bbs";
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  std::unique_ptr<Os> os = CreateSystemOs(static_cast<int>(argv.size()), argv.data());
  const std::vector<std::string> arguments = os->CommandLineArguments();
  ASSERT_EQ(arguments.size(), 64u);
  EXPECT_EQ(arguments[0], "./twtrim32");
  EXPECT_EQ(arguments[1], "/HOME=/srv/my bbs");  // argv is taken as is, blanks and all
  EXPECT_EQ(arguments[63], "/A63");
}

TEST_F(OsTest, BackslashesWorkAsSeparators) {
  const std::string dir = dir_.path();
  std::string windowsStyle = dir + "\\SUB";
  ASSERT_TRUE(os_->CreateDirectory(windowsStyle));
  ASSERT_TRUE(WriteVia(os_->CreateExclusive(windowsStyle + "\\A.PTR.NEW"), "staged"));
  EXPECT_EQ(dir_.Read("SUB/A.PTR.NEW"), "staged");
  EXPECT_EQ(os_->GetPathKind(windowsStyle + "\\A.PTR.NEW"), PathKind::kFile);
  EXPECT_TRUE(os_->ReplaceRename(windowsStyle + "\\A.PTR.NEW", windowsStyle + "\\A.PTR"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(os_->ListDirectory(windowsStyle + "\\*.PTR", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "A.PTR");
  EXPECT_EQ(ReadVia(windowsStyle + "\\A.PTR"), "staged");
  EXPECT_TRUE(os_->DeleteFile(windowsStyle + "\\A.PTR"));
  EXPECT_FALSE(dir_.Exists("SUB/A.PTR"));
}

TEST(WildcardMatchTest, StarsAndCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*", "", true},
      {"*", "ANY.NAME", true},
      {"TWMSG*.PTR", "twmsg05.ptr", true},
      {"TWMSG*.PTR", "TWMSG.PTR", true},
      {"TWMSG*.PTR", "TWMSG05.PTR.NEW", false},
      {"TWMSG*.PTR", "XTWMSG05.PTR", false},
      {"VUVERUDODIV-BAK-*", "VuVeRuDoDiV-bak-20260101", true},
      {"VUVERUDODIV-BAK-*", "VUVERUDODIV-BAK", false},
      {"*A*B*", "xxAyyAzzBww", true},
      {"*A*B", "AxBxB", true},
      {"*A*B", "AxBxC", false},
      {"EXACT", "exact", true},
      {"EXACT", "EXACTLY", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
  }
}

// --- in a forked child: what must happen while the process is ending -------

// Runs `body` in a child process and returns its wait status.
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT would dump core otherwise
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// What the lock release does, reachable from the handler without arguments.
Os* g_os = nullptr;
OsFile* g_lockFile = nullptr;
const std::string* g_lockPath = nullptr;
void ReleaseLock() {
  g_lockFile->Close();
  g_os->DeleteFile(*g_lockPath);
}

TEST_F(OsTest, ControlSignalReleasesTheLockAndTheProcessStillDies) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    const std::string lockPath = P("VIZIZE.BSY");
    const int status = InChild([&] {
      std::unique_ptr<OsFile> lock = os_->CreateNew(lockPath);
      if (!lock) _exit(10);
      g_os = os_.get();
      g_lockFile = lock.get();
      g_lockPath = &lockPath;
      os_->InstallControlHandler(ReleaseLock);
      raise(signal);
      _exit(11);  // must not be reached
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
  }
}

TEST_F(OsTest, IgnoredSignalStaysIgnored) {
  const int status = InChild([&] {
    signal(SIGHUP, SIG_IGN);  // as under nohup
    os_->InstallControlHandler([] { _exit(12); });
    raise(SIGHUP);
    _exit(0);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Standard output into a pipe: every byte arrives even when the pipe takes
// them in pieces, and a pipe is no console.
TEST_F(OsTest, StdoutToAPipeDeliversEverythingAndIsNoConsole) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string text(1 << 20, 'r');
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    int rows, columns;
    KeyEvent key;
    const bool console =
        os_->IsInteractiveConsole() || os_->ConsoleSize(&rows, &columns) || os_->ReadKeyEvent(&key);
    os_->WriteStdout(text.data(), text.size());
    _exit(console ? 1 : 0);
  }
  close(fds[1]);
  std::string received;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) received.append(buffer, got);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a pipe was taken for a console";
  EXPECT_EQ(received.size(), text.size());
  EXPECT_TRUE(received == text);
}
#endif

}  // namespace
}  // namespace twtrim
