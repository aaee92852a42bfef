// Whole-file fingerprint: 64-bit size, FNV-1a and CRC-32 of every byte. The
// program's only means of deciding that two files, or one file at two
// moments, are equal.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"

namespace twtrim {

struct FileFingerprint {
  uint64_t size = 0;
  uint32_t fnv = 0;
  uint32_t crc = 0;

  friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

// Reads the whole file in 32 KiB blocks. `*result` is written only on
// success; a file whose length changes while it is read fails.
bool FingerprintFile(Os& os, const std::string& path, FileFingerprint* result);

}  // namespace twtrim
