// Whole dry runs in process: the report an operator reads, line for line,
// and the exit code a scheduled job acts on.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_sequence.h"
#include "board/board_builder.h"
#include "support/app_harness.h"

namespace twtrim::test {
namespace {

using board::ConferenceBuilder;
using board::ConferenceFiles;
using board::MessageSpec;

ConferenceFiles Make(const std::vector<MessageSpec>& specs, uint32_t unreferencedBlocks = 0) {
  ConferenceBuilder builder;
  for (const MessageSpec& spec : specs) builder.Add(spec);
  if (unreferencedBlocks != 0) builder.AddUnreferencedBlocks(unreferencedBlocks);
  return builder.files();
}

// A root with two replies: nothing to purge, fix or warn about.
ConferenceFiles Clean() {
  return Make({board::Root(1, 1), board::Reply(2, 1, 1), board::Reply(3, 1, 2)});
}

MessageSpec At(MessageSpec spec, uint16_t where) {
  spec.where = where;
  return spec;
}

MessageSpec WrongCrc(MessageSpec spec) {
  spec.wrongFromCrc = true;
  return spec;
}

MessageSpec Stale(MessageSpec spec) {
  spec.staleIdx = true;
  return spec;
}

TEST(RunStart, UnknownCurrentDirectoryIsAUsageErrorEvenForHelp) {
  for (const std::vector<std::string>& switches :
       {std::vector<std::string>{"/HELP"}, std::vector<std::string>{"/ALL", "/DRYRUN"}}) {
    AppHarness h;
    h.os().FailCurrentDirectory();
    const AppRun run = h.Run(switches);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.lines, (Lines{"ERROR: cannot determine current directory.",
                                "Use TWTRIM32 /HELP for syntax."}));
    EXPECT_TRUE(run.allCrLf);
    EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32_REPORT.TXT")));
  }
}

TEST(DryRun, ConciseReportOfACleanConferenceIsExact) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  const std::vector<std::string> switches = {"/CONF1", "/DRYRUN"};
  const AppRun run = h.Run(switches);

  Lines expected = Header(kRunTimeText, h.Arguments(switches));
  const Lines body = {
      "Shared VIZIZE.BSY lock: ACQUIRED - VIZize32 is blocked for this run.",
      std::string(60, '='),
      "TWTRIM32 0.6.0-beta1 - Safeguarded Tarnwick Message Packer",
      "MODE: /DRYRUN PACKING PREVIEW - message-base files opened READ ONLY",
      std::string(60, '='),
      Labelled("Home:", h.home()),
      Labelled("Message directory:", h.ShownMessageDir()),
      Labelled("Conference config:", h.ShownHome("TWMCONF.DAT") + " (1 records)"),
      Labelled("Caller status:", JoinExpected(h.ShownHome("WORK"), "TWWHOSON.DAT")),
      Labelled("Shared tosser lock:", h.ShownMessage("VIZIZE.BSY") + " (owned by TWTRIM32)"),
      Labelled("Selected:", "CONF1"),
      Labelled("Log file:", h.ShownHome("TWTRIM32_REPORT.TXT")),
      Labelled("Report detail:", "STANDARD (concise)"),
      "",
      "====================== SAFETY ==============================",
      "Safety preflight:      PASS",
      "",
      "",
      "CONF 01 - General",
      "  RESULT: NO CHANGES.",
      "",
      "=================== POST-SCAN SAFETY =======================",
      "Scan safety result:    PASS",
      "",
      "======================= SUMMARY ============================",
      "Conferences: scanned=1; needing action=0; blocked=0",
      "Planned work: deleted=0; DANGER fixes=0; reply links cleared=0",
      "Records: PTR/IDX 3 -> 3; DAT 4 -> 4",
      "Estimated bytes reclaimed: 0",
      "PREVIEW: no selected conference needs a change.",
      "PREVIEW RESULT: COMPLETE - no files were changed.",
      std::string(60, '='),
      "Shared VIZIZE.BSY lock: RELEASED.",
  };
  expected.insert(expected.end(), body.begin(), body.end());
  const Lines footer = Footer(kRunTimeText, 0, "PASS");
  expected.insert(expected.end(), footer.begin(), footer.end());

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.allCrLf);
  EXPECT_TRUE(SameLines(run.lines, expected));
  EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));
}

TEST(DryRun, ReportFileHoldsEachRunsOutputAppended) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  const AppRun first = h.Run({"/CONF1", "/DRYRUN"});
  const AppRun second = h.Run({"/CONF1", "/DRYRUN", "/V"});
  ASSERT_FALSE(first.output.empty());
  EXPECT_NE(first.output, second.output);
  EXPECT_EQ(h.ReadFile(h.HomePath("TWTRIM32_REPORT.TXT")), first.output + second.output);
}

TEST(DryRun, NoLogWritesNoReportFile) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/NOLOG"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasBlock(run.lines, {Labelled("Log file:", "disabled by /NOLOG")}));
  EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32_REPORT.TXT")));
}

TEST(DryRun, MissingMessageDirectoryGoesStraightToTheFooter) {
  AppHarness h;
  const std::string missing = h.HomePath("NOSUCHDIR");
  const std::vector<std::string> switches = {"/CONF1", "/DRYRUN", "/MSGDIR=" + missing};
  const AppRun run = h.Run(switches);

  Lines expected = Header(kRunTimeText, h.Arguments(switches));
  expected.push_back("ERROR: message directory does not exist: " + missing);
  const Lines footer = Footer(kRunTimeText, 2, "NOT COMPLETED");
  expected.insert(expected.end(), footer.begin(), footer.end());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(SameLines(run.lines, expected));
  EXPECT_FALSE(h.Exists(missing));
}

TEST(DryRun, AllWithNeitherConfigNorConferenceFilesEndsWithTwoAndReleasesTheLock) {
  AppHarness h(std::vector<std::string>{});  // no TWMCONF.DAT
  const AppRun run = h.Run({"/ALL", "/DRYRUN"});
  Lines tail = {"ERROR: /ALL found neither usable TWMCONF.DAT nor TWMSGxx.PTR files.",
                "Shared VIZIZE.BSY lock: RELEASED."};
  const Lines footer = Footer(kRunTimeText, 2, "NOT COMPLETED");
  tail.insert(tail.end(), footer.begin(), footer.end());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(EndsWith(run.lines, tail));
  EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));
}

TEST(DryRun, AllFallsBackOnConferenceFilesWithoutConfig) {
  AppHarness h(std::vector<std::string>{});  // no TWMCONF.DAT
  ASSERT_TRUE(h.AddConference(1, Clean()));
  ASSERT_TRUE(h.AddConference(2, Clean()));
  const AppRun run = h.Run({"/ALL", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasBlock(
      run.lines,
      {Labelled("Conference config:",
                h.ShownHome("TWMCONF.DAT") + " (not usable; /ALL fallback may use PTR files)"),
       Labelled("Caller status:", JoinExpected(h.ShownHome("WORK"), "TWWHOSON.DAT")),
       Labelled("Shared tosser lock:", h.ShownMessage("VIZIZE.BSY") + " (owned by TWTRIM32)"),
       Labelled("Selected:", "CONF1..CONF2")}));
  EXPECT_TRUE(HasBlock(
      run.lines, {"", "CONF 01", "  RESULT: NO CHANGES.", "", "CONF 02", "  RESULT: NO CHANGES."}));
}

struct ExitCase {
  const char* name;
  ConferenceFiles files;
  int exitCode;
  const char* previewResult;
};

TEST(DryRun, ExitCodeFollowsTheFindings) {
  const char* complete = "PREVIEW RESULT: COMPLETE - no files were changed.";
  const char* blocked = "PREVIEW RESULT: BLOCKED conference(s) must not be written by Phase 1.";
  const std::vector<ExitCase> cases = {
      {"clean", Clean(), 0, complete},
      {"bodyless only",
       Make({board::Root(1), board::Reply(2, 1), board::Bodyless(board::Reply(3, 1))}), 0,
       complete},
      {"stale IDX only", Make({board::Root(1), Stale(board::Reply(2, 1))}), 0, complete},
      {"unreferenced DAT only", Make({board::Root(1), board::Reply(2, 1)}, 2), 0, complete},
      {"one deleted message",
       Make({board::Root(1), board::Reply(2, 1), board::Deleted(board::Reply(3, 1))}), 1, complete},
      {"live DANGER record", Make({board::Root(1), board::Reply(2, 1), board::Danger(3)}), 1,
       complete},
      {"root without child", Make({board::Root(1), board::Reply(2, 1), board::Root(3)}), 1,
       complete},
      {"orphan reply", Make({board::Root(1), board::Reply(2, 1), board::Reply(3, 99)}), 1,
       complete},
      {"overlap without deletions", Make({board::Root(1), At(board::Reply(2, 1), 0)}), 1, complete},
      {"blocked by an overlap",
       Make({board::Root(1), At(board::Reply(2, 1), 0), board::Deleted(board::Reply(3, 1))}), 1,
       blocked},
      // A name CRC mismatch is a validation error, not a mere finding.
      {"IDX CRC mismatch only", Make({board::Root(1), WrongCrc(board::Reply(2, 1))}), 2, complete},
      {"duplicate message numbers", Make({board::Root(1), board::Reply(2, 1), board::Reply(2, 1)}),
       2, complete},
  };
  for (const ExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, c.files));
    const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(HasBlock(
        run.lines, {c.previewResult, std::string(60, '='), "Shared VIZIZE.BSY lock: RELEASED."}));
    EXPECT_TRUE(EndsWith(run.lines, Footer(kRunTimeText, c.exitCode, "PASS")));
  }
}

TEST(DryRun, BlockedAndInvalidConferencesTogetherExitWithTwo) {
  AppHarness h({"One", "Two"});
  ASSERT_TRUE(h.AddConference(
      1, Make({board::Root(1), At(board::Reply(2, 1), 0), board::Deleted(board::Reply(3, 1))})));
  ASSERT_TRUE(h.AddConference(2, Make({board::Root(1), WrongCrc(board::Reply(2, 1))})));
  const AppRun run = h.Run({"/ALL", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(HasBlock(run.lines,
                       {"PREVIEW: BLOCKED conference(s) are selected; no write is allowed.",
                        "PREVIEW RESULT: BLOCKED conference(s) must not be written by Phase 1."}));
}

TEST(DryRun, UnreadableConferenceConfigCountsAsAValidationError) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Clean()));
  ASSERT_TRUE(WriteWholeFile(h.HomePath("TWMCONF.DAT"), std::string(130, 'x')));

  const AppRun concise = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(concise.exitCode, 2);
  EXPECT_TRUE(HasBlock(concise.lines, {"ERROR: TWMCONF.DAT size is not a valid multiple of 128 "
                                       "bytes.",
                                       std::string(60, '=')}));
  EXPECT_TRUE(
      HasBlock(concise.lines, {"Estimated bytes reclaimed: 0", "Findings: validation-errors=1",
                               "PREVIEW: VALIDATION ERROR; no write is allowed.",
                               "PREVIEW RESULT: COMPLETE - no files were changed."}));

  const AppRun verbose = h.Run({"/CONF1", "/DRYRUN", "/V"});
  EXPECT_EQ(verbose.exitCode, 2);
  EXPECT_TRUE(HasBlock(verbose.lines, {"Validation errors:     1", "Backup folders ignored: 0"}));
}

TEST(DryRun, VerboseTotalsBlocksShowEveryCount) {
  AppHarness h;
  // Slot 3 is deleted: its reply (slot 4) loses its parent, slot 5 has no body.
  ASSERT_TRUE(h.AddConference(
      1, Make({board::Root(1, 1), board::Reply(2, 1, 2), board::Deleted(board::Reply(3, 1, 3)),
               board::Reply(4, 3, 1), board::Bodyless(board::Reply(5, 1))})));
  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/V"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(
      HasBlock(run.lines, {
                              "",
                              "======================= OVERALL ============================",
                              "Conferences scanned:   1",
                              "PTR records:           5",
                              "IDX records:           5",
                              "DAT records:           7",
                              "Deleted records:       1",
                              "Bodyless records:      1",
                              "DANGER records:        0",
                              "Normal roots:          1",
                              "Root w/o child warns:  0",
                              "Orphan reply warns:    0",
                              "IDX identity stale:    0",
                              "IDX CRC errors:        0",
                              "DAT overlap records:   0",
                              "Unreferenced DAT:      0",
                              "Validation errors:     0",
                              "Backup folders ignored: 0",
                              "",
                              "================== PACKING PREVIEW TOTALS ==================",
                              "Conferences needing action: 1",
                              "Conferences blocked:        0",
                              "PTR records projected:      5 -> 4",
                              "IDX records projected:      5 -> 4",
                              "DAT records projected:      7 -> 4",
                              "DANGER records to clear:    0",
                              "Replies cleared after purge: 1",
                              "Stale root metadata kept:   0",
                              "Current PTR/IDX/DAT bytes:  2256",
                              "Projected bytes:            1600",
                              "Estimated bytes reclaimed:  656",
                              "PREVIEW RESULT: COMPLETE - no files were changed.",
                              std::string(60, '='),
                          }));
  EXPECT_EQ(IndexOf(run.lines, "======================= SUMMARY ============================"),
            run.lines.size());
}

TEST(DryRun, BackupFoldersAreCountedAndListedOnlyInVerboseMode) {
  struct Case {
    bool withFolders;
    bool verbose;
    Lines block;
  };
  const std::vector<Case> cases = {
      {false,
       true,
       {"Safety preflight:      PASS", "",
        "Backup folders detected inside MESSAGE (ignored as non-live data):", "  none",
        "Backup folder count: 0", "", "CONF 01 - General"}},
      {false, false, {"Safety preflight:      PASS", "", "", "CONF 01 - General"}},
      {true,
       true,
       {"Safety preflight:      PASS", "",
        "Backup folders detected inside MESSAGE (ignored as non-live data):", "  VUVERUDODIV-BAK-1",
        "  VUVERUDODIV-BAK-2", "Backup folder count: 2", "", "CONF 01 - General"}},
      {true,
       false,
       {"Safety preflight:      PASS", "", "Ignored VUVERUDODIV backup folders inside MESSAGE: 2",
        "", "CONF 01 - General"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.withFolders ? "folders" : "none") + (c.verbose ? " /V" : ""));
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, Clean()));
    if (c.withFolders) {
      ASSERT_TRUE(board::MakeDirectories(h.MessagePath("VUVERUDODIV-BAK-1")));
      ASSERT_TRUE(board::MakeDirectories(h.MessagePath("VUVERUDODIV-BAK-2")));
      ASSERT_TRUE(WriteWholeFile(h.MessagePath("VUVERUDODIV-BAK-3.ZIP"), "zip"));
    }
    std::vector<std::string> switches = {"/CONF1", "/DRYRUN"};
    if (c.verbose) switches.push_back("/V");
    const AppRun run = h.Run(switches);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(HasBlock(run.lines, c.block));
  }
}

TEST(DryRun, StagedFilesLeftByAnEarlierRunSurvive) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(
      1, Make({board::Root(1), board::Reply(2, 1), board::Deleted(board::Reply(3, 1))})));
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWMSG01.PTR.NEW"), "left from an earlier run"));
  const ConferenceBytes before = ReadConference(h, 1);
  const AppRun run = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(h.ReadFile(h.MessagePath("TWMSG01.PTR.NEW")), "left from an earlier run");
  EXPECT_EQ(ReadConference(h, 1), before);
}

TEST(DryRun, NothingButTheReportAndTheLockIsEverOpenedForWriting) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(
      1, Make({board::Root(1), board::Reply(2, 1), board::Deleted(board::Reply(3, 1))})));
  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/V"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(h.os().calls(OsCall::kCreateExclusive), 0u);
  EXPECT_EQ(h.os().calls(OsCall::kReplaceRename), 0u);
  EXPECT_EQ(h.os().calls(OsCall::kCreateDirectory), 0u);
  EXPECT_EQ(h.os().calls(OsCall::kCreateNew), 1u);  // the lock
  for (const CallRecord& call : h.os().log()) {
    if (call.kind == OsCall::kDeleteFile) {
      EXPECT_NE(call.path.find("VIZIZE.BSY"), std::string::npos);
    }
  }
}

#ifndef _WIN32
// A message directory so long that the staged names no longer fit: the plan
// cannot be built, which counts as a validation error of the run.
TEST(DryRun, PlanPathsThatDoNotFitAreAValidationError) {
  AppHarness h;
  std::string dir = h.HomePath("M");
  while (dir.size() + 100 < 496) dir += "/" + std::string(99, 'd');
  dir += "/" + std::string(496 - dir.size() - 1, 'e');
  ASSERT_EQ(dir.size(), 496u);
  ASSERT_TRUE(board::MakeDirectories(dir));
  ASSERT_TRUE(board::WriteConference(dir, 1, Clean()));

  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/V", "/MSGDIR=" + dir});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(HasBlock(run.lines, {"ERROR: path construction failed for CONF1."}));
  EXPECT_TRUE(HasBlock(run.lines, {"Validation errors:     1"}));

  const AppRun write = h.Run({"/CONF1", "/WRITE", "/MSGDIR=" + dir});
  EXPECT_EQ(write.exitCode, 2);
  EXPECT_TRUE(HasBlock(write.lines, {"WRITE REFUSED: validation errors must be resolved first."}));
}
#endif

}  // namespace
}  // namespace twtrim::test
