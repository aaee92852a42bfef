#include "support/report_lines.h"

#include <algorithm>
#include <cctype>

#include "report/paths.h"

namespace twtrim::test {
namespace {

std::string Dump(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  |" + line + "|\n";
  return text;
}

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// TWTRIM32-YYYYMMDD-HHMMSS inside a line becomes TWTRIM32-<stamp>.
std::string MaskBackupStamp(std::string line) {
  const std::string_view marker = "TWTRIM32-";
  for (size_t at = line.find(marker); at != std::string::npos; at = line.find(marker, at + 1)) {
    const size_t stamp = at + marker.size();
    if (line.size() < stamp + 15) continue;
    std::string_view s(line.c_str() + stamp, 15);
    if (IsDigits(s.substr(0, 8)) && s[8] == '-' && IsDigits(s.substr(9, 6))) {
      line.replace(stamp, 15, "<stamp>");
    }
  }
  return line;
}

}  // namespace

Lines ReportLines(std::string_view bytes, bool* allCrLf) {
  Lines lines;
  bool clean = true;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t lf = bytes.find('\n', start);
    if (lf == std::string_view::npos) {
      lines.emplace_back(bytes.substr(start));
      clean = false;
      break;
    }
    size_t end = lf;
    if (end > start && bytes[end - 1] == '\r') {
      --end;
    } else {
      clean = false;
    }
    lines.emplace_back(bytes.substr(start, end - start));
    start = lf + 1;
  }
  if (allCrLf != nullptr) *allCrLf = clean;
  return lines;
}

Lines MaskTimes(Lines lines) {
  for (std::string& line : lines) {
    for (std::string_view label : {"Started:", "Finished:"}) {
      if (line.rfind(label, 0) == 0 && line.size() >= 20) line = line.substr(0, 20) + "<time>";
    }
    line = MaskBackupStamp(std::move(line));
  }
  return lines;
}

Lines JoinLines(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

::testing::AssertionResult HasBlock(const Lines& lines, const Lines& block) {
  if (block.empty()) return ::testing::AssertionSuccess();
  for (size_t i = 0; i + block.size() <= lines.size(); ++i) {
    bool match = true;
    for (size_t j = 0; j < block.size() && match; ++j) match = lines[i + j] == block[j];
    if (match) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "block not found:\n"
                                       << Dump(block) << "in report:\n"
                                       << Dump(lines);
}

::testing::AssertionResult SameLines(const Lines& lines, const Lines& expected) {
  if (lines == expected) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < lines.size() && i < expected.size() && lines[i] == expected[i]) ++i;
  auto at = [](const Lines& l, size_t k) {
    return k < l.size() ? "|" + l[k] + "|" : std::string("<end of report>");
  };
  return ::testing::AssertionFailure()
         << "first difference at line " << i + 1 << " of " << lines.size() << " (expected "
         << expected.size() << " lines)\n  actual:   " << at(lines, i)
         << "\n  expected: " << at(expected, i) << "\nreport:\n"
         << Dump(lines);
}

::testing::AssertionResult EndsWith(const Lines& lines, const Lines& tail) {
  if (lines.size() >= tail.size() &&
      std::equal(tail.begin(), tail.end(), lines.end() - static_cast<ptrdiff_t>(tail.size()))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "report does not end with:\n"
                                       << Dump(tail) << "report:\n"
                                       << Dump(lines);
}

size_t CountPrefix(const Lines& lines, std::string_view prefix) {
  size_t count = 0;
  for (const std::string& line : lines) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

size_t IndexOf(const Lines& lines, std::string_view text) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == text) return i;
  }
  return lines.size();
}

std::string JoinExpected(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += kPathSeparator;
  return path + std::string(name);
}

std::string Labelled(std::string_view label, std::string_view value) {
  std::string line(label);
  if (line.size() < 20) line.append(20 - line.size(), ' ');
  return line + std::string(value);
}

Lines Footer(std::string_view finished, int exitCode, std::string_view safetyResult,
             std::string_view backupDirectory) {
  Lines lines = {"", "-------------------- RUN COMPLETE --------------------------",
                 Labelled("Finished:", finished), Labelled("Exit code:", std::to_string(exitCode)),
                 Labelled("Safety result:", safetyResult)};
  if (!backupDirectory.empty()) lines.push_back(Labelled("Backup directory:", backupDirectory));
  lines.push_back(std::string(60, '-'));
  return lines;
}

Lines Header(std::string_view started, const std::vector<std::string>& arguments) {
  std::string echo;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i != 0) echo += ' ';
    const std::string& a = arguments[i];
    echo += a.find_first_of(" \t") == std::string::npos ? a : "\"" + a + "\"";
  }
  return {"",
          std::string(60, '#'),
          "TWTRIM32 REPORT RUN",
          Labelled("Started:", started),
          Labelled("Version:", "0.6.0-beta1"),
          Labelled("Command line:", echo),
          std::string(60, '#')};
}

}  // namespace twtrim::test
