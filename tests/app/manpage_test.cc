// The manual page and the help text describe one program: an operator who
// reads either must find the same switches and the same exit codes.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/help.h"
#include "app/options.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

// The page lives at man/twtrim32.1 beside tests/ in the source tree.
std::string ManPagePath() {
  std::string root = __FILE__;  // <root>/tests/app/manpage_test.cc
  for (int i = 0; i < 3; ++i) root = root.substr(0, root.find_last_of("/\\"));
  return root + "/man/twtrim32.1";
}

std::vector<std::string> ManPageLines() {
  std::string text;
  if (!ReadWholeFile(ManPagePath(), &text)) return {};
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Drops font changes and turns the escapes the page uses into their text.
std::string StripEscapes(std::string_view in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\' || i + 1 == in.size()) {
      out += in[i];
      continue;
    }
    const char c = in[++i];
    if (c == 'f') {
      i += (i + 1 < in.size() && in[i + 1] == '(') ? 3 : 1;
    } else if (c == '(') {
      i += 2;
      out += '?';
    } else if (c == '-' || c == ' ' || c == '~') {
      out += c == '-' ? '-' : ' ';
    } else if (c == 'e') {
      out += '\\';
    } else if (c != '&' && c != '|' && c != '^') {
      out += c;
    }
  }
  return out;
}

// Macro arguments: blank-separated words, double quotes keeping blanks.
std::vector<std::string> MacroArguments(std::string_view text) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) break;
    std::string arg;
    if (text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) arg += text[i];
      ++i;
    } else {
      for (; i < text.size() && text[i] != ' '; ++i) arg += text[i];
    }
    args.push_back(arg);
  }
  return args;
}

// One source line as the reader sees it: comments vanish, the alternating
// font macros (.BR, .IB, ...) join their arguments without blanks.
std::string PlainLine(std::string_view line) {
  if (line.rfind(".\\\"", 0) == 0) return "";
  if (line.empty() || line[0] != '.') return StripEscapes(line);
  const size_t space = line.find(' ');
  const std::string_view macro = line.substr(1, space == line.npos ? line.npos : space - 1);
  if (space == line.npos) return "";
  constexpr std::string_view kFonts = "BIR";
  const bool alternating = macro.size() == 2 && kFonts.find(macro[0]) != kFonts.npos &&
                           kFonts.find(macro[1]) != kFonts.npos;
  std::string joined;
  for (const std::string& arg : MacroArguments(line.substr(space + 1))) {
    if (!joined.empty() && !alternating) joined += ' ';
    joined += arg;
  }
  return StripEscapes(joined);
}

// Switches as a reader would type them, with numbers shown as '#':
// "/CONF1..6" and "/CONF#..#" are both "/CONF#..#", "/HOME=C:\path" is "/HOME=".
std::set<std::string> SwitchesIn(std::string_view text) {
  std::set<std::string> found;
  auto isWordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  auto isNumberChar = [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '#';
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '/') continue;
    if (i > 0 && std::string_view(" \t([{|").find(text[i - 1]) == text.npos) continue;
    size_t end = i + 1;
    while (end < text.size() &&
           (std::isupper(static_cast<unsigned char>(text[end])) || text[end] == '?')) {
      ++end;
    }
    if (end == i + 1) continue;
    std::string name(text.substr(i, end - i));
    if (end < text.size() && text[end] == '=') {
      name += '=';
      ++end;
    } else if (end < text.size() && isNumberChar(text[end])) {
      while (end < text.size() && isNumberChar(text[end])) ++end;
      name += '#';
      if (text.substr(end, 2) == ".." && end + 2 < text.size() && isNumberChar(text[end + 2])) {
        for (end += 2; end < text.size() && isNumberChar(text[end]);) ++end;
        name += "..#";
      }
      if (end < text.size() && isWordChar(text[end])) continue;
    } else if (end < text.size() && isWordChar(text[end])) {
      continue;  // a file name such as /TWTRIM32_REPORT.TXT, not a switch
    }
    found.insert(name);
  }
  return found;
}

std::string Join(const std::set<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += name + " ";
  return out;
}

TEST(ManPageTest, DocumentsExactlyTheSwitchesOfTheHelpText) {
  const std::vector<std::string> page = ManPageLines();
  ASSERT_FALSE(page.empty()) << "cannot read " << ManPagePath();

  std::set<std::string> help;
  for (std::string_view line : HelpText()) {
    for (const std::string& name : SwitchesIn(line)) help.insert(name);
  }
  std::set<std::string> man;
  for (const std::string& line : page) {
    for (const std::string& name : SwitchesIn(PlainLine(line))) man.insert(name);
  }

  // The reading of the help text itself must work, or the comparison is empty.
  for (const char* name : {"/ALL", "/CONF#", "/CONF#..#", "/?", "/HOME=", "/NOBACKUP", "/PRM"}) {
    EXPECT_TRUE(help.count(name)) << name << " not found in the help text";
  }
  std::set<std::string> missing, extra;
  for (const std::string& name : help) {
    if (!man.count(name)) missing.insert(name);
  }
  for (const std::string& name : man) {
    if (!help.count(name)) extra.insert(name);
  }
  EXPECT_TRUE(missing.empty()) << "help switches missing from the manual page: " << Join(missing);
  EXPECT_TRUE(extra.empty()) << "manual page switches the help text lacks: " << Join(extra);
}

// Each exit code's first sentence in EXIT STATUS is the help text's line.
TEST(ManPageTest, ExitStatusSectionOpensWithTheHelpTextLines) {
  const std::vector<std::string> page = ManPageLines();
  ASSERT_FALSE(page.empty()) << "cannot read " << ManPagePath();

  std::vector<std::pair<std::string, std::string>> help;
  bool inExitCodes = false;
  for (std::string_view line : HelpText()) {
    if (line == "EXIT CODES") {
      inExitCodes = true;
    } else if (inExitCodes && line.size() > 5 && line.substr(0, 2) == "  ") {
      help.emplace_back(std::string(line.substr(2, 1)), std::string(line.substr(5)) + ".");
    }
  }
  ASSERT_EQ(help.size(), 5u);

  std::vector<std::pair<std::string, std::string>> man;
  bool inSection = false;
  for (size_t i = 0; i < page.size(); ++i) {
    if (page[i].rfind(".SH", 0) == 0) inSection = PlainLine(page[i]) == "EXIT STATUS";
    if (inSection && page[i] == ".TP" && i + 2 < page.size()) {
      man.emplace_back(PlainLine(page[i + 1]), PlainLine(page[i + 2]));
    }
  }
  EXPECT_EQ(man, help);
}

TEST(ManPageTest, TitleLineCarriesTheProgramVersion) {
  const std::vector<std::string> page = ManPageLines();
  ASSERT_FALSE(page.empty()) << "cannot read " << ManPagePath();
  std::string title;
  for (const std::string& line : page) {
    if (line.rfind(".TH ", 0) == 0) title = PlainLine(line);
  }
  EXPECT_NE(title.find(std::string("twtrim32 ") + kVersionText), std::string::npos) << title;
}

}  // namespace
}  // namespace twtrim
