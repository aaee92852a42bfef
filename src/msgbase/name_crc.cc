#include "msgbase/name_crc.h"

#include "msgbase/crc32.h"

namespace twtrim {

uint32_t NameCrc(const uint8_t* characters, uint32_t count) {
  if (count == 0) return 0;
  return Crc32(characters, count);
}

bool CrcMatches(uint32_t stored, uint32_t computed) {
  return stored == computed || stored == ~computed;
}

bool NameCheck(const PtrRecord& ptr, uint32_t fromCrc, uint32_t toCrc) {
  // An over-long length would take characters from the next field: no CRC
  // over such a name means anything.
  if (ptr.fromLength() > kFromLimit || ptr.toLength() > kToLimit) return false;
  const uint32_t from = NameCrc(&ptr.bytes[PtrRecord::kFrom], ptr.fromLength());
  const uint32_t to = NameCrc(&ptr.bytes[PtrRecord::kTo], ptr.toLength());
  return CrcMatches(fromCrc, from) && CrcMatches(toCrc, to);
}

}  // namespace twtrim
