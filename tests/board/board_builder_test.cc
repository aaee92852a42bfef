#include "board/board_builder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "msgbase/name_crc.h"
#include "support/temp_dir.h"

namespace twtrim::board {
namespace {

std::string FromName(const PtrRecord& ptr) {
  return std::string(reinterpret_cast<const char*>(&ptr.bytes[PtrRecord::kFrom]), ptr.fromLength());
}

TEST(BoardBuilderTest, PtrRecordHoldsTheMessageFields) {
  MessageSpec spec = Reply(4711, 4700, 3);
  spec.from = "Ada Brennan";
  spec.to = "All";
  spec.subject = "Re: Swap meet";
  const PtrRecord ptr = MakePtrRecord(spec, 65530);
  EXPECT_EQ(FromName(ptr), "Ada Brennan");
  EXPECT_EQ(ptr.toLength(), 3);
  EXPECT_EQ(ptr.bytes[PtrRecord::kTo], 'A');
  EXPECT_EQ(ptr.subjectLength(), 13);
  EXPECT_EQ(ptr.tm(), 1);
  EXPECT_EQ(ptr.ts(), 0);
  EXPECT_EQ(ptr.deleted(), 0);
  EXPECT_EQ(ptr.where(), 65530);
  EXPECT_EQ(ptr.records(), 3);
  EXPECT_EQ(ptr.msgNumber(), 4711);
  EXPECT_EQ(ptr.org(), 4700);
}

// The opaque bytes must differ between records, or a rebuild that copies
// them from the wrong record would go unnoticed.
TEST(BoardBuilderTest, OpaqueBytesDifferBetweenRecords) {
  const PtrRecord a = MakePtrRecord(Root(1), 0);
  const PtrRecord b = MakePtrRecord(Root(2), 0);
  for (size_t offset : {0u, 17u, 157u, 159u, 164u, 165u, 174u, 255u}) {
    EXPECT_NE(a.bytes[offset], b.bytes[offset]) << "offset " << offset;
  }
}

TEST(BoardBuilderTest, IdxRecordShapes) {
  MessageSpec spec = Root(77);
  spec.from = "Tom Kettle";
  spec.to = "Sysop";
  const PtrRecord ptr = MakePtrRecord(spec, 0);
  const uint32_t from = NameCrc(reinterpret_cast<const uint8_t*>("Tom Kettle"), 10);
  const uint32_t to = NameCrc(reinterpret_cast<const uint8_t*>("Sysop"), 5);

  IdxRecord idx = MakeIdxRecord(spec, ptr);
  EXPECT_EQ(idx.fromCrc(), from);
  EXPECT_EQ(idx.toCrc(), to);
  EXPECT_EQ(idx.msgNumber(), 77);
  EXPECT_EQ(idx.org(), 77);

  spec.complementToCrc = true;
  spec.wrongFromCrc = true;
  spec.staleIdx = true;
  idx = MakeIdxRecord(spec, ptr);
  EXPECT_FALSE(CrcMatches(idx.fromCrc(), from));
  EXPECT_EQ(idx.toCrc(), ~to);
  EXPECT_NE(idx.msgNumber(), 77);
  EXPECT_FALSE(NameCheck(ptr, idx.fromCrc(), idx.toCrc()));
}

TEST(BoardBuilderTest, BodiesGetFreshUniqueBlocks) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));
  b.Add(Bodyless(Reply(2, 1)));
  MessageSpec pinned = Reply(3, 1, 2);
  pinned.where = 0;  // lies over the root's body; allocates nothing
  b.Add(pinned);
  b.Add(Reply(4, 1, 1));
  b.AddUnreferencedBlocks(1);
  const ConferenceFiles& f = b.files();
  ASSERT_EQ(f.datBlocks(), 4u);
  EXPECT_EQ(f.ptr[0].where(), 0);
  EXPECT_EQ(f.ptr[1].where(), 2);  // a bodyless record points at the next free block
  EXPECT_EQ(f.ptr[2].where(), 0);
  EXPECT_EQ(f.ptr[3].where(), 2);
  std::set<std::vector<uint8_t>> distinct;
  for (uint32_t i = 0; i < f.datBlocks(); ++i) {
    const std::vector<uint8_t> block(f.dat.begin() + i * kDatBlockSize,
                                     f.dat.begin() + (i + 1) * kDatBlockSize);
    EXPECT_EQ(block, BlockPattern(i));
    distinct.insert(block);
  }
  EXPECT_EQ(distinct.size(), 4u);
}

TEST(BoardBuilderTest, WrittenFilesHoldTheRecordsInSlotOrder) {
  TempDir dir;
  ConferenceBuilder b;
  b.Add(Root(10, 1));
  b.Add(Reply(11, 10, 2));
  ASSERT_TRUE(WriteConference(dir.path(), 12, b.files()));
  std::vector<uint8_t> ptr, idx, dat;
  ASSERT_TRUE(ReadFileBytes(dir.Path("TWMSG12.PTR"), &ptr));
  ASSERT_TRUE(ReadFileBytes(dir.Path("TWMSG12.IDX"), &idx));
  ASSERT_TRUE(ReadFileBytes(dir.Path("TWMSG12.DAT"), &dat));
  ASSERT_EQ(ptr.size(), 512u);
  ASSERT_EQ(idx.size(), 32u);
  EXPECT_EQ(dat.size(), 3u * kDatBlockSize);
  EXPECT_TRUE(
      std::equal(b.files().ptr[1].bytes.begin(), b.files().ptr[1].bytes.end(), ptr.begin() + 256));
  EXPECT_TRUE(
      std::equal(b.files().idx[1].bytes.begin(), b.files().idx[1].bytes.end(), idx.begin() + 16));
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

TEST(BoardBuilderTest, ConfigAndCallerTableLayout) {
  const std::vector<uint8_t> config = ConferenceConfigBytes({"General", std::string(70, 'x')});
  ASSERT_EQ(config.size(), 256u);
  EXPECT_EQ(config[3], 7);
  EXPECT_EQ(std::string(config.begin() + 4, config.begin() + 11), "General");
  EXPECT_EQ(config[128 + 3], 70);  // a long name keeps its length byte; 64 characters fit
  EXPECT_EQ(config[128 + 4 + 63], 'x');

  const std::vector<uint8_t> table = CallerTableBytes({{3, CallerSlot{42, 'M'}}}, 1536);
  ASSERT_EQ(table.size(), 1536u);
  EXPECT_EQ(table[0], 0xFF);  // slot 1 idle: UserNo 65535
  EXPECT_EQ(table[1], 0xFF);
  EXPECT_EQ(table[12], 42);  // slot 3 at offset 12
  EXPECT_EQ(table[13], 0);
  EXPECT_EQ(table[14], 'M');
  EXPECT_EQ(table[1530], 0xFF);  // the 256th record is idle too
}

TEST(BoardBuilderTest, CreateBoardLaysOutTheHome) {
  TempDir dir;
  Board board;
  ASSERT_TRUE(CreateBoard(dir.Path("home"), {"One", "Two"}, &board));
  EXPECT_EQ(dir.Read("home/TWMCONF.DAT").size(), 256u);
  EXPECT_EQ(dir.Read("home/WORK/TWWHOSON.DAT").size(), 1536u);
  EXPECT_TRUE(dir.Exists("home/MESSAGE"));
  Board bare;
  ASSERT_TRUE(CreateBoard(dir.Path("bare"), {}, &bare));
  EXPECT_FALSE(dir.Exists("bare/TWMCONF.DAT"));
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
