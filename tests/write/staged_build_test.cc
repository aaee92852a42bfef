// Whole /WRITE runs that hinge on the staged build: the bytes it reads must
// be the ones the integrity snapshot proved, a conference at the block limit
// packs as the dry run promised, and a planted name never leads it astray.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "support/app_harness.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace twtrim::test {
namespace {

using board::Bodyless;
using board::Deleted;
using board::Reply;
using board::Root;

constexpr char kBuildFailed[] = "WRITE ERROR: failed while building staged files for CONF1.";

// Bodies at blocks 0..1, 2 (purged) and 3..4.
board::ConferenceFiles Pack() {
  return MakeConference({Root(1, 2), Deleted(Root(2, 1)), Reply(3, 1, 2)});
}

bool NoStagedFile(const AppHarness& h) {
  for (const char* name : {"TWMSG01.PTR.NEW", "TWMSG01.IDX.NEW", "TWMSG01.DAT.NEW"}) {
    if (h.Exists(h.MessagePath(name))) return false;
  }
  return true;
}

// Another process changes one byte of a live file as the build starts and
// changes it back once the build is over: the checks before and after the
// build see the original, only the build's own proof can tell.
TEST(StagedBuild, ByteChangedAndRevertedDuringTheBuildFailsIt) {
  struct Case {
    const char* file;
    size_t offset;  // in a kept record or body
  };
  const Case cases[] = {
      {"TWMSG01.PTR", 2 * kPtrRecordSize + 200},
      {"TWMSG01.IDX", 0},
      {"TWMSG01.DAT", 4 * kDatBlockSize + 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, Pack()));
    const ConferenceBytes original = ReadConference(h, 1);
    const std::string path = h.MessagePath(c.file);
    bool changed = false;
    auto toggle = [&](bool change) {
      if (changed != change) FlipByte(path, c.offset);
      changed = change;
    };
    h.os().BeforeCall(OsCall::kCreateNew, "TWMSG01.PTR.NEW", [&] { toggle(true); });
    h.os().BeforeCall(OsCall::kFlush, "TWMSG01.PTR.NEW", [&] { toggle(false); });
    h.os().BeforeCall(OsCall::kDeleteFile, "TWMSG01.PTR.NEW", [&] { toggle(false); });
    const AppRun run = h.Run({"/CONF1", "/WRITE"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), kBuildFailed), run.lines.end());
    EXPECT_EQ(ReadConference(h, 1), original);
    EXPECT_TRUE(NoStagedFile(h));
  }
}

// A DAT of exactly 65,536 blocks, all kept, and a bodyless message after the
// last body: with a bodyless message purged the DAT stays full, and the
// bodyless one keeps the last Where there is.
TEST(StagedBuild, FullDatWithBodylessMessageAfterTheLastBodyPacks) {
  AppHarness h;
  board::MessageShape gone = Deleted(Bodyless(Root(3)));
  gone.where = 0;
  board::MessageShape last = Bodyless(Root(4));
  last.where = 0;
  const board::ConferenceFiles files = MakeConference({Root(1, 65535), Root(2, 1), gone, last});
  ASSERT_EQ(files.datBlocks(), kMaxDatBlocks);
  ASSERT_TRUE(h.AddConference(1, files));

  const AppRun dry = h.Run({"/CONF1", "/DRYRUN"});
  EXPECT_EQ(dry.exitCode, 1) << dry.output;  // a pack to do, nothing wrong
  const AppRun run = h.Run({"/CONF1", "/WRITE"});
  ASSERT_EQ(run.exitCode, 0);
  board::ConferenceFiles packed = files;
  packed.ptr = {files.ptr[0], files.ptr[1], files.ptr[3]};
  packed.ptr[2].setWhere(65535);
  packed.idx = {files.idx[0], files.idx[1], files.idx[3]};
  EXPECT_EQ(ReadConference(h, 1), ToBytes(packed));
}

#ifndef _WIN32
// A link left where a staged file goes, leading nowhere, is a stale name:
// it goes, its target is never created, and the staged files take the live
// files' mode with them.
TEST(StagedBuild, DanglingStagedLinkIsRemovedAndModeCarriesOver) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, Pack()));
  const std::string target = h.HomePath("elsewhere.bin");
  ASSERT_EQ(::symlink(target.c_str(), h.MessagePath("TWMSG01.PTR.NEW").c_str()), 0);
  for (const char* name : {"TWMSG01.PTR", "TWMSG01.IDX", "TWMSG01.DAT"}) {
    ASSERT_EQ(::chmod(h.MessagePath(name).c_str(), 0640), 0);
  }
  const AppRun run = h.Run({"/CONF1", "/WRITE"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(h.Exists(target));
  struct stat info;
  for (const char* name : {"TWMSG01.PTR", "TWMSG01.IDX", "TWMSG01.DAT"}) {
    ASSERT_EQ(::lstat(h.MessagePath(name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << name;
  }
  EXPECT_TRUE(NoStagedFile(h));
}
#endif

}  // namespace
}  // namespace twtrim::test
