#include "platform/command_line.h"

namespace twtrim {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  // The raw line is a C string: it ends at its first NUL, and only the first
  // 4095 bytes fit the buffer.
  std::string_view text = commandLine.substr(0, commandLine.find('\0'));
  if (text.size() > kMaxCommandLine) text = text.substr(0, kMaxCommandLine);

  std::vector<std::string> arguments;
  size_t position = 0;
  while (true) {
    while (position < text.size() && IsBlank(text[position])) ++position;
    if (position >= text.size()) break;
    std::string argument;
    bool quoted = false;
    for (; position < text.size(); ++position) {
      const char c = text[position];
      if (c == '"') {
        quoted = !quoted;
      } else if (IsBlank(c) && !quoted) {
        break;
      } else {
        argument.push_back(c);
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace twtrim
