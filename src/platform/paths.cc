#include "platform/paths.h"

#include "platform/bytes.h"

namespace twtrim {
namespace {

// Letter case folded and '/' taken as '\'.
char FoldPathChar(char c) { return c == '/' ? '\\' : FoldCase(c); }

bool SamePathPrefix(std::string_view a, std::string_view b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (FoldPathChar(a[i]) != FoldPathChar(b[i])) return false;
  }
  return true;
}

// Length without trailing separators, never cut below `floor` characters.
size_t TrimmedLength(std::string_view path, size_t floor) {
  size_t length = path.size();
  while (length > floor && IsSeparator(path[length - 1])) --length;
  return length;
}

}  // namespace

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsolutePath(std::string_view path) {
  if (path.empty()) return false;
  return IsSeparator(path[0]) || (path.size() >= 2 && path[1] == ':');
}

bool JoinPath(std::string* destination, std::string_view directory, std::string_view name) {
  destination->clear();
  if (IsAbsolutePath(name)) {
    if (name.size() > kMaxPath) return false;
    destination->assign(name);
    return true;
  }
  if (directory.size() > kMaxPath) return false;
  std::string joined(directory);
  if (!joined.empty() && !IsSeparator(joined.back())) {
    if (joined.size() >= kMaxPath) return false;
    joined.push_back(kPathSeparator);
  }
  if (name.size() > kMaxPath - joined.size()) return false;
  joined.append(name);
  *destination = std::move(joined);
  return true;
}

bool HasParentSegment(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

bool HasTxtExtension(std::string_view path) {
  return path.size() >= 4 && EqualsIgnoreCase(path.substr(path.size() - 4), ".TXT");
}

bool IsInsideDirectory(std::string_view path, std::string_view directory) {
  const size_t n = TrimmedLength(directory, 0);
  if (n == 0) return path.empty() || IsSeparator(path[0]);
  if (path.size() < n || !SamePathPrefix(path, directory, n)) return false;
  return path.size() == n || IsSeparator(path[n]);
}

bool SameDirectory(std::string_view a, std::string_view b) {
  // Never below three characters, so that C:\ keeps its separator.
  const size_t lengthA = TrimmedLength(a, 3);
  const size_t lengthB = TrimmedLength(b, 3);
  return lengthA == lengthB && SamePathPrefix(a, b, lengthA);
}

bool SamePath(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SamePathPrefix(a, b, a.size());
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoreCase(a, b);
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;
  }
  return true;
}

std::string_view BaseName(std::string_view path) {
  const size_t last = path.find_last_of("\\/");
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

}  // namespace twtrim
