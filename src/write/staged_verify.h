// The verification of a packed conference: its files re-read from disk and
// proved sound against the scan's projections, before they go live and
// again after.
#pragma once

#include "platform/os.h"
#include "write/conference_plan.h"

namespace twtrim {

// Which files a verification reads, and what it does with their fingerprints.
enum class Verification {
  kStaged,     // the .NEW files: their fingerprints are stored in the plan
  kCommitted,  // the live files after the commit: they must equal the stored ones
};

// Proves the plan's files a sound packed conference. Prints nothing. Meant
// for plans with writeWanted set.
bool VerifyConferenceFiles(Os& os, ConferencePlan* plan, Verification which);

}  // namespace twtrim
