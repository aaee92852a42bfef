// BuildStagedFiles on real boards: the packed bytes of the .NEW files. The
// refusals and failures are covered through whole runs and the fault sweep.
#include "write/staged_rebuild.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_io.h"
#include "write/write_fixture.h"

namespace twtrim {
namespace {

using board::Bodyless;
using board::ConferenceBuilder;
using board::Danger;
using board::Deleted;
using board::Reply;
using board::Root;

class StagedRebuildTest : public WriteTest {
 protected:
  // Builds and expects success, live files untouched and nothing printed.
  void BuildOk(ConferencePlan* plan) {
    const std::vector<std::string> live = LiveBytes(*plan);
    ASSERT_TRUE(BuildStagedFiles(os_, out_, plan, SnapshotOf(*plan)));
    EXPECT_EQ(LiveBytes(*plan), live);
    EXPECT_EQ(os_.stdoutText(), "");
  }
};

PtrRecord WithWhere(PtrRecord record, uint16_t where) {
  record.setWhere(where);
  return record;
}

PtrRecord Detached(PtrRecord record, bool ownOrg) {
  record.setTM(0);
  record.setTS(1);
  if (ownOrg) record.setOrg(record.msgNumber());
  return record;
}

IdxRecord WithOrg(IdxRecord record, int32_t org) {
  record.setOrg(org);
  return record;
}

// Each expected record is the original with only TM, TS, Where or Org set:
// the whole-image comparisons prove every other byte (0..17, 157, 159,
// 164..165, 174..255 among them) carried over untouched.
TEST_F(StagedRebuildTest, PurgeCompactsBodiesAndRenumbersWhere) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));           // blocks 0..1
  b.Add(Deleted(Root(2, 3)));  // blocks 2..4
  b.Add(Root(3, 1));           // block 5
  ConferencePlan plan = PlanFor(5, b.files());
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(Read(plan.stagedPtrPath), Image({WithWhere(f.ptr[0], 0), WithWhere(f.ptr[2], 2)}));
  EXPECT_EQ(Read(plan.stagedIdxPath), Image({f.idx[0], f.idx[2]}));
  EXPECT_EQ(Read(plan.stagedDatPath), Blocks({0, 1, 5}));
}

TEST_F(StagedRebuildTest, BodylessKeptRecordTakesTheCounterAndCopiesNothing) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));           // 0..1
  b.Add(Deleted(Root(2, 1)));  // 2
  b.Add(Bodyless(Root(3)));    // Where 3 in the live file
  b.Add(Root(4, 1));           // 3
  b.Add(Bodyless(Root(5)));    // Where 4
  b.Add(Root(6, 2));           // 4..5
  ConferencePlan plan = PlanFor(5, b.files());
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(Read(plan.stagedPtrPath),
            Image({WithWhere(f.ptr[0], 0), WithWhere(f.ptr[2], 2), WithWhere(f.ptr[3], 2),
                   WithWhere(f.ptr[4], 3), WithWhere(f.ptr[5], 3)}));
  EXPECT_EQ(Read(plan.stagedDatPath), Blocks({0, 1, 3, 4, 5}));
}

TEST_F(StagedRebuildTest, BodiesOutOfFileOrderFollowTheRecordOrder) {
  ConferenceBuilder b;
  // The last body spans more than two 32 KiB transfer buffers.
  b.AddUnreferencedBlocks(606);
  board::MessageShape first = Root(1, 2), gone = Deleted(Root(2, 1)), last = Root(3, 600);
  first.where = 604;
  gone.where = 603;
  last.where = 2;
  b.Add(first);
  b.Add(gone);
  b.Add(last);
  ConferencePlan plan = PlanFor(5, b.files());
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(Read(plan.stagedPtrPath), Image({WithWhere(f.ptr[0], 0), WithWhere(f.ptr[2], 2)}));
  std::vector<uint32_t> blocks = {604, 605};
  for (uint32_t i = 2; i < 602; ++i) blocks.push_back(i);
  EXPECT_EQ(Read(plan.stagedDatPath), Blocks(blocks));
}

// A reply to a purged parent loses its thread in PTR and IDX; a DANGER
// record is detached keeping its Org.
TEST_F(StagedRebuildTest, RepliesToPurgedParentsAndDangerRecordsAreDetached) {
  ConferenceBuilder b;
  b.Add(Root(1, 1));               // 0
  b.Add(Deleted(Root(2, 1)));      // 1
  b.Add(Reply(3, 2, 1));           // 2: parent purged
  b.Add(Reply(4, 1, 1));           // 3: parent kept
  b.Add(Deleted(Reply(5, 2, 1)));  // 4
  b.Add(Reply(6, 7, 1));           // 5: parent kept, later in the file
  b.Add(Root(7, 1));               // 6
  b.Add(Danger(8, 1));             // 7
  b.Add(Deleted(Danger(9, 1)));    // 8
  b.Add(Reply(10, 11, 1));         // 9: parent purged, later in the file
  b.Add(Deleted(Root(11, 1)));     // 10
  ConferencePlan plan = PlanFor(5, b.files());
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(
      Read(plan.stagedPtrPath),
      Image({WithWhere(f.ptr[0], 0), WithWhere(Detached(f.ptr[2], true), 1), WithWhere(f.ptr[3], 2),
             WithWhere(f.ptr[5], 3), WithWhere(f.ptr[6], 4),
             WithWhere(Detached(f.ptr[7], false), 5), WithWhere(Detached(f.ptr[9], true), 6)}));
  EXPECT_EQ(Read(plan.stagedIdxPath), Image({f.idx[0], WithOrg(f.idx[2], 3), f.idx[3], f.idx[5],
                                             f.idx[6], f.idx[7], WithOrg(f.idx[9], 10)}));
  EXPECT_EQ(Read(plan.stagedDatPath), Blocks({0, 2, 3, 5, 6, 7, 9}));
}

// Nothing purged: the write exists for repairs only, so the DAT goes across
// whole, unreferenced blocks included, and every Where stays.
TEST_F(StagedRebuildTest, RepairOnlyWriteCarriesDatWholeAndKeepsEveryWhere) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));
  b.Add(Danger(2, 1));
  b.Add(Reply(3, 99, 1));  // orphan: its parent never existed, so it stays
  b.AddUnreferencedBlocks(2);
  board::MessageShape stale = Reply(4, 1, 1);
  stale.staleIdx = true;
  b.Add(stale);
  ConferencePlan plan = PlanFor(5, b.files());
  ASSERT_EQ(plan.scan.deletedCount, 0u);
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(Read(plan.stagedPtrPath),
            Image({f.ptr[0], Detached(f.ptr[1], false), f.ptr[2], f.ptr[3]}));
  IdxRecord fixed = f.idx[3];
  fixed.setMsgNumber(4);
  EXPECT_EQ(Read(plan.stagedIdxPath), Image({f.idx[0], f.idx[1], f.idx[2], fixed}));
  EXPECT_EQ(Read(plan.stagedDatPath), AsString(f.dat));
}

}  // namespace
}  // namespace twtrim
