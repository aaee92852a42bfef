#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

namespace twtrim {
namespace {

// An in-memory file whose reads deliver at most the next scripted chunk size
// (or everything asked once the script is used up), and which can be told to
// fail its next read or to accept only part of a write.
class ScriptedFile : public OsFile {
 public:
  explicit ScriptedFile(std::string content) : content_(std::move(content)) {}

  std::deque<uint32_t> readChunks;  // 0 in the script makes that read fail
  uint32_t writeLimit = UINT32_MAX;
  int reads = 0;
  std::string written;

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    ++reads;
    *got = 0;
    uint32_t limit = count;
    if (!readChunks.empty()) {
      limit = readChunks.front();
      readChunks.pop_front();
      if (limit == 0) return false;
    }
    size_t left = content_.size() - position_;
    *got = static_cast<uint32_t>(std::min<size_t>({count, limit, left}));
    std::memcpy(buffer, content_.data() + position_, *got);
    position_ += *got;
    return true;
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
    *put = std::min(count, writeLimit);
    written.append(static_cast<const char*>(buffer), *put);
    return true;
  }
  bool Seek(uint64_t offset) override {
    position_ = static_cast<size_t>(offset);
    return true;
  }
  bool SeekToEnd() override { return Seek(content_.size()); }
  bool Size(uint64_t* size) override {
    *size = content_.size();
    return true;
  }
  bool Flush() override { return true; }
  bool Close() override { return true; }

 private:
  std::string content_;
  size_t position_ = 0;
};

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

TEST(FileIoTest, ReadExactFailsOnShortOrFailedRead) {
  ScriptedFile file("abcdef");
  char buffer[8] = {};
  EXPECT_TRUE(ReadExact(file, buffer, 4));
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  // Only 2 bytes remain: a short read is not retried and counts as failure.
  EXPECT_FALSE(ReadExact(file, buffer, 4));
  file.Seek(0);
  file.readChunks = {0};
  EXPECT_FALSE(ReadExact(file, buffer, 1));
}

TEST(FileIoTest, WriteExactFailsWhenTheSystemTakesLess) {
  ScriptedFile file("");
  EXPECT_TRUE(WriteExact(file, "12345", 5));
  file.writeLimit = 3;
  EXPECT_FALSE(WriteExact(file, "abcde", 5));
  // One call only: the remainder is not written behind the caller's back.
  EXPECT_EQ(file.written, "12345abc");
}

// Records read through the buffer must come out exactly as in the file, in
// order, whatever sizes the system's reads happen to deliver.
TEST(FileIoTest, BufferedReaderDeliversRecordsAcrossRefills) {
  struct Case {
    const char* name;
    uint32_t recordSize;
    std::deque<uint32_t> chunks;
  };
  const Case cases[] = {
      {"whole buffers, 256-byte records", 256, {}},
      {"records straddle buffer ends", 100, {}},
      {"system delivers short reads", 16, {5, 4096, 1, 7000}},
      {"record as large as the buffer", kTransferBufferSize, {}},
  };
  const std::string content = Pattern(3 * kTransferBufferSize);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedFile file(content);
    file.readChunks = c.chunks;
    BufferedReader reader(file);
    std::string record(c.recordSize, '\0');
    size_t offset = 0;
    while (offset + c.recordSize <= content.size()) {
      ASSERT_TRUE(reader.ReadExact(record.data(), c.recordSize)) << "at " << offset;
      ASSERT_EQ(record, content.substr(offset, c.recordSize)) << "at " << offset;
      offset += c.recordSize;
    }
    // Fewer bytes left than a record: the read fails instead of padding.
    if (offset < content.size()) {
      EXPECT_FALSE(reader.ReadExact(record.data(), c.recordSize));
    }
  }
}

TEST(FileIoTest, BufferedReaderReadsInLargeBlocks) {
  const std::string content = Pattern(2 * kTransferBufferSize);
  ScriptedFile file(content);
  BufferedReader reader(file);
  char record[16];
  for (size_t i = 0; i < content.size() / sizeof record; ++i) {
    ASSERT_TRUE(reader.ReadExact(record, sizeof record));
  }
  // 4096 records of 16 bytes in two system reads, not one read per record.
  EXPECT_EQ(file.reads, 2);
}

TEST(FileIoTest, BufferedReaderStopsAtEndAndOnFailure) {
  ScriptedFile empty("");
  BufferedReader atEnd(empty);
  char byte;
  EXPECT_FALSE(atEnd.ReadExact(&byte, 1));

  ScriptedFile failing(Pattern(100));
  failing.readChunks = {10, 0};
  BufferedReader reader(failing);
  char record[20];
  EXPECT_FALSE(reader.ReadExact(record, sizeof record));
}

TEST(FileIoTest, BufferedReaderResetForgetsBufferedBytesAfterSeek) {
  const std::string content = Pattern(1000);
  ScriptedFile file(content);
  BufferedReader reader(file);
  char record[10];
  ASSERT_TRUE(reader.ReadExact(record, sizeof record));
  file.Seek(500);
  reader.Reset();
  ASSERT_TRUE(reader.ReadExact(record, sizeof record));
  EXPECT_EQ(std::string(record, sizeof record), content.substr(500, 10));
}

TEST(FileIoTest, BufferedReaderRefusesRecordsLargerThanItsBuffer) {
  ScriptedFile file(Pattern(kTransferBufferSize + 1));
  BufferedReader reader(file);
  std::string big(kTransferBufferSize + 1, '\0');
  EXPECT_FALSE(reader.ReadExact(big.data(), kTransferBufferSize + 1));
}

}  // namespace
}  // namespace twtrim
