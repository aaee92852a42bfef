// Open-addressing hash set of 32-bit message numbers: multiplicative hash
// 0x9E3779B1, linear probing, no removal, no growth. Sized to more than twice
// the keys it will hold, so it never fills.
#pragma once

#include <cstdint>
#include <memory>

namespace twtrim {

class MessageNumberSet {
 public:
  // Capacity for `requested` keys: 8 doubled while below min(requested, 2^30).
  static uint32_t CapacityFor(uint32_t requested);

  // False when the table cannot be allocated.
  bool Allocate(uint32_t requested);
  void Insert(uint32_t key);
  bool Contains(uint32_t key) const;
  uint32_t capacity() const { return capacity_; }

 private:
  struct Entry {
    uint32_t key;
    uint8_t occupied;
  };
  std::unique_ptr<Entry[]> entries_;
  uint32_t capacity_ = 0;
};

}  // namespace twtrim
