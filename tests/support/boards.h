// Boards for the sweeps and the kill tests, as file images: the shapes that
// find things (bodies out of slot order, bodyless messages purged and kept,
// shared blocks, orphan and dangling replies, DANGER roots, empty
// conferences, companions present or absent), laid out into any Os.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "platform/os.h"
#include "support/app_harness.h"

namespace twtrim::test {

// Home-relative paths with '/' and their bytes, and the conferences in them.
struct BoardImage {
  std::map<std::string, std::string> files;
  std::vector<uint32_t> conferences;
  // The conferences a write selects (a blocked one refuses a whole write).
  std::string selector = "/ALL";

  // "MESSAGE/TWMSG01.PTR" and so on.
  static std::string ConferenceFile(uint32_t conference, const char* extension);
  ConferenceBytes Conference(uint32_t conference) const;
  void SetConference(uint32_t conference, const ConferenceBytes& bytes);
};

// TWMCONF.DAT naming every conference, an idle caller table and these
// conferences; `companions` adds LMR and SIG files to conferences listed.
BoardImage ImageOf(const std::vector<std::pair<uint32_t, board::ConferenceFiles>>& conferences,
                   const std::vector<uint32_t>& companions = {});
// Lays the image out under `home` (directories WORK and MESSAGE made).
bool LayOut(Os& os, const std::string& home, const BoardImage& image);

// Nine live messages whose bodies lie in reverse slot order and one deleted
// bodyless message: the pack reorders the DAT without changing its size, so
// old headers over the new DAT point at other messages' bodies.
board::ConferenceFiles ReorderOnlyConference();
// 1: the reorder-only conference with companions; 2: deletions in the middle,
// dangling replies (one before its purged parent), a stale IDX identity, a
// DANGER root; 3: repairs only (a DANGER root, an orphan reply); 4: clean and
// never written.
BoardImage MixedBoard();
// Random conferences of every shape above, deterministic per seed; the last
// one is blocked and left out of the write's selection.
BoardImage RandomBoard(uint32_t seed);

}  // namespace twtrim::test
