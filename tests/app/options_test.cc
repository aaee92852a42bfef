#include "app/options.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/paths.h"
#include "report/report_output.h"
#include "support/fault_os.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

using Args = std::vector<std::string>;

const std::string kSep(1, kPathSeparator);
constexpr char kTrailer[] = "Use TWTRIM32 /HELP for syntax.\r\n";

// The fields a switch can change, in one comparable line.
std::string Describe(const RunOptions& o) {
  std::string text;
  const auto add = [&text](bool on, const std::string& word) {
    if (on) text += (text.empty() ? "" : " ") + word;
  };
  add(o.help, "help");
  add(o.version, "version");
  add(o.verbose, "verbose");
  add(o.dryRun, "dryrun");
  add(o.write, "write");
  add(o.testCopy, "testcopy");
  add(o.selectAll, "all");
  add(o.selectorGiven && !o.selectAll,
      "conf=" + std::to_string(o.confFirst) + ".." + std::to_string(o.confLast));
  add(o.homeDir != "H", "home=" + o.homeDir);
  add(o.messageDirGiven, "msgdir=" + o.messageDir);
  add(!o.logEnabled, "nolog");
  add(o.logGiven, "log=" + o.logPath);
  return text;
}

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

struct SwitchCase {
  Args switches;
  CommandOutcome outcome;
  std::string fields;
};

TEST_F(OptionsTest, EverySwitchOfTheTableInBothSpellingsAndAnyCase) {
  constexpr auto kRun = CommandOutcome::kRun;
  constexpr auto kHelp = CommandOutcome::kHelp;
  constexpr auto kVersion = CommandOutcome::kVersion;
  const std::string p511(511, 'p');  // the longest path value that fits
  const SwitchCase cases[] = {
      {{"/?"}, kHelp, "help"},
      {{"-?"}, kHelp, "help"},
      {{"/HELP"}, kHelp, "help"},
      {{"-help"}, kHelp, "help"},
      {{"/VERSION"}, kVersion, "version"},
      {{"-Version"}, kVersion, "version"},
      {{"/ALL", "/DRYRUN", "/V"}, kRun, "verbose dryrun all"},
      {{"-all", "-dryrun", "-v"}, kRun, "verbose dryrun all"},
      {{"/ALL", "/DRYRUN", "/VERBOSE"}, kRun, "verbose dryrun all"},
      {{"/ALL", "/DRYRUN", "-verbose"}, kRun, "verbose dryrun all"},
      {{"/ALL", "/WRITE"}, kRun, "write all"},
      {{"/all", "-write", "-TestCopy"}, kRun, "write testcopy all"},
      {{"/ALL", "/DRYRUN", "/BACKUP", "-backup"}, kRun, "dryrun all"},
      {{"/CONF4", "/DRYRUN"}, kRun, "dryrun conf=4..4"},
      {{"-conf1..6", "/DRYRUN"}, kRun, "dryrun conf=1..6"},
      {{"/ALL", "/DRYRUN", "/HOME=C:\\My Board"}, kRun, "dryrun all home=C:\\My Board"},
      {{"/ALL", "/DRYRUN", "-home=x", "/HOME=y"}, kRun, "dryrun all home=y"},
      {{"/ALL", "/DRYRUN", "/HOME="}, kRun, "dryrun all home="},
      {{"/ALL", "/DRYRUN", "/MSGDIR=D:\\Msgs"}, kRun, "dryrun all msgdir=D:\\Msgs"},
      {{"/ALL", "/DRYRUN", "-MsgDir="}, kRun, "dryrun all msgdir="},
      {{"/ALL", "/DRYRUN", "/LOG=run.TXT"}, kRun, "dryrun all log=run.TXT"},
      {{"/ALL", "/DRYRUN", "-log=A.txt", "/LOG=b.txt"}, kRun, "dryrun all log=b.txt"},
      {{"/ALL", "/DRYRUN", "/NOLOG"}, kRun, "dryrun all nolog"},
      {{"/ALL", "/DRYRUN", "-nolog"}, kRun, "dryrun all nolog"},
      // /LOG= and /NOLOG override each other in argument order.
      {{"/ALL", "/DRYRUN", "/NOLOG", "/LOG=r.TXT"}, kRun, "dryrun all log=r.TXT"},
      {{"/ALL", "/DRYRUN", "/LOG=r.TXT", "/NOLOG"}, kRun, "dryrun all nolog log=r.TXT"},
      {{"/CONF007", "/DRYRUN"}, kRun, "dryrun conf=7..7"},
      {{"/conf1..06", "/DRYRUN"}, kRun, "dryrun conf=1..6"},
      {{"/ALL", "/DRYRUN", "/HOME=" + p511, "/MSGDIR=" + p511, "/LOG=" + p511},
       kRun,
       "dryrun all home=" + p511 + " msgdir=" + p511 + " log=" + p511},
      // Repeated flags simply stay set.
      {{"/ALL", "/DRYRUN", "/DRYRUN", "/V", "/V"}, kRun, "verbose dryrun all"},
  };
  for (const SwitchCase& c : cases) {
    const Parsed parsed = Parse(c.switches);
    EXPECT_EQ(parsed.outcome, c.outcome) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(Describe(parsed.options), c.fields) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(parsed.output, "") << ::testing::PrintToString(c.switches);
  }
  // Parsing alone touches no file: nothing can be created before the checks pass.
  EXPECT_EQ(os_.calls(), 0u);
}

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
  for (const char* name : {"/CONFx", "-conf5..3", "/CONF0", "/CONF1000", "/CONF5..", "/CONF5...6",
                           "/CONF", "/CONF99999999999", "/CONF4294967297", "/Conf12a", "/CONFIG"}) {
    cases.push_back({{name, "/DRYRUN"}, usage("invalid /CONF selector: " + std::string(name))});
  }
  for (const UsageCase& c : cases) {
    const Parsed parsed = Parse(c.switches);
    EXPECT_EQ(parsed.outcome, CommandOutcome::kUsageError) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(parsed.output, c.output) << ::testing::PrintToString(c.switches);
  }
  EXPECT_EQ(os_.calls(), 0u);
}

TEST(ConferenceSelectorTest, LimitsOfTheSelector) {
  const struct {
    const char* value;
    uint32_t first, last;
  } valid[] = {{"1", 1, 1},    {"999", 999, 999},  {"007", 7, 7},         {"1..06", 1, 6},
               {"5..5", 5, 5}, {"1..999", 1, 999}, {"0001..0999", 1, 999}};
  for (const auto& c : valid) {
    uint32_t first = 0, last = 0;
    EXPECT_TRUE(ParseConferenceSelector(c.value, &first, &last)) << c.value;
    EXPECT_EQ(first, c.first) << c.value;
    EXPECT_EQ(last, c.last) << c.value;
  }
  // The last three would wrap round to 1 and 5 in 32 bits without the overflow check.
  for (const char* value :
       {"0",          "000",        "1000",         "5..3",        "5..",        "5...6",
        "5..6..7",    "5..6x",      "5.6",          "1..1000",     "x",          "",
        "..5",        " 5",         "+5",           "99999999999", "4294967295", "4294967296",
        "4294967297", "4294967301", "1..4294967301"}) {
    uint32_t first = 0, last = 0;
    EXPECT_FALSE(ParseConferenceSelector(value, &first, &last)) << value;
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

// Path resolution on a real scratch directory, so that the report log is
// really created (or really not).
class ResolvePathsTest : public OptionsTest {
 protected:
  // Parses and resolves with the scratch directory as the current directory.
  bool Resolve(const Args& switches, RunOptions* options) {
    Args arguments = {"TWTRIM32", "/ALL", "/DRYRUN"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    *options = RunOptions();
    options->homeDir = home_;
    os_.ClearStdout();
    if (ParseCommandLine(out_, arguments, options) != CommandOutcome::kRun) {
      ADD_FAILURE() << "command line refused: " << os_.stdoutText();
      return false;
    }
    return ResolvePaths(os_, out_, options);
  }
  std::string Shown(const std::string& name) const { return home_ + kSep + name; }

  TempDir dir_;
  const std::string home_ = dir_.path();
};

TEST_F(ResolvePathsTest, DefaultPathsHangOffTheHomeDirectory) {
  RunOptions options;
  ASSERT_TRUE(Resolve({}, &options)) << os_.stdoutText();
  const std::string messageDir = Shown("MESSAGE");
  EXPECT_EQ(options.messageDir, messageDir);
  EXPECT_EQ(options.logPath, Shown("TWTRIM32_REPORT.TXT"));
  EXPECT_EQ(options.conferenceConfigPath, Shown("TWMCONF.DAT"));
  EXPECT_EQ(options.callerStatusPath, Shown("WORK") + kSep + "TWWHOSON.DAT");
  EXPECT_EQ(options.lockPath, messageDir + kSep + "VIZIZE.BSY");
  EXPECT_EQ(options.testCopyMarkerPath, Shown("TWTRIM32_TESTCOPY.OK"));
  EXPECT_EQ(options.outboundSeqPath, messageDir + kSep + "TWOUTBOUND.SEQ");
  EXPECT_EQ(os_.stdoutText(), "");
  EXPECT_TRUE(out_.logOpen());
  EXPECT_TRUE(dir_.Exists("TWTRIM32_REPORT.TXT"));
}

TEST_F(ResolvePathsTest, GivenMessageDirectoryIsKeptAsTyped) {
  RunOptions options;
  ASSERT_TRUE(Resolve({"/MSGDIR=" + home_ + "/msgs/"}, &options)) << os_.stdoutText();
  EXPECT_EQ(options.messageDir, home_ + "/msgs/");
  EXPECT_EQ(options.lockPath, home_ + "/msgs/VIZIZE.BSY");
  EXPECT_EQ(options.outboundSeqPath, home_ + "/msgs/TWOUTBOUND.SEQ");
}

TEST_F(ResolvePathsTest, RelativeLogGoesToTheHomeDirectoryAbsoluteLogAsGiven) {
  RunOptions options;
  ASSERT_TRUE(Resolve({"/LOG=report.txt"}, &options)) << os_.stdoutText();
  EXPECT_EQ(options.logPath, Shown("report.txt"));
  EXPECT_TRUE(dir_.Exists("report.txt"));
  out_.CloseReportLog();

  ASSERT_TRUE(dir_.MakeDirectory("elsewhere"));
  const std::string absolute = dir_.Path("elsewhere/Run.Txt");
  ASSERT_TRUE(Resolve({"/LOG=" + absolute}, &options)) << os_.stdoutText();
  EXPECT_EQ(options.logPath, absolute);
  EXPECT_TRUE(dir_.Exists("elsewhere/Run.Txt"));
}

TEST_F(ResolvePathsTest, NoLogCreatesAndChecksNothing) {
  RunOptions options;
  ASSERT_TRUE(Resolve({"/LOG=bad.log", "/NOLOG"}, &options)) << os_.stdoutText();
  EXPECT_FALSE(options.logEnabled);
  EXPECT_FALSE(out_.logOpen());
  EXPECT_EQ(os_.stdoutText(), "");
  EXPECT_FALSE(dir_.Exists("bad.log"));
  EXPECT_FALSE(dir_.Exists("TWTRIM32_REPORT.TXT"));
  EXPECT_EQ(os_.calls(), 0u);

  // /LOG= after /NOLOG turns the report file back on.
  ASSERT_TRUE(Resolve({"/NOLOG", "/LOG=again.TXT"}, &options)) << os_.stdoutText();
  EXPECT_TRUE(out_.logOpen());
  EXPECT_TRUE(dir_.Exists("again.TXT"));
}

TEST_F(ResolvePathsTest, ReportPathRulesInOrderWithoutTrailer) {
  const std::string parent =
      "ERROR: /LOG path may not contain a '..' parent-directory segment.\r\n";
  const std::string txt = "ERROR: /LOG must use a .TXT filename.\r\n";
  const std::string inside = "ERROR: /LOG may not be created inside the MESSAGE directory.\r\n";
  const std::string msgs = home_ + "/Msgs";
  const struct {
    Args switches;
    std::string output;
  } cases[] = {
      {{"/LOG=run.log"}, txt},
      {{"/LOG=..\\x.txt"}, parent},
      {{"/LOG=../x.log"}, parent},  // '..' comes before the extension rule
      {{"/LOG=a/../MESSAGE/x.log"}, parent},
      {{"/LOG=MESSAGE\\r.txt"}, inside},
      {{"/LOG=message/r.TXT"}, inside},
      {{"/MSGDIR=" + msgs + "/", "/LOG=" + home_ + "\\MSGS\\r.txt"}, inside},
      // A report path equal to the message directory itself.
      {{"/MSGDIR=" + home_ + "/m.TXT", "/LOG=m.TXT"}, inside},
      // The rules apply to the default report path too.
      {{"/HOME=..\\board"}, parent},
      {{"/MSGDIR=" + home_}, inside},
  };
  for (const auto& c : cases) {
    RunOptions options;
    EXPECT_FALSE(Resolve(c.switches, &options)) << ::testing::PrintToString(c.switches);
    EXPECT_EQ(os_.stdoutText(), c.output) << ::testing::PrintToString(c.switches);
    EXPECT_FALSE(out_.logOpen());
  }
  EXPECT_EQ(os_.calls(OsCall::kOpenForAppend), 0u);

  // A sibling whose name merely starts like the message directory is fine.
  ASSERT_TRUE(dir_.MakeDirectory("MESSAGES"));
  RunOptions options;
  EXPECT_TRUE(Resolve({"/LOG=MESSAGES\\..x.TXT"}, &options)) << os_.stdoutText();
}

TEST_F(ResolvePathsTest, UnopenableLogIsRefusedWithItsHint) {
  ASSERT_TRUE(dir_.MakeDirectory("taken.TXT"));
  RunOptions options;
  EXPECT_FALSE(Resolve({"/LOG=taken.TXT"}, &options));
  EXPECT_EQ(os_.stdoutText(), "ERROR: cannot create log file: " + Shown("taken.TXT") +
                                  "\r\nUse /NOLOG only when intentionally testing without a "
                                  "report file.\r\n");
  EXPECT_FALSE(out_.logOpen());

  ASSERT_TRUE(Resolve({"/LOG=missing/r.TXT"}, &options) == false);
  EXPECT_EQ(os_.stdoutText(), "ERROR: cannot create log file: " + Shown("missing/r.TXT") +
                                  "\r\nUse /NOLOG only when intentionally testing without a "
                                  "report file.\r\n");
  EXPECT_FALSE(dir_.Exists("missing"));
}

// Checks made on the text of the paths alone, before anything is opened.
TEST_F(OptionsTest, PathLengthAndDrivePathErrors) {
  const std::string inside = "ERROR: /LOG may not be created inside the MESSAGE directory.\r\n";
  const std::string controlFile = "ERROR: Tarnwick control-file path is too long.\r\n";
  const std::string h492(492, 'h');
  const struct {
    std::string home;
    Args switches;
    std::string output;
  } cases[] = {
      // "MESSAGE" needs 8 more characters, the default report 20, the marker 21.
      {std::string(504, 'h'),
       {},
       "ERROR: message-directory path is too long.\r\n" + std::string(kTrailer)},
      {h492, {}, "ERROR: default log path is too long.\r\n" + std::string(kTrailer)},
      {h492,
       {"/LOG=" + std::string(19, 'r') + ".TXT"},
       "ERROR: resolved log path is too long.\r\n" + std::string(kTrailer)},
      // Control-file paths come after the report path and carry no trailer.
      {std::string(491, 'h'), {}, controlFile},
      {h492, {"/NOLOG"}, controlFile},
      {"C:\\TW", {"/MSGDIR=" + std::string(501, 'm')}, controlFile},
      {"C:\\TW", {"/LOG=C:\\TW\\MESSAGE\\r.txt"}, inside},
      {"C:\\TW", {"/MSGDIR=D:\\Board\\Msgs\\", "/LOG=d:/board/msgs/x.TXT"}, inside},
      {"C:\\TW",
       {"/MSGDIR=C:\\TW\\MSG.TXT", "/LOG=c:/tw/msg.txt/"},
       "ERROR: /LOG must use a .TXT filename.\r\n"},
      {"C:\\TW", {"/MSGDIR=C:\\TW\\MSG.TXT", "/LOG=c:/tw/msg.txt"}, inside},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.homeDir = c.home;
    Args arguments = {"TWTRIM32", "/ALL", "/DRYRUN"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    os_.ClearStdout();
    EXPECT_EQ(ParseCommandLine(out_, arguments, &options), CommandOutcome::kRun);
    EXPECT_FALSE(ResolvePaths(os_, out_, &options));
    EXPECT_EQ(os_.stdoutText(), c.output) << ::testing::PrintToString(c.switches);
  }
  EXPECT_EQ(os_.calls(), 0u);
}

}  // namespace
}  // namespace twtrim
