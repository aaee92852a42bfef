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
const KeyEvent kAnyKey{true, 65, 'a'};
constexpr size_t kHelpLines = 60;

class ConsoleOs : public MemoryOs {
 public:
  ConsoleOs(int rows, int columns, std::deque<KeyEvent> keys)
      : rows_(rows), columns_(columns), keys_(std::move(keys)) {}
  bool IsInteractiveConsole() override { return interactive; }
  bool ConsoleSize(int* rows, int* columns) override {
    *rows = rows_;
    *columns = columns_;
    return true;
  }
  bool ReadKeyEvent(KeyEvent* event) override {
    if (keys_.empty()) return false;  // a failing read lets the pager go on
    *event = keys_.front();
    keys_.pop_front();
    return true;
  }

  bool interactive = true;

 private:
  int rows_, columns_;
  std::deque<KeyEvent> keys_;
};

// What the console showed: the text with each prompt (and its erasure) taken
// out, and how many lines stood before each prompt.
struct Paged {
  std::string text;
  std::vector<size_t> promptsAfter;
  std::string prompt;
};

// What PagedHelp writes on `os`.
std::string HelpOn(MemoryOs& os) {
  ReportOutput out(os);
  EXPECT_EQ(PagedHelp(os, out), 0);
  return os.stdoutText();
}

Paged Page(int rows, int columns, std::deque<KeyEvent> keys = {}) {
  ConsoleOs os(rows, columns, std::move(keys));
  const std::string shown = HelpOn(os);
  const std::string erase = "\r" + std::string(static_cast<size_t>(columns - 1), ' ') + "\r";
  Paged paged;
  for (size_t at = 0, prompt; at < shown.size(); at = prompt + paged.prompt.size() + erase.size()) {
    prompt = shown.find("-- More --", at);
    paged.text += shown.substr(at, prompt - at);
    if (prompt == std::string::npos) break;
    paged.prompt = shown.substr(prompt, shown.find('\r', prompt) - prompt);
    EXPECT_EQ(shown.compare(prompt + paged.prompt.size(), erase.size(), erase), 0);
    paged.promptsAfter.push_back(static_cast<size_t>(std::count(paged.text.begin(), paged.text.end(), '\n')));
  }
  return paged;
}

// The first `count` lines of the help as a file or pipe gets it, unpaged.
std::string FirstLines(size_t count) {
  MemoryOs os;
  const std::string whole = HelpOn(os);
  size_t end = 0;
  for (size_t i = 0; i < count && whole.find("\r\n", end) != std::string::npos; ++i) {
    end = whole.find("\r\n", end) + 2;
  }
  return whole.substr(0, end);
}

TEST(HelpPager, PagesOnlyAConsoleBigEnough) {
  ASSERT_NE(FirstLines(kHelpLines - 1), FirstLines(kHelpLines));
  ASSERT_EQ(FirstLines(kHelpLines + 1), FirstLines(kHelpLines));
  struct Case {
    int rows, columns;
    std::vector<size_t> promptsAfter;
    const char* prompt;
  } cases[] = {
      {3, 80, {}, ""},   // too short for a page and a prompt
      {24, 19, {}, ""},  // too narrow
      {4, 80, {3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45, 48, 51, 54, 57}, kLong},
      {40, 20, {15, 27, 42, 58}, kShort},
      {60, 47, {37}, kShort},
      {60, 48, {37}, kLong},
      {24, 75, {22, 45}, kLong},  // a line as long as the width takes two rows
      {24, 76, {23, 46}, kLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.columns));
    const Paged paged = Page(c.rows, c.columns);
    EXPECT_EQ(paged.text, FirstLines(kHelpLines));
    EXPECT_EQ(paged.promptsAfter, c.promptsAfter);
    EXPECT_EQ(paged.prompt, c.prompt);
  }
  // A pipe or a file gets the whole text, whatever size the console has.
  ConsoleOs piped(24, 80, {});
  piped.interactive = false;
  EXPECT_EQ(HelpOn(piped), FirstLines(kHelpLines));
}

TEST(HelpPager, QOrEscapeQuitsAndOtherKeysGoOn) {
  const KeyEvent keyUp{false, 81, 'q'}, shift{true, 16, 0}, control{true, 17, 0}, alt{true, 18, 0};
  struct Case {
    const char* name;
    std::deque<KeyEvent> keys;
    size_t lines;
  } cases[] = {
      {"q", {{true, 81, 'q'}}, 23},
      {"Q after a key", {kAnyKey, {true, 81, 'Q'}}, 46},
      {"Escape past modifiers and a key release", {keyUp, shift, control, alt, {true, 27, 0}}, 23},
      {"any key", {kAnyKey, kAnyKey}, kHelpLines},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Paged paged = Page(24, 80, c.keys);
    // A quit ends the prompt's line.
    EXPECT_EQ(paged.text, FirstLines(c.lines) + (c.lines < kHelpLines ? "\r\n" : ""));
  }
}

}  // namespace
}  // namespace twtrim
