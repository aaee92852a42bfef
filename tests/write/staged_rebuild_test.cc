// BuildStagedFiles on real boards: the packed bytes of the .NEW files, the
// stale-file refusal, and that no failure leaves a staged file behind.
#include "write/staged_rebuild.h"

#include <gtest/gtest.h>

#include <set>
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
    ASSERT_TRUE(BuildStagedFiles(os_, out_, plan));
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
  board::MessageSpec first = Root(1, 2), gone = Deleted(Root(2, 1)), last = Root(3, 600);
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
  ConferencePlan plan = PlanFor(5, b.files());
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(Read(plan.stagedPtrPath),
            Image({WithWhere(f.ptr[0], 0), WithWhere(Detached(f.ptr[2], true), 1),
                   WithWhere(f.ptr[3], 2), WithWhere(f.ptr[5], 3), WithWhere(f.ptr[6], 4),
                   WithWhere(Detached(f.ptr[7], false), 5)}));
  EXPECT_EQ(Read(plan.stagedIdxPath),
            Image({f.idx[0], WithOrg(f.idx[2], 3), f.idx[3], f.idx[5], f.idx[6], f.idx[7]}));
  EXPECT_EQ(Read(plan.stagedDatPath), Blocks({0, 2, 3, 5, 6, 7}));
}

// Nothing purged: the write exists for repairs only, so the DAT goes across
// whole, unreferenced blocks included, and every Where stays.
TEST_F(StagedRebuildTest, RepairOnlyWriteCarriesDatWholeAndKeepsEveryWhere) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));
  b.Add(Danger(2, 1));
  b.Add(Reply(3, 99, 1));  // orphan: its parent never existed
  b.AddUnreferencedBlocks(2);
  board::MessageSpec stale = Reply(4, 1, 1);
  stale.staleIdx = true;
  b.Add(stale);
  ConferencePlan plan = PlanFor(5, b.files());
  ASSERT_EQ(plan.scan.deletedCount, 0u);
  BuildOk(&plan);
  const auto& f = b.files();
  EXPECT_EQ(Read(plan.stagedPtrPath),
            Image({f.ptr[0], Detached(f.ptr[1], false), Detached(f.ptr[2], true), f.ptr[3]}));
  IdxRecord fixed = f.idx[3];
  fixed.setMsgNumber(4);
  EXPECT_EQ(Read(plan.stagedIdxPath), Image({f.idx[0], f.idx[1], WithOrg(f.idx[2], 3), fixed}));
  EXPECT_EQ(Read(plan.stagedDatPath), AsString(f.dat));
}

// Only TM, TS, Where and Org may change in a kept record; the opaque bytes
// in particular must survive renumbering and both repairs.
TEST_F(StagedRebuildTest, BytesTheProgramDoesNotInterpretSurvive) {
  ConferenceBuilder b;
  b.Add(Deleted(Root(1, 2)));
  b.Add(Reply(2, 1, 1));  // detached and renumbered
  b.Add(Danger(3, 2));    // repaired and renumbered
  b.Add(Root(4, 1));      // renumbered only
  ConferencePlan plan = PlanFor(5, b.files());
  BuildOk(&plan);
  const std::string staged = Read(plan.stagedPtrPath);
  ASSERT_EQ(staged.size(), 3 * kPtrRecordSize);
  // Everything else, bytes 0..17, 157, 159, 164..165 and 174..255 among them.
  const std::set<size_t> mayChange = {155, 156, 160, 161, 170, 171, 172, 173};
  for (size_t k = 0; k < 3; ++k) {
    const PtrRecord& original = b.files().ptr[k + 1];
    const auto* written = reinterpret_cast<const uint8_t*>(staged.data() + k * kPtrRecordSize);
    for (size_t i = 0; i < kPtrRecordSize; ++i) {
      if (mayChange.count(i) == 0) {
        EXPECT_EQ(written[i], original.bytes[i]) << "record " << k << " byte " << i;
      }
    }
  }
}

// A block counter past 65,535 cannot be stored in Where: the last block a
// pack may fill is 65,535, and a kept record after it fails the build.
TEST_F(StagedRebuildTest, BlockCounterPastTheLastWhereFailsTheBuild) {
  for (bool trailingRecord : {false, true}) {
    SCOPED_TRACE(trailingRecord ? "kept record after block 65,535" : "ends at block 65,535");
    ConferenceBuilder b;
    b.Add(Root(1, 65535));  // blocks 0..65,534
    b.Add(Root(2, 1));      // block 65,535
    board::MessageSpec gone = Deleted(Bodyless(Root(3)));
    gone.where = 0;
    b.Add(gone);
    if (trailingRecord) {
      board::MessageSpec last = Bodyless(Root(4));
      last.where = 0;
      b.Add(last);
    }
    ConferencePlan plan = PlanFor(5, b.files());
    EXPECT_EQ(BuildStagedFiles(os_, out_, &plan), !trailingRecord);
    if (trailingRecord) {
      EXPECT_TRUE(NoStagedFile(plan));
    } else {
      EXPECT_EQ(Read(plan.stagedPtrPath).substr(kPtrRecordSize), Image({b.files().ptr[1]}));
      RemoveStagedFiles(os_, &plan);
    }
  }
}

TEST_F(StagedRebuildTest, StaleStagedFileIsRefusedAndLeftAloneWithNothingOpened) {
  for (int stale = 0; stale < 3; ++stale) {
    SCOPED_TRACE(stale);
    ConferenceBuilder b;
    b.Add(Root(1, 1));
    b.Add(Deleted(Root(2, 1)));
    ConferencePlan plan = PlanFor(5, b.files());
    const std::string* staged[3] = {&plan.stagedPtrPath, &plan.stagedIdxPath, &plan.stagedDatPath};
    ASSERT_TRUE(Write(*staged[stale], "left by an interrupted write"));
    os_.ClearStdout();
    os_.ResetCounts();
    EXPECT_FALSE(BuildStagedFiles(os_, out_, &plan));
    EXPECT_EQ(Report(), test::Lines({"WRITE ERROR: stale .NEW file exists for CONF5. Remove it "
                                     "only after confirming no earlier write is recoverable."}));
    EXPECT_EQ(Read(*staged[stale]), "left by an interrupted write");
    for (const CallRecord& call : os_.log()) {
      EXPECT_EQ(call.kind, OsCall::kGetPathKind) << OsCallName(call.kind) << " " << call.path;
    }
    real_->DeleteFile(*staged[stale]);
  }
}

// The live files changed after the scan: a Deleted flag flipped either way
// makes the kept count differ from the projection, a shortened file ends
// in a short read; nothing staged survives either.
TEST_F(StagedRebuildTest, LiveFilesChangedAfterTheScanFailTheBuild) {
  for (int change = 0; change < 4; ++change) {
    SCOPED_TRACE(change);
    ConferenceBuilder b;
    b.Add(Root(1, 1));
    b.Add(Deleted(Root(2, 1)));
    b.Add(Root(3, 1));
    ConferencePlan plan = PlanFor(5, b.files());
    if (change < 2) {
      board::ConferenceFiles changed = b.files();
      changed.ptr[change == 0 ? 2 : 1].setDeleted(change == 0 ? 1 : 0);
      ASSERT_TRUE(board::WriteFileBytes(plan.livePtrPath, changed.PtrBytes()));
    } else {
      const std::string path = change == 2 ? plan.livePtrPath : plan.liveIdxPath;
      const std::string bytes = Read(path);
      ASSERT_TRUE(Write(path, bytes.substr(0, bytes.size() - 1)));
    }
    EXPECT_FALSE(BuildStagedFiles(os_, out_, &plan));
    EXPECT_TRUE(NoStagedFile(plan));
    EXPECT_EQ(os_.stdoutText(), "");
  }
}

struct BuildFault {
  const char* name;
  OsCall kind;
  const char* file;  // path suffix the fault applies to
  FaultEffect effect;
  bool packOnly = false;  // the whole-DAT carry takes short reads in its stride
};

// I/O steps of the build failing, on a pack (bodies copied range by range)
// and on a repair-only write (DAT carried whole). The fault sweep fails
// every other call of a whole write.
TEST_F(StagedRebuildTest, AnyFailedStepLeavesNoStagedFileAndTheLiveFilesUntouched) {
  const BuildFault faults[] = {
      {"open live IDX", OsCall::kOpenSharedRead, "TWMSG05.IDX", FaultEffect::kFail},
      {"read live PTR", OsCall::kRead, "TWMSG05.PTR", FaultEffect::kFail},
      {"short read live DAT", OsCall::kRead, "TWMSG05.DAT", FaultEffect::kShort, true},
      {"create IDX.NEW", OsCall::kCreateExclusive, "TWMSG05.IDX.NEW", FaultEffect::kFail},
      {"short write DAT.NEW", OsCall::kWrite, "TWMSG05.DAT.NEW", FaultEffect::kShort},
      {"flush PTR.NEW", OsCall::kFlush, "TWMSG05.PTR.NEW", FaultEffect::kFail},
      {"close DAT.NEW", OsCall::kClose, "TWMSG05.DAT.NEW", FaultEffect::kFail},
  };
  for (bool purge : {true, false}) {
    ConferenceBuilder b;
    b.Add(Root(1, 2));
    b.Add(purge ? Deleted(Root(2, 3)) : Root(2, 3));
    b.Add(Danger(3, 1));
    ConferencePlan plan = PlanFor(5, b.files());
    const std::vector<std::string> live = LiveBytes(plan);
    for (const BuildFault& fault : faults) {
      if (fault.packOnly && !purge) continue;
      SCOPED_TRACE(std::string(fault.name) + (purge ? " (pack)" : " (repair only)"));
      os_.ClearFaults();
      os_.ResetCounts();
      os_.AddFault({{fault.kind, fault.file, 1}, fault.effect, false});
      EXPECT_FALSE(BuildStagedFiles(os_, out_, &plan));
      bool fired = false;
      for (const CallRecord& call : os_.log()) fired = fired || call.failed;
      EXPECT_TRUE(fired);
      EXPECT_TRUE(NoStagedFile(plan));
      EXPECT_EQ(LiveBytes(plan), live);
      EXPECT_EQ(os_.stdoutText(), "");
    }
    os_.ClearFaults();
    ASSERT_TRUE(BuildStagedFiles(os_, out_, &plan));  // the same plan builds without faults
    RemoveStagedFiles(os_, &plan);
  }
}

}  // namespace
}  // namespace twtrim
