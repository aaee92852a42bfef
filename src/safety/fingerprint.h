// Whole-file fingerprint: 64-bit size, FNV-1a and CRC-32 of every byte. The
// program's only means of deciding that two files, or one file at two
// moments, are equal.
#pragma once

#include <cstdint>
#include <string>

#include "msgbase/crc32.h"
#include "platform/os.h"

namespace twtrim {

struct FileFingerprint {
  uint64_t size = 0;
  uint32_t fnv = 0;
  uint32_t crc = 0;

  friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

// The fingerprint of bytes fed in file order, for readers that need the
// bytes themselves as well as the proof of what they were.
class FingerprintHasher {
 public:
  void Update(const uint8_t* data, size_t size);
  // The fingerprint of everything fed so far.
  FileFingerprint Result() const { return {size_, fnv_, ~crc_}; }

 private:
  uint64_t size_ = 0;
  uint32_t fnv_ = kFnvStart;
  uint32_t crc_ = kCrc32Start;
};

// Reads the whole file in 32 KiB blocks. `*result` is written only on
// success; a file whose length changes while it is read fails.
bool FingerprintFile(Os& os, const std::string& path, FileFingerprint* result);

}  // namespace twtrim
