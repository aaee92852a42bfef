// Whole /WRITE runs in process around the commit and its rollback: a run
// that dies between two renames is caught by the next run, a rollback never
// overwrites newer data nor trusts a backup copy that is not the original,
// and interrupts wait while a conference is half-replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/run_sequence.h"
#include "support/app_harness.h"
#include "support/judge.h"

#ifdef _WIN32
#include <chrono>
#include <thread>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace twtrim::test {
namespace {

using board::Bodyless;
using board::Deleted;
using board::Root;

bool HasLine(const Lines& lines, std::string_view text) { return IndexOf(lines, text) < lines.size(); }

constexpr char kRefused[] = "WRITE REFUSED: validation errors must be resolved first.";
constexpr char kOneError[] = "  RESULT: ERROR - 1 validation error(s); no write allowed.";
constexpr char kRestored[] = "ROLLBACK RESULT: originals restored and verified.";
constexpr char kIncomplete[] =
    "ROLLBACK RESULT: INCOMPLETE - restore manually from the logged backup directory.";

// The only purged message is bodyless and the bodies lie out of slot order:
// the pack rewrites the DAT without changing its length, so old headers over
// the new DAT look like a clean base in which messages show others' bodies.
board::ConferenceFiles SameLengthPack() {
  return MakeConference(
      {ShapeAt(Root(1), 2), ShapeAt(Root(2), 0), ShapeAt(Root(3), 1), Deleted(Bodyless(Root(4)))}, 3);
}

void Crash(FaultOs& os) {
  os.AddFault({{std::nullopt, "", 0}, FaultEffect::kFail, false});
  throw SimulatedCrash{};
}

// The operator's clean-up of a killed run before this program kept a record.
void DeleteWorkFiles(AppHarness& h) {
  for (const char* name :
       {"VIZIZE.BSY", "TWMSG01.PTR.NEW", "TWMSG01.IDX.NEW", "TWMSG01.DAT.NEW",
        "TWMSG01.PTR.ROLLBACK", "TWMSG01.IDX.ROLLBACK", "TWMSG01.DAT.ROLLBACK"}) {
    h.real().DeleteFile(h.MessagePath(name));
  }
}

struct CrashCase {
  const char* name;
  std::function<void(FaultOs&)> arm;
  const char* state;
};

void CrashBefore(FaultOs& os, OsCall kind, const char* path) {
  os.AddHook({kind, path, 1}, [&os] { Crash(os); });
}

TEST(InterruptedCommitTest, CrashDuringTheCommitIsReportedAndBlocksTheNextWrite) {
  const CrashCase cases[] = {
      {"before the DAT rename",
       [](FaultOs& os) { CrashBefore(os, OsCall::kReplaceRename, "TWMSG01.DAT.NEW"); }, "ORIGINAL"},
      {"after the DAT rename",
       [](FaultOs& os) { CrashBefore(os, OsCall::kReplaceRename, "TWMSG01.PTR.NEW"); }, "MIXED"},
      {"in the rollback, between the PTR and DAT restores",
       [](FaultOs& os) {
         os.FailPath(OsCall::kReplaceRename, "TWMSG01.IDX.NEW");
         CrashBefore(os, OsCall::kReplaceRename, "TWMSG01.DAT.ROLLBACK");
       },
       "MIXED"},
      {"before the record of a verified write is removed",
       [](FaultOs& os) { CrashBefore(os, OsCall::kDeleteFile, "TWMSG01.JNL"); }, "PACKED"},
  };
  for (const CrashCase& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
    const SweepRun crash = RunInProcess(h.real(), h.home(), {"/CONF1", "/WRITE"}, c.arm);
    ASSERT_TRUE(crash.crashed) << ::testing::PrintToString(crash.lines);
    DeleteWorkFiles(h);
    const ConferenceBytes left = ReadConference(h, 1);
    const AppRun dry = h.Run({"/CONF1", "/DRYRUN"});
    EXPECT_EQ(dry.exitCode, 2) << ::testing::PrintToString(dry.lines);
    EXPECT_TRUE(HasLine(dry.lines, std::string("  ERROR: interrupted commit: live files are ") +
                                       c.state + "; backup: " + h.ShownBackupDir()))
        << ::testing::PrintToString(dry.lines);
    EXPECT_TRUE(HasLine(dry.lines, kOneError)) << ::testing::PrintToString(dry.lines);
    const AppRun write = h.Run({"/CONF1", "/WRITE"});
    EXPECT_EQ(write.exitCode, 2) << ::testing::PrintToString(write.lines);
    EXPECT_TRUE(HasLine(write.lines, kRefused)) << ::testing::PrintToString(write.lines);
    EXPECT_EQ(ReadConference(h, 1), left);
  }
}

// A record the program cannot read still stops the conference.
TEST(InterruptedCommitTest, UnreadableRecordCountsWithUnknownState) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWMSG01.JNL"), "TWTRIM32 COMMIT IN PROGRESS\r\n"));
  const AppRun dry = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(dry.exitCode, 2);
  EXPECT_TRUE(HasLine(dry.lines,
                      "  ERROR: interrupted commit: live files are UNKNOWN; backup: "
                      "unknown"))
      << ::testing::PrintToString(dry.lines);
}

// After a finished write and after a proven rollback no record is left;
// one whose rollback met newer data stays and the next run reports it.
TEST(InterruptedCommitTest, RecordOutlivesOnlyAnUnfinishedConference) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const ConferenceBytes original = ReadConference(h, 1);
  h.os().FailPath(OsCall::kReplaceRename, "TWMSG01.IDX.NEW");
  const AppRun failed = h.Run({"/CONF1", "/WRITE"});
  EXPECT_TRUE(HasLine(failed.lines, kRestored)) << ::testing::PrintToString(failed.lines);
  EXPECT_FALSE(h.Exists(h.MessagePath("TWMSG01.JNL")));
  h.os().ClearFaults();
  const AppRun packed = h.Run({"/CONF1", "/WRITE"});
  EXPECT_EQ(packed.exitCode, 0) << ::testing::PrintToString(packed.lines);
  EXPECT_FALSE(h.Exists(h.MessagePath("TWMSG01.JNL")));
  EXPECT_NE(ReadConference(h, 1), original);
}

// The after-commit checkpoint finds a caller who has just posted: the new
// PTR is newer than this run and must survive the rollback.
TEST(InterruptedCommitTest, RollbackNeverOverwritesNewerData) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const std::string ptr = h.MessagePath("TWMSG01.PTR");
  std::string posted;
  BeforeCheckpoint(h, 7, [&] {
    posted = h.ReadFile(ptr) + std::string(256, 'N');
    ASSERT_TRUE(WriteWholeFile(ptr, posted));
    ASSERT_TRUE(h.SetCallers({{1, {7, 'M'}}}));
  });
  const AppRun run = h.Run({"/CONF1", "/WRITE"});
  EXPECT_EQ(run.exitCode, 4) << ::testing::PrintToString(run.lines);
  EXPECT_TRUE(HasLine(run.lines, "  ROLLBACK FAILED")) << ::testing::PrintToString(run.lines);
  EXPECT_TRUE(HasLine(run.lines, kIncomplete));
  EXPECT_EQ(h.ReadFile(ptr), posted);
  EXPECT_TRUE(h.Exists(h.MessagePath("TWMSG01.JNL")));
}

// The DAT is changed as the backup copy starts and changed back once the
// copy is proven against it: only the snapshot's fingerprint shows the copy
// is not the original.
TEST(InterruptedCommitTest, BackupOfAFileChangedAndChangedBackFails) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const std::string dat = h.MessagePath("TWMSG01.DAT");
  const ConferenceBytes original = ReadConference(h, 1);
  h.os().AddHook({OsCall::kCreateNew, "TWMSG01.DAT.PARTIAL", 1}, [&] { FlipByte(dat, 5); });
  const auto revert = [&] { WriteWholeFile(dat, original.dat); };
  h.os().AddHook({OsCall::kReplaceRename, "TWMSG01.DAT.PARTIAL", 1}, revert);
  h.os().AddHook({OsCall::kDeleteFile, "TWMSG01.DAT.PARTIAL", 1}, revert);
  const AppRun run = h.Run({"/CONF1", "/WRITE"});
  EXPECT_EQ(run.exitCode, 4) << ::testing::PrintToString(run.lines);
  EXPECT_TRUE(HasLine(run.lines, "WRITE ERROR: verified backup failed for CONF1.")) << ::testing::PrintToString(run.lines);
  EXPECT_EQ(ReadConference(h, 1), original);
}

// Another run creates the timestamped name between this run's choice and
// its create: this run moves on and never shares that directory.
TEST(InterruptedCommitTest, BackupDirectoryTakenByAnotherRunIsNotShared) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const std::string theirs = h.HomePath("TWTRIM32-BACKUPS/") + kBackupName;
  h.os().AddHook({OsCall::kCreateDirectory, kBackupName, 1},
                 [&] { ASSERT_TRUE(h.real().CreateDirectory(theirs)); });
  const AppRun run = h.Run({"/CONF1", "/WRITE"});
  EXPECT_EQ(run.exitCode, 0) << ::testing::PrintToString(run.lines);
  EXPECT_TRUE(HasLine(run.lines, Labelled("Backup directory:", h.ShownBackupDir() + "-01")));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(h.real().ListDirectory(theirs + "/*", &entries));
  EXPECT_TRUE(entries.empty());
}

// An Os that tells whether interrupts are held at each rename.
class HoldWatchOs : public FaultOs {
 public:
  using FaultOs::FaultOs;
  void HoldControlEvents() override { held = true; }
  void ReleaseControlEvents() override { held = false; }
  bool held = false;
};

// Every rename of a live file, of the commit and of its rollback, happens
// while interrupts are held; they are let go at the end.
TEST(InterruptedCommitTest, InterruptsWaitWhileAConferenceIsHalfReplaced) {
  for (bool failCommit : {false, true}) {
    SCOPED_TRACE(failCommit ? "commit fails, rollback" : "commit");
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
    HoldWatchOs os(h.real());
    os.SetNow(kRunTime);
    os.SetProcessNames({"init"});
    if (failCommit) os.FailPath(OsCall::kReplaceRename, "TWMSG01.IDX.NEW");
    std::vector<bool> heldAtRename;
    os.AddHook({OsCall::kReplaceRename, "", 0}, [&] { heldAtRename.push_back(os.held); });
    EXPECT_EQ(RunProgram(os, h.Arguments({"/CONF1", "/WRITE"})), failCommit ? 4 : 0);
    size_t rename = 0, live = 0;
    for (const CallRecord& call : os.log()) {
      if (call.kind != OsCall::kReplaceRename) continue;
      if (!call.path.ends_with(".PARTIAL")) {
        ++live;
        EXPECT_TRUE(heldAtRename.at(rename)) << call.path;
      }
      ++rename;
    }
    EXPECT_EQ(live, failCommit ? 6u : 4u);  // the record's, then DAT, PTR (, IDX)
    EXPECT_FALSE(os.held);
  }
}

#ifndef _WIN32
// (Windows refuses such deep directories itself.)
// A message directory so deep that the rollback's temporary name would not
// fit: the write stops before it changes anything.
TEST(InterruptedCommitTest, NamesTheRollbackNeedsMustFitBeforeTheWrite) {
  AppHarness h;
  std::string deep = h.home();
  while (deep.size() < 495)
    deep += "/" + std::string(std::min<size_t>(200, 494 - deep.size()), 'd');
  ASSERT_TRUE(board::MakeDirectories(deep));
  ASSERT_TRUE(board::WriteConference(deep, 1, SameLengthPack()));
  const AppRun run = h.Run({"/CONF1", "/WRITE", "/MSGDIR=" + deep});
  EXPECT_EQ(run.exitCode, 4) << ::testing::PrintToString(run.lines);
  EXPECT_TRUE(HasLine(run.lines,
                      "WRITE ERROR: a file name needed to commit or roll back CONF1 "
                      "would be too long."))
      << ::testing::PrintToString(run.lines);
  EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32-BACKUPS")));
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Backup copies and the restored files keep the originals' mode, and a
// dangling link planted under the rollback's temporary name is removed,
// never followed.
TEST(InterruptedCommitTest, RollbackKeepsModesAndNeverFollowsAPlantedLink) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const std::string dat = h.MessagePath("TWMSG01.DAT");
  const std::string target = h.HomePath("elsewhere");
  ASSERT_EQ(::chmod(dat.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(target.c_str(), (dat + ".ROLLBACK").c_str()), 0);
  h.os().FailPath(OsCall::kReplaceRename, "TWMSG01.PTR.NEW");
  const AppRun run = h.Run({"/CONF1", "/WRITE"});
  EXPECT_TRUE(HasLine(run.lines, kRestored)) << ::testing::PrintToString(run.lines);
  EXPECT_FALSE(h.Exists(target));
  EXPECT_EQ(ModeOf(dat), 0640u);
  EXPECT_EQ(ModeOf(h.HomePath("TWTRIM32-BACKUPS/") + kBackupName + "/TWMSG01.DAT"), 0640u);
}
#endif

#ifdef _WIN32
// A scanner holding the live file for a moment without delete sharing
// delays the replace; it does not fail it.
TEST(InterruptedCommitTest, ReplaceWaitsForABriefOpenWithoutDeleteSharing) {
  AppHarness h;
  const std::string from = h.HomePath("from"), to = h.HomePath("to");
  ASSERT_TRUE(WriteWholeFile(from, "new"));
  std::unique_ptr<OsFile> scanner = h.real().CreateNew(to);  // opened without any sharing
  ASSERT_NE(scanner, nullptr);
  std::thread release([&scanner] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    scanner.reset();
  });
  const bool replaced = h.real().ReplaceRename(from, to);
  release.join();
  EXPECT_TRUE(replaced);
  EXPECT_EQ(h.ReadFile(to), "new");
}
#endif

}  // namespace
}  // namespace twtrim::test
