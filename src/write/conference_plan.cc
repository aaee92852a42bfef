#include "write/conference_plan.h"

#include "msgbase/records.h"
#include "platform/paths.h"

namespace twtrim {

namespace {

// The staged twin of a live file: the whole name with ".NEW" appended.
bool StagedPath(std::string* staged, const std::string& live) {
  constexpr std::string_view kSuffix = ".NEW";
  if (live.size() + kSuffix.size() > kMaxPath) return false;
  *staged = live;
  *staged += kSuffix;
  return true;
}

}  // namespace

bool BuildConferencePlan(ConferencePlan* plan, const std::string& messageDir, uint32_t conference,
                         const ConferenceScan& scan) {
  *plan = ConferencePlan{};
  plan->conferenceNumber = conference;
  plan->scan = scan;
  plan->writeWanted = scan.needsAction && !scan.blocked && scan.validationErrors == 0;
  for (FileKind kind : kFileKinds) {
    PlannedFile& file = plan->files[kind];
    if (!ConferenceFilePath(&file.live, messageDir, conference, kFileExtension[kind]) ||
        !StagedPath(&file.staged, file.live)) {
      return false;
    }
  }
  return true;
}

void RemoveStagedFiles(Os& os, ConferencePlan* plan) {
  for (const PlannedFile& file : plan->files) {
    // An attribute query that fails reads as "missing"; only a directory of
    // that name is surely no staged file. Deleting a file that is not there
    // costs nothing, while a staged file left behind stops the next write.
    if (file.staged.empty() || os.GetPathKind(file.staged) == PathKind::kDirectory) continue;
    os.DeleteFile(file.staged);  // a failed delete leaves the file for the operator
  }
}

}  // namespace twtrim
