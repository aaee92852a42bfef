// The one order a directory listing is given in on every platform, so a
// report lists the same entries in the same order wherever it runs.
#pragma once

#include <string_view>

namespace twtrim {

// NTFS's order: ASCII letters folded to upper case, then byte by byte
// (unsigned), so letters come before '_'; names that differ only in case,
// which only POSIX file systems hold, by their raw bytes.
bool ListedBefore(std::string_view a, std::string_view b);

}  // namespace twtrim
