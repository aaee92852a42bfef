// The staged files' verification: every structural requirement on a packed
// conference, the block-coverage rule only after a purge, and the sizes and
// counts the scan projected.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "support/app_harness.h"
#include "support/temp_dir.h"
#include "write/conference_plan.h"
#include "write/staged_rebuild.h"
#include "write/staged_verify.h"

namespace twtrim {
namespace {

using board::Root;
using Files = board::ConferenceFiles;

// Changes a record's identity in PTR and IDX alike.
void SetIdentity(Files* f, size_t slot, int32_t number, int32_t org) {
  f->ptr[slot].setMsgNumber(number);
  f->ptr[slot].setOrg(org);
  f->idx[slot].setMsgNumber(number);
  f->idx[slot].setOrg(org);
}
// Appends `bytes` to the staged file `which` (a negative count cuts its end).
void Grow(ConferencePlan* p, int which, int bytes) {
  std::string content;
  ASSERT_TRUE(ReadWholeFile(p->files[which].staged, &content));
  content.resize(content.size() + bytes, 'x');
  ASSERT_TRUE(WriteWholeFile(p->files[which].staged, content));
}

TEST(StagedVerify, EachRequirementOnTheFilesIsEnforced) {
  const struct {
    const char* name;
    std::function<void(Files*)> files = {};
    std::function<void(ConferencePlan*)> plan = {};  // after the staged files are written
    bool passesAfterPurge = false, passesWithoutPurge = false;
  } defects[] = {
      {"sound", {}, {}, true, true},
      {"a deleted record", [](Files* f) { f->ptr[2].setDeleted(1); }},
      {"TM 2", [](Files* f) { f->ptr[0].setTM(2); }},
      {"a DANGER record", [](Files* f) { f->ptr[2].setTS(0); }},
      {"stale IDX MsgNumber", [](Files* f) { f->idx[1].setMsgNumber(9); }},
      {"wrong From CRC", [](Files* f) { f->idx[0].setFromCrc(board::WrongCrc(f->idx[0].fromCrc())); }},
      {"From length 31", [](Files* f) { f->ptr[0].bytes[18] = 31; }},
      {"body past the DAT end", [](Files* f) { f->ptr[2].setRecords(2); }},
      {"duplicate MsgNumber", [](Files* f) { SetIdentity(f, 2, 1, 1); }},
      {"reply to a missing message", [](Files* f) { SetIdentity(f, 1, 2, 77); }},
      // Block coverage is proven only after a purge.
      {"two records share a block", [](Files* f) { f->ptr[0].setRecords(3); }, {}, false, true},
      {"an unreferenced block",
       [](Files* f) {
         const std::vector<uint8_t> block = board::BlockPattern(9);
         f->dat.insert(f->dat.end(), block.begin(), block.end());
       },
       {}, false, true},
      {"one PTR record more projected", {}, [](ConferencePlan* p) { ++p->scan.projectedPtrRecords; }},
      {"one DAT block fewer projected", {}, [](ConferencePlan* p) { --p->scan.projectedDatRecords; }},
      {"PTR not a multiple of 256", {}, [](ConferencePlan* p) { Grow(p, kPtrFile, 1); }},
      {"DAT not a multiple of 128", {}, [](ConferencePlan* p) { Grow(p, kDatFile, 1); }},
      {"IDX count differs from PTR count", {},
       [](ConferencePlan* p) {
         Grow(p, kIdxFile, -static_cast<int>(kIdxRecordSize));
         --p->scan.projectedIdxRecords;
       }},
      {"staged DAT missing", {}, [](ConferencePlan* p) { std::remove(p->files[kDatFile].staged.c_str()); }},
  };
  TempDir dir;
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  FaultOs os(*real);
  for (const auto& defect : defects) {
    for (bool purged : {true, false}) {
      SCOPED_TRACE(std::string(defect.name) + (purged ? " after a purge" : " without purge"));
      // A sound packed conference: bodies in blocks 0..1, 2, 3, one bodyless record.
      Files staged = test::MakeConference(
          {Root(1, 2), board::Reply(2, 1, 1), Root(3, 1), board::Bodyless(Root(4))});
      if (defect.files) defect.files(&staged);
      // A plan whose scan projects exactly the staged files' counts.
      ConferenceScan scan;
      scan.projectedPtrRecords = static_cast<uint32_t>(staged.ptr.size());
      scan.projectedIdxRecords = static_cast<uint32_t>(staged.idx.size());
      scan.projectedDatRecords = staged.datBlocks();
      scan.deletedCount = purged ? 1 : 0;
      scan.needsAction = true;
      ConferencePlan plan;
      ASSERT_TRUE(BuildConferencePlan(&plan, dir.path(), 5, scan));
      ASSERT_TRUE(board::WriteFileBytes(plan.files[kPtrFile].staged, staged.PtrBytes()) &&
                  board::WriteFileBytes(plan.files[kIdxFile].staged, staged.IdxBytes()) &&
                  board::WriteFileBytes(plan.files[kDatFile].staged, staged.dat));
      if (defect.plan) defect.plan(&plan);
      const bool expected = purged ? defect.passesAfterPurge : defect.passesWithoutPurge;
      EXPECT_EQ(VerifyConferenceFiles(os, &plan, Verification::kStaged), expected);
      if (!expected) {
        EXPECT_EQ(plan.files[kPtrFile].stagedFingerprint, FileFingerprint{});
      }
      RemoveStagedFiles(os, &plan);
    }
  }
  EXPECT_EQ(os.stdoutText(), "");
}

}  // namespace
}  // namespace twtrim
