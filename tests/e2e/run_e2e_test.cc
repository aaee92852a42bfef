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

std::string Masked(std::string report) {
  for (const std::string& text : {TwtrimBinary(), std::string(kVersionText)}) {
    for (size_t at = report.find(text); at != std::string::npos; at = report.find(text, at)) {
      report.replace(at, text.size(), text == kVersionText ? "<version>" : "<program>");
    }
  }
#ifdef _WIN32
  // Only the separators of the paths the run printed, all below "board".
  for (std::string last; last != report;) {
    last = report;
    report = std::regex_replace(report, std::regex(R"((board(/[^\\/\s]+)*)\\)"), "$1/");
  }
#endif
  report = std::regex_replace(report, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "<time>");
  return std::regex_replace(report, std::regex(R"(TWTRIM32-\d{8}-\d{6})"), "TWTRIM32-<stamp>");
}

struct Golden {
  const char* name;
  std::vector<std::string> switches;
  int exitCode;
};

class GoldenReport : public ::testing::TestWithParam<Golden> {
 protected:
  void SetUp() override { ASSERT_TRUE(board::WriteSampleBoard(dir_.Path("board"))); }
  static std::string Expected(const std::string& name) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(std::string(TWTRIM_GOLDEN_DIR) + "/" + name + ".txt", &bytes))
        << name;
    return bytes;
  }
  TempDir dir_;
};

TEST_P(GoldenReport, MatchesByteForByte) {
  const Golden& golden = GetParam();
  std::vector<std::string> args = golden.switches;
  args.push_back("/HOME=board");
  const ProcessResult run = RunProcess(TwtrimBinary(), args, dir_.path());
  ASSERT_TRUE(run.started) << TwtrimBinary();
  EXPECT_EQ(run.exitCode, golden.exitCode);
  const std::string report = Masked(run.stdoutBytes);
  if (std::getenv("TWTRIM_UPDATE_GOLDEN") != nullptr) {
    ASSERT_TRUE(
        WriteWholeFile(std::string(TWTRIM_GOLDEN_DIR) + "/" + golden.name + ".txt", report));
    return;
  }
  EXPECT_EQ(report, Expected(golden.name));
  // A run that starts its report keeps the same bytes in the report file;
  // one that stops before (help, usage errors) leaves no file.
  const bool logged = report.find("TWTRIM32 REPORT RUN") != std::string::npos;
  EXPECT_EQ(dir_.Exists("board/TWTRIM32_REPORT.TXT") ? dir_.Read("board/TWTRIM32_REPORT.TXT") : "-",
            logged ? run.stdoutBytes : "-");
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

#ifndef _WIN32
// Started with standard output closed, the run's first file must not take
// descriptor 1: the report reaches the report file whole and only once.
TEST_F(GoldenReport, WithStandardOutputClosed) {
  const ProcessResult run = RunProcess(
      "/bin/sh", {"-c", "exec \"$0\" \"$@\" >&-", TwtrimBinary(), "/ALL", "/DRYRUN", "/HOME=board"},
      dir_.path());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(Masked(dir_.Read("board/TWTRIM32_REPORT.TXT")), Expected("dryrun_concise"));
  EXPECT_FALSE(dir_.Exists("board/MESSAGE/VIZIZE.BSY"));
}
#endif

}  // namespace
}  // namespace twtrim::test
