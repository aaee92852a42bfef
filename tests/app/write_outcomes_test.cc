// Whole runs in process, one row per way a run can end: the arrangement, the
// exit code, the report's last lines before its footer, the footer's safety
// result and what is left of the board.
#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "safety/tosser_lock.h"
#include "support/app_harness.h"
#include "support/pack_model.h"

namespace twtrim::test {
namespace {

using board::ConferenceFiles;

// Bodies at blocks 0..1, 2..4, 5 and 6; the second message is deleted; the
// third replies to the fourth, a parent the pack keeps, so its link stays.
ConferenceFiles Pack() {
  return MakeConference({board::Root(1, 2), board::Deleted(board::Reply(2, 1, 3)),
                         board::Reply(3, 4, 1), board::Root(4, 1)});
}
// Nothing to purge: a live DANGER record to repair and an orphan reply, which
// a /WRITE keeps byte for byte.
ConferenceFiles Repair() {
  return MakeConference(
      {board::Root(1, 1), board::Reply(2, 1, 1), board::Danger(3, 1), board::Reply(4, 99, 1)});
}
ConferenceFiles Clean() { return MakeConference({board::Root(1, 1), board::Reply(2, 1, 1)}); }
ConferenceBytes Packed(const ConferenceFiles& f) { return PackConference(ToBytes(f)).packed; }

// kDatTwoChanged: as arranged but for TWMSG02.DAT, which someone else changed or removed.
// kDatOneChanged: all restored but TWMSG01.DAT, packed and then changed by someone else
// after the commit: the rollback leaves it.
enum class Board { kOriginal, kPacked, kDatTwoChanged, kDatOneChanged };

// Names in MESSAGE a finished run leaves: staged, rollback, intent-record and lock files.
std::vector<std::string> Leftovers(AppHarness& h) {
  std::vector<DirEntry> entries;
  EXPECT_TRUE(h.real().ListDirectory(h.MessagePath("*"), &entries));
  std::vector<std::string> found;
  for (const DirEntry& e : entries) {
    const std::string& n = e.name;
    if (n.ends_with(".NEW") || n.ends_with(".JNL") || n.find(".ROLLBACK") != std::string::npos ||
        n == "VIZIZE.BSY")
      found.push_back(n);
  }
  return found;
}

constexpr char kUnchanged[] =
    "WRITE RESULT: FAILED; live-format originals are unchanged or were restored from backup.";
constexpr char kReleased[] = "Shared VIZIZE.BSY lock: RELEASED.";
constexpr char kAborted[] = "This operation did not complete as a verified consistent snapshot.";
constexpr char kRolledBack[] = "ROLLBACK RESULT: originals restored and verified.";
constexpr char kNoScan[] =
    "TWTRIM32 will not scan while a caller may be online or active in messages.";
constexpr char kPreview[] = "PREVIEW RESULT: COMPLETE - no files were changed.";
constexpr char kPreCommitAbort[] = "Staged .NEW files will be removed.";
constexpr char kBuildFailed[] = "WRITE ERROR: failed while building staged files for CONF";
constexpr char kVerifyNone[] =
    "Verify no TWTRIM32 or VIZize32 process is active before removing it manually.";
const std::string kRule(60, '=');
const Lines kRefused = {"WRITE REFUSED: validation errors must be resolved first.", kReleased};
const Lines kSuccess = {
    "PUBLIC BETA: review the report and keep the verified backup until the BBS is confirmed "
    "healthy.",
    kReleased};

struct Outcome {
  const char* name;
  std::function<void(AppHarness&)> arrange;
  int exitCode;
  Lines last;  // the report's lines just before the footer; '@' stands for MESSAGE's path
  Board board;
  std::vector<std::string> switches = {"/CONF1..2", "/WRITE"};
  std::vector<std::string> leftovers = {};
  const char* shows = "";  // the start of a line the report holds before its ending
};

void PrintTo(const Outcome& o, std::ostream* out) { *out << o.name; }
void Nothing(AppHarness&) {}
// From the start (`nth` 0) or before checkpoint `nth`, `slot` shows a caller.
std::function<void(AppHarness&)> CallerAt(uint64_t nth, uint32_t slot, uint16_t userNo,
                                          uint8_t status) {
  return [=](AppHarness& h) {
    const auto show = [=, &h] { ASSERT_TRUE(h.SetCallers({{slot, {userNo, status}}})); };
    if (nth == 0) return show();
    BeforeCheckpoint(h, nth, show);
  };
}
std::function<void(AppHarness&)> Write(const char* name, std::string bytes) {
  return [=](AppHarness& h) { ASSERT_TRUE(WriteWholeFile(h.HomePath(name), bytes)); };
}
// The abort block of a run stopped by a safety check, then what follows it.
Lines SafetyAbort(Lines why, Lines after = {kReleased}) {
  return JoinLines({why,
                    {"", "===================== SAFETY ABORT =========================",
                     "No message-base file was opened for write or modified by TWTRIM32.",
                     kAborted, kRule},
                    after});
}
Outcome LockLeftBefore(const char* name, const char* content, Lines note) {
  return {name, Write("MESSAGE/VIZIZE.BSY", content), 3,
          SafetyAbort(JoinLines({{"SAFETY ABORT: shared message-base lock already exists: "
                                  "@VIZIZE.BSY",
                                  "VIZize32 or another TWTRIM32 run may already be active."},
                                 note}),
                      {}),
          Board::kOriginal, {"/CONF1..2", "/WRITE"}, {"VIZIZE.BSY"}};
}
const Lines kLockNotWritten = {"SAFETY ERROR: could not write the shared message-base lock: "
                               "@VIZIZE.BSY"};
#ifndef _WIN32
// Replaces the run's lock by another file of the same name, as a second
// program that deleted and recreated it would; then maybe an interrupt.
std::function<void(AppHarness&)> ReplaceLock(bool interrupt) {
  return [=](AppHarness& h) {
    BeforeCheckpoint(h, 3, [&h, interrupt] {
      ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("VIZIZE.BSY")) &&
                  WriteWholeFile(h.MessagePath("VIZIZE.BSY"), "tosser\r\n"));
      if (interrupt) ConsoleControlHandler();
    });
  };
}
#endif

// Conference 2 with a name CRC of neither convention: a validation error.
void WrongCrc(AppHarness& h) {
  board::MessageShape wrong = board::Reply(2, 1);
  wrong.wrongFromCrc = true;
  ASSERT_TRUE(h.AddConference(2, MakeConference({board::Root(1), wrong})));
}

// A dry run exits 1 on each finding by itself: a thread of two, then `third`.
Outcome DryRunFinding(const char* name, board::MessageShape third) {
  return {name,
          [=](AppHarness& h) {
            ASSERT_TRUE(h.AddConference(
                1, MakeConference({board::Root(1, 1), board::Reply(2, 1, 1), third})));
          },
          1, {kPreview, kRule, kReleased}, Board::kOriginal, {"/CONF1", "/DRYRUN"}};
}

const Outcome kOutcomes[] = {
    {"success", Nothing, 0, kSuccess, Board::kPacked},
    {"dry run", Nothing, 1, {kPreview, kRule, kReleased}, Board::kOriginal, {"/CONF1..2", "/DRYRUN"}},
    DryRunFinding("dry run finding deletions alone", board::Deleted(board::Reply(3, 1, 1))),
    DryRunFinding("dry run finding a DANGER record alone", board::Danger(3, 1)),
    DryRunFinding("dry run finding an orphan reply alone", board::Reply(3, 99, 1)),
    DryRunFinding("dry run finding a root without replies alone", board::Root(3, 1)),
    {"conference beyond the configured names",
     [](AppHarness& h) { ASSERT_TRUE(h.AddConference(3, Clean())); }, 1,
     {kPreview, kRule, kReleased}, Board::kOriginal, {"/CONF1..3", "/DRYRUN"}},
    {"validation error", WrongCrc, 2, kRefused, Board::kOriginal},
    {"blocked",
     [](AppHarness& h) {
       ASSERT_TRUE(
           h.AddConference(2, MakeConference({board::Root(1, 1), ShapeAt(board::Reply(2, 1, 1), 0),
                                              board::Deleted(board::Reply(3, 1, 1))})));
     },
     2,
     {"WRITE REFUSED: one or more selected conferences are blocked by conservative Phase-1 rules.",
      kReleased},
     Board::kOriginal},
    {"nothing to change",
     [](AppHarness& h) { ASSERT_TRUE(h.AddConference(1, Clean()) && h.AddConference(2, Clean())); },
     0,
     {"WRITE RESULT: no selected conference needs a Phase-1 change; no backup or write performed.",
      kReleased},
     Board::kOriginal},
    {"test copy without its marker", Nothing, 2,
     {"Copy TWTRIM32_TESTCOPY.OK into the root of the separate test home.", kReleased},
     Board::kOriginal, {"/CONF1..2", "/WRITE", "/TESTCOPY"}},
    {"caller online in slot 1, the last printable status", CallerAt(0, 1, 5, '~'), 3,
     SafetyAbort({"  TWWHOSON slot 1 UserNo=5 Status=~", kNoScan}), Board::kOriginal},
    {"caller table of the older 255-slot size",
     Write("WORK/TWWHOSON.DAT", std::string(1530, '\xff')), 0, kSuccess, Board::kPacked},
    {"caller table of neither size", Write("WORK/TWWHOSON.DAT", std::string(1531, '\xff')), 3,
     SafetyAbort({"SAFETY ERROR: unsupported TWWHOSON.DAT size: 1531 bytes.",
                  "Expected 1530 bytes (255 slots) or 1536 bytes (live 256-record file)."}),
     Board::kOriginal},
    {"process list unavailable", [](AppHarness& h) { h.os().FailProcessList(); }, 3,
     SafetyAbort({"SAFETY ERROR: unable to enumerate processes during initial preflight."}),
     Board::kOriginal},
    {"conference file unreadable in the scan",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kOpenSharedRead, "TWMSG02.IDX", 2}}); }, 2,
     kRefused, Board::kOriginal, {"/CONF1..2", "/WRITE"}, {}, "  ERROR: cannot open IDX."},
    {"caller table missing",
     [](AppHarness& h) { ASSERT_TRUE(h.real().DeleteFile(h.HomePath("WORK/TWWHOSON.DAT"))); }, 3,
     SafetyAbort({"Expected location: <Tarnwick home>\\WORK\\TWWHOSON.DAT",
                  "Use /HOME= to point TWTRIM32 at the real Tarnwick home directory."}),
     Board::kOriginal},
    {"caller table unreadable",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kOpenSharedRead, "TWWHOSON.DAT", 1}}); }, 3,
     SafetyAbort({"SAFETY ERROR: cannot open/read TWWHOSON.DAT."}), Board::kOriginal},
    {"conference names of a size no record count gives", Write("TWMCONF.DAT", std::string(130, 'x')),
     2, kRefused, Board::kOriginal},
    // The two kinds of error add up: neither hides the other.
    {"conference names read short and a validation error",
     [](AppHarness& h) {
       WrongCrc(h);
       h.os().AddFault({{OsCall::kRead, "TWMCONF.DAT", 1}, FaultEffect::kShort});
     },
     2, kRefused, Board::kOriginal, {"/CONF1..2", "/WRITE"}, {},
     "ERROR: short read in TWMCONF.DAT."},
    {"conference names unreadable",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kOpenSharedRead, "TWMCONF.DAT", 1}}); },
     2, kRefused, Board::kOriginal, {"/CONF1..2", "/WRITE"}, {},
     "ERROR: cannot open/read TWMCONF.DAT: "},
    {"tosser running", [](AppHarness& h) { h.os().SetProcessNames({"init", "vizize32.exe"}); }, 3,
     {kAborted, kRule, kReleased}, Board::kOriginal},
    LockLeftBefore("our own line in a lock left before", kLockFileText,
                   {"The lock holds TWTRIM32's own line: a TWTRIM32 run left it; unless one is "
                    "still running, see \"A stale VIZIZE.BSY\" in the README."}),
    LockLeftBefore("a lock left before", "busy since 1998\r\n", {}),
    {"lock line not written, file removed",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kWrite, "VIZIZE.BSY", 1}}); }, 3,
     SafetyAbort(kLockNotWritten, {}), Board::kOriginal},
    {"lock identity unknown, file removed",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kIdentity, "VIZIZE.BSY", 1}}); }, 3,
     SafetyAbort(kLockNotWritten, {}), Board::kOriginal},
    {"lock line not written, file not removable",
     [](AppHarness& h) {
       h.os().AddFault({{OsCall::kWrite, "VIZIZE.BSY", 1}});
       h.os().FailPath(OsCall::kDeleteFile, "VIZIZE.BSY");
     },
     4,
     SafetyAbort(kLockNotWritten,
                 {"LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.", kVerifyNone}),
     Board::kOriginal, {"/CONF1..2", "/WRITE"}, {"VIZIZE.BSY"}},
#ifndef _WIN32
    {"closing the lock fails but the file is gone",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kClose, "VIZIZE.BSY", 1}}); }, 0, kSuccess,
     Board::kPacked},
    {"lock replaced during the run", ReplaceLock(false), 4,
     SafetyAbort({"SAFETY ERROR: TWTRIM32's shared VIZIZE.BSY lock is missing or changed during "
                  "immediately after scan."},
                 {"LOCK CLEANUP ERROR: VIZIZE.BSY is no longer the lock this run created; it "
                  "was left as it is.",
                  kVerifyNone}),
     Board::kOriginal, {"/CONF1..2", "/WRITE"}, {"VIZIZE.BSY"}},
    // The interrupt let the run's lock go: the next check meets another's.
    {"lock replaced, then an interrupt", ReplaceLock(true), 3,
     SafetyAbort({"SAFETY ABORT: VIZize32 busy marker exists during immediately after scan: "
                  "@VIZIZE.BSY",
                  "TWTRIM32 will not scan while VIZIZE.BSY indicates message-base activity."}),
     Board::kOriginal, {"/CONF1..2", "/WRITE"}, {"VIZIZE.BSY"}},
#endif
    {"caller in messages appears after the scan", CallerAt(3, 255, 0xFFFF, 'M'), 3,
     SafetyAbort({"  TWWHOSON slot 255 UserNo=65535 Status=M", kNoScan}), Board::kOriginal},
    {"file changed during the scan",
     [](AppHarness& h) {
       h.os().AddHook({OsCall::kOpenSharedRead, "TWMSG02.DAT", 2},
                      [&h] { FlipByte(h.MessagePath("TWMSG02.DAT"), 0); });
     },
     3,
     SafetyAbort({"SAFETY ABORT: 1 selected file(s) changed during the scan.",
                  "The report must not be trusted as a single consistent message-base snapshot."}),
     Board::kDatTwoChanged, {"/CONF1..2", "/WRITE"}, {}, "  CHANGED: "},
    // Cut after its title: it names no state and no backup, and still blocks the write.
    {"intent record of an interrupted commit",
     Write("MESSAGE/TWMSG01.JNL", "TWTRIM32 COMMIT IN PROGRESS\r\n"),
     2, kRefused, Board::kOriginal, {"/CONF1..2", "/WRITE"}, {"TWMSG01.JNL"},
     "  ERROR: interrupted commit: live files are UNKNOWN; backup: unknown"},
    {"stale staged file", Write("MESSAGE/TWMSG02.DAT.NEW", "stale"), 4,
     {std::string(kBuildFailed) + "2.", kUnchanged, kReleased}, Board::kOriginal,
     {"/CONF1..2", "/WRITE"}, {"TWMSG02.DAT.NEW"}},
    {"staged write fails after the first full buffer",
     [](AppHarness& h) {
       std::vector<board::MessageShape> many = {board::Deleted(board::Root(1, 1))};
       for (int32_t n = 2; n <= 200; ++n) many.push_back(board::Root(n, 1));
       ASSERT_TRUE(h.AddConference(2, MakeConference(many)));
       h.os().AddFault({{OsCall::kWrite, "TWMSG02.PTR.NEW", 1}});
     },
     4, {std::string(kBuildFailed) + "2.", kUnchanged, kReleased}, Board::kOriginal},
    {"kept body changed during the staged build and changed back",
     [](AppHarness& h) {
       h.os().ChangeAndRevert({OsCall::kCreateNew, "TWMSG01.PTR.NEW", 1},
                              {OsCall::kDeleteFile, "TWMSG01.PTR.NEW"},
                              h.MessagePath("TWMSG01.DAT"), 5 * 128 + 7, "X");
     },
     4, {std::string(kBuildFailed) + "1.", kUnchanged, kReleased}, Board::kOriginal},
    {"staged file damaged before its verification",
     [](AppHarness& h) {
       h.os().BeforeCall(OsCall::kOpenSharedRead, "TWMSG01.PTR.NEW",
                         [&h] { FlipByte(h.MessagePath("TWMSG01.PTR.NEW"), PtrRecord::kDeleted); });
     },
     4, {"WRITE ERROR: staged verification failed for CONF1.", kUnchanged, kReleased},
     Board::kOriginal},
    {"caller before the backup", CallerAt(5, 9, 12, 'M'), 3, {kPreCommitAbort, kReleased},
     Board::kOriginal},
    {"file removed before the commit",
     [](AppHarness& h) {
       BeforeCheckpoint(
           h, 6, [&h] { ASSERT_TRUE(h.real().DeleteFile(h.MessagePath("TWMSG02.DAT"))); });
     },
     3, {kPreCommitAbort, kReleased}, Board::kDatTwoChanged, {"/CONF1..2", "/WRITE"}, {},
     "  CHANGED/UNREADABLE: "},
    {"no free space for the backup", [](AppHarness& h) { h.os().SetFreeSpace(0); }, 4,
     {kUnchanged, kReleased}, Board::kOriginal},
    {"backup root is a file", Write("TWTRIM32-BACKUPS", "x"), 4,
     {"WRITE ERROR: could not create the timestamped backup directory.", kUnchanged, kReleased},
     Board::kOriginal},
    {"DAT changed during the backup copy and changed back",
     [](AppHarness& h) {
       h.os().ChangeAndRevert({OsCall::kCreateNew, "TWMSG01.DAT.PARTIAL", 1},
                              {OsCall::kDeleteFile, "TWMSG01.DAT.PARTIAL"},
                              h.MessagePath("TWMSG01.DAT"), 5, "X");
     },
     4, {"WRITE ERROR: verified backup failed for CONF1.", kUnchanged, kReleased},
     Board::kOriginal},
    // A verbose run says why the step failed, right under its error line.
    {"commit fails: rollback from the highest conference down",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kReplaceRename, "MESSAGE/TWMSG02.PTR", 1}}); },
     4,
     {"WRITE ERROR: commit failed for CONF2. Starting rollback.",
      "  Cause: ReplaceRename @TWMSG02.PTR.NEW -> @TWMSG02.PTR: failed by test rule", "",
      "======================= ROLLBACK ===========================",
      "Restoring CONF2 from verified backup...", "  rollback verification: PASS",
      "Restoring CONF1 from verified backup...", "  rollback verification: PASS",
      "Integrity verification: PASS - selected files were unchanged", kRolledBack, kUnchanged,
      kReleased},
     Board::kOriginal, {"/CONF1..2", "/WRITE", "/V"}},
    {"live file changed after the commit is left, not rolled over",
     [](AppHarness& h) {
       BeforeCheckpoint(h, 7, [&h] { FlipByte(h.MessagePath("TWMSG01.DAT"), 130); });
     },
     4,
     {"  ROLLBACK FAILED",
      "ROLLBACK RESULT: INCOMPLETE - restore manually from the logged backup directory.",
      "WRITE RESULT: FAILED; manual restoration from the backup directory is required.",
      kReleased},
     Board::kDatOneChanged, {"/CONF1..2", "/WRITE"}, {"TWMSG01.JNL"}},
    {"intent record not written",
     [](AppHarness& h) { h.os().AddFault({{OsCall::kCreateNew, "TWMSG01.JNL.NEW", 1}}); }, 4,
     {kRolledBack, kUnchanged, kReleased}, Board::kOriginal},
    {"caller appears after the commit", CallerAt(8, 2, 1, 'M'), 4,
     {kRolledBack, kUnchanged, kReleased}, Board::kOriginal},
    {"report file comes up short",
     [](AppHarness& h) {
       h.os().AddFault({{OsCall::kWrite, "TWTRIM32_REPORT.TXT", 3}, FaultEffect::kShort});
     },
     0, kSuccess, Board::kPacked},
    {"report file not flushed", [](AppHarness& h) { h.os().FailPath(OsCall::kFlush, "TWTRIM32_REPORT.TXT"); },
     0, kSuccess, Board::kPacked},
    {"lock release fails after success",
     [](AppHarness& h) { h.os().FailPath(OsCall::kDeleteFile, "VIZIZE.BSY"); }, 4,
     {"LOCK CLEANUP ERROR: VIZIZE.BSY could not be removed safely.", kVerifyNone}, Board::kPacked,
     {"/CONF1..2", "/WRITE"}, {"VIZIZE.BSY"}},
};

class WriteOutcome : public ::testing::TestWithParam<Outcome> {};

TEST_P(WriteOutcome, ExitCodeReportAndBoard) {
  const Outcome& o = GetParam();
  AppHarness h({"Pack", "Repair"});
  ASSERT_TRUE(h.AddConference(1, Pack()) && h.AddConference(2, Repair()));
  const ConferenceBytes before1 = ReadConference(h, 1), before2 = ReadConference(h, 2);
  o.arrange(h);
  const ConferenceBytes arranged1 = ReadConference(h, 1), arranged2 = ReadConference(h, 2);
  const RunResult run = h.Run(o.switches);

  EXPECT_EQ(run.exitCode, o.exitCode);
  EXPECT_TRUE(run.allCrLf);
  const size_t footer =
      IndexOf(run.lines, "-------------------- RUN COMPLETE --------------------------");
  ASSERT_LT(footer, run.lines.size());
  const Lines body(run.lines.begin(), run.lines.begin() + static_cast<long>(footer) - 1);
  Lines last = o.last;
  for (std::string& line : last) {
    for (size_t at; (at = line.find('@')) != std::string::npos;)
      line.replace(at, 1, h.ShownMessage(""));
  }
  EXPECT_TRUE(EndsWith(body, last)) << ::testing::PrintToString(body);
  EXPECT_TRUE(HasLineStarting(body, o.shows)) << o.shows;
  EXPECT_EQ(run.lines[footer + 2], Labelled("Exit code:", std::to_string(o.exitCode)));
  const char* safety = o.exitCode <= 1 ? "PASS" : o.exitCode == 3 ? "ABORTED" : "NOT COMPLETED";
  EXPECT_EQ(run.lines[footer + 3], Labelled("Safety result:", safety));
  EXPECT_EQ(Leftovers(h), o.leftovers);
  // The footer reached the disk, a flush after the report's last write, and a
  // report file that came up short is named last.
  uint64_t lastWrite = 0, lastFlush = 0;
  bool reportFailed = false;
  for (const CallRecord& call : h.os().log()) {
    if (!call.path.ends_with("TWTRIM32_REPORT.TXT")) continue;
    reportFailed = reportFailed || call.failed;
    if (call.kind == OsCall::kWrite) lastWrite = call.index;
    if (call.kind == OsCall::kFlush) lastFlush = call.index;
  }
  EXPECT_GT(lastFlush, lastWrite);
  EXPECT_EQ(run.lines.back(), reportFailed ? "WARNING: the report file is incomplete: " +
                                                 h.ShownHome("TWTRIM32_REPORT.TXT")
                                           : std::string(60, '-'));
  EXPECT_FALSE(SharedTosserLockOwned() || h.os().eventsHeld());

  const ConferenceBytes now1 = ReadConference(h, 1), now2 = ReadConference(h, 2);
  ConferenceBytes packed1 = Packed(Pack());
  switch (o.board) {
    case Board::kOriginal:
      EXPECT_EQ(now1, arranged1);
      EXPECT_EQ(now2, arranged2);
      break;
    case Board::kPacked:
      EXPECT_EQ(now1, packed1);
      EXPECT_EQ(now2, Packed(Repair()));
      break;
    case Board::kDatOneChanged:
      packed1.dat[130] ^= 1;
      EXPECT_EQ(now1.ptr + now1.idx, before1.ptr + before1.idx);
      EXPECT_EQ(now1.dat, packed1.dat);
      EXPECT_EQ(now2, before2);
      break;
    case Board::kDatTwoChanged:
      EXPECT_EQ(now1, before1);
      EXPECT_EQ(now2.ptr + now2.idx, before2.ptr + before2.idx);
      EXPECT_NE(now2.dat, before2.dat);
      break;
  }
  // A run that changed the board keeps the originals in its backup.
  if (o.board == Board::kPacked || o.board == Board::kDatOneChanged) {
    const std::string backup = std::string("TWTRIM32-BACKUPS/") + kBackupName + "/TWMSG01.DAT";
    EXPECT_EQ(h.ReadFile(h.HomePath(backup)), before1.dat);
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, WriteOutcome, ::testing::ValuesIn(kOutcomes),
                         [](const ::testing::TestParamInfo<Outcome>& info) {
                           std::string name = info.param.name;
                           std::erase_if(name, [](char c) { return !std::isalnum(c & 0xFF); });
                           return name;
                         });

}  // namespace
}  // namespace twtrim::test
