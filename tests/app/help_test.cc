#include "app/help.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/report_output.h"
#include "support/fault_os.h"

namespace twtrim {
namespace {

// The help text as the operator must see it, written out independently of
// the program's table.
const char* const kExpectedHelp[60] = {
    "TWTRIM32 0.6.0-beta1 - Safeguarded Tarnwick Message Packer",
    "Safeguarded Tarnwick v3.7 deleted-message packer.",
    "Public beta: back up first and use only during offline maintenance.",
    "",
    "SYNTAX",
    "  TWTRIM32 <selector> <mode> [options]",
    "",
    "CONFERENCE SELECTORS (choose one)",
    "  /ALL                 scan or pack every configured conference",
    "  /CONF#               select one conference, such as /CONF4",
    "  /CONF#..#            select a range, such as /CONF1..6",
    "",
    "MODES (choose one)",
    "  /DRYRUN              read-only preview; message files stay unchanged",
    "  /WRITE               backup, stage, verify, and pack selected conferences",
    "  /WRITE /TESTCOPY     optional marked test-copy mode; refuses live C:\\TW",
    "                       requires <HOME>\\TWTRIM32_TESTCOPY.OK",
    "",
    "REPORTING AND INFORMATION",
    "  /V or /VERBOSE       full diagnostic report; default is concise",
    "  /? or /HELP          paged help on a console; full text if redirected",
    "  /VERSION             show the program version and exit",
    "",
    "PATH AND LOG OPTIONS",
    "  /HOME=C:\\path        Tarnwick home; default is current directory",
    "  /MSGDIR=C:\\path      message directory; default is <HOME>\\MESSAGE",
    "  /LOG=C:\\file.TXT     append report to a specific text file",
    "  /NOLOG               do not create or append a report file",
    "  /BACKUP              accepted for compatibility; write backups are",
    "                       always mandatory and cannot be disabled",
    "",
    "SHARED TOSSER LOCK",
    "  Every scan atomically creates <MSGDIR>\\VIZIZE.BSY.",
    "  VIZize32 and TWTRIM32 therefore cannot access the message base together.",
    "  TWTRIM32 removes only the lock it created when the run exits normally.",
    "",
    "OFFLINE WRITE REQUIREMENT",
    "  Before /WRITE, shut down every Tarnwick node and prevent caller access.",
    "  Use a scheduled nightly or midnight maintenance window.",
    "",
    "EXAMPLES",
    "  TWTRIM32 /ALL /DRYRUN",
    "  TWTRIM32 /ALL /DRYRUN /V",
    "  TWTRIM32 /CONF2 /WRITE",
    "  TWTRIM32 /CONF1..6 /WRITE /V",
    "  TWTRIM32 /CONF4 /WRITE /TESTCOPY /HOME=C:\\TWTRIM32_TEST",
    "  TWTRIM32 /HELP > TWTRIM32_HELP.TXT",
    "",
    "PHASE-1 BEHAVIOR",
    "  Purges only Deleted=1 messages, preserves bodyless messages, rebuilds",
    "  DAT/PTR/IDX, fixes proven v4 DANGER, and safely clears a retained reply",
    "  link when its deleted parent is removed.",
    "  /OLD /SIZE /POT /POU /PRM and /NOBACKUP are disabled.",
    "",
    "EXIT CODES",
    "  0  success, successful write, no action, help, or version",
    "  1  dry-run completed with findings, candidates, or warnings",
    "  2  usage/validation error or conservative blocked write",
    "  3  safety abort: caller, shared lock, or VIZize32 activity",
    "  4  lock cleanup, backup, commit, verification, or rollback failure",
};

// Help lines first..last (1-based, inclusive), each with CR LF.
std::string HelpLines(int first, int last) {
  std::string text;
  for (int i = first; i <= last; ++i) text += std::string(kExpectedHelp[i - 1]) + "\r\n";
  return text;
}

constexpr char kLongPrompt[] = "-- More -- Press any key; Q or Esc quits";
constexpr char kShortPrompt[] = "-- More -- Q/Esc";

// The prompt, then its erasure on a page `width` columns wide.
std::string PromptAndErase(const char* prompt, int width) {
  return prompt + std::string("\r") + std::string(static_cast<size_t>(width - 1), ' ') + "\r";
}

KeyEvent Key(char character, uint16_t virtualKey = 0) {
  if (virtualKey == 0)
    virtualKey = static_cast<uint16_t>(character >= 'a' ? character - 32 : character);
  return KeyEvent{true, virtualKey, character};
}
const KeyEvent kShift{true, 16, 0};
const KeyEvent kControl{true, 17, 0};
const KeyEvent kAlt{true, 18, 0};
const KeyEvent kEscape{true, 27, 27};
const KeyEvent kKeyUp{false, 'Q', 'q'};  // releasing a key is no key press

class HelpTest : public ::testing::Test {
 protected:
  HelpTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  // An interactive console of the given size.
  void Console(int rows, int columns) {
    os_.SetInteractive(true);
    os_.SetConsoleSize(rows, columns);
  }
  std::string Help() {
    EXPECT_EQ(PagedHelp(os_, out_), 0);
    return os_.stdoutText();
  }

  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

TEST_F(HelpTest, RedirectedHelpIsTheSixtyLinesByteForByte) {
  EXPECT_EQ(Help(), HelpLines(1, 60));
  EXPECT_EQ(os_.keyReads(), 0u);
  // The table other code reads (the manual page check) is the same text.
  for (int i = 0; i < 60; ++i) EXPECT_EQ(HelpText()[i], kExpectedHelp[i]) << i + 1;
}

TEST_F(HelpTest, ConsolesTooSmallOrUnknownAreNotPaged) {
  const struct {
    bool interactive;
    int rows, columns;  // rows 0: the size query fails
  } cases[] = {
      {false, 25, 80}, {true, 0, 0}, {true, 3, 80}, {true, 25, 19}, {true, -5, 80},
  };
  for (const auto& c : cases) {
    os_.ClearStdout();
    os_.SetInteractive(c.interactive);
    if (c.rows == 0) {
      os_.FailConsoleSize();
    } else {
      os_.SetConsoleSize(c.rows, c.columns);
    }
    EXPECT_EQ(Help(), HelpLines(1, 60)) << c.rows << "x" << c.columns;
  }
  EXPECT_EQ(os_.keyReads(), 0u);
}

TEST_F(HelpTest, PagesCountTwoRowsForLinesAsLongAsTheWidth) {
  const std::string end = PromptAndErase(kShortPrompt, 20);
  const struct {
    int rows, columns;
    std::vector<KeyEvent> keys;
    std::string output;
  } cases[] = {
      // 40 columns: every line of 40 or more characters takes two rows, so the
      // 24-row page ends after line 15 (rows 2,2,2,1,1,1,1,1,2,2,2,1,1,2,2).
      {25, 40, {Key('q')}, HelpLines(1, 15) + PromptAndErase(kShortPrompt, 40) + "\r\n"},
      // 38 columns, 10-row pages: lines 1-5 take 2+2+2+1+1 rows, line 6 (38
      // characters) two more, so line 7 must start a new page.
      {11, 38, {kEscape}, HelpLines(1, 6) + PromptAndErase(kShortPrompt, 38) + "\r\n"},
      // 4 rows, 20 columns: 3-row pages; lines 1-3 take two rows or more each.
      {4,
       20,
       {Key('a'), Key('b'), kEscape},
       HelpLines(1, 1) + end + HelpLines(2, 2) + end + HelpLines(3, 3) + end + "\r\n"},
  };
  for (const auto& c : cases) {
    os_.ClearStdout();
    Console(c.rows, c.columns);
    os_.QueueKeys(c.keys);
    EXPECT_EQ(Help(), c.output) << c.rows << "x" << c.columns;
  }
}

TEST_F(HelpTest, PromptFormFollowsTheWidth) {
  // 48 columns is the narrowest console that gets the long prompt.
  for (int columns : {48, 47}) {
    os_.ClearStdout();
    Console(60, columns);
    os_.QueueKey(kEscape);
    const std::string text = Help();
    const bool isLong = text.find(kLongPrompt) != std::string::npos;
    EXPECT_EQ(isLong, columns == 48) << columns;
    EXPECT_NE(text.find(isLong ? kLongPrompt : kShortPrompt), std::string::npos) << columns;
  }
}

TEST_F(HelpTest, QuitKeysEndAtOnceOtherKeysContinue) {
  const std::string firstPage = HelpLines(1, 24) + PromptAndErase(kLongPrompt, 80);
  const struct {
    std::vector<KeyEvent> keys;
    std::string output;
    uint64_t reads;
  } cases[] = {
      {{kEscape}, firstPage + "\r\n", 1},
      {{Key('q')}, firstPage + "\r\n", 1},
      {{Key('Q')}, firstPage + "\r\n", 1},
      // Modifiers, key releases and other events are not key presses.
      {{kShift, kControl, kAlt, kKeyUp, KeyEvent{false, 0, 0}, Key('q')}, firstPage + "\r\n", 6},
      {{Key('n'), kEscape},
       firstPage + HelpLines(25, 48) + PromptAndErase(kLongPrompt, 80) + "\r\n",
       2},
      // Any other key turns the page; a failing read (no key left) does too,
      // so the pager never blocks.
      {{Key(' '), Key('x')},
       firstPage + HelpLines(25, 48) + PromptAndErase(kLongPrompt, 80) + HelpLines(49, 60),
       2},
      {{}, firstPage + HelpLines(25, 48) + PromptAndErase(kLongPrompt, 80) + HelpLines(49, 60), 2},
      {{Key('\r', 13), Key('Q')},
       firstPage + HelpLines(25, 48) + PromptAndErase(kLongPrompt, 80) + "\r\n",
       2},
  };
  for (const auto& c : cases) {
    os_.ClearStdout();
    Console(25, 80);
    const uint64_t readsBefore = os_.keyReads();
    os_.QueueKeys(c.keys);
    EXPECT_EQ(Help(), c.output);
    EXPECT_EQ(os_.keyReads() - readsBefore, c.reads);
    EXPECT_EQ(os_.queuedKeys(), 0u);
  }
}

TEST_F(HelpTest, VersionIsTheBannerLine) {
  EXPECT_EQ(PrintVersion(out_), 0);
  EXPECT_EQ(os_.stdoutText(), "TWTRIM32 0.6.0-beta1 - Safeguarded Tarnwick Message Packer\r\n");
}

}  // namespace
}  // namespace twtrim
