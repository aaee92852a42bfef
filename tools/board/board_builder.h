// Writes Tarnwick boards for the tests, the benchmark and the sample: the
// home directory with TWMCONF.DAT, WORK/TWWHOSON.DAT and MESSAGE with the
// conference files. The one place that assembles records byte by byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/records.h"

namespace twtrim::board {

// One message as a test or scenario describes it.
struct MessageSpec {
  int32_t msgNumber = 0;
  int32_t org = 0;  // thread link; equal to msgNumber for a root
  uint8_t tm = 1, ts = 1;
  uint8_t deleted = 0;
  uint16_t blocks = 0;                 // body length in DAT blocks (0 = bodyless)
  std::optional<uint16_t> where;       // explicit Where; default: next free block
  std::string from = "Sysop", to = "All", subject = "Hello";
  // IDX shaping: complemented CRCs are valid; a wrong CRC and stale identity are findings.
  bool complementFromCrc = false, complementToCrc = false;
  bool wrongFromCrc = false;
  bool staleIdx = false;
};

// Convenience shapes.
MessageSpec Root(int32_t number, uint16_t blocks = 1);
MessageSpec Reply(int32_t number, int32_t parent, uint16_t blocks = 1);
MessageSpec Danger(int32_t number, uint16_t blocks = 1);
MessageSpec Deleted(MessageSpec spec);

// The three files of one conference, in memory.
struct ConferenceFiles {
  std::vector<PtrRecord> ptr;
  std::vector<IdxRecord> idx;
  std::vector<uint8_t> dat;  // a multiple of 128 bytes

  uint32_t datBlocks() const { return static_cast<uint32_t>(dat.size() / kDatBlockSize); }
};

// Builds a conference message by message. Bodies get fresh blocks after the
// last one allocated, each block filled with a pattern unique to its index,
// so byte comparisons of packed files mean something.
class ConferenceBuilder {
 public:
  // Appends the message; returns its slot index (0-based).
  size_t Add(const MessageSpec& spec);
  // Appends `count` DAT blocks no record references.
  void AddUnreferencedBlocks(uint32_t count);
  ConferenceFiles& files() { return files_; }
  const ConferenceFiles& files() const { return files_; }

 private:
  ConferenceFiles files_;
};

PtrRecord MakePtrRecord(const MessageSpec& spec, uint16_t where);
IdxRecord MakeIdxRecord(const MessageSpec& spec, const PtrRecord& ptr);
// The 128 bytes of DAT block `index` as the builder fills it.
std::vector<uint8_t> BlockPattern(uint32_t index);

// One caller-table slot; the default is idle.
struct CallerSlot {
  uint16_t userNo = 0xFFFF;
  uint8_t status = ' ';
};

// File writing. Paths use '/'; every function returns false on an I/O error.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteConference(const std::string& messageDir, uint32_t conference,
                     const ConferenceFiles& files);
// TWMCONF.DAT with one 128-byte record per name.
bool WriteConferenceConfig(const std::string& homeDir, const std::vector<std::string>& names);
// WORK/TWWHOSON.DAT of `size` bytes (1530 or 1536), idle but for `active`.
bool WriteCallerTable(const std::string& homeDir,
                      const std::vector<std::pair<uint32_t, CallerSlot>>& active = {},
                      uint32_t size = 1536);

// A whole board: home/, home/WORK, home/MESSAGE, an idle caller table, and
// TWMCONF.DAT when `names` is not empty.
struct Board {
  std::string home;
  std::string messageDir() const { return home + "/MESSAGE"; }
};
bool CreateBoard(const std::string& home, const std::vector<std::string>& names, Board* board);

// Named scenarios shared by mkboard, the tests and the sample board.
ConferenceFiles CleanConference();          // nothing to do
ConferenceFiles PackConference();           // deletions, a reply to a deleted parent, bodyless records
ConferenceFiles DangerConference();         // DANGER records and replies to deleted parents
ConferenceFiles BlockedConference();        // deletions plus overlapping bodies
ConferenceFiles ValidationErrorConference();  // duplicate numbers and a bad CRC

// A random conference: `records` messages, `deletedPercent` of them deleted,
// bodies of 0..maxBlocks blocks, threads of roots and replies; deterministic per seed.
ConferenceFiles RandomConference(uint32_t seed, uint32_t records, uint32_t deletedPercent,
                                 uint32_t maxBlocks);

}  // namespace twtrim::board
