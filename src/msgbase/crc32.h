// CRC-32 (reflected polynomial 0xEDB88320, the CRC of zlib and Ethernet) and
// the 32-bit FNV-1a hash. The CRC runs slicing-by-8 and gives exactly the
// values of the byte-wise table method.
#pragma once

#include <cstddef>
#include <cstdint>

namespace twtrim {

inline constexpr uint32_t kCrc32Start = 0xFFFFFFFFu;
inline constexpr uint32_t kFnvStart = 0x811C9DC5u;
inline constexpr uint32_t kFnvPrime = 0x01000193u;

// Updates a CRC register (start kCrc32Start, complement at the end).
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size);
// The finished CRC-32 of a whole buffer.
uint32_t Crc32(const uint8_t* data, size_t size);
uint32_t FnvUpdate(uint32_t fnv, const uint8_t* data, size_t size);

}  // namespace twtrim
