// The real program on the sample board ("board" in its working directory, so
// paths are relative), reports compared byte for byte with tests/golden,
// natively and under Wine. Masked: times, backup stamp, the program's path,
// the version, Windows separators. TWTRIM_UPDATE_GOLDEN=1 rewrites the files.
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

struct Case {
  const char* name;
  std::vector<std::string> switches;
  int exitCode;
};

class GoldenReport : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ASSERT_TRUE(board::WriteSampleBoard(dir_.Path("board"))); }
  static std::string Golden(const std::string& name, std::string bytes = "") {
    EXPECT_TRUE(ReadWholeFile(TWTRIM_GOLDEN_DIR "/" + name + ".txt", &bytes)) << name;
    return bytes;
  }
  TempDir dir_;
};

TEST_P(GoldenReport, MatchesByteForByte) {
  const Case& golden = GetParam();
  const ProcessResult run = Process(TwtrimBinary(), golden.switches, dir_.path()).Wait();
  EXPECT_EQ(run.exitCode, golden.exitCode);
  const std::string report = Masked(run.stdoutBytes);
  ASSERT_TRUE(std::getenv("TWTRIM_UPDATE_GOLDEN") == nullptr ||
              WriteWholeFile(TWTRIM_GOLDEN_DIR "/" + std::string(golden.name) + ".txt", report));
  EXPECT_EQ(report, Golden(golden.name));
  // A run that starts its report keeps the same bytes in the report file;
  // one that stops before (help, usage errors) leaves no file.
  const bool logged = report.find("TWTRIM32 REPORT RUN") != std::string::npos;
  EXPECT_EQ(dir_.Exists("board/TWTRIM32_REPORT.TXT") ? dir_.Read("board/TWTRIM32_REPORT.TXT") : "-",
            logged ? run.stdoutBytes : "-");
  EXPECT_FALSE(dir_.Exists("board/MESSAGE/VIZIZE.BSY"));
}

INSTANTIATE_TEST_SUITE_P(
    Sample, GoldenReport,
    ::testing::Values(Case{"dryrun_concise", {"/ALL", "/DRYRUN", "/HOME=board"}, 2},
                      Case{"dryrun_verbose", {"/ALL", "/DRYRUN", "/V", "/HOME=board"}, 2},
                      Case{"write_success", {"/CONF1..3", "/WRITE", "/TESTCOPY", "/HOME=board"}, 0},
                      Case{"write_verbose",
                           {"/CONF1..3", "/WRITE", "/TESTCOPY", "/V", "/HOME=board"}, 0},
                      Case{"write_blocked", {"/ALL", "/WRITE", "/HOME=board"}, 2},
                      Case{"usage_error", {"/ALL", "/HOME=board"}, 2},
                      Case{"help", {"/HELP", "/HOME=board"}, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

#ifndef _WIN32
// Started with standard output closed, the run's first file must not take
// descriptor 1: the report reaches the report file whole and only once.
TEST_F(GoldenReport, WithStandardOutputClosed) {
  const ProcessResult run =
      Process(TwtrimBinary(), {"/ALL", "/DRYRUN", "/HOME=board"}, dir_.path(), "exec >&-;").Wait();
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(Masked(dir_.Read("board/TWTRIM32_REPORT.TXT")), Golden("dryrun_concise"));
}
#endif

}  // namespace
}  // namespace twtrim::test
