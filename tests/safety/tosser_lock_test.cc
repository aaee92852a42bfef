#include "safety/tosser_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "safety_fixture.h"

namespace twtrim {
namespace {

class TosserLockTest : public SafetyTest {
 protected:
  // The lock state is process-wide: leave it free for the next test.
  void TearDown() override { ReleaseSharedTosserLock(); }

  std::string LockPath() const { return dir_.Path("VIZIZE.BSY"); }
  void ExpectNotOwned() {
    EXPECT_FALSE(SharedTosserLockOwned());
    EXPECT_EQ(SharedTosserLockPath(), "");
  }
};

TEST_F(TosserLockTest, LockIsOneFlushedLineHeldUntilRelease) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  EXPECT_TRUE(SharedTosserLockOwned());
  EXPECT_EQ(SharedTosserLockPath(), LockPath());
  EXPECT_EQ(os_.calls(OsCall::kWrite), 1u);
  EXPECT_EQ(os_.calls(OsCall::kFlush), 1u);
#ifdef _WIN32
  std::error_code error;
  EXPECT_FALSE(std::filesystem::remove(LockPath(), error)) << "held unshared: nobody may delete it";
#endif
  // A second acquisition fails and keeps the first.
  EXPECT_FALSE(AcquireSharedTosserLock(os_, dir_.Path("OTHER.BSY")));
  EXPECT_FALSE(dir_.Exists("OTHER.BSY"));
  EXPECT_EQ(SharedTosserLockPath(), LockPath());

  // Keep the file through the release so that it can be read once closed.
  os_.FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
  EXPECT_FALSE(ReleaseSharedTosserLock());
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "TWTRIM32 0.6.0-beta1 active - shared message-base lock\r\n");
  ExpectNotOwned();
  os_.ClearFaults();
  ASSERT_TRUE(std::filesystem::remove(LockPath()));

  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  EXPECT_TRUE(ReleaseSharedTosserLock());
  EXPECT_FALSE(dir_.Exists("VIZIZE.BSY"));
  ExpectNotOwned();
  EXPECT_TRUE(ReleaseSharedTosserLock()) << "nothing left to release";
}

TEST_F(TosserLockTest, ForeignMarkerOrDirectoryBlocksAcquisitionAndIsLeftAlone) {
  // A stale lock of a killed run, the tosser's own marker, or a directory.
  ASSERT_TRUE(dir_.Write("VIZIZE.BSY", "busy since 1998\r\n"));
  EXPECT_FALSE(AcquireSharedTosserLock(os_, LockPath()));
  ExpectNotOwned();
  EXPECT_TRUE(ReleaseSharedTosserLock());
  ConsoleControlHandler();
  EXPECT_EQ(dir_.Read("VIZIZE.BSY"), "busy since 1998\r\n") << "never delete a foreign lock";
  EXPECT_EQ(os_.calls(OsCall::kDeleteFile), 0u);

  std::filesystem::remove(LockPath());
  ASSERT_TRUE(dir_.MakeDirectory("VIZIZE.BSY"));
  EXPECT_FALSE(AcquireSharedTosserLock(os_, LockPath()));
  ExpectNotOwned();
  EXPECT_TRUE(std::filesystem::is_directory(LockPath()));

  os_.ResetCounts();
  const std::string tooLong = dir_.path() + "/" + std::string(512 - dir_.path().size(), 'L');
  EXPECT_FALSE(AcquireSharedTosserLock(os_, tooLong));
  EXPECT_EQ(os_.calls(OsCall::kCreateNew), 0u);
}

TEST_F(TosserLockTest, FailedWriteOrFlushUndoesTheLock) {
  for (auto [kind, shortWrite] : {std::pair{OsCall::kWrite, false}, std::pair{OsCall::kWrite, true},
                                  std::pair{OsCall::kFlush, false}}) {
    SCOPED_TRACE(std::string(OsCallName(kind)) + (shortWrite ? " short" : ""));
    os_.ClearFaults();
    os_.ResetCounts();
    shortWrite ? os_.ShortNthCall(kind, 1) : os_.FailNthCall(kind, 1);
    EXPECT_FALSE(AcquireSharedTosserLock(os_, LockPath()));
    EXPECT_FALSE(dir_.Exists("VIZIZE.BSY")) << "the half-made lock is deleted";
    ExpectNotOwned();
  }
  os_.ClearFaults();
  EXPECT_TRUE(AcquireSharedTosserLock(os_, LockPath())) << "a later run can still lock";
}

TEST_F(TosserLockTest, ReleaseStillDeletesWhenCloseFailsAndIsJudgedByTheFileBeingGone) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, LockPath()));
  os_.FailNthCall(OsCall::kClose, 1);
  // POSIX can delete the file while the handle the failed close left is
  // open; Windows cannot, and then the release must say so.
  const bool released = ReleaseSharedTosserLock();
  EXPECT_EQ(released, !dir_.Exists("VIZIZE.BSY"));
  EXPECT_EQ(os_.calls(OsCall::kDeleteFile), 1u);
#ifndef _WIN32
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

}  // namespace
}  // namespace twtrim
