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

TEST_F(ReportOutputTest, EveryPrimitiveWritesItsBytesToConsoleAndLogAlike) {
  os_.SetNow(LocalTime{2026, 1, 9, 7, 5, 3});
  ReportOutput out(os_);
  ASSERT_TRUE(out.OpenReportLog(LogPath()));
  out.WriteLabel("Shared tosser lock:");
  out.WriteText("x");
  out.WriteNewline();
  out.WriteLabel("");
  out.WriteDecimal(0);
  out.WriteText(" ");
  out.WriteDecimal(4294967295u);
  out.WriteText(" ");
  out.WriteDecimal64(18446744073709551615u);
  out.WriteText(" ");
  out.WriteHex32(255);
  out.WriteNewline();
  out.WriteTimestamp();
  out.WriteNewline();
  out.WriteCommandLine({"C:\\My Tools\\TWTRIM32.EXE", "/ALL", "/DRYRUN"});
  out.WriteNewline();
  out.Line("Line");
  out.LabelLine("Message directory:", "C:\\TW\\MESSAGE");
  out.LabelLine("Longer than twenty characters:", "v");
  out.CloseReportLog();

  const std::string expected =
      "Shared tosser lock: x\r\n"
      "                    0 4294967295 18446744073709551615 000000FF\r\n"
      "2026-01-09 07:05:03\r\n"
      "\"C:\\My Tools\\TWTRIM32.EXE\" /ALL /DRYRUN\r\n"
      "Line\r\n"
      "Message directory:  C:\\TW\\MESSAGE\r\n"
      "Longer than twenty characters:v\r\n";
  EXPECT_EQ(os_.stdoutText(), expected);
  EXPECT_EQ(LogText(), expected);
}

TEST_F(ReportOutputTest, EachCallIsHandedToTheSystemAtOnceInOneWrite) {
  ReportOutput out(os_);
  ASSERT_TRUE(out.OpenReportLog(LogPath()));
  os_.ResetCounts();
  out.Line("first");
  // Unbuffered: the bytes are in the file before the next call is made.
  EXPECT_EQ(LogText(), "first\r\n");
  out.LabelLine("Exit code:", "0");
  EXPECT_EQ(LogText(), "first\r\nExit code:          0\r\n");
  out.WriteText("");  // nothing to write, no system call
  EXPECT_EQ(os_.calls(OsCall::kWrite), 2u);
}

TEST_F(ReportOutputTest, OnlyBytesWrittenWhileTheLogIsOpenReachIt) {
  ReportOutput out(os_);
  out.Line("ERROR: before the log");
  ASSERT_TRUE(out.OpenReportLog(LogPath()));
  EXPECT_TRUE(out.logOpen());
  out.Line("in the log");
  out.CloseReportLog();
  EXPECT_FALSE(out.logOpen());
  out.Line("after the log");
  EXPECT_EQ(LogText(), "in the log\r\n");
  EXPECT_EQ(os_.stdoutText(), "ERROR: before the log\r\nin the log\r\nafter the log\r\n");
}

TEST_F(ReportOutputTest, TwoRunsAppendToTheSameReportFile) {
  ASSERT_TRUE(dir_.Write("TWTRIM32_REPORT.TXT", "older report\r\n"));
  for (const char* run : {"first run", "second run"}) {
    ReportOutput out(os_);
    ASSERT_TRUE(out.OpenReportLog(LogPath()));
    out.Line(run);
    out.Line("end");
  }  // the destructor closes the log
  EXPECT_EQ(LogText(), "older report\r\nfirst run\r\nend\r\nsecond run\r\nend\r\n");
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
