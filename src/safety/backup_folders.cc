#include "safety/backup_folders.h"

#include <vector>

#include "platform/paths.h"

namespace twtrim {

uint32_t DetectBackupFolders(Os& os, ReportOutput& out, const std::string& messageDir) {
  std::string pattern;
  if (!JoinPath(&pattern, messageDir, "VUVERUDODIV-BAK-*")) return 0;
  std::vector<DirEntry> entries;
  if (!os.ListDirectory(pattern, &entries)) return 0;
  uint32_t count = 0;
  for (const DirEntry& entry : entries) {
    // A file of that name (an archive of an old backup, say) is not a folder.
    if (!entry.isDirectory) continue;
    ++count;
    if (out.verbose()) out.Line("  " + entry.name);
  }
  return count;
}

}  // namespace twtrim
