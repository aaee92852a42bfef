// Shared set-up for the scan tests: a MESSAGE directory in a scratch
// directory, the real Os wrapped in a FaultOs that captures the report, and
// helpers to write a conference and scan it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "board/board_builder.h"
#include "platform/os.h"
#include "report/report_output.h"
#include "scan/conference_scan.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim::test {

enum class Mode { kConcise, kVerbose };
enum class RunMode { kDry, kWrite };

struct ScanResult {
  ConferenceScan scan;
  Lines lines;
};

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {
    dir_.MakeDirectory("MESSAGE");
    messageDir_ = dir_.Path("MESSAGE");
  }

  // Test-side path of a file of the message directory.
  std::string FilePath(uint32_t conference, const std::string& extension) const {
    return board::ConferencePath(messageDir_, conference, extension);
  }
  // The same path as the program prints it.
  std::string Shown(uint32_t conference, const std::string& extension) const {
    return JoinExpected(messageDir_, board::ConferenceFileName(conference, extension));
  }

  void WriteConference(uint32_t conference, const board::ConferenceFiles& files) {
    ASSERT_TRUE(board::WriteConference(messageDir_, conference, files));
  }
  // A file of `size` bytes, sparse where the file system allows it.
  void WriteSized(uint32_t conference, const std::string& extension, uint64_t size) {
    const std::string path = FilePath(conference, extension);
    ASSERT_TRUE(WriteWholeFile(path, ""));
    std::error_code error;
    std::filesystem::resize_file(path, size, error);
    ASSERT_FALSE(error) << path << ": " << error.message();
  }

  ScanResult Scan(uint32_t conference, Mode mode = Mode::kConcise, RunMode run = RunMode::kDry,
                  const std::string& name = "") {
    os_.ClearStdout();
    out_.SetVerbose(mode == Mode::kVerbose);
    ScanResult result;
    ScanConference(os_, out_, messageDir_, conference, name, run == RunMode::kWrite, &result.scan);
    bool allCrLf = false;
    result.lines = ReportLines(os_.stdoutText(), &allCrLf);
    EXPECT_TRUE(allCrLf) << "a report line lacks its CR LF";
    return result;
  }

  TempDir dir_;
  std::string messageDir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

// The lines of a conference's block that dump a record: "TAG slot N".
inline Lines DumpHeads(const Lines& lines) {
  Lines heads;
  for (const std::string& line : lines) {
    if (line.rfind("    ", 0) != 0 || line.size() < 5 || line[4] == ' ') continue;
    const size_t colon = line.find(": ");
    const size_t slot = line.find(" slot ");
    if (slot == std::string::npos || colon == std::string::npos || slot > colon) continue;
    heads.push_back(line.substr(4, colon - 4));
  }
  return heads;
}

}  // namespace twtrim::test
