#include "write/space_check.h"

#include <memory>
#include <optional>

#include "msgbase/records.h"
#include "platform/paths.h"
#include "report/format.h"

namespace twtrim {
namespace {

// The size of a regular file; 0 when it is missing or cannot be read (the
// backup itself then skips it or reports the failure).
uint64_t FileSize(Os& os, const std::string& path) {
  if (os.GetPathKind(path) != PathKind::kFile) return 0;
  std::unique_ptr<OsFile> file = os.OpenSharedRead(path);
  uint64_t size = 0;
  return file && file->Size(&size) ? size : 0;
}

// Every byte the backup phase copies: the control files, then PTR, IDX, DAT
// and the LMR and SIG companions of each conference being written.
uint64_t BackupBytes(Os& os, const std::vector<ConferencePlan>& plans, const WritePlaces& places) {
  uint64_t total = 0;
  for (const std::string& path : places.controlFiles) total += FileSize(os, path);
  for (const ConferencePlan& plan : plans) {
    if (!plan.writeWanted) continue;
    for (const PlannedFile& file : plan.files) total += FileSize(os, file.live);
    for (const char* extension : {"LMR", "SIG"}) {
      std::string path;
      if (ConferenceFilePath(&path, places.messageDir, plan.conferenceNumber, extension)) {
        total += FileSize(os, path);
      }
    }
  }
  return total;
}

uint64_t RecordBytes(const std::vector<ConferencePlan>& plans) {
  uint64_t total = 0;
  for (const ConferencePlan& plan : plans) {
    if (plan.writeWanted) total += kIntentRecordAllowance;
  }
  return total;
}

// The file system's volume, with links resolved; none when it cannot be told.
std::optional<uint64_t> Volume(Os& os, const std::string& directory) {
  std::string full;
  FileIdentity identity;
  if (!os.FullPath(directory, &full) || !os.PathIdentity(full, &identity)) return std::nullopt;
  return identity.volume;
}

struct Place {
  std::string directory;  // as the refusal names it
  uint64_t needed = 0;
};

std::string Shortfall(Os& os, const Place& place) {
  uint64_t free = 0;
  if (!os.FreeSpace(place.directory, &free) || free >= place.needed) return "";
  return "WRITE ERROR: not enough free disk space on " + place.directory + ": " +
         Decimal(place.needed) + " bytes needed, " + Decimal(free) + " bytes free.";
}

}  // namespace

std::string FreeSpaceRefusal(Os& os, const std::vector<ConferencePlan>& plans,
                             const WritePlaces& places) {
  // The backup root may be a mount of its own; until it exists the backup
  // lands on the home's file system.
  Place backup{places.homeDir, BackupBytes(os, plans, places)};
  std::string root;
  if (JoinPath(&root, places.homeDir, "TWTRIM32-BACKUPS") &&
      os.GetPathKind(root) == PathKind::kDirectory) {
    backup.directory = root;
  }
  Place records{places.messageDir, RecordBytes(plans)};
  // One file system, or one that cannot be told apart: both needs come
  // out of the same free space.
  const std::optional<uint64_t> backupVolume = Volume(os, backup.directory);
  const std::optional<uint64_t> recordVolume = Volume(os, records.directory);
  if (!backupVolume || !recordVolume || *backupVolume == *recordVolume) {
    backup.needed += records.needed;
    records.needed = backup.needed;
  }
  std::string refusal = Shortfall(os, backup);
  if (refusal.empty()) refusal = Shortfall(os, records);
  return refusal;
}

}  // namespace twtrim
