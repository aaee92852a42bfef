#include "support/report_lines.h"

#include <algorithm>

#include "platform/paths.h"

namespace twtrim::test {
namespace {

std::string Dump(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += "  |" + line + "|\n";
  return text;
}

}  // namespace

Lines ReportLines(std::string_view bytes, bool* allCrLf) {
  Lines lines;
  bool clean = true;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = std::min(bytes.find('\n', start), bytes.size());
    const bool crLf = end < bytes.size() && end > start && bytes[end - 1] == '\r';
    clean = clean && crLf;
    lines.emplace_back(bytes.substr(start, end - start - (crLf ? 1 : 0)));
    start = end + 1;
  }
  if (allCrLf != nullptr) *allCrLf = clean;
  return lines;
}

Lines JoinLines(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
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
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.rfind(prefix, 0) == 0;
  }));
}

size_t IndexOf(const Lines& lines, std::string_view text) {
  return static_cast<size_t>(std::find(lines.begin(), lines.end(), text) - lines.begin());
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

}  // namespace twtrim::test
