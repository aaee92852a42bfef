// Where two paths lead, not how they are spelled. A guard that protects a
// place must refuse every spelling of it: "." and ".." segments, doubled
// separators, trailing dots, symbolic links, a relative path read against
// the current directory, long-name prefixes. So each check compares the text
// as typed, the fully resolved paths, and the identities of the directories
// themselves.
#pragma once

#include <string>

#include "platform/os.h"

namespace twtrim {

// `a` and `b` name the same directory by any of the three comparisons.
bool SamePlace(Os& os, const std::string& a, const std::string& b);
// `path` is `directory` or lies below it by any of the three comparisons:
// for rules that refuse.
bool InsidePlaceByAnySpelling(Os& os, const std::string& path, const std::string& directory);
// `path`, resolved, is `directory` or lies below it: for rules that allow,
// where the text as typed proves nothing.
bool ResolvesInside(Os& os, const std::string& path, const std::string& directory);

}  // namespace twtrim
