// Commit by write-through renames, post-write verification, and the rollback
// from the verified backup.
#pragma once

#include <string>
#include <vector>

#include "platform/os.h"
#include "report/report_output.h"
#include "safety/integrity.h"
#include "scan/conference_plan.h"

namespace twtrim {

// Moves the staged DAT, PTR and IDX over the live files, in that order,
// setting one committed flag after each rename.
bool CommitConference(Os& os, ConferencePlan* plan);
// Every integrity-list file must carry its expected fingerprint: the staged
// one for a written conference's live file, the snapshot's otherwise.
bool VerifyAfterWrite(Os& os, ReportOutput& out, const IntegrityList& list,
                      const std::vector<ConferencePlan>& plans);
// Restores every committed file of the plan from its backup copy.
bool RollbackConference(Os& os, ConferencePlan* plan);
// Copies the backup to <live>.ROLLBACK, proves it, renames it over the live
// file and proves the live file equal to the backup.
bool RestoreFileFromBackup(Os& os, const std::string& backupPath, const std::string& livePath);

}  // namespace twtrim
