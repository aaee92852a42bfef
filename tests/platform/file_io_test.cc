// Records read through the 32 KiB buffer must come out exactly as in the
// file, whatever the system's reads deliver, and a short or failed transfer
// is a failure, never silently retried or padded.
#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/fault_os.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

class FileIoTest : public ::testing::Test {
 protected:
  FileIoTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_) {}

  // Writes a patterned file of `size` bytes and opens it through the FaultOs.
  std::unique_ptr<OsFile> Open(size_t size) {
    content_.resize(size);
    for (size_t i = 0; i < size; ++i) content_[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    EXPECT_TRUE(dir_.Write("F", content_));
    return os_.OpenSharedRead(dir_.Path("F"));
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  std::string content_;
};

TEST_F(FileIoTest, ExactTransfersFailOnShortOrFailedCalls) {
  std::unique_ptr<OsFile> file = Open(6);
  char buffer[8] = {};
  EXPECT_TRUE(ReadExact(*file, buffer, 4));
  EXPECT_FALSE(ReadExact(*file, buffer, 4));  // only 2 bytes remain
  os_.FailNthCall(OsCall::kRead, 1);          // counted from now: the next read
  ASSERT_TRUE(file->Seek(0));
  EXPECT_FALSE(ReadExact(*file, buffer, 1));

  std::unique_ptr<OsFile> out = os_.CreateNew(dir_.Path("OUT"));
  os_.ShortNthCall(OsCall::kWrite, 2);
  EXPECT_TRUE(WriteExact(*out, "12345", 5));
  EXPECT_FALSE(WriteExact(*out, "abcdef", 6));
  EXPECT_TRUE(out->Close());
  EXPECT_EQ(dir_.Read("OUT"), "12345abc");  // the rest is not written behind the caller's back
}

TEST_F(FileIoTest, BufferedReaderDeliversRecordsAcrossRefills) {
  const struct {
    const char* name;
    uint32_t recordSize;
    std::vector<uint64_t> shortReads;  // which system reads deliver only half
  } cases[] = {
      {"whole buffers, 256-byte records", 256, {}},
      {"records straddle buffer ends", 100, {}},
      {"system delivers short reads", 100, {1, 2, 4}},
      {"record as large as the buffer", kTransferBufferSize, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    os_.ClearFaults();
    for (uint64_t n : c.shortReads) os_.ShortNthCall(OsCall::kRead, n);
    std::unique_ptr<OsFile> file = Open(3 * kTransferBufferSize);
    BufferedReader reader(*file);
    std::string record(c.recordSize, '\0');
    size_t offset = 0;
    for (; offset + c.recordSize <= content_.size(); offset += c.recordSize) {
      ASSERT_TRUE(reader.ReadExact(record.data(), c.recordSize)) << "at " << offset;
      ASSERT_EQ(record, content_.substr(offset, c.recordSize)) << "at " << offset;
    }
    // Fewer bytes left than a record: the read fails instead of padding.
    if (offset < content_.size()) {
      EXPECT_FALSE(reader.ReadExact(record.data(), c.recordSize));
    }
  }
}

TEST_F(FileIoTest, BufferedReaderReadsInLargeBlocks) {
  std::unique_ptr<OsFile> file = Open(2 * kTransferBufferSize);
  BufferedReader reader(*file);
  char record[16];
  for (size_t i = 0; i < content_.size() / sizeof record; ++i) {
    ASSERT_TRUE(reader.ReadExact(record, sizeof record));
  }
  // 4096 records in two system reads, not one per record.
  EXPECT_EQ(os_.calls(OsCall::kRead), 2u);
}

TEST_F(FileIoTest, BufferedReaderFailsOnErrorAndOnOversizedRecords) {
  char record[20];
  os_.FailNthCall(OsCall::kRead, 1);
  std::unique_ptr<OsFile> file = Open(100);
  EXPECT_FALSE(BufferedReader(*file).ReadExact(record, sizeof record));
  file = Open(kTransferBufferSize + 1);
  std::string big(kTransferBufferSize + 1, '\0');
  EXPECT_FALSE(BufferedReader(*file).ReadExact(big.data(), kTransferBufferSize + 1));
}

}  // namespace
}  // namespace twtrim
