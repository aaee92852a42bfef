// Whole dry runs in process: the report an operator reads and the exit code a
// scheduled job acts on. The full report layout is pinned by the end-to-end
// tests; these cover the outcomes a board can only reach in process.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_sequence.h"
#include "board/board_builder.h"
#include "support/app_harness.h"

namespace twtrim::test {
namespace {

using board::Bodyless;
using board::Danger;
using board::Deleted;
using board::Reply;
using board::Root;

const board::ConferenceFiles kClean = MakeConference({Root(1, 1), Reply(2, 1, 1), Reply(3, 1, 2)});
const board::ConferenceFiles kPack = MakeConference({Root(1), Reply(2, 1), Deleted(Reply(3, 1))});

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

TEST(DryRun, NoLogWritesNoReportFileAndVerboseListsNoBackupFolder) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/NOLOG", "/V"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasBlock(run.lines, {Labelled("Log file:", "disabled by /NOLOG")}));
  EXPECT_TRUE(HasBlock(run.lines, {"Backup folders detected inside MESSAGE (ignored as non-live "
                                   "data):",
                                   "  none", "Backup folder count: 0"}));
  EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32_REPORT.TXT")));
}

TEST(DryRun, MissingMessageDirectoryGoesStraightToTheFooter) {
  AppHarness h;
  const std::string missing = h.HomePath("NOSUCHDIR");
  const std::vector<std::string> switches = {"/CONF1", "/DRYRUN", "/MSGDIR=" + missing};
  const AppRun run = h.Run(switches);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(
      SameLines(run.lines, JoinLines({Header(kRunTimeText, h.Arguments(switches)),
                                      {"ERROR: message directory does not exist: " + missing},
                                      Footer(kRunTimeText, 2, "NOT COMPLETED")})));
  EXPECT_FALSE(h.Exists(missing));
}

TEST(DryRun, AllWithoutConfigFallsBackOnConferenceFilesOrEndsWithTwo) {
  AppHarness h(std::vector<std::string>{});  // no TWMCONF.DAT
  AppRun run = h.Run({"/ALL", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(EndsWith(
      run.lines, JoinLines({{"ERROR: /ALL found neither usable TWMCONF.DAT nor TWMSGxx.PTR files.",
                             "Shared VIZIZE.BSY lock: RELEASED."},
                            Footer(kRunTimeText, 2, "NOT COMPLETED")})));
  EXPECT_FALSE(h.Exists(h.MessagePath("VIZIZE.BSY")));

  ASSERT_TRUE(h.AddConference(1, kClean));
  ASSERT_TRUE(h.AddConference(2, kClean));
  run = h.Run({"/ALL", "/DRYRUN"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasBlock(
      run.lines,
      {Labelled("Conference config:",
                h.ShownHome("TWMCONF.DAT") + " (not usable; /ALL fallback may use PTR files)")}));
  EXPECT_TRUE(HasBlock(run.lines, {Labelled("Selected:", "CONF1..CONF2")}));
  EXPECT_TRUE(HasBlock(
      run.lines, {"", "CONF 01", "  RESULT: NO CHANGES.", "", "CONF 02", "  RESULT: NO CHANGES."}));
}

TEST(DryRun, ExitCodeFollowsTheFindings) {
  const char* complete = "PREVIEW RESULT: COMPLETE - no files were changed.";
  const char* blocked = "PREVIEW RESULT: BLOCKED conference(s) must not be written by Phase 1.";
  board::MessageShape stale = Reply(2, 1);
  stale.staleIdx = true;
  const struct {
    const char* name;
    std::vector<board::ConferenceFiles> conferences;
    int exitCode;
    const char* previewResult;
  } cases[] = {
      {"clean", {kClean}, 0, complete},
      {"bodyless only",
       {MakeConference({Root(1), Reply(2, 1), Bodyless(Reply(3, 1))})},
       0,
       complete},
      {"stale IDX only", {MakeConference({Root(1), stale})}, 0, complete},
      {"unreferenced DAT only", {MakeConference({Root(1), Reply(2, 1)}, 2)}, 0, complete},
      {"one deleted message", {kPack}, 1, complete},
      {"live DANGER record", {MakeConference({Root(1), Reply(2, 1), Danger(3)})}, 1, complete},
      {"root without child", {MakeConference({Root(1), Reply(2, 1), Root(3)})}, 1, complete},
      {"orphan reply", {MakeConference({Root(1), Reply(2, 1), Reply(3, 99)})}, 1, complete},
      {"overlap without deletions",
       {MakeConference({Root(1), ShapeAt(Reply(2, 1), 0)})},
       1,
       complete},
      {"blocked by an overlap",
       {MakeConference({Root(1), ShapeAt(Reply(2, 1), 0), Deleted(Reply(3, 1))})},
       1,
       blocked},
      // A name CRC mismatch is a validation error, not a mere finding.
      {"IDX CRC mismatch only",
       {MakeConference({Root(1), ShapeWrongCrc(Reply(2, 1))})},
       2,
       complete},
      {"duplicate message numbers",
       {MakeConference({Root(1), Reply(2, 1), Reply(2, 1)})},
       2,
       complete},
      // Blocked and invalid together: the validation error decides the code.
      {"blocked and invalid",
       {MakeConference({Root(1), ShapeAt(Reply(2, 1), 0), Deleted(Reply(3, 1))}),
        MakeConference({Root(1), ShapeWrongCrc(Reply(2, 1))})},
       2,
       blocked},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppHarness h({"One", "Two"});
    for (uint32_t n = 1; n <= c.conferences.size(); ++n) {
      ASSERT_TRUE(h.AddConference(n, c.conferences[n - 1]));
    }
    const AppRun run = h.Run({"/CONF1.." + std::to_string(c.conferences.size()), "/DRYRUN"});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(HasBlock(
        run.lines, {c.previewResult, std::string(60, '='), "Shared VIZIZE.BSY lock: RELEASED."}));
    EXPECT_TRUE(EndsWith(run.lines, Footer(kRunTimeText, c.exitCode, "PASS")));
  }
}

TEST(DryRun, UnreadableConferenceConfigCountsAsAValidationError) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kClean));
  ASSERT_TRUE(WriteWholeFile(h.HomePath("TWMCONF.DAT"), std::string(130, 'x')));
  const AppRun concise = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(concise.exitCode, 2);
  EXPECT_TRUE(HasBlock(concise.lines, {"ERROR: TWMCONF.DAT size is not a valid multiple of 128 "
                                       "bytes.",
                                       std::string(60, '=')}));
  EXPECT_TRUE(HasBlock(concise.lines, {"Findings: validation-errors=1",
                                       "PREVIEW: VALIDATION ERROR; no write is allowed."}));
  const AppRun verbose = h.Run({"/CONF1", "/DRYRUN", "/V"});
  EXPECT_EQ(verbose.exitCode, 2);
  EXPECT_TRUE(HasBlock(verbose.lines, {"Validation errors:     1", "Backup folders ignored: 0"}));
}

TEST(DryRun, StagedFilesOfAnEarlierRunSurviveAndOnlyTheLockIsCreated) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, kPack));
  ASSERT_TRUE(WriteWholeFile(h.MessagePath("TWMSG01.PTR.NEW"), "left from an earlier run"));
  const ConferenceBytes before = ReadConference(h, 1);
  const AppRun run = h.Run({"/CONF1", "/DRYRUN", "/V"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(h.ReadFile(h.MessagePath("TWMSG01.PTR.NEW")), "left from an earlier run");
  EXPECT_EQ(ReadConference(h, 1), before);
  // Nothing but the report file and the lock is ever opened for writing.
  EXPECT_EQ(h.os().calls(OsCall::kCreateNew), 0u);
  EXPECT_EQ(h.os().calls(OsCall::kReplaceRename), 0u);
  EXPECT_EQ(h.os().calls(OsCall::kCreateDirectory), 0u);
  EXPECT_EQ(h.os().calls(OsCall::kCreateNew), 1u);
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
  ASSERT_TRUE(board::MakeDirectories(dir));
  ASSERT_TRUE(board::WriteConference(dir, 1, kClean));

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
