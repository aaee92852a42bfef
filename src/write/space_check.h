// Room on the disks before a write makes its backup: the backup copies go
// under <home>/TWTRIM32-BACKUPS, the intent records into the message
// directory. A write that cannot fit is refused before any copy is made,
// rather than failing half-way through the backup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"
#include "write/conference_plan.h"

namespace twtrim {

// What one intent record is allowed on the disk: a few hundred bytes of
// text, which still occupy a whole allocation block.
inline constexpr uint64_t kIntentRecordAllowance = 4096;

struct WritePlaces {
  std::string homeDir;     // the backup directory is made under it
  std::string messageDir;  // the intent records are written there
  // Files the backup copies besides the conferences; missing ones are skipped.
  std::vector<std::string> controlFiles;
};

// The refusal line when the backup or the intent records do not fit on
// their file systems; "" when they fit, or when the free space of a file
// system cannot be learned (the write then goes on as before).
std::string FreeSpaceRefusal(Os& os, const std::vector<ConferencePlan>& plans,
                             const WritePlaces& places);

}  // namespace twtrim
