// The name CRC that links an IDX record to the names of its PTR record.
#pragma once

#include <cstdint>

#include "msgbase/records.h"

namespace twtrim {

// CRC-32 of exactly `count` name characters; 0 for an empty name.
uint32_t NameCrc(const uint8_t* characters, uint32_t count);
// A stored CRC matches a computed one plainly or complemented.
bool CrcMatches(uint32_t stored, uint32_t computed);
// Fails on a From length above 30 or a To length above 61 without comparing;
// otherwise both stored CRCs must match their names, each in either form.
bool NameCheck(const PtrRecord& ptr, uint32_t fromCrc, uint32_t toCrc);

}  // namespace twtrim
