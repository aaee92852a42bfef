// What every fuzz target checks alike: a broken invariant aborts, so that
// libFuzzer keeps the input, and report text comes as whole CR LF lines.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace twtrim {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Every CR is followed by LF and every LF preceded by CR; the text is empty
// or ends a line.
inline void CheckLines(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n', "CR without LF");
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r', "LF without CR");
  }
  Check(text.empty() || text.ends_with("\r\n"), "text does not end a line");
}

}  // namespace twtrim
