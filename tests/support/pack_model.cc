#include "support/pack_model.h"

#include <algorithm>
#include <set>

namespace twtrim::test {
namespace {

// Field offsets of the 256-byte header and the 16-byte index entry, written
// out here rather than taken from the program's record types.
constexpr size_t kPtrSize = 256, kIdxSize = 16, kBlock = 128;
constexpr size_t kTM = 155, kTS = 156, kDeleted = 158, kWhere = 160, kRecords = 162;
constexpr size_t kMsgNumber = 166, kOrg = 170;
constexpr size_t kIdxMsgNumber = 8, kIdxOrg = 12;

// One message as it sits in a conference's files: header, index entry, DAT blocks.
struct ModelMessage {
  std::string ptr, idx, body;
};

uint32_t Get(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  }
  return value;
}

void Put(std::string* bytes, size_t at, int width, uint32_t value) {
  for (int i = 0; i < width; ++i) {
    (*bytes)[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  }
}

int32_t Number(const std::string& ptr) { return static_cast<int32_t>(Get(ptr, kMsgNumber, 4)); }
int32_t Org(const std::string& ptr) { return static_cast<int32_t>(Get(ptr, kOrg, 4)); }
uint8_t Byte(const std::string& ptr, size_t at) { return static_cast<uint8_t>(ptr[at]); }
bool IsLive(const ModelMessage& m) { return Byte(m.ptr, kDeleted) == 0; }
bool IsReplyShape(const std::string& ptr) { return Byte(ptr, kTM) == 1 && Byte(ptr, kTS) == 0; }

// No block may belong to two messages and none to no message: a pack of
// such a conference is refused, which this model does not reproduce.
bool BodiesTileTheDat(const ConferenceBytes& files, const std::vector<ModelMessage>& messages) {
  std::vector<uint8_t> used(files.dat.size() / kBlock, 0);
  for (const ModelMessage& m : messages) {
    const uint32_t where = Get(m.ptr, kWhere, 2);
    for (uint32_t b = 0; b < Get(m.ptr, kRecords, 2); ++b) {
      if (used[where + b]++ != 0) return false;
    }
  }
  return std::find(used.begin(), used.end(), 0) == used.end();
}

// The two thread repairs on one kept header: a reply to itself, or to a
// purged parent, becomes a root. A reply whose parent never existed is
// reported, never repaired. True when the header changed.
bool Repair(std::string* ptr, const std::set<int32_t>& keptNumbers,
            const std::set<int32_t>& allNumbers) {
  if (!IsReplyShape(*ptr)) return false;
  const int32_t number = Number(*ptr);
  const int32_t org = Org(*ptr);
  if (org != number && (keptNumbers.count(org) != 0 || allNumbers.count(org) == 0)) return false;
  (*ptr)[kTM] = 0;
  (*ptr)[kTS] = 1;
  Put(ptr, kOrg, 4, static_cast<uint32_t>(number));  // a self-reply keeps its Org anyway
  return true;
}

// The messages of a conference in slot order; false when the images do not
// split into whole records or a body lies outside the DAT.
bool SplitMessages(const ConferenceBytes& files, std::vector<ModelMessage>* messages) {
  messages->clear();
  if (files.ptr.size() % kPtrSize != 0 || files.idx.size() % kIdxSize != 0 ||
      files.dat.size() % kBlock != 0 ||
      files.ptr.size() / kPtrSize != files.idx.size() / kIdxSize) {
    return false;
  }
  const size_t count = files.ptr.size() / kPtrSize;
  for (size_t i = 0; i < count; ++i) {
    ModelMessage m;
    m.ptr = files.ptr.substr(i * kPtrSize, kPtrSize);
    m.idx = files.idx.substr(i * kIdxSize, kIdxSize);
    const size_t where = Get(m.ptr, kWhere, 2), records = Get(m.ptr, kRecords, 2);
    if ((where + records) * kBlock > files.dat.size()) return false;
    m.body = files.dat.substr(where * kBlock, records * kBlock);
    messages->push_back(std::move(m));
  }
  return true;
}

}  // namespace

ExpectedPack PackConference(const ConferenceBytes& original) {
  ExpectedPack result;
  std::vector<ModelMessage> messages;
  if (!SplitMessages(original, &messages) || !BodiesTileTheDat(original, messages)) return result;
  std::set<int32_t> allNumbers, keptNumbers;
  uint32_t purged = 0, repaired = 0;
  for (const ModelMessage& m : messages) {
    allNumbers.insert(Number(m.ptr));
    if (IsLive(m)) keptNumbers.insert(Number(m.ptr));
    purged += IsLive(m) ? 0 : 1;
  }
  for (const ModelMessage& m : messages) {
    const bool orphan =
        IsReplyShape(m.ptr) && Org(m.ptr) != Number(m.ptr) && allNumbers.count(Org(m.ptr)) == 0;
    if (IsLive(m) && orphan && purged > 0) {
      result.verdict = PackVerdict::kBlocked;
      return result;
    }
  }
  uint32_t nextBlock = 0;
  for (const ModelMessage& m : messages) {
    if (!IsLive(m)) continue;
    std::string ptr = m.ptr, idx = m.idx;
    repaired += Repair(&ptr, keptNumbers, allNumbers) ? 1 : 0;
    if (purged > 0) {
      Put(&ptr, kWhere, 2, nextBlock);
      nextBlock += Get(ptr, kRecords, 2);
      result.packed.dat += m.body;
    }
    Put(&idx, kIdxMsgNumber, 4, Get(ptr, kMsgNumber, 4));
    Put(&idx, kIdxOrg, 4, Get(ptr, kOrg, 4));
    result.packed.ptr += ptr;
    result.packed.idx += idx;
  }
  if (purged == 0) result.packed.dat = original.dat;
  result.verdict = purged + repaired > 0 ? PackVerdict::kWritten : PackVerdict::kUntouched;
  if (result.verdict != PackVerdict::kWritten) result.packed = ConferenceBytes{};
  return result;
}

namespace {

// The headers are the same but for what a rebuild may change: Where, and
// TM/TS/Org when the message was made a root.
bool SameHeader(const std::string& before, const std::string& after) {
  std::string a = before, b = after;
  Put(&a, kWhere, 2, 0);
  Put(&b, kWhere, 2, 0);
  const bool madeRoot = IsReplyShape(before) && Byte(after, kTM) == 0 && Byte(after, kTS) == 1 &&
                        (Org(after) == Org(before) || Org(after) == Number(before));
  if (madeRoot) {
    b[kTM] = a[kTM];
    b[kTS] = a[kTS];
    Put(&b, kOrg, 4, Get(a, kOrg, 4));
  }
  return a == b;
}

// A message is whole when its header differs at most by a rebuild's
// changes, its IDX name CRCs are the same and its body is.
bool Whole(const ModelMessage& before, const ModelMessage& after) {
  return SameHeader(before.ptr, after.ptr) &&
         before.idx.compare(0, kIdxMsgNumber, after.idx, 0, kIdxMsgNumber) == 0 &&
         after.body == before.body;
}

}  // namespace

std::vector<int32_t> MissingMessages(const ConferenceBytes& original,
                                     const ConferenceBytes& live) {
  std::vector<ModelMessage> before, after;
  if (!SplitMessages(original, &before)) return {};
  if (!SplitMessages(live, &after)) after.clear();
  std::vector<int32_t> missing;
  for (const ModelMessage& m : before) {
    const bool found = std::ranges::any_of(after, [&](const ModelMessage& a) {
      return Number(a.ptr) == Number(m.ptr) && Whole(m, a);
    });
    if (IsLive(m) && !found) missing.push_back(Number(m.ptr));
  }
  return missing;
}

}  // namespace twtrim::test
