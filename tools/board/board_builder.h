// Writes Tarnwick boards for the tests, the benchmark and the sample: the
// home directory with TWMCONF.DAT, WORK/TWWHOSON.DAT and MESSAGE with the
// conference files. The one place that assembles records byte by byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "msgbase/records.h"

namespace twtrim::board {

// One message as a test or scenario describes it.
struct MessageShape {
  int32_t msgNumber = 0;
  int32_t org = 0;  // thread link; equal to msgNumber for a root
  uint8_t tm = 1, ts = 1;
  uint8_t deleted = 0;
  uint16_t blocks = 0;            // body length in DAT blocks (0 = bodyless)
  std::optional<uint16_t> where;  // explicit Where; default: next free block
  std::string from = "Sysop", to = "All", subject = "Hello";
  // IDX shaping: complemented CRCs are valid; a wrong CRC and stale identity are findings.
  bool complementFromCrc = false, complementToCrc = false;
  bool wrongFromCrc = false, wrongToCrc = false;
  bool staleIdx = false;
};

// Convenience shapes.
MessageShape Root(int32_t number, uint16_t blocks = 1);
MessageShape Reply(int32_t number, int32_t parent, uint16_t blocks = 1);
MessageShape Danger(int32_t number, uint16_t blocks = 1);
MessageShape Deleted(MessageShape shape);
MessageShape Bodyless(MessageShape shape);

// The three files of one conference, in memory.
struct ConferenceFiles {
  std::vector<PtrRecord> ptr;
  std::vector<IdxRecord> idx;
  std::vector<uint8_t> dat;  // a multiple of 128 bytes

  uint32_t datBlocks() const { return static_cast<uint32_t>(dat.size() / kDatBlockSize); }
  // File images as they go to disk.
  std::vector<uint8_t> PtrBytes() const;
  std::vector<uint8_t> IdxBytes() const;
};

// Builds a conference message by message. Bodies get fresh blocks after the
// last one allocated, each block filled with a pattern unique to its index,
// so byte comparisons of packed files mean something. A message with an
// explicit Where gets no new blocks: it points wherever the test says.
class ConferenceBuilder {
 public:
  // Appends the message; returns its slot index (0-based).
  size_t Add(const MessageShape& shape);
  // Appends `count` DAT blocks no record references.
  void AddUnreferencedBlocks(uint32_t count);
  ConferenceFiles& files() { return files_; }
  const ConferenceFiles& files() const { return files_; }

 private:
  ConferenceFiles files_;
};

// The PTR record of a message whose body starts at block `where`. Bytes the
// program does not interpret hold a filler that depends on the message
// number and the offset, so a rebuild that moves or loses them is caught.
PtrRecord MakePtrRecord(const MessageShape& shape, uint16_t where);
// The IDX record: name CRCs computed from the PTR record's names (plain,
// complemented or deliberately wrong), identity copied from it or made stale.
IdxRecord MakeIdxRecord(const MessageShape& shape, const PtrRecord& ptr);
// The 128 bytes of DAT block `index` as the builder fills it.
std::vector<uint8_t> BlockPattern(uint32_t index);
// The value a wrong CRC gets: never the CRC itself nor its complement.
inline uint32_t WrongCrc(uint32_t crc) { return crc ^ 0x5A5A5A5Au; }
// The identity a stale IDX record gets in place of the PTR's MsgNumber.
inline int32_t StaleMsgNumber(int32_t msgNumber) {
  return static_cast<int32_t>(static_cast<uint32_t>(msgNumber) ^ 0x40000000u);
}

// One caller-table slot; the default is idle.
struct CallerSlot {
  uint16_t userNo = 0xFFFF;
  uint8_t status = ' ';
};

// TWMSGnn.<ext> under `messageDir`, named independently of the program's own
// naming so the tests check it rather than share it.
std::string ConferenceFileName(uint32_t conference, const std::string& extension);
std::string ConferencePath(const std::string& messageDir, uint32_t conference,
                           const std::string& extension);

// File writing. Paths use '/'; every function returns false on an I/O error.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes);
bool MakeDirectories(const std::string& path);
bool WriteConference(const std::string& messageDir, uint32_t conference,
                     const ConferenceFiles& files);
// The bytes of TWMCONF.DAT: one 128-byte record per name (length byte at 3,
// characters from 4, at most 64 of them; a longer name keeps its length byte).
std::vector<uint8_t> ConferenceConfigBytes(const std::vector<std::string>& names);
// TWMCONF.DAT with one 128-byte record per name.
bool WriteConferenceConfig(const std::string& homeDir, const std::vector<std::string>& names);
// The bytes of a caller table of `size` bytes, idle but for `active`
// (slot numbers 1..size/6).
std::vector<uint8_t> CallerTableBytes(const std::vector<std::pair<uint32_t, CallerSlot>>& active,
                                      uint32_t size);
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

// Writes one conference record by record straight to its three files, for
// conferences too large to hold in memory. Bodies are laid out as by
// ConferenceBuilder.
class ConferenceStreamWriter {
 public:
  ConferenceStreamWriter() = default;
  ~ConferenceStreamWriter();
  ConferenceStreamWriter(const ConferenceStreamWriter&) = delete;
  ConferenceStreamWriter& operator=(const ConferenceStreamWriter&) = delete;

  bool Open(const std::string& messageDir, uint32_t conference);
  bool Add(const MessageShape& shape);
  // Flushes and closes the three files; false when any write failed.
  bool Close();

  uint64_t records() const { return records_; }
  uint32_t datBlocks() const { return datBlocks_; }

 private:
  std::FILE* ptr_ = nullptr;
  std::FILE* idx_ = nullptr;
  std::FILE* dat_ = nullptr;
  uint64_t records_ = 0;
  uint32_t datBlocks_ = 0;
  bool ok_ = true;
};

// Named scenarios shared by mkboard, the tests and the sample board.
ConferenceFiles CleanConference();            // nothing to do, no findings
ConferenceFiles PackConference();             // the 100-record pack example (reclaim=2096)
ConferenceFiles DangerConference();           // DANGER records and replies to deleted parents
ConferenceFiles RepairOnlyConference();       // live DANGER records, nothing to purge
ConferenceFiles BlockedConference();          // deletions plus overlapping bodies
ConferenceFiles ValidationErrorConference();  // duplicate numbers and a bad CRC

// The bundled sample board: TWMCONF.DAT naming five conferences (1 clean,
// 2 danger, 3 pack with LMR and SIG companions, 4 blocked, 5 validation
// error), an idle caller table, TWOUTBOUND.SEQ, one leftover
// VUVERUDODIV-BAK-1 folder and the test-copy marker.
bool WriteSampleBoard(const std::string& home);

// The scenario of that name ("clean", "pack", "danger", "repair", "blocked",
// "validation"); false for an unknown name.
bool ScenarioByName(const std::string& name, ConferenceFiles* files);
const std::vector<std::string>& ScenarioNames();

// Messages of a random conference, one at a time: threads of roots and
// replies (replies always point at an existing earlier root), `deletedPercent`
// of them deleted, bodies of 0..maxBlocks blocks while the DAT stays within
// 65,536 blocks, a few live DANGER records, both CRC conventions and a few
// stale IDX identities. Never produces overlaps, unreferenced blocks or orphan
// replies, so the conference can always be packed. Deterministic per seed.
class RandomMessageSource {
 public:
  RandomMessageSource(uint64_t seed, uint32_t deletedPercent, uint32_t maxBlocks);
  MessageShape Next();

 private:
  uint64_t NextRandom();
  uint32_t Below(uint32_t bound);

  uint64_t state_;
  uint32_t deletedPercent_;
  uint32_t maxBlocks_;
  uint32_t blocksUsed_ = 0;
  int32_t nextNumber_;
  std::vector<int32_t> recentRoots_;
};

ConferenceFiles RandomConference(uint32_t seed, uint32_t records, uint32_t deletedPercent,
                                 uint32_t maxBlocks);

}  // namespace twtrim::board
