// Commit by write-through renames, post-write verification, and the rollback
// from the verified backup.
#pragma once

#include <string>
#include <vector>

#include "platform/os.h"
#include "report/report_output.h"
#include "safety/integrity.h"
#include "write/conference_plan.h"
#include "write/intent_record.h"

namespace twtrim {

// Every name the commit of the plan and its rollback will need (the intent
// record and its staged name, each live file's .ROLLBACK) fits the limit.
bool CommitNamesFit(const ConferencePlan& plan, const std::string& messageDir);
// The intent record of the plan's commit: the snapshot's fingerprints of
// the live files and those of the verified staged files. False when the
// snapshot lacks one of the live files.
bool MakeIntentRecord(const ConferencePlan& plan, const IntegrityList& snapshot,
                      const std::string& backupDir, IntentRecord* record);
// Moves the staged files over the live ones in kCommitOrder, setting one
// committed flag after each rename.
bool CommitConference(Os& os, ConferencePlan* plan);
// Every integrity-list file must carry its expected fingerprint: the staged
// one for a written conference's live file, the snapshot's otherwise.
bool VerifyAfterWrite(Os& os, ReportOutput& out, const IntegrityList& list,
                      const std::vector<ConferencePlan>& plans);
// Brings every live file of the plan back to its original: one still
// holding its original is left as it is, one holding exactly the staged
// bytes is restored from its backup copy, and one holding anything else
// (newer data) is never overwritten. True when all three hold their
// originals afterwards.
bool RollbackConference(Os& os, ConferencePlan* plan, const IntentRecord& record);
// Copies the backup to <live>.ROLLBACK, proves it equal to `original`,
// renames it over the live file and proves the live file equal to it. A
// backup copy that does not hold `original` is never used.
bool RestoreFileFromBackup(Os& os, const std::string& backupPath, const std::string& livePath,
                           const FileFingerprint& original);

}  // namespace twtrim
