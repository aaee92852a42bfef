// The real program on the sample board, its reports compared byte for byte
// with the golden files in tests/golden. Runs natively and, against
// TWTRIM32.EXE, under Wine: both must print the same reports.
//
// The run's working directory holds the board as "board", so every path in
// a report is relative and the same on every machine. Masked: the run's
// times and backup stamp, the program's own path in the echoed command
// line, the version (so a release changes no golden file) and, on Windows,
// the separators of those paths. TWTRIM_UPDATE_GOLDEN=1 rewrites the files instead.
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/options.h"
#include "board/board_builder.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at)) {
    text->replace(at, from.size(), to);
    at += to.size();
  }
}

std::string Masked(std::string report) {
  ReplaceAll(&report, TwtrimBinary(), "<program>");
#ifdef _WIN32
  // Only the separators of the paths the run printed, all below "board".
  const std::regex separator(R"((board(/[^\\/\s]+)*)\\)");
  for (std::string last; last != report;) {
    last = report;
    report = std::regex_replace(report, separator, "$1/");
  }
#endif
  ReplaceAll(&report, kVersionText, "<version>");
  report = std::regex_replace(report, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "<time>");
  return std::regex_replace(report, std::regex(R"(TWTRIM32-\d{8}-\d{6})"), "TWTRIM32-<stamp>");
}

std::string GoldenPath(const std::string& name) {
  return std::string(TWTRIM_GOLDEN_DIR) + "/" + name + ".txt";
}

struct Golden {
  const char* name;
  std::vector<std::string> switches;
  int exitCode;
};

class GoldenReport : public ::testing::TestWithParam<Golden> {
 protected:
  void SetUp() override { ASSERT_TRUE(board::WriteSampleBoard(dir_.Path("board"))); }

  ProcessResult Run(const std::vector<std::string>& switches) {
    std::vector<std::string> args = switches;
    args.push_back("/HOME=board");
    return RunProcess(TwtrimBinary(), args, dir_.path());
  }

  TempDir dir_;
};

TEST_P(GoldenReport, MatchesByteForByte) {
  const Golden& golden = GetParam();
  const ProcessResult run = Run(golden.switches);
  ASSERT_TRUE(run.started) << TwtrimBinary();
  EXPECT_EQ(run.exitCode, golden.exitCode);
  const std::string report = Masked(run.stdoutBytes);
  if (std::getenv("TWTRIM_UPDATE_GOLDEN") != nullptr) {
    ASSERT_TRUE(WriteWholeFile(GoldenPath(golden.name), report));
    return;
  }
  std::string expected;
  ASSERT_TRUE(ReadWholeFile(GoldenPath(golden.name), &expected)) << GoldenPath(golden.name);
  EXPECT_EQ(report, expected);
  // A run that starts its report keeps the same bytes in the report file;
  // one that stops before (help, usage errors) leaves no file.
  const bool logged = report.find("TWTRIM32 REPORT RUN") != std::string::npos;
  EXPECT_EQ(dir_.Exists("board/TWTRIM32_REPORT.TXT"), logged);
  if (logged) {
    EXPECT_EQ(dir_.Read("board/TWTRIM32_REPORT.TXT"), run.stdoutBytes);
  }
  EXPECT_FALSE(dir_.Exists("board/MESSAGE/VIZIZE.BSY"));
}

INSTANTIATE_TEST_SUITE_P(
    Sample, GoldenReport,
    ::testing::Values(Golden{"dryrun_concise", {"/ALL", "/DRYRUN"}, 2},
                      Golden{"dryrun_verbose", {"/ALL", "/DRYRUN", "/V"}, 2},
                      Golden{"write_success", {"/CONF1..3", "/WRITE", "/TESTCOPY"}, 0},
                      Golden{"write_blocked", {"/ALL", "/WRITE"}, 2},
                      Golden{"usage_error", {"/ALL"}, 2}, Golden{"help", {"/HELP"}, 0}),
    [](const ::testing::TestParamInfo<Golden>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace twtrim::test
