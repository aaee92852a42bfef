#include "platform/file_io.h"

#include <cstring>

namespace twtrim {

// One system call each: a short transfer is a failure, never retried.
bool ReadExact(OsFile& file, void* buffer, uint32_t count) {
  uint32_t got = 0;
  return file.Read(buffer, count, &got) && got == count;
}

bool WriteExact(OsFile& file, const void* buffer, uint32_t count) {
  uint32_t put = 0;
  return file.Write(buffer, count, &put) && put == count;
}

BufferedReader::BufferedReader(OsFile& file)
    : file_(file), buffer_(new uint8_t[kTransferBufferSize]) {}

bool BufferedReader::ReadExact(void* destination, uint32_t count) {
  if (count > kTransferBufferSize) return false;
  if (end_ - begin_ < count) {
    // Keep the unread tail, then refill behind it. A read that delivers less
    // than asked is not an error here; only the end of the file (0 bytes)
    // or a failure leaves the request unfilled.
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < count) {
      uint32_t got = 0;
      if (!file_.Read(buffer_.get() + end_, kTransferBufferSize - end_, &got)) return false;
      if (got == 0) return false;
      end_ += got;
    }
  }
  std::memcpy(destination, buffer_.get() + begin_, count);
  begin_ += count;
  return true;
}

}  // namespace twtrim
