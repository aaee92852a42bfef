#include "support/boards.h"

#include <algorithm>
#include <numeric>
#include <random>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace twtrim::test {
namespace {

using board::MessageShape;

std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Pattern(const std::string& seed, size_t size) {
  std::string bytes;
  for (size_t i = 0; bytes.size() < size; ++i) {
    bytes += static_cast<char>(seed[i % seed.size()] + static_cast<char>(i / 7 % 5));
  }
  return bytes;
}

// The messages with their bodies laid out in `order` (a permutation of the
// slots): slot order[0]'s body first in the DAT, and so on.
board::ConferenceFiles Place(std::vector<MessageShape> shapes, const std::vector<size_t>& order) {
  uint32_t next = 0;
  for (size_t slot : order) {
    shapes[slot].where = static_cast<uint16_t>(next);
    next += shapes[slot].blocks;
  }
  board::ConferenceBuilder builder;
  builder.AddUnreferencedBlocks(next);
  for (const MessageShape& shape : shapes) builder.Add(shape);
  return builder.files();
}

std::vector<size_t> Reversed(size_t count) {
  std::vector<size_t> order(count);
  std::iota(order.rbegin(), order.rend(), size_t{0});
  return order;
}

// One random message of a conference of `count`: any of roots, replies to
// earlier or later messages (some of them deleted: dangling once purged),
// orphan replies, DANGER roots, bodyless messages, deleted or live.
MessageShape RandomMessage(std::mt19937& random, int32_t number, uint32_t count, bool orphans,
                           bool deletions) {
  const auto below = [&](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
  const uint16_t blocks = static_cast<uint16_t>(below(4));
  MessageShape shape = board::Root(number, blocks);
  switch (below(orphans ? 5 : 4)) {
    case 0:
      if (const auto parent = static_cast<int32_t>(1 + below(count)); parent != number) {
        shape = board::Reply(number, parent, blocks);
      }
      break;
    case 1:
      shape = board::Danger(number, blocks);
      break;
    case 4:
      shape = board::Reply(number, number + 1000, blocks);
      break;
    default:
      break;
  }
  if (deletions && below(4) == 0) shape = board::Deleted(shape);
  return shape;
}

// Orphan replies with deletions, and shared blocks, make a conference
// BLOCKED; `blocked` asks for both.
board::ConferenceFiles RandomConference(std::mt19937& random, bool orphans, bool blocked) {
  const uint32_t count = random() % 6 == 0 ? 0 : static_cast<uint32_t>(2 + random() % 18);
  std::vector<MessageShape> shapes;
  for (uint32_t i = 0; i < count; ++i) {
    shapes.push_back(RandomMessage(random, static_cast<int32_t>(i + 1), count, orphans || blocked,
                                   !orphans || blocked));
  }
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  std::shuffle(order.begin(), order.end(), random);
  board::ConferenceFiles files = Place(shapes, order);
  // A second message pointed into the first one's body: shared blocks.
  if (blocked && count >= 2 && shapes[0].blocks > 0) {
    files.ptr[1].setWhere(files.ptr[0].where());
    files.ptr[1].setRecords(shapes[0].blocks);
  }
  return files;
}

}  // namespace

std::string BoardImage::ConferenceFile(uint32_t conference, const char* extension) {
  return "MESSAGE/" + board::ConferenceFileName(conference, extension);
}

ConferenceBytes BoardImage::Conference(uint32_t conference) const {
  const auto get = [&](const char* extension) {
    auto it = files.find(ConferenceFile(conference, extension));
    return it == files.end() ? std::string() : it->second;
  };
  return {get("PTR"), get("IDX"), get("DAT")};
}

void BoardImage::SetConference(uint32_t conference, const ConferenceBytes& bytes) {
  files[ConferenceFile(conference, "PTR")] = bytes.ptr;
  files[ConferenceFile(conference, "IDX")] = bytes.idx;
  files[ConferenceFile(conference, "DAT")] = bytes.dat;
}

BoardImage ImageOf(const std::vector<std::pair<uint32_t, board::ConferenceFiles>>& conferences,
                   const std::vector<uint32_t>& companions) {
  BoardImage image;
  std::vector<std::string> names;
  for (const auto& [number, files] : conferences) {
    if (names.size() < number) names.resize(number);
    names[number - 1] = "Conference " + std::to_string(number);
    image.SetConference(number, ToBytes(files));
    image.conferences.push_back(number);
  }
  for (uint32_t number : companions) {
    image.files["MESSAGE/" + board::ConferenceFileName(number, "LMR")] = Pattern("last-read", 300);
    image.files["MESSAGE/" + board::ConferenceFileName(number, "SIG")] = Pattern("signature", 130);
  }
  image.files["TWMCONF.DAT"] = Text(board::ConferenceConfigBytes(names));
  image.files["WORK/TWWHOSON.DAT"] = Text(board::CallerTableBytes({}, 1536));
  image.files["MESSAGE/TWOUTBOUND.SEQ"] = "0042";
  return image;
}

bool LayOut(Os& os, const std::string& home, const BoardImage& image) {
  bool ok = true;
  for (const char* directory : {"", "/WORK", "/MESSAGE"}) {
    const std::string path = home + directory;
    if (os.GetPathKind(path) != PathKind::kDirectory) ok = ok && os.CreateDirectory(path);
  }
  for (const auto& [path, bytes] : image.files) {
    std::unique_ptr<OsFile> file = os.CreateNew(home + "/" + path);
    ok = ok && file && WriteExact(*file, bytes.data(), static_cast<uint32_t>(bytes.size())) &&
         file->Close();
  }
  return ok;
}

board::ConferenceFiles ReorderOnlyConference() {
  std::vector<MessageShape> shapes;
  for (int32_t n = 1; n <= 9; ++n) shapes.push_back(board::Root(n, 1));
  shapes.push_back(board::Deleted(board::Bodyless(board::Root(10))));
  return Place(shapes, Reversed(shapes.size()));
}

BoardImage MixedBoard() {
  using namespace board;
  MessageShape stale = Reply(7, 6, 1);
  stale.staleIdx = true;
  const std::vector<MessageShape> pack = {
      Root(1, 2), Deleted(Reply(2, 1, 3)), Reply(3, 1, 1), Deleted(Root(4, 1)), Reply(5, 4, 2),
      Bodyless(Root(6)), stale, Danger(8, 1), Deleted(Bodyless(Root(9))), Reply(10, 11, 1),
      Deleted(Root(11, 1))};
  const std::vector<MessageShape> repair = {Root(1, 1), Danger(2, 1), Reply(3, 99, 1)};
  const std::vector<MessageShape> clean = {Root(1, 1), Reply(2, 1, 1)};
  return ImageOf({{1, ReorderOnlyConference()},
                  {2, Place(pack, Reversed(pack.size()))},
                  {3, Place(repair, {0, 1, 2})},
                  {4, Place(clean, {1, 0})}},
                 {1});
}

BoardImage RandomBoard(uint32_t seed) {
  std::mt19937 random(seed * 2654435761u + 7);
  std::vector<std::pair<uint32_t, board::ConferenceFiles>> conferences;
  std::vector<uint32_t> companions;
  const uint32_t count = 2 + static_cast<uint32_t>(random() % 3);
  for (uint32_t c = 1; c <= count; ++c) {
    conferences.emplace_back(c, RandomConference(random, random() % 3 == 0, c == count));
    if (random() % 2 == 0) companions.push_back(c);
  }
  BoardImage image = ImageOf(conferences, companions);
  image.selector = "/CONF1.." + std::to_string(count - 1);
  return image;
}

}  // namespace twtrim::test
