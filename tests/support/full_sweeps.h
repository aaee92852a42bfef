// TWTRIM_FULL_SWEEPS: whether the long proofs (fault and crash sweeps, kills,
// concurrent rounds, random boards) run their full counts instead of the
// reduced ones the test command uses.
#pragma once

#include <cstdlib>
#include <string_view>

namespace twtrim::test {

// True when TWTRIM_FULL_SWEEPS is set to anything but "" or "0".
inline bool FullSweeps() {
  const char* value = std::getenv("TWTRIM_FULL_SWEEPS");
  return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

}  // namespace twtrim::test
