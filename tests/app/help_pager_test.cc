// The /HELP pager on a console of a given size with keys queued: where it
// stops, which prompt it shows, which keys quit and which it waits past.
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/help.h"
#include "report/report_output.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

constexpr char kLong[] = "-- More -- Press any key; Q or Esc quits";
constexpr char kShort[] = "-- More -- Q/Esc";
constexpr size_t kHelpLines = 60;

struct ConsoleOs : MemoryOs {
  bool IsInteractiveConsole() override { return interactive; }
  bool ConsoleSize(int* r, int* c) override {
    *r = rows;
    *c = columns;
    return true;
  }
  bool ReadKeyEvent(KeyEvent* event) override {
    if (keys.empty()) return false;  // a failing read lets the pager go on
    *event = keys.front();
    keys.pop_front();
    return true;
  }
  int rows = 24, columns = 80;
  std::deque<KeyEvent> keys;
  bool interactive = true;
};

std::string HelpOn(MemoryOs& os) {
  ReportOutput out(os);
  EXPECT_EQ(PagedHelp(os, out), 0);
  return os.stdoutText();
}

// The first `count` lines of the help as a file or a pipe gets it.
std::string FirstLines(size_t count) {
  MemoryOs os;
  const std::string whole = HelpOn(os);
  size_t end = 0;
  for (size_t i = 0; i < count; ++i) end = whole.find("\r\n", end) + 2;
  return whole.substr(0, end);
}

// What the console showed: the text with each prompt and its erasure taken
// out, how many lines stood before each prompt, and the prompt.
struct Paged {
  std::string text;
  std::vector<size_t> promptsAfter;
  std::string prompt;
};

Paged Page(int rows, int columns, std::deque<KeyEvent> keys = {}) {
  ConsoleOs os;
  os.rows = rows;
  os.columns = columns;
  os.keys = std::move(keys);
  const std::string shown = HelpOn(os);
  const std::string erase = "\r" + std::string(static_cast<size_t>(columns - 1), ' ') + "\r";
  Paged paged;
  for (size_t at = 0, prompt; at < shown.size(); at = prompt + paged.prompt.size() + erase.size()) {
    prompt = shown.find("-- More --", at);
    paged.text += shown.substr(at, prompt - at);
    if (prompt == std::string::npos) break;
    paged.prompt = shown.substr(prompt, shown.find('\r', prompt) - prompt);
    EXPECT_EQ(shown.compare(prompt + paged.prompt.size(), erase.size(), erase), 0);
    paged.promptsAfter.push_back(std::count(paged.text.begin(), paged.text.end(), '\n'));
  }
  return paged;
}

TEST(HelpPager, PagesOnlyAConsoleBigEnoughAndOnlyQOrEscapeQuits) {
  const KeyEvent q{true, 81, 'q'}, any{true, 65, 'a'}, release{false, 81, 'q'}, shift{true, 16, 0},
      control{true, 17, 0}, alt{true, 18, 0}, escape{true, 27, 0};
  const struct {
    int rows, columns;
    std::vector<size_t> promptsAfter;
    const char* prompt;
    std::deque<KeyEvent> keys = {};
    size_t lines = kHelpLines;  // shown before a quit
  } cases[] = {
      {3, 80, {}, ""},   // too short for a page and a prompt
      {24, 19, {}, ""},  // too narrow
      {4, 80, {3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45, 48, 51, 54, 57}, kLong},
      {40, 20, {15, 27, 42, 58}, kShort},
      {60, 47, {37}, kShort},
      {60, 48, {37}, kLong},
      {24, 75, {22, 45}, kLong},  // a line as long as the width takes two rows
      {24, 76, {23, 46}, kLong},
      {24, 80, {23}, kLong, {q}, 23},
      {24, 80, {23, 46}, kLong, {any, {true, 81, 'Q'}}, 46},
      {24, 80, {23}, kLong, {release, shift, control, alt, escape}, 23},
      {24, 80, {23, 46}, kLong, {any, any}},
  };
  for (const auto& c : cases) {
    const Paged paged = Page(c.rows, c.columns, c.keys);
    // A quit ends the prompt's line.
    EXPECT_EQ(paged.text, FirstLines(c.lines) + (c.lines < kHelpLines ? "\r\n" : ""))
        << c.rows << "x" << c.columns << " " << c.lines;
    EXPECT_EQ(paged.promptsAfter, c.promptsAfter) << c.rows << "x" << c.columns;
    EXPECT_EQ(paged.prompt, c.prompt) << c.rows << "x" << c.columns;
  }
  // A pipe or a file gets the whole text, whatever size the console has.
  ConsoleOs piped;
  piped.interactive = false;
  EXPECT_EQ(HelpOn(piped), FirstLines(kHelpLines));
}

}  // namespace
}  // namespace twtrim
