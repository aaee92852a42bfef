#include "scan/message_number_set.h"

#include <new>

namespace twtrim {

namespace {

constexpr uint32_t kMaxCapacity = 1u << 30;
constexpr uint32_t kGoldenRatio = 0x9E3779B1u;

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
  try {
    entries_.reset(new Entry[cap]());
  } catch (const std::bad_alloc&) {
    return false;
  }
  capacity_ = cap;
  return true;
}

void MessageNumberSet::Insert(uint32_t key) {
  if (capacity_ == 0) return;
  const uint32_t mask = capacity_ - 1;
  const uint32_t home = (key * kGoldenRatio) & mask;
  uint32_t at = home;
  // Sized to more than twice its keys, the table always has an empty entry;
  // the wrap-around check only keeps a misused set from spinning forever.
  while (entries_[at].occupied != 0 && entries_[at].key != key) {
    at = (at + 1) & mask;
    if (at == home) return;
  }
  entries_[at].key = key;
  entries_[at].occupied = 1;
}

bool MessageNumberSet::Contains(uint32_t key) const {
  if (capacity_ == 0) return false;
  const uint32_t mask = capacity_ - 1;
  const uint32_t home = (key * kGoldenRatio) & mask;
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
