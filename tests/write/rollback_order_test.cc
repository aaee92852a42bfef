// The rollback across conferences, seen through a whole in-process /WRITE:
// a commit failing in the higher conference is undone highest first, each
// conference's files in the reverse of the commit's order, and every live
// file ends as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/paths.h"
#include "support/app_harness.h"

namespace twtrim {
namespace {

using board::ConferenceBuilder;
using board::Deleted;
using board::Reply;
using board::Root;

board::ConferenceFiles Packable(int32_t base) {
  ConferenceBuilder b;
  b.Add(Root(base + 1, 2));
  b.Add(Deleted(Root(base + 2, 3)));
  b.Add(Reply(base + 3, base + 2, 1));
  return b.files();
}

std::vector<std::string> Renames(const FaultOs& os) {
  std::vector<std::string> renames;
  for (const CallRecord& call : os.log()) {
    // Backup copies and intent records land by rename too; only the live
    // files' renames matter here.
    if (call.kind != OsCall::kReplaceRename || call.path.ends_with(".PARTIAL") ||
        call.path.ends_with(".JNL.NEW")) {
      continue;
    }
    renames.push_back(std::string(BaseName(call.path)) + " -> " +
                      std::string(BaseName(call.otherPath)) + (call.failed ? " (failed)" : ""));
  }
  return renames;
}

TEST(RollbackOrderTest, FailedPtrMoveInConferenceFiveRestoresItsDatThenConferenceThree) {
  test::AppHarness harness({"One", "Two", "Three", "Four", "Five"});
  ASSERT_TRUE(harness.AddConference(3, Packable(300)));
  ASSERT_TRUE(harness.AddConference(4, board::CleanConference()));
  ASSERT_TRUE(harness.AddConference(5, Packable(500)));
  const test::ConferenceBytes three = test::ReadConference(harness, 3);
  const test::ConferenceBytes five = test::ReadConference(harness, 5);
  harness.os().AddFault({{OsCall::kReplaceRename, "TWMSG05.PTR.NEW", 1}, FaultEffect::kFail});
  const test::AppRun run = harness.Run({"/CONF3..5", "/WRITE"});
  EXPECT_EQ(run.exitCode, 4) << run.output;
  EXPECT_EQ(Renames(harness.os()), (std::vector<std::string>{
                                       "TWMSG03.DAT.NEW -> TWMSG03.DAT",
                                       "TWMSG03.PTR.NEW -> TWMSG03.PTR",
                                       "TWMSG03.IDX.NEW -> TWMSG03.IDX",
                                       "TWMSG05.DAT.NEW -> TWMSG05.DAT",
                                       "TWMSG05.PTR.NEW -> TWMSG05.PTR (failed)",
                                       "TWMSG05.DAT.ROLLBACK -> TWMSG05.DAT",
                                       "TWMSG03.IDX.ROLLBACK -> TWMSG03.IDX",
                                       "TWMSG03.PTR.ROLLBACK -> TWMSG03.PTR",
                                       "TWMSG03.DAT.ROLLBACK -> TWMSG03.DAT",
                                   }));
  EXPECT_EQ(test::ReadConference(harness, 3), three);
  EXPECT_EQ(test::ReadConference(harness, 5), five);
  for (const char* leftover : {"TWMSG05.PTR.NEW", "TWMSG05.IDX.NEW", "TWMSG05.DAT.ROLLBACK",
                               "TWMSG03.DAT.ROLLBACK", "TWMSG03.PTR.NEW"}) {
    EXPECT_FALSE(harness.Exists(harness.MessagePath(leftover))) << leftover;
  }
}

}  // namespace
}  // namespace twtrim
