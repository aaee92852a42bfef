// The interrupt handler and the main thread share the lock: whichever comes
// first releases it, and the other must then leave the name alone, even when
// someone else's marker has taken it meanwhile.
#include "safety/tosser_lock.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/fault_os.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

TEST(TosserLockTest, ControlHandlerReleasesOnceAndTheMainThreadThenDoesNothing) {
  TempDir dir;
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  FaultOs os(*real);
  ASSERT_TRUE(AcquireSharedTosserLock(os, dir.Path("VIZIZE.BSY")));
  ConsoleControlHandler();
  EXPECT_FALSE(dir.Exists("VIZIZE.BSY"));
  EXPECT_FALSE(SharedTosserLockOwned());
  ASSERT_TRUE(dir.Write("VIZIZE.BSY", "tosser"));
  ConsoleControlHandler();
  EXPECT_TRUE(ReleaseSharedTosserLock());
  EXPECT_EQ(dir.Read("VIZIZE.BSY"), "tosser");
  EXPECT_EQ(os.calls(OsCall::kDeleteFile), 1u);
  EXPECT_EQ(os.calls(OsCall::kClose), 1u);
}

}  // namespace
}  // namespace twtrim
