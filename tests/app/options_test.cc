#include "app/options.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "report/report_output.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

using Args = std::vector<std::string>;

// What "TWTRIM32" and `switches` come to: a usage error's text, or "help",
// "version" or "run FIRST..LAST" followed by whatever was printed.
std::string Outcome(Args switches) {
  switches.insert(switches.begin(), "TWTRIM32");
  MemoryOs os;
  ReportOutput out(os);
  RunOptions o;
  o.homeDir = "H";
  switch (ParseCommandLine(out, switches, &o)) {
    case CommandOutcome::kUsageError: return os.stdoutText();
    case CommandOutcome::kHelp: return "help" + os.stdoutText();
    case CommandOutcome::kVersion: return "version" + os.stdoutText();
    case CommandOutcome::kRun: break;
  }
  return "run " + std::to_string(o.confFirst) + ".." + std::to_string(o.confLast) + os.stdoutText();
}

std::string Usage(const std::string& text) {
  return "ERROR: " + text + "\r\nUse TWTRIM32 /HELP for syntax.\r\n";
}

TEST(Options, EachCommandLineComesToItsOutcomeOrExactUsageError) {
  const std::string noSelector = Usage("/ALL, /CONF# or /CONF#..# is required.");
  const std::string noMode = Usage("/DRYRUN or /WRITE is required.");
  const std::string both = Usage("choose either /DRYRUN or /WRITE, not both.");
  const std::string noBackup =
      Usage("/NOBACKUP is disabled; write mode always creates and verifies a backup.");
  const std::string oneSelector = Usage("specify only one conference selector.");
  const std::string longValue(512, 'p');
  const auto unsupported = [](const std::string& name) {
    return Usage("unsupported switch: " + name +
                 "\r\nUse /? or /HELP for the complete command list.");
  };
  std::vector<std::pair<Args, std::string>> cases = {
      // Help wins over version and over every missing piece.
      {{"/HELP", "/VERSION"}, "help"}, {{"/VERSION", "/?"}, "help"},
      {{"/DRYRUN", "/WRITE", "/TESTCOPY", "/HELP"}, "help"},
      {{"/VERSION"}, "version"}, {{"/DRYRUN", "/WRITE", "/VERSION"}, "version"},
      // The combination checks, in order.
      {{}, noSelector}, {{"/DRYRUN", "/WRITE", "/TESTCOPY"}, noSelector},
      {{"/ALL"}, noMode}, {{"/ALL", "/TESTCOPY"}, noMode},
      {{"/DRYRUN", "/WRITE", "/ALL"}, both},
      {{"/DRYRUN", "/WRITE", "/TESTCOPY", "/ALL"}, both},
      {{"/DRYRUN", "/TESTCOPY", "/ALL"}, Usage("/TESTCOPY is only used with /WRITE.")},
      {{"/WRITE", "/TESTCOPY", "/ALL"}, "run 0..0"},
      {{"/CONF1", "/DRYRUN"}, "run 1..1"}, {{"/CONF999", "/DRYRUN"}, "run 999..999"},
      {{"/CONF007", "/DRYRUN"}, "run 7..7"}, {{"/CONF1..06", "/DRYRUN"}, "run 1..6"},
      {{"/CONF5..5", "/DRYRUN"}, "run 5..5"}, {{"/CONF0001..0999", "/DRYRUN"}, "run 1..999"},
      {{"/NOBACKUP"}, noBackup}, {{"-nobackup", "/ALL", "/DRYRUN"}, noBackup},
      {{"/ALL", "/CONF3"}, oneSelector}, {{"/CONF3", "/CONF4"}, oneSelector},
      {{"/ALL", "/ALL"}, oneSelector},
      // A second selector is refused before its value is even looked at.
      {{"/CONF3", "/CONFx"}, oneSelector},
      {{"/HOME=" + longValue}, Usage("/HOME path too long.")},
      {{"/MSGDIR=" + longValue}, Usage("/MSGDIR path too long.")},
      {{"/LOG=" + longValue}, Usage("/LOG path too long.")},
      {{"/LOG="}, Usage("/LOG requires a filename.")},
      // Parsing stops at the first error, and help does not hide one.
      {{"/XYZ", "/NOBACKUP"}, unsupported("/XYZ")},
      {{"/HELP", "/NOBACKUP"}, noBackup},
  };
  for (const char* name : {"/OLD", "/SIZE", "/POT", "/POU", "/PRM", "ALL", "", "/", "/VERBOSEX",
                           "/LOG", "/NOLOG=x", "+ALL"}) {
    cases.push_back({{name}, unsupported(name)});
  }
  // The whole argument is echoed, whatever is wrong with the number. The last
  // four would wrap round to small numbers in 32 bits without the overflow check.
  for (const char* name : {"/CONFx", "-conf5..3", "/CONF0", "/CONF000", "/CONF1000", "/CONF5..",
                           "/CONF5...6", "/CONF5..6..7", "/CONF5.6", "/CONF1..1000", "/CONF..5",
                           "/CONF+5", "/CONF", "/Conf12a", "/CONFIG", "/CONF99999999999",
                           "/CONF4294967296", "/CONF4294967297", "/CONF1..4294967301"}) {
    cases.push_back({{name, "/DRYRUN"}, Usage("invalid /CONF selector: " + std::string(name))});
  }
  for (const auto& [switches, outcome] : cases) {
    EXPECT_EQ(Outcome(switches), outcome) << ::testing::PrintToString(switches);
  }
}

}  // namespace
}  // namespace twtrim
