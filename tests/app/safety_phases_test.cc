// The guards around the scan, run in process: the shared lock, the checks
// before and after the scan, the integrity proof and the lock release. The
// verbose pass lines and the stale-lock abort are pinned end to end.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "safety/tosser_lock.h"
#include "support/app_harness.h"

namespace twtrim::test {
namespace {

const board::ConferenceFiles kClean = MakeConference({board::Root(1, 2), board::Reply(2, 1, 2)});

const Lines kAbortBlock = {"", "===================== SAFETY ABORT =========================",
                           "No message-base file was opened for write or modified by TWTRIM32.",
                           "This operation did not complete as a verified consistent snapshot.",
                           std::string(60, '=')};
const Lines kLockCleanupError = {
    "LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.",
    "Verify no TWTRIM32 or VIZize32 process is active before removing it manually."};
constexpr char kNoScan[] =
    "TWTRIM32 will not scan while a caller may be online or active in messages.";

TEST(LockPhase, LockThatCannotBeCreatedIsASafetyError) {
  for (const bool directory : {true, false}) {
    SCOPED_TRACE(directory ? "directory in the way" : "create fails");
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, kClean));
    if (directory) {
      ASSERT_TRUE(board::MakeDirectories(h.MessagePath("VIZIZE.BSY")));
    } else {
      h.os().FailPath(OsCall::kCreateNew, "VIZIZE.BSY");
    }
    const AppRun run = h.Run({"/CONF1", "/WRITE"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(EndsWith(
        run.lines,
        JoinLines({{"SAFETY ERROR: could not atomically create the shared message-base lock: " +
                    h.ShownMessage("VIZIZE.BSY")},
                   kAbortBlock,
                   Footer(kRunTimeText, 3, "ABORTED")})));
    // The abort comes before the write notices.
    EXPECT_EQ(IndexOf(run.lines, "WARNING: OFFLINE MAINTENANCE REQUIRED FOR /WRITE"),
              run.lines.size());
    EXPECT_EQ(h.Exists(h.MessagePath("VIZIZE.BSY")), directory);
  }
}

TEST(LockPhase, HandlerComesBeforeTheLockWhichIsHeldForTheWholeRun) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  bool handlerSeen = false, present = false, readable = false;
  h.os().BeforeCall(OsCall::kCreateNew, "VIZIZE.BSY",
                    [&] { handlerSeen = h.os().controlHandler() == &ConsoleControlHandler; });
  std::string during;
  BeforeCheckpoint(h, 1, [&] {
    present = h.Exists(h.MessagePath("VIZIZE.BSY"));
    readable = ReadWholeFile(h.MessagePath("VIZIZE.BSY"), &during);
  });
  EXPECT_EQ(h.Run({"/CONF1", "/DRYRUN"}).exitCode, 0);
  EXPECT_TRUE(handlerSeen);
  EXPECT_TRUE(present);
#ifdef _WIN32
  EXPECT_FALSE(readable);  // held open without sharing
#else
  EXPECT_TRUE(readable);  // POSIX has no sharing modes
#endif
  EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));
}

TEST(SafetyPhases, EachGuardStopsTheRunAtItsCheckpoint) {
  const struct {
    const char* name;
    std::function<void(AppHarness&)> arrange;
    std::function<Lines(AppHarness&)> findings;
  } cases[] = {
      {"caller online",
       [](AppHarness& h) {
         ASSERT_TRUE(h.SetCallers({{3, {7, 'M'}}}));
       },
       [](AppHarness&) {
         return Lines{"SAFETY ABORT: caller activity found during initial preflight:",
                      "  TWWHOSON slot 3 UserNo=7 Status=M", kNoScan};
       }},
      {"tosser running",
       [](AppHarness& h) {
         h.os().SetProcessNames({"init", "vizize32.exe"});
       },
       [](AppHarness&) {
         return Lines{"SAFETY ABORT: VIZIZE32.EXE is running during initial preflight."};
       }},
      {"conference file missing",
       [](AppHarness& h) { ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("TWMSG01.IDX"))); },
       [](AppHarness& h) {
         return Lines{"SAFETY ERROR: required file is missing: " + h.ShownMessage("TWMSG01.IDX")};
       }},
      {"caller appears after the snapshot",
       [](AppHarness& h) {
         BeforeCheckpoint(h, 2, [&h] { ASSERT_TRUE(h.SetCallers({{1, {0, ' '}}})); });
       },
       [](AppHarness&) {
         return Lines{"SAFETY ABORT: caller activity found during immediately before scan:",
                      "  TWWHOSON slot 1 UserNo=0 Status= ", kNoScan};
       }},
      {"caller appears after the scan",
       [](AppHarness& h) {
         BeforeCheckpoint(h, 3, [&h] { ASSERT_TRUE(h.SetCallers({{255, {0xFFFF, 'M'}}})); });
       },
       [](AppHarness&) {
         return Lines{"", "=================== POST-SCAN SAFETY =======================",
                      "SAFETY ABORT: caller activity found during immediately after scan:",
                      "  TWWHOSON slot 255 UserNo=65535 Status=M", kNoScan};
       }},
      {"file changed during the scan",
       [](AppHarness& h) {
         // The first open of the DAT file is the snapshot, the second the scan.
         h.os().AddHook({OsCall::kOpenSharedRead, "TWMSG01.DAT", 2},
                        [&h] { FlipByte(h.MessagePath("TWMSG01.DAT"), 0); });
       },
       [](AppHarness& h) {
         const std::string after = h.ReadFile(h.MessagePath("TWMSG01.DAT"));
         std::string before = after;
         before[0] = static_cast<char>(before[0] ^ 0x01);
         const std::string size = " size=" + std::to_string(after.size());
         return Lines{
             "",
             "=================== POST-SCAN SAFETY =======================",
             "  CHANGED: " + h.ShownMessage("TWMSG01.DAT"),
             "    Before" + size + " FNV=" + Hex8(Fnv1a(before)) + " CRC32=" + Hex8(Crc32(before)),
             "    After " + size + " FNV=" + Hex8(Fnv1a(after)) + " CRC32=" + Hex8(Crc32(after)),
             "SAFETY ABORT: 1 selected file(s) changed during the scan.",
             "The report must not be trusted as a single consistent message-base "
             "snapshot."};
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, kClean));
    c.arrange(h);
    const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(EndsWith(run.lines, JoinLines({c.findings(h),
                                               kAbortBlock,
                                               {"Shared VIZIZE.BSY lock: RELEASED."},
                                               Footer(kRunTimeText, 3, "ABORTED")})));
    EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));
  }
}

TEST(ReleasePhase, FailedReleaseTurnsASuccessfulRunIntoExitFour) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  h.os().FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(run.lines, JoinLines({{"PREVIEW RESULT: COMPLETE - no files were changed.",
                                              std::string(60, '=')},
                                             kLockCleanupError,
                                             Footer(kRunTimeText, 4, "NOT COMPLETED")})));
  EXPECT_FALSE(SharedTosserLockOwned());
  ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("VIZIZE.BSY")));
}

#ifndef _WIN32
// POSIX lets another process delete the open lock file; the next checkpoint
// notices, and the release then fails because the file is gone.
TEST(ReleasePhase, LockDeletedBySomeoneElseEndsInLockCleanupError) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  BeforeCheckpoint(h, 3, [&] { ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("VIZIZE.BSY"))); });
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines({{"", "=================== POST-SCAN SAFETY =======================",
                  "SAFETY ERROR: TWTRIM32's shared VIZIZE.BSY lock is missing or changed during "
                  "immediately after scan."},
                 kAbortBlock,
                 kLockCleanupError,
                 Footer(kRunTimeText, 4, "NOT COMPLETED")})));
}
#endif

}  // namespace
}  // namespace twtrim::test
