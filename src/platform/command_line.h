// Splitting a Windows command line into arguments. Used by Win32Os; plain
// code, so it is tested on every platform.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace twtrim {

inline constexpr size_t kMaxCommandLine = 4095;  // bytes kept of the raw line
// Arguments a run takes, the program name included; the option parser
// refuses more.
inline constexpr size_t kMaxArguments = 64;

// Blanks (space, tab) separate arguments; each double quote toggles quoting
// and vanishes; there is no escape character, so "" is an empty argument.
// Only the first 4095 bytes count; every argument in them is returned.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace twtrim
