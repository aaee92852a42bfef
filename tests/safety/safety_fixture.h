// Shared set-up for the safety tests: a scratch directory, the real Os
// wrapped in a FaultOs (which captures standard output), and a report
// writer on top of it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/os.h"
#include "report/paths.h"
#include "report/report_output.h"
#include "safety/fingerprint.h"
#include "support/app_harness.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim {

// The fingerprint computed the slow, obvious way, sharing nothing with the
// program's code.
inline FileFingerprint ReferenceFingerprint(std::string_view bytes) {
  return {bytes.size(), test::Fnv1a(bytes), test::Crc32(bytes)};
}

class SafetyTest : public ::testing::Test {
 protected:
  SafetyTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  // The report as lines; fails the test if any line lacks its CR LF.
  test::Lines Lines() const {
    bool allCrLf = true;
    test::Lines lines = test::ReportLines(os_.stdoutText(), &allCrLf);
    EXPECT_TRUE(allCrLf) << os_.stdoutText();
    return lines;
  }

  // `relative` under the scratch directory as the program joins it.
  std::string Joined(std::string_view relative) const {
    std::string path = dir_.path();
    path += kPathSeparator;
    for (char c : relative) path += c == '/' ? kPathSeparator : c;
    return path;
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

}  // namespace twtrim
