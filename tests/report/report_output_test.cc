#include "report/report_output.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/fault_os.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

class ReportOutputTest : public ::testing::Test {
 protected:
  ReportOutputTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_) {}

  std::string LogPath() const { return dir_.Path("TWTRIM32_REPORT.TXT"); }
  std::string LogText() const { return dir_.Read("TWTRIM32_REPORT.TXT"); }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
};

// Console and log get the same bytes, and a crash loses no line already printed.
TEST_F(ReportOutputTest, EachCallIsHandedToTheSystemAtOnceInOneWrite) {
  ReportOutput out(os_);
  out.Line("ERROR: before the log");  // console only
  ASSERT_TRUE(out.OpenReportLog(LogPath()));
  os_.ResetCounts();
  out.Line("first");
  // Unbuffered: the bytes are in the file before the next call is made.
  EXPECT_EQ(LogText(), "first\r\n");
  out.LabelLine("Exit code:", "0");
  EXPECT_EQ(LogText(), "first\r\nExit code:          0\r\n");
  out.WriteText("");  // nothing to write, no system call
  EXPECT_EQ(os_.calls(OsCall::kWrite), 2u);
  out.CloseReportLog();
  EXPECT_FALSE(out.logOpen());
  out.Line("after the log");
  EXPECT_EQ(LogText(), "first\r\nExit code:          0\r\n");
  EXPECT_EQ(os_.stdoutText(),
            "ERROR: before the log\r\nfirst\r\nExit code:          0\r\nafter the log\r\n");
}

TEST_F(ReportOutputTest, OpenFailuresLeaveTheLogClosed) {
  ReportOutput out(os_);
  ASSERT_TRUE(dir_.MakeDirectory("dir.TXT"));
  EXPECT_FALSE(out.OpenReportLog(dir_.Path("dir.TXT")));
  EXPECT_FALSE(out.logOpen());

  os_.FailNthCall(OsCall::kOpenForAppend, 1);
  EXPECT_FALSE(out.OpenReportLog(LogPath()));
  EXPECT_FALSE(out.logOpen());

  // A log that cannot be positioned at its end is closed again: writing at
  // the start would overwrite earlier reports.
  ASSERT_TRUE(dir_.Write("TWTRIM32_REPORT.TXT", "earlier\r\n"));
  os_.ResetCounts();
  os_.FailNthCall(OsCall::kSeekToEnd, 1);
  EXPECT_FALSE(out.OpenReportLog(LogPath()));
  EXPECT_FALSE(out.logOpen());
  EXPECT_EQ(os_.calls(OsCall::kClose), 1u);
  out.Line("console only");
  EXPECT_EQ(LogText(), "earlier\r\n");
  EXPECT_EQ(os_.stdoutText(), "console only\r\n");
}

TEST_F(ReportOutputTest, LogWriteFailuresAreIgnored) {
  ReportOutput out(os_);
  ASSERT_TRUE(out.OpenReportLog(LogPath()));
  os_.FailNthCall(OsCall::kWrite, 1);
  os_.ShortNthCall(OsCall::kWrite, 2);
  out.Line("lost");
  out.Line("half");
  out.Line("whole");
  out.CloseReportLog();
  EXPECT_EQ(os_.stdoutText(), "lost\r\nhalf\r\nwhole\r\n");
  // Half of "half\r\n" (3 bytes), then the whole next line.
  EXPECT_EQ(LogText(), "halwhole\r\n");
}

}  // namespace
}  // namespace twtrim
