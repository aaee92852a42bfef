// The whole run: from the argument vector to the exit code.
#pragma once

#include <string>
#include <vector>

#include "platform/os.h"

namespace twtrim {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitFindings = 1,
  kExitUsageOrValidation = 2,
  kExitSafetyAbort = 3,
  kExitWriteFailure = 4,
};

int RunProgram(Os& os, const std::vector<std::string>& arguments);

}  // namespace twtrim
