// What every fuzz target uses: the test Os doubles, and checks that abort
// (so libFuzzer keeps the input) on a broken invariant or a line not ending CR LF.
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
#include "support/report_lines.h"

namespace twtrim {

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline void CheckLines(std::string_view text) {
  bool crLf = false;
  test::ReportLines(text, &crLf);
  Check(crLf, "a line not ending CR LF");
}

}  // namespace twtrim
