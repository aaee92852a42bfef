// Exact and buffered I/O on an open OsFile, shared by the scan, the staged
// rebuild and the copies.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/os.h"

namespace twtrim {

inline constexpr uint32_t kTransferBufferSize = 32768;

// True when the read succeeded and delivered exactly `count` bytes.
bool ReadExact(OsFile& file, void* buffer, uint32_t count);
// True when the write succeeded and took exactly `count` bytes.
bool WriteExact(OsFile& file, const void* buffer, uint32_t count);

// Reads `file` from its position to its end through `buffer` (at least
// kTransferBufferSize bytes), handing every piece read to `take(data, count)`
// in order. False when a read fails or `take` returns false.
template <typename Take>
bool ReadToEnd(OsFile& file, uint8_t* buffer, Take take) {
  for (;;) {
    uint32_t got = 0;
    if (!file.Read(buffer, kTransferBufferSize, &got)) return false;
    if (got == 0) return true;
    if (!take(static_cast<const uint8_t*>(buffer), got)) return false;
  }
}

// Sequential reader through a 32 KiB buffer: records are read in order
// without one system call per record.
class BufferedReader {
 public:
  explicit BufferedReader(OsFile& file);
  // Fills `count` bytes (at most the buffer size); false on a failed or short read.
  bool ReadExact(void* destination, uint32_t count);

 private:
  OsFile& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t begin_ = 0, end_ = 0;
};

}  // namespace twtrim
