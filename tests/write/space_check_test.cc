// The free-space rule of a write: what it counts, where it measures, and a
// refused write that leaves the board as it was.
#include "write/space_check.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/paths.h"
#include "support/app_harness.h"

namespace twtrim::test {
namespace {

// Free space and volume per directory, keyed by the directory's last name;
// a missing figure is one the system would not give.
class PlacesOs : public FaultOs {
 public:
  explicit PlacesOs(Os& real) : FaultOs(real) {}
  std::map<std::string, uint64_t, std::less<>> free, volume;

  bool FreeSpace(const std::string& directory, uint64_t* bytes) override {
    return Find(free, directory, bytes);
  }
  bool PathIdentity(const std::string& path, FileIdentity* identity) override {
    return Find(volume, path, &identity->volume);
  }

 private:
  static bool Find(const std::map<std::string, uint64_t, std::less<>>& figures,
                   const std::string& path, uint64_t* value) {
    const auto it = figures.find(BaseName(path));
    if (it == figures.end()) return false;
    *value = it->second;
    return true;
  }
};

std::string NoRoom(const std::string& directory, uint64_t needed, uint64_t free) {
  return "WRITE ERROR: not enough free disk space on " + directory + ": " +
         std::to_string(needed) + " bytes needed, " + std::to_string(free) + " bytes free.";
}

TEST(SpaceCheck, ComparesTheBackupAndTheIntentRecordsWithTheFreeSpace) {
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
  for (uint32_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(BuildConferencePlan(&plans[i], messages, i + 1, {}));
  }
  plans[0].writeWanted = true;
  const WritePlaces places{home, messages, {home + "/TWMCONF.DAT", messages + "/TWOUTBOUND.SEQ"}};
  std::string root;
  ASSERT_TRUE(JoinPath(&root, home, "TWTRIM32-BACKUPS"));
  static char program[] = "twtrim_tests";
  static char* argv[] = {program, nullptr};
  const std::unique_ptr<Os> real = CreateSystemOs(1, argv);
  constexpr uint64_t kBackup = 1190, kRecord = kIntentRecordAllowance, kBoth = kBackup + kRecord;

  struct Case {
    const char* name;
    bool rootExists;
    std::optional<uint64_t> backupFree, messageFree;
    std::optional<uint64_t> backupVolume, messageVolume;
    std::string expected;
  };
  // The backup root is made after the first case.
  const std::vector<Case> cases = {
      {"no backup root yet: the home", false, 0, kRecord, 1, 2, NoRoom(home, kBackup, 0)},
      {"separate, both just fit", true, kBackup, kRecord, 1, 2, ""},
      {"separate, backup short", true, kBackup - 1, kRecord, 1, 2,
       NoRoom(root, kBackup, kBackup - 1)},
      {"separate, records short", true, kBackup, kRecord - 1, 1, 2,
       NoRoom(messages, kRecord, kRecord - 1)},
      {"one volume, just fits", true, kBoth, kBoth, 1, 1, ""},
      {"one volume, short", true, kBoth - 1, kBoth - 1, 1, 1, NoRoom(root, kBoth, kBoth - 1)},
      {"volumes unknown: summed", true, kBoth - 1, kBoth, std::nullopt, 2,
       NoRoom(root, kBoth, kBoth - 1)},
      {"backup free unknown", true, std::nullopt, kRecord, 1, 2, ""},
      {"nothing known", true, std::nullopt, std::nullopt, std::nullopt, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.rootExists && !dir.Exists("BBS/TWTRIM32-BACKUPS")) {
      ASSERT_TRUE(dir.MakeDirectory("BBS/TWTRIM32-BACKUPS"));
    }
    PlacesOs os(*real);
    const std::string backupName = c.rootExists ? "TWTRIM32-BACKUPS" : "BBS";
    if (c.backupFree) os.free[backupName] = *c.backupFree;
    if (c.messageFree) os.free["MESSAGE"] = *c.messageFree;
    if (c.backupVolume) os.volume[backupName] = *c.backupVolume;
    if (c.messageVolume) os.volume["MESSAGE"] = *c.messageVolume;
    EXPECT_EQ(FreeSpaceRefusal(os, plans, places), c.expected);
  }
}

TEST(SpaceCheck, RefusedWriteMakesNoBackupAndLeavesTheBoardAsItWas) {
  AppHarness h({"Pack"});
  ASSERT_TRUE(h.AddConference(
      1, MakeConference({board::Root(1, 2), board::Deleted(board::Reply(2, 1, 3))})));
  ASSERT_TRUE(board::MakeDirectories(h.HomePath("TWTRIM32-BACKUPS")));
  const ConferenceBytes original = ReadConference(h, 1);
  h.os().SetFreeSpace(0);
  const AppRun run = h.Run({"/CONF1", "/WRITE"});

  EXPECT_EQ(run.exitCode, 4);
  const uint64_t needed = h.ReadFile(h.HomePath("TWMCONF.DAT")).size() + original.ptr.size() +
                          original.idx.size() + original.dat.size() + kIntentRecordAllowance;
  EXPECT_TRUE(EndsWith(
      run.lines,
      JoinLines({{NoRoom(h.ShownHome("TWTRIM32-BACKUPS"), needed, 0),
                  "WRITE RESULT: FAILED; live-format originals are unchanged or were restored "
                  "from backup.",
                  "Shared VIZIZE.BSY lock: RELEASED."},
                 Footer(kRunTimeText, 4, "NOT COMPLETED")})));
  std::vector<DirEntry> backups;
  ASSERT_TRUE(h.real().ListDirectory(h.HomePath("TWTRIM32-BACKUPS/*"), &backups));
  EXPECT_TRUE(backups.empty());
  EXPECT_EQ(ReadConference(h, 1), original);
  EXPECT_FALSE(h.Exists(h.MessagePath("TWMSG01.DAT.NEW")));
}

}  // namespace
}  // namespace twtrim::test
