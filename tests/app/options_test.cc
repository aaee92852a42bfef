#include "app/options.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/report_output.h"
#include "support/fault_os.h"

namespace twtrim {
namespace {

using Args = std::vector<std::string>;

constexpr char kTrailer[] = "Use TWTRIM32 /HELP for syntax.\r\n";

class OptionsTest : public ::testing::Test {
 protected:
  OptionsTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  struct Parsed {
    CommandOutcome outcome;
    std::string output;
    RunOptions options;
  };

  // Parses "TWTRIM32" followed by `switches`, with the home directory "H".
  Parsed Parse(const Args& switches) {
    Args arguments = {"TWTRIM32"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    RunOptions options;
    options.homeDir = "H";
    os_.ClearStdout();
    const CommandOutcome outcome = ParseCommandLine(out_, arguments, &options);
    return {outcome, os_.stdoutText(), options};
  }

  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

struct UsageCase {
  Args switches;
  std::string output;
};

TEST_F(OptionsTest, UsageErrorsPrintTheirExactTextAndTrailer) {
  const auto usage = [](const std::string& text) { return "ERROR: " + text + "\r\n" + kTrailer; };
  const auto unsupported = [&usage](const std::string& name) {
    return usage("unsupported switch: " + name +
                 "\r\nUse /? or /HELP for the complete command list.");
  };
  const std::string noBackup =
      usage("/NOBACKUP is disabled; write mode always creates and verifies a backup.");
  const std::string oneSelector = usage("specify only one conference selector.");
  const std::string longValue(512, 'p');
  std::vector<UsageCase> cases = {
      {{}, usage("/ALL, /CONF# or /CONF#..# is required.")},
      {{"/NOBACKUP"}, noBackup},
      {{"-nobackup", "/ALL", "/DRYRUN"}, noBackup},
      {{"/ALL", "/CONF3"}, oneSelector},
      {{"/CONF3", "/CONF4"}, oneSelector},
      {{"/ALL", "/ALL"}, oneSelector},
      // A second selector is refused before its value is even looked at.
      {{"/CONF3", "/CONFx"}, oneSelector},
      {{"/HOME=" + longValue}, usage("/HOME path too long.")},
      {{"/MSGDIR=" + longValue}, usage("/MSGDIR path too long.")},
      {{"/LOG=" + longValue}, usage("/LOG path too long.")},
      {{"/LOG="}, usage("/LOG requires a filename.")},
      // Parsing stops at the first error: the later /NOBACKUP is never reached.
      {{"/XYZ", "/NOBACKUP"}, unsupported("/XYZ")},
      // Help does not hide a parsing error.
      {{"/HELP", "/NOBACKUP"}, noBackup},
  };
  for (const char* name : {"/OLD", "/SIZE", "/POT", "/POU", "/PRM", "ALL", "", "/", "/VERBOSEX",
                           "/LOG", "/NOLOG=x", "+ALL"}) {
    cases.push_back({{name}, unsupported(name)});
  }
  // The whole argument is echoed, whatever is wrong with the number.
  // The last four would wrap round to small numbers in 32 bits without the overflow check.
  for (const char* name : {"/CONFx", "-conf5..3", "/CONF0", "/CONF000", "/CONF1000", "/CONF5..",
                           "/CONF5...6", "/CONF5..6..7", "/CONF5.6", "/CONF1..1000", "/CONF..5",
                           "/CONF+5", "/CONF", "/Conf12a", "/CONFIG", "/CONF99999999999",
                           "/CONF4294967296", "/CONF4294967297", "/CONF1..4294967301"}) {
    cases.push_back({{name, "/DRYRUN"}, usage("invalid /CONF selector: " + std::string(name))});
  }
  for (const UsageCase& c : cases) {
    const Parsed parsed = Parse(c.switches);
    EXPECT_EQ(parsed.outcome, CommandOutcome::kUsageError) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(parsed.output, c.output) << ::testing::PrintToString(c.switches);
  }
  EXPECT_EQ(os_.calls(), 0u);
}

// Valid selectors give their range; the usage table above holds the invalid ones.
TEST_F(OptionsTest, SelectorLimits) {
  const struct {
    const char* value;
    uint32_t first, last;
  } valid[] = {{"/CONF1", 1, 1},      {"/CONF999", 999, 999}, {"/CONF007", 7, 7},
               {"/CONF1..06", 1, 6},  {"/CONF5..5", 5, 5},    {"/CONF0001..0999", 1, 999}};
  for (const auto& c : valid) {
    const Parsed parsed = Parse({c.value, "/DRYRUN"});
    EXPECT_EQ(parsed.outcome, CommandOutcome::kRun) << c.value;
    EXPECT_EQ(parsed.options.confFirst * 1000 + parsed.options.confLast, c.first * 1000 + c.last)
        << c.value;
  }
}

TEST_F(OptionsTest, CombinationChecksApplyInOrder) {
  constexpr auto kError = CommandOutcome::kUsageError;
  const std::string noSelector = "ERROR: /ALL, /CONF# or /CONF#..# is required.\r\n";
  const std::string noMode = "ERROR: /DRYRUN or /WRITE is required.\r\n";
  const std::string both = "ERROR: choose either /DRYRUN or /WRITE, not both.\r\n";
  const std::string testCopy = "ERROR: /TESTCOPY is only used with /WRITE.\r\n";
  const struct {
    Args switches;
    CommandOutcome outcome;
    std::string output;
  } cases[] = {
      // Help wins over version and over every missing piece.
      {{"/HELP", "/VERSION"}, CommandOutcome::kHelp, ""},
      {{"/VERSION", "/?"}, CommandOutcome::kHelp, ""},
      {{"/DRYRUN", "/WRITE", "/TESTCOPY", "/HELP"}, CommandOutcome::kHelp, ""},
      {{"/VERSION"}, CommandOutcome::kVersion, ""},
      {{"/DRYRUN", "/WRITE", "/VERSION"}, CommandOutcome::kVersion, ""},
      {{}, kError, noSelector + kTrailer},
      {{"/DRYRUN", "/WRITE", "/TESTCOPY"}, kError, noSelector + kTrailer},
      {{"/ALL"}, kError, noMode + kTrailer},
      {{"/ALL", "/TESTCOPY"}, kError, noMode + kTrailer},
      {{"/DRYRUN", "/WRITE", "/ALL"}, kError, both + kTrailer},
      {{"/DRYRUN", "/WRITE", "/TESTCOPY", "/ALL"}, kError, both + kTrailer},
      {{"/DRYRUN", "/TESTCOPY", "/ALL"}, kError, testCopy + kTrailer},
      {{"/WRITE", "/TESTCOPY", "/ALL"}, CommandOutcome::kRun, ""},
      {{"/CONF2", "/WRITE"}, CommandOutcome::kRun, ""},
  };
  for (const auto& c : cases) {
    const Parsed parsed = Parse(c.switches);
    EXPECT_EQ(parsed.outcome, c.outcome) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(parsed.output, c.output) << ::testing::PrintToString(c.switches);
  }
}

}  // namespace
}  // namespace twtrim
