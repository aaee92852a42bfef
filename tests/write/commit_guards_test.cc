// Whole /WRITE runs in process on what the outcome table and the fault sweeps
// do not arrange: a backup name another run takes, interrupts held while a
// conference is half-replaced, names too long to roll back, modes and planted
// links, the block limit, and the free-space rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/app_harness.h"
#include "write/space_check.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace twtrim::test {
namespace {

using board::Bodyless;
using board::Deleted;
using board::Root;

// The only purged message is bodyless and the bodies lie out of slot order:
// the pack rewrites the DAT without changing its length, so old headers over
// the new DAT look like a clean base in which messages show others' bodies.
board::ConferenceFiles SameLengthPack() {
  return MakeConference(
      {ShapeAt(Root(1), 2), ShapeAt(Root(2), 0), ShapeAt(Root(3), 1), Deleted(Bodyless(Root(4)))}, 3);
}

// Another run creates the timestamped name between this run's choice and
// its create: this run moves on and never shares that directory.
TEST(CommitGuards, BackupDirectoryTakenByAnotherRunIsNotShared) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const std::string theirs = h.HomePath("TWTRIM32-BACKUPS/") + kBackupName;
  h.os().AddHook({OsCall::kCreateDirectory, kBackupName, 1},
                 [&] { ASSERT_TRUE(h.real().CreateDirectory(theirs)); });
  const RunResult run = h.Run({"/CONF1", "/WRITE"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(HasLine(run.lines, Labelled("Backup directory:", h.ShownBackupDir() + "-01")));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(h.real().ListDirectory(theirs + "/*", &entries));
  EXPECT_TRUE(entries.empty());
}

// Every rename of a live file, of the commit and of its rollback, happens
// while interrupts are held; they are let go during the scan and at the end.
TEST(CommitGuards, InterruptsWaitWhileAConferenceIsHalfReplaced) {
  for (bool failCommit : {false, true}) {
    AppHarness h;
    ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
    FaultOs& os = h.os();
    if (failCommit) os.FailPath(OsCall::kReplaceRename, "TWMSG01.IDX.NEW");
    std::vector<bool> heldAtRename;
    os.AddHook({OsCall::kReplaceRename, "", 0}, [&] { heldAtRename.push_back(os.eventsHeld()); });
    bool heldInScan = true;  // a long scan stays open to Ctrl+C
    os.AddHook({OsCall::kOpenSharedRead, "TWMSG01.PTR", 1}, [&] { heldInScan = os.eventsHeld(); });
    EXPECT_EQ(h.Run({"/CONF1", "/WRITE"}).exitCode, failCommit ? 4 : 0);
    size_t rename = 0, live = 0;
    for (const CallRecord& call : os.log()) {
      if (call.kind != OsCall::kReplaceRename) continue;
      if (!call.path.ends_with(".PARTIAL")) {
        ++live;
        EXPECT_TRUE(heldAtRename.at(rename)) << call.path;
      }
      ++rename;
    }
    EXPECT_EQ(live, failCommit ? 6u : 4u);  // the record's, then DAT, PTR (, IDX)
    EXPECT_FALSE(os.eventsHeld() || heldInScan);
  }
}

// A DAT of exactly 65,536 blocks, all kept, and a bodyless message after the
// last body: with a bodyless message purged the DAT stays full, and the
// bodyless one keeps the last Where there is.
TEST(CommitGuards, FullDatWithBodylessMessageAfterTheLastBodyPacks) {
  AppHarness h;
  board::MessageShape gone = Deleted(Bodyless(Root(3))), last = Bodyless(Root(4));
  gone.where = last.where = 0;
  const board::ConferenceFiles files = MakeConference({Root(1, 65535), Root(2, 1), gone, last});
  ASSERT_EQ(files.datBlocks(), kMaxDatBlocks);
  ASSERT_TRUE(h.AddConference(1, files));
  EXPECT_EQ(h.Run({"/CONF1", "/DRYRUN"}).exitCode, 1);  // a pack to do, nothing wrong
  ASSERT_EQ(h.Run({"/CONF1", "/WRITE"}).exitCode, 0);
  board::ConferenceFiles packed = files;
  packed.ptr = {files.ptr[0], files.ptr[1], files.ptr[3]};
  packed.ptr[2].setWhere(65535);
  packed.idx = {files.idx[0], files.idx[1], files.idx[3]};
  EXPECT_EQ(ReadConference(h, 1), ToBytes(packed));
}

#ifndef _WIN32
// (Windows refuses such deep directories itself.) A message directory so deep
// that the rollback's temporary name would not fit: nothing is changed.
TEST(CommitGuards, NamesTheRollbackNeedsMustFitBeforeTheWrite) {
  AppHarness h;
  std::string deep = h.home();
  while (deep.size() < 495)
    deep += "/" + std::string(std::min<size_t>(200, 494 - deep.size()), 'd');
  ASSERT_TRUE(board::MakeDirectories(deep) && board::WriteConference(deep, 1, SameLengthPack()));
  const RunResult run = h.Run({"/CONF1", "/WRITE", "/MSGDIR=" + deep});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_TRUE(HasLine(run.lines,
                      "WRITE ERROR: a file name needed to commit or roll back CONF1 "
                      "would be too long."));
  EXPECT_FALSE(h.Exists(h.HomePath("TWTRIM32-BACKUPS")));
}

// Dangling links planted under a staged and a rollback name are removed,
// never followed; the backup, the rollback and the pack keep the live mode.
TEST(CommitGuards, ModesCarryOverAndPlantedLinksAreNeverFollowed) {
  AppHarness h;
  ASSERT_TRUE(h.AddConference(1, SameLengthPack()));
  const auto mode = [](const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
  };
  const auto expectLiveModes = [&] {
    for (const char* name : {"TWMSG01.PTR", "TWMSG01.IDX", "TWMSG01.DAT"})
      EXPECT_EQ(mode(h.MessagePath(name)), 0640u) << name;
  };
  const std::string target = h.HomePath("elsewhere");
  for (const char* name : {"TWMSG01.PTR", "TWMSG01.IDX", "TWMSG01.DAT"})
    ASSERT_EQ(::chmod(h.MessagePath(name).c_str(), 0640), 0);
  for (const char* name : {"TWMSG01.PTR.NEW", "TWMSG01.DAT.ROLLBACK"})
    ASSERT_EQ(::symlink(target.c_str(), h.MessagePath(name).c_str()), 0);
  h.os().FailPath(OsCall::kReplaceRename, "TWMSG01.PTR.NEW");
  EXPECT_TRUE(HasLine(h.Run({"/CONF1", "/WRITE"}).lines,
                      "ROLLBACK RESULT: originals restored and verified."));
  EXPECT_EQ(mode(h.HomePath("TWTRIM32-BACKUPS/") + kBackupName + "/TWMSG01.DAT"), 0640u);
  expectLiveModes();
  h.os().ClearFaults();
  EXPECT_EQ(h.Run({"/CONF1", "/WRITE"}).exitCode, 0);
  expectLiveModes();
  EXPECT_FALSE(h.Exists(target));
}
#endif

// Free space and volume per directory, keyed by the directory's last name;
// a missing figure is one the system would not give.
class PlacesOs : public FaultOs {
 public:
  using FaultOs::FaultOs;
  std::map<std::string, uint64_t, std::less<>> free, volume;
  bool FreeSpace(const std::string& d, uint64_t* bytes) override { return Find(free, d, bytes); }
  bool PathIdentity(const std::string& path, FileIdentity* identity) override {
    return Find(volume, path, &identity->volume);
  }

 private:
  static bool Find(const auto& figures, const std::string& path, uint64_t* value) {
    const auto it = figures.find(BaseName(path));
    return it != figures.end() && (*value = it->second, true);
  }
};

std::string NoRoom(const std::string& directory, uint64_t needed, uint64_t free) {
  return "WRITE ERROR: not enough free disk space on " + directory + ": " +
         std::to_string(needed) + " bytes needed, " + std::to_string(free) + " bytes free.";
}

// What the backup copies and the intent records need, compared with the
// free space where each goes, summed when both share a volume.
TEST(CommitGuards, FreeSpaceCountsTheBackupAndTheIntentRecords) {
  TempDir dir;
  const std::string home = dir.Path("BBS"), messages = dir.Path("BBS/MESSAGE");
  // Copied by the backup: 30 + 100 + 50 + 1000 + 10 = 1190 bytes. The
  // second conference is not written and the outbound file is missing.
  for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
           {"TWMCONF.DAT", 30}, {"MESSAGE/TWMSG01.PTR", 100}, {"MESSAGE/TWMSG01.IDX", 50},
           {"MESSAGE/TWMSG01.DAT", 1000}, {"MESSAGE/TWMSG01.LMR", 10},
           {"MESSAGE/TWMSG02.DAT", 5000}}) {
    ASSERT_TRUE(dir.Write("BBS/" + name, std::string(size, 'x')));
  }
  std::vector<ConferencePlan> plans(2);
  for (uint32_t i = 0; i < 2; ++i) ASSERT_TRUE(BuildConferencePlan(&plans[i], messages, i + 1, {}));
  plans[0].writeWanted = true;
  const WritePlaces places{home, messages, {home + "/TWMCONF.DAT", messages + "/TWOUTBOUND.SEQ"}};
  std::string root;
  ASSERT_TRUE(JoinPath(&root, home, "TWTRIM32-BACKUPS"));
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  // An intent record is allowed one 4 KiB allocation block.
  constexpr uint64_t kBackup = 1190, kRecord = 4096, kBoth = kBackup + kRecord;
  constexpr std::optional<uint64_t> kNone;
  const struct {
    const char* name;
    std::optional<uint64_t> backupFree, messageFree, backupVolume, messageVolume;
    std::string expected;
  } cases[] = {  // the backup root is made after the first case
      {"no backup root yet: the home", 0, kRecord, 1, 2, NoRoom(home, kBackup, 0)},
      {"separate, both just fit", kBackup, kRecord, 1, 2, ""},
      {"separate, backup short", kBackup - 1, kRecord, 1, 2, NoRoom(root, kBackup, kBackup - 1)},
      {"separate, records short", kBackup, kRecord - 1, 1, 2,
       NoRoom(messages, kRecord, kRecord - 1)},
      {"one volume, just fits", kBoth, kBoth, 1, 1, ""},
      {"one volume, short", kBoth - 1, kBoth - 1, 1, 1, NoRoom(root, kBoth, kBoth - 1)},
      {"volumes unknown: summed", kBoth - 1, kBoth, kNone, 2, NoRoom(root, kBoth, kBoth - 1)},
      {"backup free unknown", kNone, kRecord, 1, 2, ""},
      {"nothing known", kNone, kNone, kNone, kNone, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlacesOs os(*real);
    const std::string backupName = &c == cases ? "BBS" : "TWTRIM32-BACKUPS";
    if (c.backupFree) os.free[backupName] = *c.backupFree;
    if (c.messageFree) os.free["MESSAGE"] = *c.messageFree;
    if (c.backupVolume) os.volume[backupName] = *c.backupVolume;
    if (c.messageVolume) os.volume["MESSAGE"] = *c.messageVolume;
    EXPECT_EQ(FreeSpaceRefusal(os, plans, places), c.expected);
    if (&c == cases) {
      ASSERT_TRUE(dir.MakeDirectory("BBS/TWTRIM32-BACKUPS"));
    }
  }
}

}  // namespace
}  // namespace twtrim::test
