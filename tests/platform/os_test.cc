// The real Os of this build on real files: the sharing and creation modes,
// 64-bit positions, renames, listings, the process list and the control
// handler behave as the program relies on.
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#undef CreateDirectory
#undef DeleteFile
#else
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace twtrim {
namespace {

#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

#ifdef _WIN32
std::wstring Wide(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide += static_cast<wchar_t>(c == '/' ? '\\' : c);
  return wide;
}
#endif

std::string Upper(std::string text) {
  for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
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
    return ReadExact(*file, bytes.data(), static_cast<uint32_t>(size)) ? bytes : "<short>";
  }

  TempDir dir_;
  std::unique_ptr<Os> os_;
};

TEST_F(OsTest, SharedReadLetsOthersReadAndDelete) {
  ASSERT_TRUE(dir_.Write("CONF.DAT", "content"));
  ASSERT_TRUE(dir_.MakeDirectory("SUB"));
  EXPECT_EQ(os_->OpenSharedRead(P("MISSING")), nullptr);
  EXPECT_EQ(os_->OpenSharedRead(P("SUB")), nullptr);
#ifndef _WIN32
  ASSERT_EQ(mkfifo(P("FIFO").c_str(), 0600), 0);
  EXPECT_EQ(os_->OpenSharedRead(P("FIFO")), nullptr);  // opening it would block
#endif
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

// A staged, rollback or lock name that exists in any form is never written
// through: not an old file, a directory, nor a symbolic link, dangling or not.
TEST_F(OsTest, CreateNewRefusesEveryExistingNameAndFollowsNoLink) {
  ASSERT_TRUE(dir_.Write("VIZIZE.BSY", "tosser"));
  ASSERT_TRUE(dir_.MakeDirectory("DIR"));
#ifndef _WIN32
  ASSERT_EQ(symlink(P("ELSEWHERE").c_str(), P("DANGLING.NEW").c_str()), 0);
  ASSERT_EQ(symlink(P("VIZIZE.BSY").c_str(), P("LINKED.NEW").c_str()), 0);
#endif
  std::vector<std::string> taken = {"VIZIZE.BSY", "DIR"};
#ifndef _WIN32
  taken.insert(taken.end(), {"DANGLING.NEW", "LINKED.NEW"});
#endif
  for (const std::string& name : taken) {
    EXPECT_EQ(os_->CreateNew(P(name)), nullptr) << name;
  }
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "tosser");
  EXPECT_FALSE(dir_.Exists("ELSEWHERE"));
  ASSERT_TRUE(WriteVia(os_->CreateNew(P("LOCK")), "mine\r\n"));
  EXPECT_EQ(dir_.Read("LOCK"), "mine\r\n");
}

// Two runs sharing one report file must never overwrite each other's lines:
// Windows keeps the second writer out, POSIX appends both.
TEST_F(OsTest, SecondAppenderNeverOverwritesTheFirst) {
  std::unique_ptr<OsFile> first = os_->OpenForAppend(P("REPORT.TXT"));
  ASSERT_TRUE(first && first->SeekToEnd());
  std::unique_ptr<OsFile> second = os_->OpenForAppend(P("REPORT.TXT"));
#ifdef _WIN32
  EXPECT_EQ(second, nullptr);
  ASSERT_TRUE(WriteVia(std::move(first), "first\r\n"));
  EXPECT_EQ(dir_.Read("REPORT.TXT"), "first\r\n");
#else
  ASSERT_TRUE(second && second->SeekToEnd());
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

  std::unique_ptr<OsFile> staged = os_->CreateNew(P("STAGED"));
  ASSERT_NE(staged, nullptr);
  EXPECT_EQ(os_->OpenSharedRead(P("STAGED")), nullptr);

  std::unique_ptr<OsFile> log = os_->OpenForAppend(P("REPORT.TXT"));
  ASSERT_TRUE(log && WriteExact(*log, "x", 1));
  EXPECT_EQ(ReadVia(P("REPORT.TXT")), "x");                   // others may read the log
  EXPECT_EQ(os_->CreateNew(P("REPORT.TXT")), nullptr);  // but not write it
}
#endif

// Sizes and positions at and past 2 GiB and 4 GiB must not be cut to 31 or
// 32 bits (sparse files: nothing of the gap is read or written).
TEST_F(OsTest, SeekAndSizeAtAndPastTwoAndFourGiB) {
  for (const uint64_t offset : {(uint64_t{1} << 31) - 2, uint64_t{1} << 31, (uint64_t{1} << 32) - 2,
                                uint64_t{1} << 32, (uint64_t{5} << 30) + 3}) {
    SCOPED_TRACE(offset);
    {
      std::unique_ptr<OsFile> file = os_->CreateNew(P("HUGE"));
      ASSERT_NE(file, nullptr);
      if (!file->Seek(offset) || !WriteExact(*file, "tail", 4) || !file->Close()) {
        GTEST_SKIP() << "the file system does not take a sparse file of 5 GiB";
      }
    }
    std::unique_ptr<OsFile> file = os_->OpenSharedRead(P("HUGE"));
    uint64_t size = 0;
    char tail[4];
    ASSERT_TRUE(file && file->Size(&size) && file->Seek(offset) && ReadExact(*file, tail, 4));
    EXPECT_EQ(size, offset + 4);
    EXPECT_EQ(std::string(tail, 4), "tail");
    uint32_t got = 1;
    EXPECT_TRUE(file->Read(tail, 4, &got) && got == 0);  // the end is where the size says
    file.reset();
    ASSERT_TRUE(os_->DeleteFile(P("HUGE")));
  }
}

// The write and rollback code rely on these refusals to change nothing.
TEST_F(OsTest, RefusedNameOperationsChangeNothing) {
  ASSERT_TRUE(dir_.Write("FILE", "live"));
  ASSERT_TRUE(os_->CreateDirectory(P("DIR")));
  EXPECT_FALSE(os_->CreateDirectory(P("DIR")));  // names a taken backup
  EXPECT_FALSE(os_->CreateDirectory(P("FILE")));
  EXPECT_FALSE(os_->CreateDirectory(P("NO") + kSep + "PARENT"));
  EXPECT_FALSE(os_->DeleteFile(P("DIR")));  // never removes a directory
  EXPECT_EQ(os_->GetPathKind(P("DIR")), PathKind::kDirectory);
  EXPECT_FALSE(os_->ReplaceRename(P("FILE.NEW"), P("FILE")));  // a missing source
  EXPECT_EQ(dir_.Read("FILE"), "live");
}

// A run holds the lock open while it checks the name: a file deleted and made
// anew under that name must not pass for the one it holds.
TEST_F(OsTest, IdentityTellsAFileFromItsReplacement) {
  ASSERT_TRUE(dir_.Write("OTHER", "x"));
  std::unique_ptr<OsFile> held = os_->CreateNew(P("LOCK"));
  FileIdentity mine, byName, other, replaced;
  ASSERT_TRUE(held && held->Identity(&mine) && os_->PathIdentity(P("LOCK"), &byName));
  EXPECT_EQ(mine, byName);
  ASSERT_TRUE(os_->PathIdentity(P("OTHER"), &other));
  EXPECT_NE(mine, other);
#ifdef _WIN32
  // Nobody deletes a name held unshared; moved aside, the old file keeps its
  // index, so the new file cannot be given it again.
  ASSERT_TRUE(held->Close() && os_->ReplaceRename(P("LOCK"), P("LOCK.OLD")));
#else
  ASSERT_TRUE(os_->DeleteFile(P("LOCK")));
#endif
  ASSERT_TRUE(dir_.Write("LOCK", "someone else's"));
  ASSERT_TRUE(os_->PathIdentity(P("LOCK"), &replaced));
  EXPECT_NE(mine, replaced);
  EXPECT_FALSE(os_->PathIdentity(P("MISSING"), &replaced));
}

#ifdef _WIN32
// A scanner's brief open without delete sharing must not fail a commit or a
// rollback rename: the replace waits for it. (The pause only lets the rename
// start while the file is held; nothing here measures how long anything takes.)
TEST_F(OsTest, ReplaceWaitsOutABriefUnsharedOpen) {
  ASSERT_TRUE(dir_.Write("LIVE", "old") && dir_.Write("LIVE.NEW", "new"));
  const HANDLE scanner = CreateFileA(P("LIVE").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  bool renamed = false;
  std::thread commit([&] { renamed = os_->ReplaceRename(P("LIVE.NEW"), P("LIVE")); });
  Sleep(300);
  CloseHandle(scanner);
  commit.join();
  EXPECT_TRUE(renamed);
  EXPECT_EQ(dir_.Read("LIVE"), "new");
}
#endif

// The backup's free-space check needs a figure for an existing directory and
// must not invent one for a missing directory.
TEST_F(OsTest, FreeSpaceOfTheTempVolume) {
  uint64_t bytes = 0;
  EXPECT_TRUE(os_->FreeSpace(dir_.path(), &bytes));
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(os_->FreeSpace(P("MISSING"), &bytes));
}

// The same order on both platforms: ASCII letters folded to upper case, then
// byte by byte, so letters come before '_' and case never splits names apart.
TEST_F(OsTest, ListingOrderFoldsCase) {
  std::vector<std::string> expected = {"a",      "AB", "A_B", "B", "vuverudodiv-bak-lower",
                                       "VUVERUDODIV-BAK-OLD", "_x"};
#ifndef _WIN32
  expected.insert(expected.begin() + 3, "a_B");  // equal after folding: raw bytes decide
#endif
  for (const std::string& name : expected) ASSERT_TRUE(dir_.Write(name, ""));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(os_->ListDirectory(P("*"), &entries));
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) names.push_back(entry.name);
  EXPECT_EQ(names, expected);
}

TEST_F(OsTest, ClockAndProcessListAreThisProcesses) {
  const LocalTime t = os_->Now();
  EXPECT_TRUE(t.year >= 2024 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
  std::vector<std::string> names;
  ASSERT_TRUE(os_->ListProcessNames(&names));
  std::string self = RunningExecutablePath();
  self = Upper(self.substr(self.find_last_of("/\\") + 1));
  // The kernel's comm keeps only the first 15 characters of a name.
  EXPECT_TRUE(std::any_of(names.begin(), names.end(),
                          [&](const std::string& name) {
                            const std::string upper = Upper(name);
                            return upper == self ||
                                   (upper.size() == 15 && self.rfind(upper, 0) == 0);
                          }))
      << self << " not among " << names.size() << " names";
}

#ifdef _WIN32
// A Windows without long paths refuses a long name without looking for it:
// the caller must be able to say so instead of calling it missing.
TEST_F(OsTest, PathRefusedForItsLengthIsToldApart) {
  std::string deep = dir_.path();
  while (deep.size() < 300) {
    deep += "\\" + std::string(60, 'D');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + Wide(deep)).c_str(), nullptr)) << deep;
  }
  EXPECT_FALSE(os_->PathTooLong(dir_.path()));
  EXPECT_FALSE(os_->PathTooLong(P("MISSING")));
  if (os_->GetPathKind(deep) == PathKind::kDirectory) GTEST_SKIP() << "long paths are enabled";
  EXPECT_TRUE(os_->PathTooLong(deep));
  for (; deep.size() > dir_.path().size(); deep.erase(deep.find_last_of('\\'))) {
    RemoveDirectoryW((L"\\\\?\\" + Wide(deep)).c_str());
  }
}

TEST_F(OsTest, CommandLineComesFromTheProcess) {
  const std::vector<std::string> arguments = os_->CommandLineArguments();
  ASSERT_FALSE(arguments.empty());
  EXPECT_NE(Upper(arguments[0]).find("TWTRIM_TESTS"), std::string::npos) << arguments[0];
}
#else
TEST_F(OsTest, BackslashesWorkAsSeparators) {
  const std::string sub = dir_.path() + "\\SUB";
  ASSERT_TRUE(os_->CreateDirectory(sub));
  ASSERT_TRUE(WriteVia(os_->CreateNew(sub + "\\A.PTR.NEW"), "staged"));
  EXPECT_EQ(dir_.Read("SUB/A.PTR.NEW"), "staged");
  EXPECT_TRUE(os_->ReplaceRename(sub + "\\A.PTR.NEW", sub + "\\A.PTR"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(os_->ListDirectory(sub + "\\*.PTR", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "A.PTR");
  EXPECT_EQ(ReadVia(sub + "\\A.PTR"), "staged");
  EXPECT_TRUE(os_->DeleteFile(sub + "\\A.PTR"));
  EXPECT_FALSE(dir_.Exists("SUB/A.PTR"));
}

// Two spellings of one place must compare equal: every link on the way is
// followed (and ".." after a link leaves its target), a missing tail is
// kept, normalised.
TEST_F(OsTest, FullPathResolvesLinksDotsAndAMissingTail) {
  char base[PATH_MAX];
  ASSERT_NE(realpath(dir_.path().c_str(), base), nullptr);
  const std::string d = base;
  ASSERT_TRUE(dir_.MakeDirectory("SUB/DEEP"));
  ASSERT_EQ(symlink((d + "/SUB/DEEP").c_str(), P("LINK").c_str()), 0);
  char here[PATH_MAX], cwd[PATH_MAX];
  ASSERT_TRUE(getcwd(here, sizeof here) != nullptr && realpath(here, cwd) != nullptr);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {d + "/SUB/./DEEP/..", d + "/SUB"},
      {d + "//SUB/", d + "/SUB"},
      {d + "/LINK", d + "/SUB/DEEP"},
      {d + "/LINK/..", d + "/SUB"},
      {d + "/LINK/NEW/./X", d + "/SUB/DEEP/NEW/X"},
      {d + "/MISSING/../LINK", d + "/SUB/DEEP"},
      {d + "/NEW/../..", std::string(base).substr(0, d.find_last_of('/'))},
      {".", cwd},
      {"NEW/X/..", std::string(cwd) + "/NEW"},
  };
  for (const auto& [path, resolved] : cases) {
    std::string full;
    EXPECT_TRUE(os_->FullPath(path, &full) && full == resolved) << path << " -> " << full;
  }
}

// Run as root, a pack must leave the board's files to their owner with their
// mode; CI runs the tests as root, so the owner is proven there.
TEST_F(OsTest, CopyTakesTheOriginalsOwnerAndMode) {
  ASSERT_TRUE(dir_.Write("LIVE", "x"));
  ASSERT_EQ(chmod(P("LIVE").c_str(), 0640), 0);
  const struct passwd* nobody = getpwnam("nobody");
  const struct group* nogroup = getgrnam("nogroup");
  const bool root = geteuid() == 0 && nobody != nullptr && nogroup != nullptr;
  ASSERT_TRUE(!root || chown(P("LIVE").c_str(), nobody->pw_uid, nogroup->gr_gid) == 0);
  struct stat live, copy;
  ASSERT_EQ(stat(P("LIVE").c_str(), &live), 0);
  std::unique_ptr<OsFile> staged = os_->CreateNew(P("LIVE.NEW"));
  ASSERT_TRUE(staged && staged->CopyOwnerAndMode(P("LIVE")) && staged->Close());
  ASSERT_EQ(stat(P("LIVE.NEW").c_str(), &copy), 0);
  EXPECT_EQ(copy.st_mode & 07777, 0640u);
  EXPECT_EQ(copy.st_uid, live.st_uid);
  EXPECT_EQ(copy.st_gid, live.st_gid);
  staged = os_->CreateNew(P("ORPHAN.NEW"));
  EXPECT_FALSE(staged && staged->CopyOwnerAndMode(P("MISSING")));
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
const std::string* g_lockPath = nullptr;
void ReleaseLock() { g_os->DeleteFile(*g_lockPath); }

// Started with standard output closed, the program's first file must not
// take descriptor 1 and receive the report; a reader of standard output that
// went away must not kill the run.
TEST_F(OsTest, StandardOutputClosedOrBrokenNeverReachesTheRun) {
  int status = InChild([&] {
    ::close(1);
    std::unique_ptr<Os> os = CreateSystemOs(0, nullptr);
    if (!WriteVia(os->CreateNew(P("VIZIZE.BSY")), "lock")) _exit(10);
    os->WriteStdout("report", 6);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "lock");
  status = InChild([&] {
    int ends[2];
    if (pipe(ends) != 0 || dup2(ends[1], 1) != 1) _exit(10);
    ::close(ends[0]);
    CreateSystemOs(0, nullptr)->WriteStdout("report", 6);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(OsTest, ControlSignalReleasesTheLockAndTheProcessStillDies) {
  const std::string lockPath = P("VIZIZE.BSY");
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    const int status = InChild([&] {
      std::unique_ptr<OsFile> lock = os_->CreateNew(lockPath);
      if (!lock) _exit(10);
      g_os = os_.get();
      g_lockPath = &lockPath;
      ::signal(signal, SIG_DFL);  // a background job starts with SIGINT ignored
      os_->InstallControlHandler(ReleaseLock);
      raise(signal);
      _exit(11);  // must not be reached
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
  }
  // A signal ignored before the run (as under nohup) stays ignored.
  const int status = InChild([&] {
    signal(SIGHUP, SIG_IGN);
    os_->InstallControlHandler([] { _exit(12); });
    raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

#endif

}  // namespace
}  // namespace twtrim
