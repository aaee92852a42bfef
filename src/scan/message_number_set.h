// Open-addressing hash set of 32-bit message numbers: multiplicative hash
// 0x9E3779B1, linear probing, no removal, no growth. Sized to more than twice
// the keys it will hold, so it never fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace twtrim {

class MessageNumberSet {
 public:
  // Capacity for `requested` keys: 8 doubled while below min(requested, 2^30).
  static uint32_t CapacityFor(uint32_t requested);

  // False when the table cannot be allocated.
  bool Allocate(uint32_t requested);
  // True when the key was not in the set before.
  bool Insert(uint32_t key);
  bool Contains(uint32_t key) const;
  // Hints that `key` will be looked up soon. The tables are far larger than
  // the caches and the hash scatters neighbouring numbers, so a scan that
  // asks ahead of time keeps many memory reads in flight instead of one.
  void Prefetch(uint32_t key) const {
    if (capacity_ != 0) __builtin_prefetch(&entries_[Home(key)]);
  }
  uint32_t capacity() const { return capacity_; }

 private:
  uint32_t Home(uint32_t key) const { return (key * 0x9E3779B1u) & (capacity_ - 1); }

  struct Entry {
    uint32_t key;
    uint8_t occupied;
  };
  struct Release {
    size_t bytes;
    void operator()(Entry* p) const;
  };
  std::unique_ptr<Entry[], Release> entries_;
  uint32_t capacity_ = 0;
};

}  // namespace twtrim
