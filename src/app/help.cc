#include "app/help.h"

#include <array>
#include <string>

#include "app/options.h"

namespace twtrim {
namespace {

constexpr std::array<std::string_view, 60> kHelpText = {
    kProgramBanner,
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

constexpr uint16_t kKeyShift = 16, kKeyControl = 17, kKeyAlt = 18, kKeyEscape = 27;
constexpr int kUnpagedWidth = 80;

struct Pager {
  bool paging = false;
  int pageHeight = 0;
  int pageWidth = kUnpagedWidth;
  std::string_view prompt;
};

// Pages only on an interactive console big enough to hold a page and a prompt;
// anything else (a file, a pipe, a failed query) gets the whole text.
Pager DecidePaging(Os& os) {
  Pager pager;
  int rows = 0, columns = 0;
  if (!os.IsInteractiveConsole() || !os.ConsoleSize(&rows, &columns)) return pager;
  if (rows < 4 || columns < 20) return pager;
  pager.paging = true;
  pager.pageHeight = rows - 1;  // the last row is kept for the prompt
  pager.pageWidth = columns;
  pager.prompt = columns >= 48 ? "-- More -- Press any key; Q or Esc quits" : "-- More -- Q/Esc";
  return pager;
}

// A line as long as the width counts twice: the cursor wraps after it.
int RowsOf(std::string_view line, int width) {
  if (line.empty()) return 1;
  return static_cast<int>(line.size()) / width + 1;
}

bool IsModifier(uint16_t key) { return key == kKeyShift || key == kKeyControl || key == kKeyAlt; }

// Waits for a real key press; a failing read counts as "go on" so the pager
// can never hang.
bool WaitForQuitKey(Os& os) {
  KeyEvent event;
  while (os.ReadKeyEvent(&event)) {
    if (!event.keyDown || IsModifier(event.virtualKey)) continue;
    return event.virtualKey == kKeyEscape || event.character == 'q' || event.character == 'Q';
  }
  return false;
}

// Shows the prompt, waits, and erases the prompt. True when the user quits.
bool Prompt(Os& os, ReportOutput& out, const Pager& pager) {
  out.WriteText(pager.prompt);
  const bool quit = WaitForQuitKey(os);
  std::string erase = "\r";
  erase.append(static_cast<size_t>(pager.pageWidth - 1), ' ');  // paging needs 20 columns
  erase += '\r';
  out.WriteText(erase);
  if (quit) out.WriteNewline();
  return quit;
}

}  // namespace

int PagedHelp(Os& os, ReportOutput& out) {
  const Pager pager = DecidePaging(os);
  int rowsUsed = 0;
  for (std::string_view line : kHelpText) {
    const int rows = RowsOf(line, pager.pageWidth);
    if (pager.paging && rowsUsed != 0 && rowsUsed + rows > pager.pageHeight) {
      if (Prompt(os, out, pager)) return 0;
      rowsUsed = 0;
    }
    out.Line(line);
    rowsUsed += rows;
  }
  return 0;
}

int PrintVersion(ReportOutput& out) {
  out.Line(kProgramBanner);
  return 0;
}

}  // namespace twtrim
