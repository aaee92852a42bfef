// The guards around the scan, run in process: the shared lock, the checks
// before and after the scan, the integrity proof and the lock release.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "safety/tosser_lock.h"
#include "support/app_harness.h"

namespace twtrim::test {
namespace {

using board::ConferenceFiles;

ConferenceFiles Clean() {
  board::ConferenceBuilder builder;
  builder.Add(board::Root(1, 2));
  builder.Add(board::Reply(2, 1, 2));
  return builder.files();
}

const Lines kAbortBlock = {
    "",
    "===================== SAFETY ABORT =========================",
    "No message-base file was opened for write or modified by TWTRIM32.",
    "This operation did not complete as a verified consistent snapshot.",
    std::string(60, '='),
};

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Runs `action` before the nth time the caller table is opened, which is the
// nth safety checkpoint of the run.
void BeforeCheckpoint(AppHarness& h, uint64_t nth, std::function<void()> action) {
  h.os().AddHook({OsCall::kOpenSharedRead, "WORK/TWWHOSON.DAT", nth}, std::move(action));
}

void FlipFirstByte(const std::string& path) {
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path, &bytes));
  ASSERT_FALSE(bytes.empty());
  bytes[0] = static_cast<char>(bytes[0] ^ 0x01);
  ASSERT_TRUE(WriteWholeFile(path, bytes));
}

TEST(LockPhase, StaleLockAbortsAndIsLeftUntouched) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("VIZIZE.BSY"), "tosser busy\r\n"));
  const std::vector<std::string> switches = {"/CONF1", "/DRYRUN"};
  const AppRun run = h.Run(switches);

  const Lines expected = Concat(
      {Header(kRunTimeText, h.Arguments(switches)),
       {"SAFETY ABORT: shared message-base lock already exists: " + h.ShownMessage("VIZIZE.BSY"),
        "VIZize32 or another TWTRIM32 run may already be active."},
       kAbortBlock,
       Footer(kRunTimeText, 3, "ABORTED")});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.lines, expected);
  EXPECT_EQ(h.ReadFile(h.MessagePath("VIZIZE.BSY")), "tosser busy\r\n");
  EXPECT_FALSE(SharedTosserLockOwned());
}

TEST(LockPhase, LockThatCannotBeCreatedIsASafetyError) {
  struct Case {
    const char* name;
    bool directory;  // else: the create fails
  };
  for (const Case& c : {Case{"directory in the way", true}, Case{"create fails", false}}) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, Clean()));
    if (c.directory) {
      ASSERT_TRUE(board::MakeDirectories(h.MessagePath("VIZIZE.BSY")));
    } else {
      h.os().FailPath(OsCall::kCreateNew, "VIZIZE.BSY");
    }
    const AppRun run = h.Run({"/CONF1", "/WRITE"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(EndsWith(
        run.lines,
        Concat({{"SAFETY ERROR: could not atomically create the shared message-base lock: " +
                 h.ShownMessage("VIZIZE.BSY")},
                kAbortBlock,
                Footer(kRunTimeText, 3, "ABORTED")})));
    // The abort comes before the write notices.
    EXPECT_EQ(IndexOf(run.lines, "WARNING: OFFLINE MAINTENANCE REQUIRED FOR /WRITE"),
              run.lines.size());
    EXPECT_EQ(h.Exists(h.MessagePath("VIZIZE.BSY")), c.directory);
  }
}

TEST(LockPhase, ControlHandlerIsRegisteredBeforeTheLockIsTaken) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  bool handlerSeen = false;
  h.os().BeforeCall(OsCall::kCreateNew, "VIZIZE.BSY",
                    [&] { handlerSeen = h.os().controlHandler() == &ConsoleControlHandler; });
  EXPECT_EQ(h.Run({"/CONF1", "/DRYRUN"}).exitCode, 0);
  EXPECT_TRUE(handlerSeen);
}

TEST(LockPhase, LockFileIsHeldForTheWholeRun) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  std::string during;
  bool readable = false;
  bool present = false;
  BeforeCheckpoint(h, 1, [&] {
    present = h.Exists(h.MessagePath("VIZIZE.BSY"));
    readable = ReadWholeFile(h.MessagePath("VIZIZE.BSY"), &during);
  });
  EXPECT_EQ(h.Run({"/CONF1", "/DRYRUN"}).exitCode, 0);
  EXPECT_TRUE(present);
#ifdef _WIN32
  // Held open without sharing: nobody else can even read it.
  EXPECT_FALSE(readable);
#else
  // POSIX has no sharing modes; the one line tells an operator who holds it.
  EXPECT_TRUE(readable);
  EXPECT_EQ(during, "TWTRIM32 0.6.0-beta1 active - shared message-base lock\r\n");
#endif
  EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));
}

TEST(PreflightPhase, EachGuardStopsTheRunBeforeTheScan) {
  struct Case {
    const char* name;
    std::function<void(AppHarness&)> arrange;
    std::function<Lines(AppHarness&)> findings;
  };
  const std::vector<Case> cases = {
      {"caller online",
       [](AppHarness& h) {
         ASSERT_TRUE(h.SetCallers({{3, {7, 'M'}}}));
       },
       [](AppHarness&) {
         return Lines{"SAFETY ABORT: caller activity found during initial preflight:",
                      "  TWWHOSON slot 3 UserNo=7 Status=M",
                      "TWTRIM32 will not scan while a caller may be online or active in messages."};
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
                      "  TWWHOSON slot 1 UserNo=0 Status= ",
                      "TWTRIM32 will not scan while a caller may be online or active in messages."};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, Clean()));
    c.arrange(h);
    const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(EndsWith(run.lines, Concat({c.findings(h),
                                            kAbortBlock,
                                            {"Shared VIZIZE.BSY lock: RELEASED."},
                                            Footer(kRunTimeText, 3, "ABORTED")})));
    EXPECT_EQ(IndexOf(run.lines, "CONF 01 - General"), run.lines.size()) << "scan ran";
    EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));
  }
}

TEST(PostScanPhase, FileChangedDuringTheScanAbortsWithItsFingerprints) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  const std::string dat = h.MessagePath("TWMSG01.DAT");
  const std::string before = h.ReadFile(dat);
  // The first open of the DAT file is the snapshot, the second the scan.
  h.os().AddHook({OsCall::kOpenSharedRead, "TWMSG01.DAT", 2}, [&] { FlipFirstByte(dat); });
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  const std::string after = h.ReadFile(dat);
  ASSERT_EQ(before.size(), after.size());
  const std::string size = std::to_string(before.size());

  EXPECT_EQ(run.exitCode, 3);
  EXPECT_TRUE(EndsWith(
      run.lines,
      Concat({{"", "=================== POST-SCAN SAFETY =======================",
               "  CHANGED: " + h.ShownMessage("TWMSG01.DAT"),
               "    Before size=" + size + " FNV=" + Hex8(Fnv1a(before)) +
                   " CRC32=" + Hex8(Crc32(before)),
               "    After  size=" + size + " FNV=" + Hex8(Fnv1a(after)) +
                   " CRC32=" + Hex8(Crc32(after)),
               "SAFETY ABORT: 1 selected file(s) changed during the scan.",
               "The report must not be trusted as a single consistent message-base snapshot."},
              kAbortBlock,
              {"Shared VIZIZE.BSY lock: RELEASED."},
              Footer(kRunTimeText, 3, "ABORTED")})));
}

TEST(PostScanPhase, CallerAfterTheScanAborts) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  BeforeCheckpoint(h, 3, [&] { ASSERT_TRUE(h.SetCallers({{255, {0xFFFF, 'M'}}})); });
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_TRUE(HasBlock(
      run.lines, {"=================== POST-SCAN SAFETY =======================",
                  "SAFETY ABORT: caller activity found during immediately after scan:",
                  "  TWWHOSON slot 255 UserNo=65535 Status=M",
                  "TWTRIM32 will not scan while a caller may be online or active in messages."}));
  EXPECT_TRUE(EndsWith(run.lines, Footer(kRunTimeText, 3, "ABORTED")));
}

TEST(ReleasePhase, FailedReleaseTurnsASuccessfulRunIntoExitFour) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  h.os().FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      Concat({{"PREVIEW RESULT: COMPLETE - no files were changed.", std::string(60, '='),
               "LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.",
               "Verify no TWTRIM32 or VIZize32 process is active before removing it manually."},
              Footer(kRunTimeText, 4, "NOT COMPLETED")})));
  EXPECT_FALSE(SharedTosserLockOwned());
  ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("VIZIZE.BSY")));
}

#ifndef _WIN32
// POSIX lets another process delete the open lock file; the next checkpoint
// notices, and the release then fails because the file is gone.
TEST(ReleasePhase, LockDeletedBySomeoneElseEndsInLockCleanupError) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  BeforeCheckpoint(h, 3, [&] { ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("VIZIZE.BSY"))); });
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      Concat({{"", "=================== POST-SCAN SAFETY =======================",
               "SAFETY ERROR: TWTRIM32's shared VIZIZE.BSY lock is missing or changed during "
               "immediately after scan."},
              kAbortBlock,
              {"LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.",
               "Verify no TWTRIM32 or VIZize32 process is active before removing it manually."},
              Footer(kRunTimeText, 4, "NOT COMPLETED")})));
}
#endif

TEST(SafetyPhases, VerbosePassLinesOfACleanRun) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/V"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(
      HasBlock(run.lines,
               {"====================== SAFETY ==============================",
                "Caller-status format [initial preflight]: 1536 bytes; scanning slots 1..255 using "
                "original REZADUDU rules",
                "Caller safety check [initial preflight]: CLEAR",
                "VIZize busy-marker check [initial preflight]: HELD BY TWTRIM32",
                "VIZize32 process check [initial preflight]: CLEAR"}));
  const uint64_t bytes = 128 + 2 * 256 + 2 * 16 + 4 * 128;
  EXPECT_TRUE(HasBlock(
      run.lines, {"VIZize32 process check [initial preflight]: CLEAR",
                  "Integrity snapshot:     4 files / " + std::to_string(bytes) + " bytes hashed",
                  "Caller-status format [immediately before scan]: 1536 bytes; scanning "
                  "slots 1..255 using original REZADUDU rules"}));
  EXPECT_TRUE(HasBlock(run.lines, {"VIZize32 process check [immediately before scan]: CLEAR",
                                   "Safety preflight:      PASS"}));
  EXPECT_TRUE(
      HasBlock(run.lines, {"VIZize32 process check [immediately after scan]: CLEAR",
                           "Integrity verification: PASS - selected files were unchanged",
                           "Caller-status format [scan verification]: 1536 bytes; scanning slots "
                           "1..255 using original REZADUDU rules"}));
  EXPECT_TRUE(HasBlock(run.lines, {"VIZize32 process check [scan verification]: CLEAR",
                                   "Scan safety result:    PASS"}));
}

TEST(SafetyPhases, ConciseCleanRunPrintsOnlyTheHeadingsAndPassLines) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_TRUE(HasBlock(run.lines, {"====================== SAFETY ==============================",
                                   "Safety preflight:      PASS"}));
  EXPECT_TRUE(HasBlock(run.lines, {"=================== POST-SCAN SAFETY =======================",
                                   "Scan safety result:    PASS"}));
  EXPECT_EQ(CountPrefix(run.lines, "Caller-status format"), 0u);
  EXPECT_EQ(CountPrefix(run.lines, "Caller safety check"), 0u);
  EXPECT_EQ(CountPrefix(run.lines, "VIZize"), 0u);
  EXPECT_EQ(CountPrefix(run.lines, "Integrity"), 0u);
}

}  // namespace
}  // namespace twtrim::test
