// Reading a report the way an operator does: line by line.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace twtrim::test {

using Lines = std::vector<std::string>;

// The report's lines without their CR LF. `*allCrLf` (when given) is cleared
// if any line ends otherwise: a bare LF, or bytes after the last CR LF.
Lines ReportLines(std::string_view bytes, bool* allCrLf = nullptr);

// The parts one after the other.
Lines JoinLines(std::initializer_list<Lines> parts);

// `lines` equals `expected`; on failure names the first line that differs.
::testing::AssertionResult SameLines(const Lines& lines, const Lines& expected);
// `lines` ends with exactly `tail`.
::testing::AssertionResult EndsWith(const Lines& lines, const Lines& tail);
// How many lines start with `prefix`.
size_t CountPrefix(const Lines& lines, std::string_view prefix);
// Index of the first line equal to `text`, or lines.size().
size_t IndexOf(const Lines& lines, std::string_view text);
// Some line equals `text`.
inline bool HasLine(const Lines& lines, std::string_view text) {
  return IndexOf(lines, text) < lines.size();
}
// Some line starts with `prefix`.
inline bool HasLineStarting(const Lines& lines, std::string_view prefix) {
  return CountPrefix(lines, prefix) > 0;
}

// `directory` and `name` joined the way the program joins them.
std::string JoinExpected(std::string_view directory, std::string_view name);
// A labelled report line: the label padded to 20 columns, then the value.
std::string Labelled(std::string_view label, std::string_view value);

// The RUN COMPLETE block; `finished` is the time text.
Lines Footer(std::string_view finished, int exitCode, std::string_view safetyResult,
             std::string_view backupDirectory = "");

}  // namespace twtrim::test
