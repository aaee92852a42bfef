#include "scan/message_number_set.h"

#include <cstdint>

#include "platform/zeroed_memory.h"

namespace twtrim {

namespace {

constexpr uint32_t kMaxCapacity = 1u << 30;

}  // namespace

uint32_t MessageNumberSet::CapacityFor(uint32_t requested) {
  const uint32_t limit = requested < kMaxCapacity ? requested : kMaxCapacity;
  uint32_t cap = 8;
  while (cap < limit) cap *= 2;
  return cap;
}

bool MessageNumberSet::Allocate(uint32_t requested) {
  entries_.reset();
  capacity_ = 0;
  const uint32_t cap = CapacityFor(requested);
  const uint64_t wanted = uint64_t{cap} * sizeof(Entry);
  if (wanted > SIZE_MAX) return false;  // a 32-bit process cannot hold it
  const auto bytes = static_cast<size_t>(wanted);
  auto* block = static_cast<Entry*>(AllocateZeroed(bytes));
  if (block == nullptr) return false;
  entries_ = std::unique_ptr<Entry[], Release>(block, Release{bytes});
  capacity_ = cap;
  return true;
}

void MessageNumberSet::Release::operator()(Entry* p) const { FreeZeroed(p, bytes); }

bool MessageNumberSet::Insert(uint32_t key) {
  if (capacity_ == 0) return false;
  const uint32_t mask = capacity_ - 1;
  const uint32_t home = Home(key);
  uint32_t at = home;
  // Sized to more than twice its keys, the table always has an empty entry;
  // the wrap-around check only keeps a misused set from spinning forever.
  while (entries_[at].occupied != 0) {
    if (entries_[at].key == key) return false;
    at = (at + 1) & mask;
    if (at == home) return false;
  }
  entries_[at].key = key;
  entries_[at].occupied = 1;
  return true;
}

bool MessageNumberSet::Contains(uint32_t key) const {
  if (capacity_ == 0) return false;
  const uint32_t mask = capacity_ - 1;
  const uint32_t home = Home(key);
  uint32_t at = home;
  do {
    const Entry& entry = entries_[at];
    if (entry.occupied == 0) return false;
    if (entry.key == key) return true;
    at = (at + 1) & mask;
  } while (at != home);
  return false;
}

}  // namespace twtrim
