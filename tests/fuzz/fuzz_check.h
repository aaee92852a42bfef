// What every fuzz target uses: the test Os doubles, and checks that abort on
// a broken invariant (so libFuzzer keeps the input) or on report text that is
// not whole CR LF lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_output.h"
#include "support/fault_os.h"
#include "support/memory_os.h"

namespace twtrim {

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline void CheckLines(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n', "CR without LF");
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r', "LF without CR");
  }
  Check(text.empty() || text.ends_with("\r\n"), "text does not end a line");
}

}  // namespace twtrim
