// The named conferences of the sample board and the tests, and random
// conferences for property tests and benchmarks.
#include <array>

#include "board/board_builder.h"

namespace twtrim::board {
namespace {

const std::array<const char*, 6> kSenders = {"Sysop",       "Ada Brennan", "Tom Kettle",
                                             "Mira Osgood", "Lev Pardoe",  "Quinn Vale"};
const std::array<const char*, 4> kRecipients = {"All", "Sysop", "Ada Brennan", "Tom Kettle"};
const std::array<const char*, 5> kSubjects = {"Board news", "Modem settings", "Swap meet",
                                              "Door games", "Net mail"};

// Varied names and both CRC conventions, so scenarios are not all alike.
MessageShape Dress(MessageShape shape, uint32_t i) {
  shape.from = kSenders[i % kSenders.size()];
  shape.to = kRecipients[(i / 2) % kRecipients.size()];
  shape.subject = std::string(shape.ts == 0 && shape.org != shape.msgNumber ? "Re: " : "") +
                 kSubjects[(i / 3) % kSubjects.size()];
  shape.complementFromCrc = i % 3 == 1;
  shape.complementToCrc = i % 4 == 2;
  return shape;
}

// Adds a thread: a root and `replies` replies to it, numbered from `*next`.
void AddThread(ConferenceBuilder* b, int32_t* next, uint32_t replies, uint16_t blocks) {
  const int32_t root = (*next)++;
  b->Add(Dress(Root(root, blocks), static_cast<uint32_t>(root)));
  for (uint32_t r = 0; r < replies; ++r) {
    const int32_t n = (*next)++;
    b->Add(Dress(Reply(n, root, blocks), static_cast<uint32_t>(n)));
  }
}

}  // namespace

ConferenceFiles CleanConference() {
  ConferenceBuilder b;
  int32_t next = 101;
  for (uint32_t t = 0; t < 5; ++t) AddThread(&b, &next, 2, static_cast<uint16_t>(1 + t % 3));
  return b.files();
}

// 100 records, 400 DAT blocks each used once. Three deleted records hold 10
// blocks: a root whose only reply stays live (the one reply link cleared) and
// two replies in threads that keep a live reply. Two live replies are
// bodyless. Every root has a reply, so bodyless=2 is the only finding.
ConferenceFiles PackConference() {
  ConferenceBuilder b;
  int32_t next = 1001;
  uint32_t bigBodies = 5;  // 90 live bodies of 4 blocks and 5 of 6 make 390
  auto live = [&](MessageShape shape) {
    shape.blocks = 4;
    if (bigBodies > 0) {
      shape.blocks = 6;
      --bigBodies;
    }
    b.Add(Dress(shape, static_cast<uint32_t>(shape.msgNumber)));
  };
  auto regular = [&](uint32_t threads, uint32_t bodylessAt) {
    for (uint32_t t = 0; t < threads; ++t) {
      const int32_t root = next++;
      live(Root(root));
      for (uint32_t r = 0; r < 3; ++r) {
        const int32_t n = next++;
        if (t == bodylessAt && r == 1) {
          b.Add(Dress(Bodyless(Reply(n, root)), static_cast<uint32_t>(n)));
        } else {
          live(Reply(n, root));
        }
      }
    }
  };
  auto deleted = [&](MessageShape shape, uint16_t blocks) {
    shape.blocks = blocks;
    b.Add(Dress(Deleted(shape), static_cast<uint32_t>(shape.msgNumber)));
  };

  regular(6, 2);
  const int32_t lostRoot = next++;  // deleted root, its only reply stays
  deleted(Root(lostRoot), 4);
  live(Reply(next++, lostRoot));
  regular(6, 99);
  const int32_t rootB = next++;  // deleted first reply, a live one follows
  live(Root(rootB));
  deleted(Reply(next++, rootB), 3);
  live(Reply(next++, rootB));
  regular(6, 4);
  const int32_t rootC = next++;  // live reply, then a deleted one
  live(Root(rootC));
  live(Reply(next++, rootC));
  deleted(Reply(next++, rootC), 3);
  regular(5, 99);
  return b.files();
}

ConferenceFiles DangerConference() {
  ConferenceBuilder b;
  int32_t next = 201;
  AddThread(&b, &next, 1, 2);
  b.Add(Dress(Danger(next), static_cast<uint32_t>(next)));  // live: detached by a pack
  ++next;
  const int32_t lostRoot = next++;
  b.Add(Dress(Deleted(Root(lostRoot, 3)), static_cast<uint32_t>(lostRoot)));
  b.Add(Dress(Reply(next, lostRoot, 1), static_cast<uint32_t>(next)));
  ++next;
  b.Add(Dress(Danger(next, 2), static_cast<uint32_t>(next)));
  ++next;
  b.Add(Dress(Deleted(Danger(next, 1)), static_cast<uint32_t>(next)));  // purged, not fixed
  ++next;
  AddThread(&b, &next, 2, 1);
  return b.files();
}

ConferenceFiles RepairOnlyConference() {
  ConferenceBuilder b;
  int32_t next = 301;
  AddThread(&b, &next, 2, 2);
  b.Add(Dress(Danger(next), static_cast<uint32_t>(next)));
  ++next;
  AddThread(&b, &next, 1, 1);
  b.Add(Dress(Danger(next, 3), static_cast<uint32_t>(next)));
  ++next;
  return b.files();
}

// One deletion, and a reply whose body lies over its root's two blocks.
ConferenceFiles BlockedConference() {
  ConferenceBuilder b;
  int32_t next = 401;
  AddThread(&b, &next, 1, 2);
  const int32_t root = next++;
  const size_t rootSlot = b.Add(Dress(Root(root, 2), static_cast<uint32_t>(root)));
  MessageShape overlapping = Reply(next, root, 2);
  overlapping.where = b.files().ptr[rootSlot].where();
  b.Add(Dress(overlapping, static_cast<uint32_t>(next)));
  ++next;
  const int32_t third = next++;
  b.Add(Dress(Root(third, 1), static_cast<uint32_t>(third)));
  b.Add(Dress(Deleted(Reply(next, third, 2)), static_cast<uint32_t>(next)));
  ++next;
  return b.files();
}

// A number used twice and one record whose IDX From CRC matches neither convention.
ConferenceFiles ValidationErrorConference() {
  ConferenceBuilder b;
  int32_t next = 501;
  AddThread(&b, &next, 1, 1);
  const int32_t root = next++;
  b.Add(Dress(Root(root, 2), static_cast<uint32_t>(root)));
  b.Add(Dress(Reply(root, root - 2, 1), static_cast<uint32_t>(root)));  // duplicate number
  MessageShape badCrc = Dress(Reply(next, root, 1), static_cast<uint32_t>(next));
  badCrc.wrongFromCrc = true;
  b.Add(badCrc);
  ++next;
  b.Add(Dress(Deleted(Reply(next, root, 1)), static_cast<uint32_t>(next)));
  return b.files();
}

const std::vector<std::string>& ScenarioNames() {
  static const std::vector<std::string> names = {"clean",  "pack",    "danger",
                                                 "repair", "blocked", "validation"};
  return names;
}

bool ScenarioByName(const std::string& name, ConferenceFiles* files) {
  if (name == "clean") {
    *files = CleanConference();
  } else if (name == "pack") {
    *files = PackConference();
  } else if (name == "danger") {
    *files = DangerConference();
  } else if (name == "repair") {
    *files = RepairOnlyConference();
  } else if (name == "blocked") {
    *files = BlockedConference();
  } else if (name == "validation") {
    *files = ValidationErrorConference();
  } else {
    return false;
  }
  return true;
}

bool WriteSampleBoard(const std::string& home) {
  Board board;
  if (!CreateBoard(home, {"General", "Sysop Chat", "Announcements", "Swap Shop", "Old Archive"},
                   &board)) {
    return false;
  }
  const std::string msg = board.messageDir();
  const ConferenceFiles clean = CleanConference();
  auto text = [](const std::string& t) { return std::vector<uint8_t>(t.begin(), t.end()); };
  return WriteConference(msg, 1, clean) && WriteConference(msg, 2, DangerConference()) &&
         WriteConference(msg, 3, PackConference()) &&
         WriteConference(msg, 4, BlockedConference()) &&
         WriteConference(msg, 5, ValidationErrorConference()) &&
         WriteFileBytes(msg + "/TWOUTBOUND.SEQ", text("00000042\r\n")) &&
         WriteFileBytes(ConferencePath(msg, 3, "LMR"), std::vector<uint8_t>(64, 0x11)) &&
         WriteFileBytes(ConferencePath(msg, 3, "SIG"), text("-- Announcements --\r\n")) &&
         MakeDirectories(msg + "/VUVERUDODIV-BAK-1") &&
         WriteFileBytes(msg + "/VUVERUDODIV-BAK-1/TWMSG01.PTR", clean.PtrBytes()) &&
         // A sample is a copy by definition: /WRITE /TESTCOPY may rehearse on it.
         WriteFileBytes(home + "/TWTRIM32_TESTCOPY.OK", text("sample board\r\n"));
}

// --- random conferences ------------------------------------------------------

RandomMessageSource::RandomMessageSource(uint64_t seed, uint32_t deletedPercent, uint32_t maxBlocks)
    : state_(seed), deletedPercent_(deletedPercent), maxBlocks_(maxBlocks) {
  nextNumber_ = static_cast<int32_t>(1 + Below(5000));
}

// splitmix64: tiny, and the same numbers on every compiler.
uint64_t RandomMessageSource::NextRandom() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t RandomMessageSource::Below(uint32_t bound) {
  return bound == 0 ? 0 : static_cast<uint32_t>(NextRandom() % bound);
}

MessageShape RandomMessageSource::Next() {
  const int32_t number = nextNumber_;
  nextNumber_ += static_cast<int32_t>(1 + Below(3));
  MessageShape shape;
  const uint32_t kind = Below(100);
  if (recentRoots_.empty() || kind < 30) {
    shape = Root(number);
    if (recentRoots_.size() == 16) recentRoots_.erase(recentRoots_.begin());
    recentRoots_.push_back(number);
  } else if (kind < 32) {
    shape = Danger(number);
  } else {
    shape = Reply(number, recentRoots_[Below(static_cast<uint32_t>(recentRoots_.size()))]);
  }
  shape = Dress(shape, static_cast<uint32_t>(NextRandom() & 0xFFFF));
  shape.deleted = Below(100) < deletedPercent_ ? 1 : 0;
  uint32_t blocks = Below(maxBlocks_ + 1);
  if (blocksUsed_ + blocks > kMaxDatBlocks) blocks = 0;
  blocksUsed_ += blocks;
  shape.blocks = static_cast<uint16_t>(blocks);
  shape.staleIdx = Below(100) == 0;
  return shape;
}

ConferenceFiles RandomConference(uint32_t seed, uint32_t records, uint32_t deletedPercent,
                                 uint32_t maxBlocks) {
  RandomMessageSource source(seed, deletedPercent, maxBlocks);
  ConferenceBuilder b;
  for (uint32_t i = 0; i < records; ++i) b.Add(source.Next());
  return b.files();
}

}  // namespace twtrim::board
