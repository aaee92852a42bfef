#include "msgbase/crc32.h"

#include <array>

#include "platform/bytes.h"

namespace twtrim {
namespace {

constexpr uint32_t kCrc32Polynomial = 0xEDB88320u;

// Table k maps a byte that still has k more bytes to pass through the
// register; table 0 is the classic byte-wise table. Built at compile time,
// so there is no first-use race and nothing to initialise.
using SliceTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SliceTables MakeSliceTables() {
  SliceTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
  }
  return t;
}

constexpr SliceTables kTables = MakeSliceTables();

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  // Eight bytes per step: the low word is folded into the register, the high
  // word passes through untouched, and eight table lookups finish the step.
  while (size >= 8) {
    const uint32_t low = crc ^ Load32(data);
    const uint32_t high = Load32(data + 4);
    crc = kTables[7][low & 0xFFu] ^ kTables[6][(low >> 8) & 0xFFu] ^
          kTables[5][(low >> 16) & 0xFFu] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFFu] ^
          kTables[2][(high >> 8) & 0xFFu] ^ kTables[1][(high >> 16) & 0xFFu] ^
          kTables[0][high >> 24];
    data += 8;
    size -= 8;
  }
  while (size-- != 0) crc = (crc >> 8) ^ kTables[0][(crc ^ *data++) & 0xFFu];
  return crc;
}

uint32_t Crc32(const uint8_t* data, size_t size) { return ~Crc32Update(kCrc32Start, data, size); }

uint32_t FnvUpdate(uint32_t fnv, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) fnv = (fnv ^ data[i]) * kFnvPrime;
  return fnv;
}

}  // namespace twtrim
