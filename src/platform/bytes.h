// Bytes as the message base and the report see them: little-endian fields,
// ASCII letter case and printable ASCII. Every layer uses these, so they sit
// at the bottom, beside the OS boundary; none of them touches the system.
#pragma once

#include <cstdint>

namespace twtrim {

inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ASCII letters to upper case; every other byte as it is (bytes 128-255,
// code-page letters, compare as they are).
inline char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Space to '~': a byte a report line can show as itself.
inline bool IsPrintableAscii(uint8_t c) { return c >= 32 && c <= 126; }

}  // namespace twtrim
