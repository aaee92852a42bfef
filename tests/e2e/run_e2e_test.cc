// The real program, run as the operator runs it: a board in a scratch
// directory, the report read from standard output and from the report file,
// the exit code and what is left on disk. Runs natively and, against
// TWTRIM32.EXE, under Wine.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/help.h"
#include "board/board_builder.h"
#include "support/app_harness.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace twtrim::test {
namespace {

using board::Bodyless;
using board::Deleted;
using board::Reply;
using board::Root;

constexpr char kTime[] = "<time>";
const std::string kRule(60, '=');

// The real program run on the harness's board: the switches, then /HOME=.
ProcessResult RunReal(const AppHarness& h, const std::vector<std::string>& switches) {
  const std::vector<std::string> arguments = h.Arguments(switches);
  return RunProcess(TwtrimBinary(), {arguments.begin() + 1, arguments.end()}, h.home());
}

// The report header the program echoes for these switches, time masked.
Lines HeaderFor(const AppHarness& h, const std::vector<std::string>& switches) {
  std::vector<std::string> arguments = h.Arguments(switches);
  arguments[0] = TwtrimBinary();
  return Header(kTime, arguments);
}

Lines RunHeader(const AppHarness& h, std::string_view detail) {
  return {kRule,
          "TWTRIM32 0.6.0-beta1 - Safeguarded Tarnwick Message Packer",
          "MODE: /DRYRUN PACKING PREVIEW - message-base files opened READ ONLY",
          kRule,
          Labelled("Home:", h.home()),
          Labelled("Message directory:", h.ShownMessageDir()),
          Labelled("Conference config:", h.ShownHome("TWMCONF.DAT") + " (4 records)"),
          Labelled("Caller status:", JoinExpected(h.ShownHome("WORK"), "TWWHOSON.DAT")),
          Labelled("Shared tosser lock:", h.ShownMessage("VIZIZE.BSY") + " (owned by TWTRIM32)"),
          Labelled("Selected:", "CONF1..CONF4"),
          Labelled("Log file:", h.ShownHome("TWTRIM32_REPORT.TXT")),
          Labelled("Report detail:", detail)};
}

// Four conferences, one of each verdict, and a leftover backup folder.
struct MixedBoard : AppHarness {
  MixedBoard() : AppHarness({"General", "Pack", "Blocked", "Broken"}) {
    EXPECT_TRUE(AddConference(1, MakeConference({Root(1, 1), Reply(2, 1, 1)})));
    EXPECT_TRUE(
        AddConference(2, MakeConference({Root(1, 2), Deleted(Reply(2, 1, 3)), Reply(3, 2, 1),
                                         Bodyless(Reply(4, 1)), board::Danger(5, 1)})));
    EXPECT_TRUE(AddConference(
        3, MakeConference({Root(1, 1), ShapeAt(Reply(2, 1, 1), 0), Deleted(Reply(3, 1, 1))})));
    EXPECT_TRUE(AddConference(4, MakeConference({Root(1, 1), ShapeWrongCrc(Reply(2, 1, 1))})));
    EXPECT_TRUE(board::MakeDirectories(MessagePath("VUVERUDODIV-BAK-OLD")));
  }
};

Lines Checkpoint(const std::string& label) {
  return {"Caller-status format [" + label +
              "]: 1536 bytes; scanning slots 1..255 using original REZADUDU rules",
          "Caller safety check [" + label + "]: CLEAR",
          "VIZize busy-marker check [" + label + "]: HELD BY TWTRIM32",
          "VIZize32 process check [" + label + "]: CLEAR"};
}

Lines Dump(const std::string& tag, int slot, int msg, int org, int ts, int deleted, int where,
           int records, const std::string& subject) {
  return {"    " + tag + " slot " + std::to_string(slot) + ": Msg=" + std::to_string(msg) +
              " Org=" + std::to_string(org) + " TM=1 TS=" + std::to_string(ts) +
              " Deleted=" + std::to_string(deleted) + " Where=" + std::to_string(where) +
              " Records=" + std::to_string(records),
          "      From=Sysop  To=All", "      Subject=" + subject};
}

Lines Counts(std::initializer_list<int> values) {
  static const char* labels[] = {
      "  Deleted records:      ", "  Bodyless records:     ", "  DANGER records:       ",
      "  Normal roots:         ", "  Root w/o child warn:  ", "  Orphan reply warn:    ",
      "  IDX identity stale:   ", "  IDX CRC errors:       ", "  DAT overlap records:  ",
      "  Unreferenced DAT:     ", "  Validation errors:    "};
  Lines lines;
  size_t i = 0;
  for (int v : values) lines.push_back(labels[i++] + std::to_string(v));
  return lines;
}

TEST(EndToEnd, ConciseDryRunOfAMixedBoard) {
  MixedBoard b;
  const std::vector<std::string> switches = {"/ALL", "/DRYRUN"};
  const ProcessResult run = RunReal(b, switches);
  ASSERT_TRUE(run.started) << TwtrimBinary();
  bool crlf = false;
  const Lines lines = MaskTimes(ReportLines(run.stdoutBytes, &crlf));

  const Lines expected = JoinLines(
      {HeaderFor(b, switches),
       {"Shared VIZIZE.BSY lock: ACQUIRED - VIZize32 is blocked for this run."},
       RunHeader(b, "STANDARD (concise)"),
       {"",
        "====================== SAFETY ==============================",
        "Safety preflight:      PASS",
        "",
        "Ignored VUVERUDODIV backup folders inside MESSAGE: 1",
        "",
        "CONF 01 - General",
        "  RESULT: NO CHANGES.",
        "",
        "CONF 02 - Pack",
        "  RESULT: WOULD PACK/FIX - deleted=1; DANGER fixes=1; reply links cleared=1; PTR/IDX 5 "
        "-> 4; DAT 7 -> 4; reclaim=656 bytes.",
        "  FINDINGS: bodyless=1",
        "",
        "CONF 03 - Blocked",
        "  RESULT: BLOCKED - no write allowed; deleted=1; DAT overlaps=1.",
        "  FINDINGS: DAT-overlaps=1",
        "",
        "CONF 04 - Broken",
        "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick "
        "convention: 1",
        "  RESULT: ERROR - 1 validation error(s); no write allowed.",
        "",
        "=================== POST-SCAN SAFETY =======================",
        "Scan safety result:    PASS",
        "",
        "======================= SUMMARY ============================",
        "Conferences: scanned=4; needing action=2; blocked=1",
        "Planned work: deleted=2; DANGER fixes=1; reply links cleared=1",
        "Records: PTR/IDX 12 -> 11; DAT 13 -> 10",
        "Estimated bytes reclaimed: 656",
        "Findings: bodyless=1 IDX-CRC-errors=1 DAT-overlaps=1 validation-errors=1 "
        "ignored-backup-folders=1",
        "PREVIEW: BLOCKED conference(s) are selected; no write is allowed.",
        "PREVIEW RESULT: BLOCKED conference(s) must not be written by Phase 1.",
        kRule,
        "Shared VIZIZE.BSY lock: RELEASED."},
       Footer(kTime, 2, "PASS")});

  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(crlf);
  EXPECT_TRUE(SameLines(lines, expected));
  // The report file holds exactly what the console showed.
  EXPECT_EQ(b.ReadFile(b.HomePath("TWTRIM32_REPORT.TXT")), run.stdoutBytes);
  EXPECT_FALSE(b.Exists(b.HomePath("MESSAGE/VIZIZE.BSY")));
}

TEST(EndToEnd, VerboseDryRunOfAMixedBoard) {
  MixedBoard b;
  const std::vector<std::string> switches = {"/CONF1..4", "/DRYRUN", "/V"};
  const ProcessResult run = RunReal(b, switches);
  ASSERT_TRUE(run.started) << TwtrimBinary();
  const Lines lines = MaskTimes(ReportLines(run.stdoutBytes));
  const Lines preview = {"  ---------------- PACKING PREVIEW ----------------"};

  const Lines expected = JoinLines({
      HeaderFor(b, switches),
      {"Shared VIZIZE.BSY lock: ACQUIRED - VIZize32 is blocked for this run."},
      RunHeader(b, "VERBOSE (/V)"),
      {"", "====================== SAFETY =============================="},
      Checkpoint("initial preflight"),
      {"Integrity snapshot:     13 files / 5440 bytes hashed"},
      Checkpoint("immediately before scan"),
      {"Safety preflight:      PASS", "",
       "Backup folders detected inside MESSAGE (ignored as non-live data):",
       "  VUVERUDODIV-BAK-OLD", "Backup folder count: 1"},
      // CONF 01: nothing to do.
      {"", "CONF 01 - General", "  PTR: 512 bytes / 2 records x 256",
       "  IDX: 32 bytes / 2 records x 16", "  DAT: 256 bytes / 2 records x 128"},
      Counts({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}),
      preview,
      {"    RESULT: NO CHANGES - Phase-1 leaves this conference untouched.",
       "    PTR: 2 -> 2 records (512 -> 512 bytes)", "    IDX: 2 -> 2 records (32 -> 32 bytes)",
       "    DAT: 2 -> 2 records (256 -> 256 bytes)", "    Deleted-message DAT records:       0",
       "    Proven DANGER records to clear:     0", "    Replies cleared after parent purge: 0",
       "    Root-without-child metadata kept:   0", "    IDX identity stale/left untouched:  0",
       "    Estimated bytes reclaimed:          0"},
      // CONF 02: a purge, a DANGER repair, a reply losing its parent.
      {"", "CONF 02 - Pack", "  PTR: 1280 bytes / 5 records x 256",
       "  IDX: 80 bytes / 5 records x 16", "  DAT: 896 bytes / 7 records x 128"},
      Dump("WOULD-PURGE", 2, 2, 1, 0, 1, 2, 3, "Re: Hello"),
      Dump("BODYLESS-NOT-PURGED", 4, 4, 1, 0, 0, 6, 0, "Re: Hello"),
      Dump("DANGER", 5, 5, 5, 0, 0, 6, 1, "Hello"),
      Dump("WOULD-CLEAR-DELETED-PARENT", 3, 3, 2, 0, 0, 5, 1, "Re: Hello"),
      Counts({1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}),
      preview,
      {"    RESULT: WOULD PACK/FIX - preview only; no files changed.",
       "    PTR: 5 -> 4 records (1280 -> 1024 bytes)", "    IDX: 5 -> 4 records (80 -> 64 bytes)",
       "    DAT: 7 -> 4 records (896 -> 512 bytes)", "    Deleted-message DAT records:       3",
       "    Proven DANGER records to clear:     1", "    Replies cleared after parent purge: 1",
       "    Root-without-child metadata kept:   0", "    IDX identity fields rebuilt:        0",
       "    Estimated bytes reclaimed:          656"},
      // CONF 03: the deletion cannot be packed past a shared block.
      {"", "CONF 03 - Blocked", "  PTR: 768 bytes / 3 records x 256",
       "  IDX: 48 bytes / 3 records x 16", "  DAT: 256 bytes / 2 records x 128",
       "    DAT-OVERLAP: slot 2 range Where=0 Records=1 overlaps 1 already-referenced DAT "
       "record(s)."},
      Dump("OVERLAP-DETAIL", 2, 2, 1, 0, 0, 0, 1, "Re: Hello"),
      Dump("WOULD-PURGE", 3, 3, 1, 0, 1, 1, 1, "Re: Hello"),
      Counts({1, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0}),
      preview,
      {"    RESULT: BLOCKED - Phase-1 cannot safely rewrite this conference.",
       "    Reason: overlapping PTR-to-DAT ranges.", "    PTR: 3 -> 3 records (768 -> 768 bytes)",
       "    IDX: 3 -> 3 records (48 -> 48 bytes)", "    DAT: 2 -> 2 records (256 -> 256 bytes)",
       "    Deleted-message DAT records:       1", "    Proven DANGER records to clear:     0",
       "    Replies cleared after parent purge: 0", "    Root-without-child metadata kept:   0",
       "    IDX identity fields rebuilt:        0", "    Estimated bytes reclaimed:          0"},
      // CONF 04: a validation error ends its block after the counts.
      {"", "CONF 04 - Broken", "  PTR: 512 bytes / 2 records x 256",
       "  IDX: 32 bytes / 2 records x 16", "  DAT: 256 bytes / 2 records x 128",
       "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick "
       "convention: 1"},
      Counts({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1}),
      {"", "=================== POST-SCAN SAFETY ======================="},
      Checkpoint("immediately after scan"),
      {"Integrity verification: PASS - selected files were unchanged"},
      Checkpoint("scan verification"),
      {"Scan safety result:    PASS",
       "",
       "======================= OVERALL ============================",
       "Conferences scanned:   4",
       "PTR records:           12",
       "IDX records:           12",
       "DAT records:           13",
       "Deleted records:       2",
       "Bodyless records:      1",
       "DANGER records:        1",
       "Normal roots:          4",
       "Root w/o child warns:  0",
       "Orphan reply warns:    0",
       "IDX identity stale:    0",
       "IDX CRC errors:        1",
       "DAT overlap records:   1",
       "Unreferenced DAT:      0",
       "Validation errors:     1",
       "Backup folders ignored: 1",
       "",
       "================== PACKING PREVIEW TOTALS ==================",
       "Conferences needing action: 2",
       "Conferences blocked:        1",
       "PTR records projected:      12 -> 11",
       "IDX records projected:      12 -> 11",
       "DAT records projected:      13 -> 10",
       "DANGER records to clear:    1",
       "Replies cleared after purge: 1",
       "Stale root metadata kept:   0",
       "Current PTR/IDX/DAT bytes:  4928",
       "Projected bytes:            4272",
       "Estimated bytes reclaimed:  656",
       "PREVIEW RESULT: BLOCKED conference(s) must not be written by Phase 1.",
       kRule,
       "Shared VIZIZE.BSY lock: RELEASED."},
      Footer(kTime, 2, "PASS"),
  });
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(SameLines(lines, expected));
}

TEST(EndToEnd, ReportFileIsAppendedRunAfterRun) {
  MixedBoard b;
  const ProcessResult first = RunReal(b, {"/CONF1", "/DRYRUN"});
  const ProcessResult second = RunReal(b, {"/CONF2", "/DRYRUN"});
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(b.ReadFile(b.HomePath("TWTRIM32_REPORT.TXT")), first.stdoutBytes + second.stdoutBytes);
  const Lines lines = ReportLines(b.ReadFile(b.HomePath("TWTRIM32_REPORT.TXT")));
  EXPECT_EQ(CountPrefix(lines, "TWTRIM32 REPORT RUN"), 2u);
  EXPECT_EQ(CountPrefix(lines, "-------------------- RUN COMPLETE"), 2u);
}

TEST(EndToEnd, UsageErrorReachesTheConsoleOnly) {
  MixedBoard b;
  const ProcessResult run = RunReal(b, {"/ALL"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.stdoutBytes,
            "ERROR: /DRYRUN or /WRITE is required.\r\nUse TWTRIM32 /HELP for syntax.\r\n");
  EXPECT_FALSE(b.Exists(b.HomePath("TWTRIM32_REPORT.TXT")));
  EXPECT_FALSE(b.Exists(b.HomePath("MESSAGE/VIZIZE.BSY")));
}

TEST(EndToEnd, RedirectedHelpIsTheWholeTextUnpaged) {
  AppHarness b;
  const ProcessResult run = RunReal(b, {"/HELP"});
  EXPECT_EQ(run.exitCode, 0);
  bool crlf = false;
  const Lines lines = ReportLines(run.stdoutBytes, &crlf);
  EXPECT_TRUE(crlf);
  ASSERT_EQ(lines.size(), 60u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], HelpText()[i]) << "line " << i + 1;
  EXPECT_EQ(lines.front(), "TWTRIM32 0.6.0-beta1 - Safeguarded Tarnwick Message Packer");
  EXPECT_EQ(lines.back(), "  4  lock cleanup, backup, commit, verification, or rollback failure");
  EXPECT_EQ(run.stdoutBytes.find("-- More --"), std::string::npos);
  EXPECT_FALSE(b.Exists(b.HomePath("TWTRIM32_REPORT.TXT")));
}

TEST(EndToEnd, StaleLockAbortsAndStaysInPlace) {
  MixedBoard b;
  ASSERT_TRUE(WriteWholeFile(b.MessagePath("VIZIZE.BSY"), "someone else"));
  const std::vector<std::string> switches = {"/ALL", "/WRITE"};
  const ProcessResult run = RunReal(b, switches);
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(
      MaskTimes(ReportLines(run.stdoutBytes)),
      JoinLines({HeaderFor(b, switches),
                 {"SAFETY ABORT: shared message-base lock already exists: " +
                      b.ShownMessage("VIZIZE.BSY"),
                  "VIZize32 or another TWTRIM32 run may already be active.", "",
                  "===================== SAFETY ABORT =========================",
                  "No message-base file was opened for write or modified by TWTRIM32.",
                  "This operation did not complete as a verified consistent snapshot.", kRule},
                 Footer(kTime, 3, "ABORTED")}));
  EXPECT_EQ(b.ReadFile(b.MessagePath("VIZIZE.BSY")), "someone else");
}

TEST(EndToEnd, SuccessfulWritePacksTheBoardAndKeepsAVerifiedBackup) {
  AppHarness b({"Pack"});
  // Bodies at blocks 0..1, 2..4 and 5; the middle message is deleted.
  const board::ConferenceFiles original =
      MakeConference({Root(1, 2), Deleted(Reply(2, 1, 3)), Reply(3, 1, 1)});
  ASSERT_TRUE(b.AddConference(1, original));
  ASSERT_TRUE(WriteWholeFile(b.HomePath("TWTRIM32_TESTCOPY.OK"), ""));
  const ProcessResult run = RunReal(b, {"/CONF1", "/WRITE", "/TESTCOPY"});
  ASSERT_TRUE(run.started);
  const Lines lines = MaskTimes(ReportLines(run.stdoutBytes));
  const std::string backup = JoinExpected(b.ShownHome("TWTRIM32-BACKUPS"), "TWTRIM32-<stamp>");

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasBlock(lines, {"MODE: /WRITE /TESTCOPY - BACKUP + STAGED PACKING"}));
  EXPECT_TRUE(HasBlock(lines, {Labelled("Test-copy marker:", b.ShownHome("TWTRIM32_TESTCOPY.OK")),
                               Labelled("Selected:", "CONF1")}));
  EXPECT_EQ(IndexOf(lines, "WRITE ENABLED: explicit /WRITE opt-in accepted."), lines.size());
  EXPECT_TRUE(EndsWith(
      lines, JoinLines({{"WRITE PLAN: ready after remaining safeguards pass.", "",
                         "=================== BUILD AND VERIFY .NEW ==================",
                         "Staged build and verification: PASS (1 conference(s))", "",
                         "=================== VERIFIED BACKUP ========================",
                         Labelled("Backup directory:", backup), "Verified backup result: PASS", "",
                         "======================= COMMIT =============================",
                         "Commit: COMPLETE (1 conference(s))", "",
                         "=================== POST-WRITE VERIFY ======================",
                         "Post-write verification: PASS",
                         "WRITE RESULT: SUCCESS - changes committed and verified on the marked "
                         "test copy.",
                         Labelled("Backup directory:", backup),
                         "PUBLIC BETA: review the report and keep the verified backup until the "
                         "BBS is confirmed healthy.",
                         "Shared VIZIZE.BSY lock: RELEASED."},
                        Footer(kTime, 0, "PASS", backup)})));

  // Kept: records 1 and 3, the third moved down to block 2.
  board::ConferenceFiles packed;
  packed.ptr = {original.ptr[0], original.ptr[2]};
  packed.ptr[1].setWhere(2);
  packed.idx = {original.idx[0], original.idx[2]};
  for (uint32_t block : {0, 1, 5}) {
    packed.dat.insert(packed.dat.end(), original.dat.begin() + block * 128,
                      original.dat.begin() + (block + 1) * 128);
  }
  EXPECT_EQ(ReadConference(b, 1), ToBytes(packed));

  std::vector<std::string> made;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(b.HomePath("TWTRIM32-BACKUPS"), error)) {
    made.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(MaskTimes({made[0]}), Lines{"TWTRIM32-<stamp>"});
  const ConferenceBytes originals = ToBytes(original);
  const std::string dir = b.HomePath("TWTRIM32-BACKUPS/" + made[0] + "/");
  EXPECT_EQ((ConferenceBytes{b.ReadFile(dir + "TWMSG01.PTR"), b.ReadFile(dir + "TWMSG01.IDX"),
                             b.ReadFile(dir + "TWMSG01.DAT")}),
            originals);
  EXPECT_TRUE(b.Exists(dir + "TWMCONF.DAT"));
  EXPECT_FALSE(b.Exists(b.MessagePath("TWMSG01.PTR.NEW")));
  EXPECT_FALSE(b.Exists(b.MessagePath("VIZIZE.BSY")));
}

#ifndef _WIN32
// A conference whose verbose dry run writes megabytes: a run that nobody reads
// from blocks on its full output pipe while it holds the lock, so a test can
// act while the lock is certainly held, without timing anything.
struct TalkativeBoard : AppHarness {
  TalkativeBoard() : AppHarness({"Busy"}) {
    std::vector<board::MessageShape> shapes = {Root(1, 1)};
    for (int32_t n = 2; n < 12000; ++n) shapes.push_back(Deleted(Reply(n, 1, 1)));
    EXPECT_TRUE(AddConference(1, MakeConference(shapes)));
  }
  std::vector<std::string> Args() const {
    const std::vector<std::string> all = Arguments({"/CONF1", "/DRYRUN", "/V", "/NOLOG"});
    return {all.begin() + 1, all.end()};
  }
};

constexpr char kAcquired[] = "Shared VIZIZE.BSY lock: ACQUIRED";
constexpr char kAlready[] = "SAFETY ABORT: shared message-base lock already exists: ";

TEST(EndToEndPosix, OfTwoRunsStartedTogetherExactlyOneGetsTheLock) {
  TalkativeBoard b;
  ChildProcess first = StartProcess(TwtrimBinary(), b.Args(), b.home());
  ChildProcess second = StartProcess(TwtrimBinary(), b.Args(), b.home());
  ASSERT_TRUE(first.started && second.started);

  // Whichever holds the lock cannot finish before its output is drained, so
  // the other one must meet the lock.
  ChildProcess* winner = &first;
  ChildProcess* loser = &second;
  if (!ReadStdoutUntil(first, kAcquired)) std::swap(winner, loser);
  const ProcessResult lost = WaitProcess(*loser);
  const ProcessResult won = WaitProcess(*winner);

  EXPECT_EQ(won.exitCode, 1);
  EXPECT_NE(won.stdoutBytes.find(kAcquired), std::string::npos);
  EXPECT_EQ(lost.exitCode, 3);
  EXPECT_EQ(lost.stdoutBytes.find(kAcquired), std::string::npos);
  EXPECT_NE(lost.stdoutBytes.find(kAlready), std::string::npos);
  EXPECT_FALSE(b.Exists(b.HomePath("MESSAGE/VIZIZE.BSY")));
}

TEST(EndToEndPosix, InterruptedRunLeavesNoLockBehind) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TalkativeBoard b;
    ChildProcess child = StartProcess(TwtrimBinary(), b.Args(), b.home());
    ASSERT_TRUE(child.started);
    ASSERT_TRUE(ReadStdoutUntil(child, kAcquired));
    ASSERT_TRUE(b.Exists(b.HomePath("MESSAGE/VIZIZE.BSY")));
    ASSERT_TRUE(SendSignal(child, signal));
    const ProcessResult run = WaitProcess(child);
    EXPECT_EQ(run.exitCode, -signal);  // it still dies of the signal
    EXPECT_FALSE(b.Exists(b.HomePath("MESSAGE/VIZIZE.BSY")));
    EXPECT_EQ(run.stdoutBytes.find("RUN COMPLETE"), std::string::npos);
  }
}
#endif

}  // namespace
}  // namespace twtrim::test
