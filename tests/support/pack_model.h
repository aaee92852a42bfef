// What a correct pack of one conference must produce, worked out from the
// original file images alone, without any of the program's code, and
// message-by-message comparisons of a conference with its original.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/app_harness.h"

namespace twtrim::test {

enum class PackVerdict {
  kUntouched,  // nothing to purge or repair: the conference is not written
  kWritten,    // purged and/or repaired: `packed` holds the expected files
  kBlocked,    // a purge with replies to messages that never existed
  kUnusable,   // the images are not a well-formed conference
};

struct ExpectedPack {
  PackVerdict verdict = PackVerdict::kUnusable;
  ConferenceBytes packed;  // kWritten only
};

// Deleted messages dropped, bodies compacted in slot order (only when
// something is purged; otherwise the DAT stays whole and Where unchanged),
// a reply to itself or to a purged parent made a root of its own (a reply
// whose parent never existed is left as it is), and the IDX identity taken
// from the header. Overlapping or unreferenced bodies are outside the model.
ExpectedPack PackConference(const ConferenceBytes& original);

// The numbers of the original's live messages that `live` does not hold
// whole (own header but for Where and the thread repairs, own name CRCs,
// own body), in slot order; all of them when `live` is no conference.
std::vector<int32_t> MissingMessages(const ConferenceBytes& original, const ConferenceBytes& live);

}  // namespace twtrim::test
