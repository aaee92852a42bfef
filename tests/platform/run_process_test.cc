// The end-to-end tests judge the real program by what RunProcess reports:
// its output must arrive whole, its exit code and its death by signal as
// they were.
#include "support/run_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace twtrim {
namespace {

TEST(RunProcessTest, MissingProgramIsNotStarted) {
  TempDir dir;
  const ProcessResult result = RunProcess(dir.Path("no-such-program"), {});
  EXPECT_FALSE(result.started);
  EXPECT_TRUE(result.stdoutBytes.empty());
}

// The test binary itself is a program that exists on both platforms.
TEST(RunProcessTest, CollectsOutputAndExitCodeOfTheTestBinary) {
  const ProcessResult result = RunProcess(
      RunningExecutablePath(), {"--gtest_list_tests", "--gtest_filter=RunProcessTest.*"});
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.stdoutBytes.find("RunProcessTest."), std::string::npos);
  EXPECT_NE(result.stdoutBytes.find("MissingProgramIsNotStarted"), std::string::npos);
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  if (*value == '\0') {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

TEST(RunProcessTest, TwtrimBinaryComesFromTheEnvironmentOrBesideTheTests) {
  const char* saved = std::getenv("TWTRIM32_BIN");
  const std::string restore = saved != nullptr ? saved : "";
  SetVariable("TWTRIM32_BIN", "/opt/other/twtrim32");
  EXPECT_EQ(TwtrimBinary(), "/opt/other/twtrim32");
  SetVariable("TWTRIM32_BIN", "");
  const std::string self = RunningExecutablePath();
  const std::string besideTests = self.substr(0, self.find_last_of("/\\") + 1);
#ifdef _WIN32
  EXPECT_EQ(TwtrimBinary(), besideTests + "TWTRIM32.EXE");
#else
  EXPECT_EQ(TwtrimBinary(), besideTests + "twtrim32");
#endif
  SetVariable("TWTRIM32_BIN", restore.c_str());
}

#ifndef _WIN32
TEST(RunProcessTest, ArgumentsWorkingDirectoryAndExitCode) {
  TempDir dir;
  const ProcessResult result = RunProcess(
      "/bin/sh", {"-c", "printf '%s|' \"$0\" \"$1\"; pwd; exit 3", "a b", ""}, dir.path());
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 3);
  // Arguments arrive as given, blanks and empty ones included.
  const std::string expectedStart = "a b||";
  ASSERT_EQ(result.stdoutBytes.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(result.stdoutBytes.find(dir.path().substr(dir.path().rfind('/'))), std::string::npos);
}

TEST(RunProcessTest, LargeOutputArrivesWhole) {
  const ProcessResult result = RunProcess(
      "/bin/sh", {"-c", "i=0; while [ $i -lt 20000 ]; do echo line$i; i=$((i+1)); done"});
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.stdoutBytes.rfind("line19999\n"), result.stdoutBytes.size() - 10);
}

TEST(RunProcessTest, ChildCanBeWatchedAndSignalled) {
  ChildProcess child = StartProcess("/bin/sh", {"-c", "echo ready; exec sleep 1000"});
  ASSERT_TRUE(child.started);
  ASSERT_TRUE(ReadStdoutUntil(child, "ready\n"));
  ASSERT_TRUE(SendSignal(child, SIGTERM));
  const ProcessResult result = WaitProcess(child);
  EXPECT_EQ(result.exitCode, -SIGTERM);
  EXPECT_EQ(result.stdoutBytes, "ready\n");
}

TEST(RunProcessTest, ReadUntilStopsAtTheEndOfOutput) {
  ChildProcess child = StartProcess("/bin/sh", {"-c", "echo partial; exit 2"});
  EXPECT_FALSE(ReadStdoutUntil(child, "never printed"));
  const ProcessResult result = WaitProcess(child);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.stdoutBytes, "partial\n");
}
#endif

}  // namespace
}  // namespace twtrim
