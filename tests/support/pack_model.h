// What a correct pack of one conference must produce, worked out from the
// original file images alone, without any of the program's code, and
// message-by-message comparisons of a conference with its original.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/app_harness.h"

namespace twtrim::test {

// One message as it sits in a conference's files.
struct ModelMessage {
  std::string ptr;   // the 256-byte header
  std::string idx;   // the 16-byte index entry
  std::string body;  // its DAT blocks, Records x 128 bytes
};

// The messages of a conference in slot order; false (with `*error`) when the
// images do not split into whole records or a body lies outside the DAT.
bool SplitMessages(const ConferenceBytes& files, std::vector<ModelMessage>* messages,
                   std::string* error);

enum class PackVerdict {
  kUntouched,  // nothing to purge or repair: the conference is not written
  kWritten,    // purged and/or repaired: `packed` holds the expected files
  kBlocked,    // a purge with replies to messages that never existed
  kUnusable,   // the images are not a well-formed conference (see `error`)
};

struct ExpectedPack {
  PackVerdict verdict = PackVerdict::kUnusable;
  ConferenceBytes packed;  // kWritten only
  uint32_t kept = 0, purged = 0, repaired = 0;
  std::string error;
};

// Deleted messages dropped, bodies compacted in slot order (only when
// something is purged; otherwise the DAT stays whole and Where unchanged),
// a reply to itself or to a purged parent made a root of its own (a reply
// whose parent never existed is left as it is), and the IDX identity taken
// from the header. Boards with
// overlapping or unreferenced bodies are outside the model (kUnusable).
ExpectedPack PackConference(const ConferenceBytes& original);

// The numbers of the original's live messages that `live` does not hold
// whole (own header but for Where and the thread repairs, own name CRCs,
// own body), in slot order; all of them when `live` is no conference.
std::vector<int32_t> MissingMessages(const ConferenceBytes& original, const ConferenceBytes& live);

}  // namespace twtrim::test
