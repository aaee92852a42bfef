#include "board/board_builder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "msgbase/name_crc.h"
#include "support/temp_dir.h"

namespace twtrim::board {
namespace {

// The opaque bytes must differ between records, or a rebuild that copies
// them from the wrong record would go unnoticed.
TEST(BoardBuilderTest, OpaqueBytesDifferBetweenRecords) {
  const PtrRecord a = MakePtrRecord(Root(1), 0);
  const PtrRecord b = MakePtrRecord(Root(2), 0);
  for (size_t offset : {0u, 17u, 157u, 159u, 164u, 165u, 174u, 255u}) {
    EXPECT_NE(a.bytes[offset], b.bytes[offset]) << "offset " << offset;
  }
}

// Every body block differs, or a rebuild moving the wrong block would pass.
TEST(BoardBuilderTest, BodiesGetFreshUniqueBlocks) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));
  b.Add(Bodyless(Reply(2, 1)));
  b.Add(Reply(3, 1, 1));
  b.AddUnreferencedBlocks(1);
  const ConferenceFiles& f = b.files();
  EXPECT_EQ(f.ptr[1].where(), 2);  // a bodyless record points at the next free block
  EXPECT_EQ(f.ptr[2].where(), 2);
  std::set<std::vector<uint8_t>> distinct;
  for (size_t at = 0; at < f.dat.size(); at += kDatBlockSize) {
    distinct.emplace(f.dat.begin() + at, f.dat.begin() + at + kDatBlockSize);
  }
  EXPECT_EQ(distinct.size(), 4u);
  EXPECT_EQ(f.datBlocks(), 4u);
}

// The large benchmark conferences are streamed; they must be the very same
// files the in-memory builder writes for the same messages.
TEST(BoardBuilderTest, StreamWriterMatchesTheInMemoryBuilder) {
  TempDir dir;
  ASSERT_TRUE(dir.MakeDirectory("a"));
  ASSERT_TRUE(dir.MakeDirectory("b"));
  const ConferenceFiles memory = RandomConference(7, 300, 10, 3);
  ASSERT_TRUE(WriteConference(dir.Path("a"), 1, memory));

  RandomMessageSource source(7, 10, 3);
  ConferenceStreamWriter writer;
  ASSERT_TRUE(writer.Open(dir.Path("b"), 1));
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(writer.Add(source.Next()));
  ASSERT_TRUE(writer.Close());
  EXPECT_EQ(writer.records(), 300u);
  EXPECT_EQ(writer.datBlocks(), memory.datBlocks());
  for (const char* ext : {"PTR", "IDX", "DAT"}) {
    EXPECT_EQ(dir.Read(std::string("a/TWMSG01.") + ext), dir.Read(std::string("b/TWMSG01.") + ext))
        << ext;
  }
}

// The safety tests judge the program's reading of the caller table against
// this layout: 6-byte slots, UserNo then status.
TEST(BoardBuilderTest, CallerTableLayout) {
  const std::vector<uint8_t> table = CallerTableBytes({{3, CallerSlot{42, 'M'}}}, 1536);
  ASSERT_EQ(table.size(), 1536u);
  EXPECT_EQ((std::vector<uint8_t>(table.begin(), table.begin() + 2)),
            (std::vector<uint8_t>{0xFF, 0xFF}));  // slot 1 idle: UserNo 65535
  EXPECT_EQ((std::vector<uint8_t>(table.begin() + 12, table.begin() + 15)),
            (std::vector<uint8_t>{42, 0, 'M'}));  // slot 3 at offset 12
  EXPECT_EQ(table[1530], 0xFF);                   // the 256th record is idle too
}

// Random conferences promise a packable base: unique numbers, replies to
// existing numbers, every block used exactly once, DAT within 65,536 blocks.
TEST(RandomConferenceTest, IsPackableAndDeterministic) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const ConferenceFiles f = RandomConference(seed, 2000, 20, 6);
    EXPECT_EQ(f.PtrBytes(), RandomConference(seed, 2000, 20, 6).PtrBytes());
    std::set<int32_t> numbers;
    std::vector<int> uses(f.datBlocks(), 0);
    uint32_t deleted = 0;
    for (size_t i = 0; i < f.ptr.size(); ++i) {
      const PtrRecord& p = f.ptr[i];
      EXPECT_TRUE(numbers.insert(p.msgNumber()).second) << "duplicate at slot " << i + 1;
      if (p.isReply()) {
        EXPECT_TRUE(numbers.count(p.org())) << "orphan at slot " << i + 1;
      }
      EXPECT_TRUE(NameCheck(p, f.idx[i].fromCrc(), f.idx[i].toCrc()));
      ASSERT_LE(uint32_t{p.where()} + p.records(), f.datBlocks());
      for (uint32_t b = p.where(); b < p.where() + p.records(); ++b) ++uses[b];
      deleted += p.deleted();
    }
    for (size_t b = 0; b < uses.size(); ++b) ASSERT_EQ(uses[b], 1) << "block " << b;
    EXPECT_GT(deleted, 300u);
    EXPECT_LT(deleted, 500u);
  }
  EXPECT_NE(RandomConference(1, 50, 20, 6).PtrBytes(), RandomConference(2, 50, 20, 6).PtrBytes());
}

TEST(RandomConferenceTest, DatStaysAddressable) {
  RandomMessageSource source(5, 0, 200);
  uint64_t blocks = 0;
  for (int i = 0; i < 2000; ++i) blocks += source.Next().blocks;
  EXPECT_LE(blocks, kMaxDatBlocks);
  EXPECT_GT(blocks, 60000u);
}

}  // namespace
}  // namespace twtrim::board
