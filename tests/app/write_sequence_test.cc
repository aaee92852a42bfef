// /WRITE runs in process: every outcome of the write decision, the staged
// build, the backup, the commit, the post-write proof and the rollback, with
// the report lines, the exit code and what is left on disk.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "report/paths.h"
#include "safety/tosser_lock.h"
#include "support/app_harness.h"

namespace twtrim::test {
namespace {

using board::ConferenceBuilder;
using board::ConferenceFiles;
using board::MessageShape;

constexpr char kFailedUnchanged[] =
    "WRITE RESULT: FAILED; live-format originals are unchanged or were restored from backup.";
constexpr char kFailedManual[] =
    "WRITE RESULT: FAILED; manual restoration from the backup directory is required.";
constexpr char kReleased[] = "Shared VIZIZE.BSY lock: RELEASED.";

// Bodies at blocks 0..1, 2..4 and 5; the middle message is deleted.
ConferenceFiles Pack() {
  return MakeConference(
      {board::Root(1, 2), board::Deleted(board::Reply(2, 1, 3)), board::Reply(3, 1, 1)});
}

// Nothing to purge: a live DANGER record to detach and an orphan reply to
// report but keep as it is.
ConferenceFiles Repair() {
  return MakeConference(
      {board::Root(1, 1), board::Reply(2, 1, 1), board::Danger(3, 1), board::Reply(4, 99, 1)});
}

ConferenceFiles Clean() { return MakeConference({board::Root(1, 1), board::Reply(2, 1, 1)}); }

std::string Block(const std::vector<uint8_t>& dat, uint32_t index) {
  return std::string(dat.begin() + index * 128, dat.begin() + (index + 1) * 128);
}

// What the packed Pack() must look like, worked out here from its records.
ConferenceBytes PackedPack() {
  ConferenceFiles f = Pack();
  PtrRecord first = f.ptr[0], third = f.ptr[2];
  third.setWhere(2);
  ConferenceFiles packed;
  packed.ptr = {first, third};
  packed.idx = {f.idx[0], f.idx[2]};
  ConferenceBytes bytes = ToBytes(packed);
  bytes.dat = Block(f.dat, 0) + Block(f.dat, 1) + Block(f.dat, 5);
  return bytes;
}

ConferenceBytes RepairedRepair() {
  ConferenceFiles f = Repair();
  f.ptr[2].setTM(0);  // DANGER detached, Org kept
  f.ptr[2].setTS(1);
  return ToBytes(f);
}

// Names in MESSAGE that a finished run must never leave behind.
std::vector<std::string> Leftovers(AppHarness& h) {
  std::vector<DirEntry> entries;
  std::vector<std::string> found;
  if (!h.real().ListDirectory(h.MessagePath("*"), &entries)) return {"<cannot list>"};
  for (const DirEntry& e : entries) {
    const std::string& n = e.name;
    const bool staged = n.size() > 4 && n.compare(n.size() - 4, 4, ".NEW") == 0;
    const bool rollback = n.find(".ROLLBACK") != std::string::npos;
    if (staged || rollback || n == "VIZIZE.BSY") found.push_back(n);
  }
  return found;
}

// A board with a conference to pack (1) and one to repair (2).
struct WriteBoard {
  AppHarness h;
  ConferenceBytes original1, original2;

  WriteBoard() : h({"Pack", "Repair"}) {
    EXPECT_TRUE(h.AddConference(1, Pack()));
    EXPECT_TRUE(h.AddConference(2, Repair()));
    original1 = ReadConference(h, 1);
    original2 = ReadConference(h, 2);
  }
  void ExpectOriginals() {
    EXPECT_EQ(ReadConference(h, 1), original1);
    EXPECT_EQ(ReadConference(h, 2), original2);
    EXPECT_EQ(Leftovers(h), std::vector<std::string>{});
  }
};

TEST(WriteSequence, SuccessfulConciseWritePacksAndRepairs) {
  WriteBoard b;
  AppHarness& h = b.h;
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWOUTBOUND.SEQ"), "42\r\n"));
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWMSG01.LMR"), "last read"));
  const AppRun run = h.Run({"/CONF1..2", "/WRITE"});
  const std::string backup = h.ShownBackupDir();

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.allCrLf);
  EXPECT_TRUE(
      HasBlock(run.lines,
               {"Shared VIZIZE.BSY lock: ACQUIRED - VIZize32 is blocked for "
                "this run.",
                "", std::string(60, '='), "WARNING: OFFLINE MAINTENANCE REQUIRED FOR /WRITE",
                "Shut down every Tarnwick node and prevent caller access "
                "before continuing.",
                "Use a scheduled nightly or midnight maintenance window.", std::string(60, '='),
                "WRITE ENABLED: explicit /WRITE opt-in accepted.",
                "Confirm a current external backup exists before continuing.", std::string(60, '='),
                "TWTRIM32 0.6.0-beta1 - Safeguarded Tarnwick Message Packer",
                "MODE: /WRITE - BACKUP + STAGED PACKING"}));
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines({{
                     "Conferences: scanned=2; needing action=2; blocked=0",
                     "Planned work: deleted=1; DANGER fixes=1; reply links cleared=0",
                     "Records: PTR/IDX 7 -> 6; DAT 10 -> 7",
                     "Estimated bytes reclaimed: 656",
                     "Findings: orphan-replies=1",
                     "WRITE PLAN: ready after remaining safeguards pass.",
                     "",
                     "=================== BUILD AND VERIFY .NEW ==================",
                     "Staged build and verification: PASS (2 conference(s))",
                     "",
                     "=================== VERIFIED BACKUP ========================",
                     Labelled("Backup directory:", backup),
                     "Verified backup result: PASS",
                     "",
                     "======================= COMMIT =============================",
                     "Commit: COMPLETE (2 conference(s))",
                     "",
                     "=================== POST-WRITE VERIFY ======================",
                     "Post-write verification: PASS",
                     "WRITE RESULT: SUCCESS - changes committed and verified.",
                     Labelled("Backup directory:", backup),
                     "PUBLIC BETA: review the report and keep the verified backup until the BBS is "
                     "confirmed healthy.",
                     kReleased,
                 },
                 Footer(kRunTimeText, 0, "PASS", backup)})));

  EXPECT_EQ(ReadConference(h, 1), PackedPack());
  EXPECT_EQ(ReadConference(h, 2), RepairedRepair());
  EXPECT_EQ(Leftovers(h), std::vector<std::string>{});

  // The backup holds the originals of everything the write could touch.
  const std::string dir = h.HomePath(std::string("TWTRIM32-BACKUPS/") + kBackupName);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(h.real().ListDirectory(dir + "/*", &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"TWMCONF.DAT", "TWMSG01.DAT", "TWMSG01.IDX",
                                             "TWMSG01.LMR", "TWMSG01.PTR", "TWMSG02.DAT",
                                             "TWMSG02.IDX", "TWMSG02.PTR", "TWOUTBOUND.SEQ"}));
  EXPECT_EQ(h.ReadFile(dir + "/TWMSG01.DAT"), b.original1.dat);
  EXPECT_EQ(h.ReadFile(dir + "/TWMSG02.PTR"), b.original2.ptr);
  EXPECT_EQ(h.ReadFile(dir + "/TWOUTBOUND.SEQ"), "42\r\n");
  EXPECT_EQ(h.ReadFile(dir + "/TWMSG01.LMR"), "last read");
}

TEST(WriteSequence, SuccessfulVerboseWriteShowsProgressInsteadOfSummaries) {
  WriteBoard b;
  AppHarness& h = b.h;
  const AppRun run = h.Run({"/CONF1..2", "/WRITE", "/V"});
  const std::string backup = h.ShownBackupDir();
  const auto checkpoint = [](const char* label) {
    return "Caller-status format [" + std::string(label) +
           "]: 1536 bytes; scanning slots 1..255 using original REZADUDU rules";
  };

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasBlock(run.lines, {"==================== WRITE PLAN TOTALS =====================",
                                   "Conferences needing action: 2"}));
  EXPECT_TRUE(
      HasBlock(run.lines, {"Estimated bytes reclaimed:  656", "",
                           "=================== BUILD AND VERIFY .NEW ==================",
                           "Building CONF1 staged files...", "  CONF1 .NEW verification: PASS",
                           "Building CONF2 staged files...", "  CONF2 .NEW verification: PASS",
                           checkpoint("before backup")}));
  Lines backupBlock = {
      "Integrity verification: PASS - selected files were unchanged", "",
      "=================== VERIFIED BACKUP ========================",
      Labelled("Backup directory:", backup),
      "  Backed up: " + h.ShownHome("TWMCONF.DAT") + " -> " + JoinExpected(backup, "TWMCONF.DAT")};
  for (const char* name :
       {"TWMSG01.PTR", "TWMSG01.IDX", "TWMSG01.DAT", "TWMSG02.PTR", "TWMSG02.IDX", "TWMSG02.DAT"}) {
    backupBlock.push_back("  Backed up: " + h.ShownMessage(name) + " -> " +
                          JoinExpected(backup, name));
  }
  backupBlock.push_back("Verified backup result: PASS");
  backupBlock.push_back(checkpoint("immediately before commit"));
  EXPECT_TRUE(HasBlock(run.lines, backupBlock));
  EXPECT_TRUE(HasBlock(
      run.lines,
      {"Integrity verification: PASS - selected files were unchanged", "",
       "======================= COMMIT =============================", "Committing CONF1...",
       "  CONF1 commit: COMPLETE", "Committing CONF2...", "  CONF2 commit: COMPLETE", "",
       "=================== POST-WRITE VERIFY ======================",
       checkpoint("after commit")}));
  EXPECT_TRUE(
      HasBlock(run.lines,
               {"VIZize32 process check [after commit]: CLEAR", "  CONF1 final verification: PASS",
                "  CONF2 final verification: PASS", "Post-write integrity verification: PASS",
                checkpoint("final write verification")}));
  EXPECT_TRUE(HasBlock(run.lines, {"VIZize32 process check [final write verification]: CLEAR",
                                   "WRITE RESULT: SUCCESS - changes committed and verified.",
                                   Labelled("Backup directory:", backup)}));
  for (const char* summary :
       {"Staged build and verification:", "Commit: COMPLETE", "Post-write verification:"}) {
    EXPECT_EQ(CountPrefix(run.lines, summary), 0u) << summary;
  }
  EXPECT_EQ(ReadConference(h, 1), PackedPack());
  EXPECT_EQ(ReadConference(h, 2), RepairedRepair());
}

TEST(WriteSequence, TestCopyNeedsTheMarkerFile) {
  for (const bool asDirectory : {false, true}) {
    SCOPED_TRACE(asDirectory ? "marker is a directory" : "marker missing");
    WriteBoard b;
    AppHarness& h = b.h;
    if (asDirectory) {
      ASSERT_TRUE(board::MakeDirectories(h.HomePath("TWTRIM32_TESTCOPY.OK")));
    }
    const AppRun run = h.Run({"/CONF1..2", "/WRITE", "/TESTCOPY"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(EndsWith(
        run.lines, JoinLines({{std::string(60, '='),
                               "WRITE REFUSED: required test-copy marker is missing: " +
                                   h.ShownHome("TWTRIM32_TESTCOPY.OK"),
                               "Copy TWTRIM32_TESTCOPY.OK into the root of the separate test home.",
                               kReleased},
                              Footer(kRunTimeText, 2, "NOT COMPLETED")})));
    b.ExpectOriginals();
  }
}

TEST(WriteSequence, WriteDecisionRefusesOrSkipsBeforeAnythingIsBuilt) {
  struct Case {
    const char* name;
    std::vector<ConferenceFiles> conferences;
    Lines lastLines;
    int exitCode;
    const char* safety;
  };
  MessageShape wrongCrc = board::Reply(2, 1);
  wrongCrc.wrongFromCrc = true;
  MessageShape overlap = board::Reply(2, 1);
  overlap.where = 0;
  const std::vector<Case> cases = {
      {"validation error",
       {Pack(), MakeConference({board::Root(1), wrongCrc})},
       {"WRITE PLAN: VALIDATION ERROR; no write is allowed.",
        "WRITE REFUSED: validation errors must be resolved first."},
       2,
       "NOT COMPLETED"},
      {"one of two conferences blocked",
       {Pack(), MakeConference({board::Root(1), overlap, board::Deleted(board::Reply(3, 1))})},
       {"WRITE PLAN: BLOCKED conference(s) are selected; no write is allowed.",
        "WRITE REFUSED: one or more selected conferences are blocked by conservative Phase-1 "
        "rules."},
       2,
       "NOT COMPLETED"},
      {"nothing to change",
       {Clean(), Clean()},
       {"WRITE PLAN: no selected conference needs a change.",
        "WRITE RESULT: no selected conference needs a Phase-1 change; no backup or write "
        "performed."},
       0,
       "PASS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h({"One", "Two"});
    std::vector<ConferenceBytes> before;
    for (uint32_t n = 1; n <= c.conferences.size(); ++n) {
      ASSERT_TRUE(h.AddConference(n, c.conferences[n - 1]));
      before.push_back(ReadConference(h, n));
    }
    const AppRun run = h.Run({"/ALL", "/WRITE"});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(EndsWith(
        run.lines,
        JoinLines({c.lastLines, {kReleased}, Footer(kRunTimeText, c.exitCode, c.safety)})));
    EXPECT_EQ(h.os().calls(OsCall::kCreateNew), 0u);
    EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32-BACKUPS")));
    for (uint32_t n = 1; n <= before.size(); ++n) EXPECT_EQ(ReadConference(h, n), before[n - 1]);
  }
}

TEST(WriteSequence, StaleStagedFileStopsTheBuildAndIsLeftForTheOperator) {
  AppHarness h({"One", "Two", "Three"});
  for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(h.AddConference(n, Pack()));
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWMSG03.DAT.NEW"), "stale"));
  const AppRun run = h.Run({"/ALL", "/WRITE"});

  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines(
          {{"", "=================== BUILD AND VERIFY .NEW ==================",
            "WRITE ERROR: stale .NEW file exists for CONF3. Remove it only after confirming no "
            "earlier write is recoverable.",
            "WRITE ERROR: failed while building staged files for CONF3.", kFailedUnchanged,
            kReleased},
           Footer(kRunTimeText, 4, "NOT COMPLETED")})));
  EXPECT_EQ(h.ReadFile(h.MessagePath("TWMSG03.DAT.NEW")), "stale");
  EXPECT_EQ(Leftovers(h), std::vector<std::string>{"TWMSG03.DAT.NEW"});
  for (uint32_t n = 1; n <= 3; ++n) EXPECT_EQ(ReadConference(h, n), ToBytes(Pack()));
  EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32-BACKUPS")));
}

TEST(WriteSequence, FailedStagedBuildLeavesNothingBehind) {
  struct Case {
    const char* name;
    std::function<void(AppHarness&)> arrange;
    const char* error;
  };
  const char* failed = "WRITE ERROR: failed while building staged files for CONF1.";
  const std::vector<Case> cases = {
      {"staged IDX cannot be created",
       [](AppHarness& h) { h.os().FailPath(OsCall::kCreateNew, "TWMSG01.IDX.NEW"); }, failed},
      {"short write of the staged DAT",
       [](AppHarness& h) {
         h.os().AddFault({{OsCall::kWrite, "TWMSG01.DAT.NEW", 1}, FaultEffect::kShort});
       },
       failed},
      {"flush of the staged PTR fails",
       [](AppHarness& h) { h.os().FailPath(OsCall::kFlush, "TWMSG01.PTR.NEW"); }, failed},
      {"a Deleted flag changes after the scan",
       [](AppHarness& h) {
         h.os().BeforeCall(OsCall::kCreateNew, "TWMSG01.PTR.NEW", [&h] {
           FlipByte(h.MessagePath("TWMSG01.PTR"), 2 * 256 + PtrRecord::kDeleted);
         });
       },
       failed},
      {"staged file damaged before its verification",
       [](AppHarness& h) {
         h.os().BeforeCall(OsCall::kOpenSharedRead, "TWMSG01.PTR.NEW", [&h] {
           FlipByte(h.MessagePath("TWMSG01.PTR.NEW"), PtrRecord::kDeleted);
         });
       },
       "WRITE ERROR: staged verification failed for CONF1."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBoard b;
    c.arrange(b.h);
    const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(EndsWith(run.lines, JoinLines({{c.error, kFailedUnchanged, kReleased},
                                               Footer(kRunTimeText, 4, "NOT COMPLETED")})));
    EXPECT_FALSE(b.h.Exists(b.h.HomePath("TWTRIM32-BACKUPS")));
    EXPECT_EQ(Leftovers(b.h), std::vector<std::string>{});
    if (std::string(c.name) != "a Deleted flag changes after the scan") b.ExpectOriginals();
  }
}

TEST(WriteSequence, GuardFailingBeforeTheCommitAbortsWithOriginalsIntact) {
  const Lines abort = {"", "===================== SAFETY ABORT =========================",
                       "Safety changed before commit. Original message-base files were not "
                       "modified.",
                       "Staged .NEW files will be removed.", kReleased};
  {
    SCOPED_TRACE("caller before backup");
    WriteBoard b;
    BeforeCheckpoint(b.h, 5, [&] { ASSERT_TRUE(b.h.SetCallers({{9, {12, 'M'}}})); });
    const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(EndsWith(
        run.lines,
        JoinLines({{"Staged build and verification: PASS (2 conference(s))",
                    "SAFETY ABORT: caller activity found during before backup:",
                    "  TWWHOSON slot 9 UserNo=12 Status=M",
                    "TWTRIM32 will not scan while a caller may be online or active in messages."},
                   abort,
                   Footer(kRunTimeText, 3, "ABORTED")})));
    EXPECT_FALSE(b.h.Exists(b.h.HomePath("TWTRIM32-BACKUPS")));
    b.ExpectOriginals();
  }
  {
    SCOPED_TRACE("file changed before commit");
    WriteBoard b;
    const std::string dat = b.h.MessagePath("TWMSG02.DAT");
    std::string after;
    BeforeCheckpoint(b.h, 6, [&] {
      FlipByte(dat, 0);
      after = b.h.ReadFile(dat);
    });
    const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});
    const std::string before = b.original2.dat;
    const std::string size = std::to_string(before.size());
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(EndsWith(
        run.lines,
        JoinLines({{"Verified backup result: PASS", "  CHANGED: " + b.h.ShownMessage("TWMSG02.DAT"),
                    "    Before size=" + size + " FNV=" + Hex8(Fnv1a(before)) +
                        " CRC32=" + Hex8(Crc32(before)),
                    "    After  size=" + size + " FNV=" + Hex8(Fnv1a(after)) +
                        " CRC32=" + Hex8(Crc32(after)),
                    "SAFETY ABORT: 1 selected file(s) changed during the scan.",
                    "The report must not be trusted as a single consistent message-base snapshot."},
                   abort,
                   Footer(kRunTimeText, 3, "ABORTED", b.h.ShownBackupDir())})));
    EXPECT_EQ(ReadConference(b.h, 1), b.original1);
    EXPECT_EQ(Leftovers(b.h), std::vector<std::string>{});
  }
}

// Makes the backup copy of `name` impossible to create, whether the copy is
// written under its own name or under a temporary one first.
void FailBackupCopy(AppHarness& h, const std::string& name) {
  for (const std::string& suffix : {name, name + ".PARTIAL"}) {
    h.os().AddFault({{OsCall::kCreateNew,
                      "TWTRIM32-BACKUPS/" + std::string(kBackupName) + "/" + suffix, 0}});
  }
}

// One of the live PTR, IDX or DAT files of the board's message directory.
bool IsLiveConferenceFile(const AppHarness& h, const std::string& path) {
  const std::string_view name = BaseName(path);
  return name.size() == 11 && name.substr(0, 5) == "TWMSG" &&
         (name.substr(7) == ".PTR" || name.substr(7) == ".IDX" || name.substr(7) == ".DAT") &&
         path == h.ShownMessage(name);
}

TEST(WriteSequence, FailedBackupStopsBeforeAnyCommit) {
  struct Case {
    const char* name;
    std::function<void(AppHarness&)> arrange;
    const char* error;
    bool directoryCreated;
  };
  const std::vector<Case> cases = {
      {"backup root is a file",
       [](AppHarness& h) { ASSERT_TRUE(WriteWholeFile(h.HomePath("TWTRIM32-BACKUPS"), "x")); },
       "WRITE ERROR: could not create the timestamped backup directory.", false},
      {"TWMCONF.DAT copy fails", [](AppHarness& h) { FailBackupCopy(h, "TWMCONF.DAT"); },
       "WRITE ERROR: TWMCONF.DAT backup failed verification.", true},
      {"TWOUTBOUND.SEQ copy fails",
       [](AppHarness& h) {
         ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWOUTBOUND.SEQ"), "7"));
         FailBackupCopy(h, "TWOUTBOUND.SEQ");
       },
       "WRITE ERROR: TWOUTBOUND.SEQ backup failed verification.", true},
      {"conference copy fails", [](AppHarness& h) { FailBackupCopy(h, "TWMSG02.IDX"); },
       "WRITE ERROR: verified backup failed for CONF2.", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBoard b;
    c.arrange(b.h);
    const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(
        EndsWith(run.lines, JoinLines({{c.error, kFailedUnchanged, kReleased},
                                       Footer(kRunTimeText, 4, "NOT COMPLETED",
                                              c.directoryCreated ? b.h.ShownBackupDir() : "")})));
    for (const CallRecord& call : b.h.os().log()) {
      if (call.kind == OsCall::kReplaceRename) {
        EXPECT_FALSE(IsLiveConferenceFile(b.h, call.otherPath)) << call.otherPath;
      }
    }
    b.ExpectOriginals();
  }
}

TEST(WriteSequence, FailedCommitRollsBackFromTheHighestConferenceDown) {
  WriteBoard b;
  b.h.os().AddFault({{OsCall::kReplaceRename, "MESSAGE/TWMSG02.PTR", 1}});
  const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});

  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines({{"", "======================= COMMIT =============================",
                  "WRITE ERROR: commit failed for CONF2. Starting rollback.", "",
                  "======================= ROLLBACK ===========================",
                  "Restoring CONF2 from verified backup...", "  rollback verification: PASS",
                  "Restoring CONF1 from verified backup...", "  rollback verification: PASS",
                  "ROLLBACK RESULT: originals restored and verified.", kFailedUnchanged, kReleased},
                 Footer(kRunTimeText, 4, "NOT COMPLETED", b.h.ShownBackupDir())})));
  b.ExpectOriginals();
}

TEST(WriteSequence, ChangeAfterTheCommitIsRolledBack) {
  const struct {
    const char* name;
    uint64_t checkpoint;
    std::function<void(AppHarness&)> change;
    Lines lines;
  } cases[] = {
      {"caller appears",
       8,
       [](AppHarness& h) {
         ASSERT_TRUE(h.SetCallers({{2, {1, 'M'}}}));
       },
       {"SAFETY ABORT: caller activity found during final write verification:",
        "  TWWHOSON slot 2 UserNo=1 Status=M",
        "TWTRIM32 will not scan while a caller may be online or active in messages."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBoard b;
    BeforeCheckpoint(b.h, c.checkpoint, [&] { c.change(b.h); });
    const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(EndsWith(
        run.lines,
        JoinLines(
            {c.lines,
             {"", "======================= ROLLBACK ===========================",
              "Restoring CONF2 from verified backup...", "  rollback verification: PASS",
              "Restoring CONF1 from verified backup...", "  rollback verification: PASS",
              "ROLLBACK RESULT: originals restored and verified.", kFailedUnchanged, kReleased},
             Footer(kRunTimeText, 4, "NOT COMPLETED", b.h.ShownBackupDir())})));
    b.ExpectOriginals();
  }
}

TEST(WriteSequence, UninvolvedFileChangedDuringTheWriteCannotBeVerifiedBack) {
  AppHarness h({"Pack", "Clean"});
  ASSERT_TRUE(h.AddConference(1, Pack()));
  ASSERT_TRUE(h.AddConference(2, Clean()));
  const ConferenceBytes original1 = ReadConference(h, 1);
  BeforeCheckpoint(h, 7, [&] { FlipByte(h.MessagePath("TWMSG02.DAT"), 3); });
  const AppRun run = h.Run({"/CONF1..2", "/WRITE"});

  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(HasBlock(run.lines,
                       {"  POST-WRITE VERIFY FAILED: " + h.ShownMessage("TWMSG02.DAT"), "",
                        "======================= ROLLBACK ===========================",
                        "Restoring CONF1 from verified backup...", "  rollback verification: PASS",
                        "  CHANGED: " + h.ShownMessage("TWMSG02.DAT")}));
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines(
          {{"SAFETY ABORT: 1 selected file(s) changed during the scan.",
            "The report must not be trusted as a single consistent message-base snapshot.",
            "ROLLBACK RESULT: INCOMPLETE - restore manually from the logged backup directory.",
            kFailedManual, kReleased},
           Footer(kRunTimeText, 4, "NOT COMPLETED", h.ShownBackupDir())})));
  EXPECT_EQ(ReadConference(h, 1), original1);
}

TEST(WriteSequence, FailedRestoreEndsIncompleteAndKeepsTheBackup) {
  WriteBoard b;
  b.h.os().AddFault({{OsCall::kReplaceRename, "MESSAGE/TWMSG02.PTR", 1}});
  b.h.os().FailPath(OsCall::kCreateNew, "TWMSG01.DAT.ROLLBACK");
  const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});

  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines(
          {{"Restoring CONF2 from verified backup...", "  rollback verification: PASS",
            "Restoring CONF1 from verified backup...", "  ROLLBACK FAILED",
            "ROLLBACK RESULT: INCOMPLETE - restore manually from the logged backup directory.",
            kFailedManual, kReleased},
           Footer(kRunTimeText, 4, "NOT COMPLETED", b.h.ShownBackupDir())})));
  const std::string dir = b.h.HomePath(std::string("TWTRIM32-BACKUPS/") + kBackupName);
  EXPECT_EQ(b.h.ReadFile(dir + "/TWMSG01.DAT"), b.original1.dat);
  // What could be restored was: conference 2 whole, conference 1's PTR and IDX.
  const ConferenceBytes now1 = ReadConference(b.h, 1);
  EXPECT_EQ(now1.ptr, b.original1.ptr);
  EXPECT_EQ(now1.idx, b.original1.idx);
  EXPECT_EQ(now1.dat, PackedPack().dat);
  EXPECT_EQ(ReadConference(b.h, 2), b.original2);
  EXPECT_EQ(Leftovers(b.h), std::vector<std::string>{});
}

TEST(WriteSequence, FailedLockReleaseAfterASuccessfulWriteIsExitFour) {
  WriteBoard b;
  b.h.os().FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
  const AppRun run = b.h.Run({"/CONF1..2", "/WRITE"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines({{"WRITE RESULT: SUCCESS - changes committed and verified.",
                  Labelled("Backup directory:", b.h.ShownBackupDir()),
                  "PUBLIC BETA: review the report and keep the verified backup until the BBS is "
                  "confirmed healthy.",
                  "LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.",
                  "Verify no TWTRIM32 or VIZize32 process is active before removing it manually."},
                 Footer(kRunTimeText, 4, "NOT COMPLETED", b.h.ShownBackupDir())})));
  EXPECT_EQ(ReadConference(b.h, 1), PackedPack());
  EXPECT_FALSE(SharedTosserLockOwned());
  EXPECT_TRUE(b.h.real().DeleteFile(b.h.MessagePath("VIZIZE.BSY")));
}

}  // namespace
}  // namespace twtrim::test
