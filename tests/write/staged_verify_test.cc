// The staged files' verification: every structural requirement on a packed
// conference, the block-coverage rule only after a purge, and the sizes and
// counts the scan projected.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "support/fault_os.h"
#include "support/temp_dir.h"
#include "write/conference_plan.h"
#include "write/staged_rebuild.h"
#include "write/staged_verify.h"

namespace twtrim {
namespace {

using board::Bodyless;
using board::ConferenceBuilder;
using board::Reply;
using board::Root;

// A sound packed conference: bodies in blocks 0..1, 2, 3, one bodyless record.
board::ConferenceFiles SoundPack() {
  ConferenceBuilder b;
  for (const board::MessageShape& m : {Root(1, 2), Reply(2, 1, 1), Root(3, 1), Bodyless(Root(4))})
    b.Add(m);
  return b.files();
}

class StagedVerifyTest : public ::testing::Test {
 protected:
  StagedVerifyTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_) {}

  // A plan whose staged files hold `staged` and whose scan projects exactly
  // their counts; `purged` tells whether the write removed records.
  ConferencePlan PlanWithStaged(const board::ConferenceFiles& staged, bool purged) {
    ConferenceScan scan;
    scan.projectedPtrRecords = static_cast<uint32_t>(staged.ptr.size());
    scan.projectedIdxRecords = static_cast<uint32_t>(staged.idx.size());
    scan.projectedDatRecords = staged.datBlocks();
    scan.deletedCount = purged ? 1 : 0;
    scan.needsAction = true;
    ConferencePlan plan;
    EXPECT_TRUE(BuildConferencePlan(&plan, dir_.path(), 5, scan));
    EXPECT_TRUE(board::WriteFileBytes(plan.files[kPtrFile].staged, staged.PtrBytes()));
    EXPECT_TRUE(board::WriteFileBytes(plan.files[kIdxFile].staged, staged.IdxBytes()));
    EXPECT_TRUE(board::WriteFileBytes(plan.files[kDatFile].staged, staged.dat));
    return plan;
  }
  std::string Read(const std::string& path) const {
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : std::string("<unreadable>");
  }
  bool Write(const std::string& path, const std::string& bytes) const {
    return WriteWholeFile(path, bytes);
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
};

// Changes a record's identity in PTR and IDX alike.
void SetIdentity(board::ConferenceFiles* f, size_t slot, int32_t number, int32_t org) {
  f->ptr[slot].setMsgNumber(number);
  f->ptr[slot].setOrg(org);
  f->idx[slot].setMsgNumber(number);
  f->idx[slot].setOrg(org);
}

TEST_F(StagedVerifyTest, EachRequirementOnTheRecordsIsEnforced) {
  using Files = board::ConferenceFiles;
  const struct {
    const char* name;
    std::function<void(Files*)> apply;
    bool passesAfterPurge, passesWithoutPurge;
  } defects[] = {
      {"sound", [](Files*) {}, true, true},
      {"a deleted record", [](Files* f) { f->ptr[2].setDeleted(1); }, false, false},
      {"TM 2", [](Files* f) { f->ptr[0].setTM(2); }, false, false},
      {"a DANGER record", [](Files* f) { f->ptr[2].setTS(0); }, false, false},
      {"stale IDX MsgNumber", [](Files* f) { f->idx[1].setMsgNumber(9); }, false, false},
      {"wrong From CRC", [](Files* f) { f->idx[0].setFromCrc(board::WrongCrc(f->idx[0].fromCrc())); },
       false, false},
      {"From length 31", [](Files* f) { f->ptr[0].bytes[18] = 31; }, false, false},
      {"body past the DAT end", [](Files* f) { f->ptr[2].setRecords(2); }, false, false},
      {"duplicate MsgNumber", [](Files* f) { SetIdentity(f, 2, 1, 1); }, false, false},
      {"reply to a missing message", [](Files* f) { SetIdentity(f, 1, 2, 77); }, false, false},
      // Block coverage is proven only after a purge.
      {"two records share a block", [](Files* f) { f->ptr[0].setRecords(3); }, false, true},
      {"an unreferenced block",
       [](Files* f) {
         const std::vector<uint8_t> block = board::BlockPattern(9);
         f->dat.insert(f->dat.end(), block.begin(), block.end());
       },
       false, true},
  };
  for (const auto& defect : defects) {
    for (bool purged : {true, false}) {
      SCOPED_TRACE(std::string(defect.name) + (purged ? " after a purge" : " without purge"));
      Files staged = SoundPack();
      defect.apply(&staged);
      ConferencePlan plan = PlanWithStaged(staged, purged);
      const bool expected = purged ? defect.passesAfterPurge : defect.passesWithoutPurge;
      EXPECT_EQ(VerifyConferenceFiles(os_, &plan, Verification::kStaged), expected);
      if (!expected) {
        EXPECT_EQ(plan.files[kPtrFile].stagedFingerprint, FileFingerprint{});
      }
      RemoveStagedFiles(os_, &plan);
    }
  }
  EXPECT_EQ(os_.stdoutText(), "");
}

TEST_F(StagedVerifyTest, SizesAndCountsMustMatchTheProjection) {
  struct Case {
    const char* name;
    std::function<void(ConferencePlan*)> apply;
  };
  const Case cases[] = {
      {"one PTR record more projected", [](ConferencePlan* p) { ++p->scan.projectedPtrRecords; }},
      {"one DAT block fewer projected", [](ConferencePlan* p) { --p->scan.projectedDatRecords; }},
      {"PTR not a multiple of 256",
       [this](ConferencePlan* p) {
         Write(p->files[kPtrFile].staged, Read(p->files[kPtrFile].staged) + "x");
       }},
      {"DAT not a multiple of 128",
       [this](ConferencePlan* p) {
         Write(p->files[kDatFile].staged, Read(p->files[kDatFile].staged) + "x");
       }},
      {"IDX count differs from PTR count",
       [this](ConferencePlan* p) {
         const std::string idx = Read(p->files[kIdxFile].staged);
         Write(p->files[kIdxFile].staged, idx.substr(0, idx.size() - kIdxRecordSize));
         --p->scan.projectedIdxRecords;
       }},
      {"staged DAT missing",
       [this](ConferencePlan* p) { real_->DeleteFile(p->files[kDatFile].staged); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConferencePlan plan = PlanWithStaged(SoundPack(), true);
    c.apply(&plan);
    EXPECT_FALSE(VerifyConferenceFiles(os_, &plan, Verification::kStaged));
    RemoveStagedFiles(os_, &plan);
  }
}

}  // namespace
}  // namespace twtrim
