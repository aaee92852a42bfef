#include "safety/tosser_lock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "safety_fixture.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace twtrim {
namespace {

const std::string kLockLine = "TWTRIM32 0.6.0-beta1 active - shared message-base lock\r\n";

class TosserLockTest : public SafetyTest {
 protected:
  // The lock state is process-wide: leave it free for the next test.
  void TearDown() override { ReleaseSharedTosserLock(); }

  std::string LockPath() const { return dir_.Path("VIZIZE.BSY"); }
};

TEST_F(TosserLockTest, AcquireHoldsTheFileAndReleaseRemovesIt) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  EXPECT_TRUE(SharedTosserLockOwned());
  EXPECT_EQ(SharedTosserLockPath(), LockPath());
  EXPECT_EQ(std::filesystem::file_size(LockPath()), 56u);
#ifdef _WIN32
  std::error_code error;
  EXPECT_FALSE(std::filesystem::remove(LockPath(), error)) << "held unshared: nobody may delete it";
#endif

  EXPECT_TRUE(ReleaseSharedTosserLock());
  EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
  EXPECT_FALSE(SharedTosserLockOwned());
  EXPECT_EQ(SharedTosserLockPath(), "");
  EXPECT_TRUE(ReleaseSharedTosserLock()) << "nothing left to release";
}

TEST_F(TosserLockTest, LockFileIsTheOneLineWrittenAndFlushedAtOnce) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  EXPECT_EQ(os_.calls(OsCall::kWrite), 1u);
  EXPECT_EQ(os_.calls(OsCall::kFlush), 1u);
  // Keep the file through the release so that it can be read once closed.
  os_.FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
  EXPECT_FALSE(ReleaseSharedTosserLock());
  const std::string content = dir_.Read("VIZIZE.BSY");
  EXPECT_EQ(content.size(), 56u);
  EXPECT_EQ(content, kLockLine);
  EXPECT_EQ(content.substr(54), "\r\n");
}

TEST_F(TosserLockTest, ExistingMarkerBlocksAcquisitionAndIsLeftAlone) {
  // A stale lock of a killed run, or the tosser's own marker.
  ASSERT_TRUE(dir_.Write("VIZIZE.BSY", "busy since 1998\r\n"));
  EXPECT_FALSE(AcquireSharedTosserLock(os_, LockPath()));
  EXPECT_FALSE(SharedTosserLockOwned());
  EXPECT_EQ(SharedTosserLockPath(), "");
  EXPECT_TRUE(ReleaseSharedTosserLock());
  ConsoleControlHandler();
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "busy since 1998\r\n") << "never delete a foreign lock";
  EXPECT_EQ(os_.calls(OsCall::kDeleteFile), 0u);
}

TEST_F(TosserLockTest, DirectoryNamedLikeTheMarkerBlocksAcquisition) {
  ASSERT_TRUE(dir_.MakeDirectory("VIZIZE.BSY"));
  EXPECT_FALSE(AcquireSharedTosserLock(os_, LockPath()));
  EXPECT_FALSE(SharedTosserLockOwned());
  EXPECT_TRUE(std::filesystem::is_directory(LockPath()));
}

TEST_F(TosserLockTest, SecondAcquisitionFailsAndKeepsTheFirst) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  const std::string other = dir_.Path("OTHER.BSY");
  EXPECT_FALSE(AcquireSharedTosserLock(os_, other));
  EXPECT_FALSE(dir_.Exists("OTHER.BSY"));
  EXPECT_TRUE(SharedTosserLockOwned());
  EXPECT_EQ(SharedTosserLockPath(), LockPath());
  EXPECT_EQ(std::filesystem::file_size(LockPath()), 56u);
}

TEST_F(TosserLockTest, OverlongPathCreatesNothing) {
  const std::string path = dir_.path() + "/" + std::string(512 - dir_.path().size(), 'L');
  ASSERT_EQ(path.size(), 513u);
  EXPECT_FALSE(AcquireSharedTosserLock(os_, path));
  EXPECT_EQ(os_.calls(OsCall::kCreateNew), 0u);
  EXPECT_FALSE(SharedTosserLockOwned());
}

TEST_F(TosserLockTest, FailedWriteOrFlushUndoesTheLock) {
  struct Case {
    const char* name;
    OsCall kind;
    bool shortWrite;
  };
  for (const Case& c :
       {Case{"write fails", OsCall::kWrite, false}, Case{"short write", OsCall::kWrite, true},
        Case{"flush fails", OsCall::kFlush, false}}) {
    SCOPED_TRACE(c.name);
    os_.ClearFaults();
    os_.ResetCounts();
    if (c.shortWrite) {
      os_.ShortNthCall(c.kind, 1);
    } else {
      os_.FailNthCall(c.kind, 1);
    }
    EXPECT_FALSE(AcquireSharedTosserLock(os_, LockPath()));
    EXPECT_FALSE(dir_.Exists("VIZIZE.BSY")) << "the half-made lock is deleted";
    EXPECT_FALSE(SharedTosserLockOwned());
    EXPECT_EQ(SharedTosserLockPath(), "");
  }
  os_.ClearFaults();
  EXPECT_TRUE(AcquireSharedTosserLock(os_, LockPath())) << "a later run can still lock";
}

TEST_F(TosserLockTest, ReleaseFailsWhenSomeoneElseDeletedTheFile) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  std::error_code error;
  if (!std::filesystem::remove(LockPath(), error)) {
    GTEST_SKIP() << "the held lock cannot be deleted here (unshared on Windows)";
  }
  EXPECT_FALSE(ReleaseSharedTosserLock());
  EXPECT_FALSE(SharedTosserLockOwned()) << "the state is cleared anyway";
  EXPECT_EQ(SharedTosserLockPath(), "");
  EXPECT_TRUE(ReleaseSharedTosserLock());
}

TEST_F(TosserLockTest, ReleaseStillDeletesWhenCloseFails) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  os_.FailNthCall(OsCall::kClose, 1);
  EXPECT_FALSE(ReleaseSharedTosserLock());
  EXPECT_EQ(os_.calls(OsCall::kDeleteFile), 1u);
#ifndef _WIN32
  // Here the file can go even while the handle the failed close left is open.
  EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
#endif
  EXPECT_FALSE(SharedTosserLockOwned());
}

TEST_F(TosserLockTest, ControlHandlerReleasesOnceAndTheMainThreadThenDoesNothing) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  ConsoleControlHandler();
  EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
  EXPECT_FALSE(SharedTosserLockOwned());
  // Someone else's marker appears: neither a second event nor the main
  // thread's release may touch it.
  ASSERT_TRUE(dir_.Write("VIZIZE.BSY", "tosser"));
  ConsoleControlHandler();
  EXPECT_TRUE(ReleaseSharedTosserLock());
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "tosser");
  EXPECT_EQ(os_.calls(OsCall::kDeleteFile), 1u);
  EXPECT_EQ(os_.calls(OsCall::kClose), 1u);
}

#ifndef _WIN32
// The real thing: a process holding the lock is interrupted. The handler
// must remove the lock file and the process must still die of the signal.
TEST_F(TosserLockTest, SignalReleasesTheLockAndStillEndsTheProcess) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT would dump core
      std::unique_ptr<Os> os = CreateSystemOs(0, nullptr);
      os->InstallControlHandler(&ConsoleControlHandler);
      const char status = AcquireSharedTosserLock(*os, LockPath()) ? '1' : '0';
      if (write(ready[1], &status, 1) != 1) _exit(70);
      pause();
      _exit(71);  // the signal was swallowed
    }
    close(ready[1]);
    char status = 0;
    ASSERT_EQ(read(ready[0], &status, 1), 1);
    close(ready[0]);
    ASSERT_EQ(status, '1');
    ASSERT_TRUE(dir_.Exists("VIZIZE.BSY"));
    ASSERT_EQ(kill(child, signal), 0);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFSIGNALED(wstatus)) << "exit status " << WEXITSTATUS(wstatus);
    EXPECT_EQ(WTERMSIG(wstatus), signal);
    EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
  }
}
#endif

}  // namespace
}  // namespace twtrim
