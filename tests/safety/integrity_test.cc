#include "safety/integrity.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "report/format.h"
#include "safety_fixture.h"

namespace twtrim {
namespace {

const std::string kAbortTail =
    "The report must not be trusted as a single consistent message-base snapshot.";

class IntegrityTest : public SafetyTest {
 protected:
  std::string Msg() const { return Joined("MESSAGE"); }
  std::string Config() const { return dir_.Path("TWMCONF.DAT"); }
  static std::string Conf(uint32_t n, const char* ext) {
    char name[40];
    std::snprintf(name, sizeof name, "MESSAGE/TWMSG%02u.%s", n, ext);
    return name;
  }
  // Conference files with contents that tell them apart.
  void WriteConference(uint32_t n) {
    for (const char* ext : {"PTR", "IDX", "DAT"}) {
      std::filesystem::remove_all(Joined(Conf(n, ext)));
      ASSERT_TRUE(dir_.Write(Conf(n, ext), Conf(n, ext) + " contents"));
    }
  }
  void Snapshot(uint32_t lo, uint32_t hi) {
    ASSERT_TRUE(BuildIntegrityList(os_, &list_, Config(), Msg(), lo, hi));
    ASSERT_TRUE(TakeIntegritySnapshot(os_, out_, &list_));
    os_.ClearStdout();
  }
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const IntegrityEntry& entry : list_.entries) paths.push_back(entry.path);
    return paths;
  }
  static std::string Values(const std::string& bytes) {
    const FileFingerprint fp = ReferenceFingerprint(bytes);
    return "size=" + std::to_string(fp.size) + " FNV=" + Hex32(fp.fnv) + " CRC32=" + Hex32(fp.crc);
  }

  IntegrityList list_;
};

TEST_F(IntegrityTest, ListHoldsTheConfigFirstOnlyWhenItIsAFile) {
  std::vector<std::string> conferences;
  for (uint32_t n = 2; n <= 4; ++n) {
    for (const char* ext : {"PTR", "IDX", "DAT"}) conferences.push_back(Joined(Conf(n, ext)));
  }
  ASSERT_TRUE(BuildIntegrityList(os_, &list_, Config(), Msg(), 2, 4));
  EXPECT_EQ(Paths(), conferences) << "no TWMCONF.DAT: 9 entries";

  ASSERT_TRUE(dir_.MakeDirectory("TWMCONF.DAT"));
  ASSERT_TRUE(BuildIntegrityList(os_, &list_, Config(), Msg(), 2, 4));
  EXPECT_EQ(Paths(), conferences) << "a directory named TWMCONF.DAT is not listed";

  std::filesystem::remove(Config());
  ASSERT_TRUE(dir_.Write("TWMCONF.DAT", "x"));
  ASSERT_TRUE(BuildIntegrityList(os_, &list_, Config(), Msg(), 2, 4));
  conferences.insert(conferences.begin(), Config());
  EXPECT_EQ(Paths(), conferences) << "TWMCONF.DAT first: 10 entries";

  // "/TWMSG01.PTR" is 12 characters: a 500-character directory leaves no room.
  const std::string longDir = dir_.path() + "/" + std::string(499 - dir_.path().size(), 'M');
  EXPECT_FALSE(BuildIntegrityList(os_, &list_, Config(), longDir, 1, 1));
}

TEST_F(IntegrityTest, SnapshotSumsTheSizesAndReportsThemInVerboseMode) {
  ASSERT_TRUE(dir_.Write("TWMCONF.DAT", std::string(256, 'c')));
  ASSERT_TRUE(dir_.Write(Conf(1, "PTR"), std::string(512, 'p')));
  ASSERT_TRUE(dir_.Write(Conf(1, "IDX"), std::string(32, 'i')));
  ASSERT_TRUE(dir_.Write(Conf(1, "DAT"), ""));
  ASSERT_TRUE(BuildIntegrityList(os_, &list_, Config(), Msg(), 1, 1));

  ASSERT_TRUE(TakeIntegritySnapshot(os_, out_, &list_));
  EXPECT_EQ(list_.bytesHashed, 800u);
  EXPECT_EQ(os_.stdoutText(), "") << "concise mode prints nothing";
  EXPECT_EQ(list_.entries[1].fingerprint, ReferenceFingerprint(std::string(512, 'p')));

  out_.SetVerbose(true);
  ASSERT_TRUE(TakeIntegritySnapshot(os_, out_, &list_));
  EXPECT_EQ(list_.bytesHashed, 800u) << "a second snapshot starts the sum again";
  EXPECT_EQ(Lines(), test::Lines{"Integrity snapshot:     4 files / 800 bytes hashed"});
}

TEST_F(IntegrityTest, SnapshotStopsAtTheFirstMissingOrUnreadableFile) {
  struct Case {
    const char* name;
    std::function<void()> spoil;
    std::string expected;
  };
  const std::string missing = "SAFETY ERROR: required file is missing: ";
  const std::string unreadable = "SAFETY ERROR: could not create integrity snapshot for: ";
  const std::vector<Case> cases = {
      {"TWMCONF.DAT deleted after the list was built", [&] { std::filesystem::remove(Config()); },
       missing + Config()},
      {"DAT grows while it is fingerprinted",
       [&] {
         os_.AddHook({OsCall::kRead, "TWMSG02.DAT", 1},
                     [&] { ASSERT_TRUE(dir_.Write(Conf(2, "DAT"), "grown longer than before")); });
       },
       unreadable + Joined(Conf(2, "DAT"))},
  };
  out_.SetVerbose(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dir_.Write("TWMCONF.DAT", "config"));
    WriteConference(2);
    ASSERT_TRUE(BuildIntegrityList(os_, &list_, Config(), Msg(), 2, 2));
    os_.ClearFaults();
    os_.ClearHooks();
    os_.ClearStdout();
    c.spoil();
    EXPECT_FALSE(TakeIntegritySnapshot(os_, out_, &list_));
    EXPECT_EQ(Lines(), test::Lines{c.expected}) << "nothing after the first failure";
  }
}

TEST_F(IntegrityTest, SameBytesRewrittenVerifiesUnchanged) {
  WriteConference(1);
  WriteConference(2);
  Snapshot(1, 2);
  // Written again with the same bytes: only the time stamp moves.
  WriteConference(2);
  EXPECT_TRUE(VerifyIntegritySnapshot(os_, out_, list_));
  EXPECT_EQ(os_.stdoutText(), "") << "concise mode prints nothing on a pass";
}

TEST_F(IntegrityTest, EveryChangedFileIsReportedInListOrder) {
  ASSERT_TRUE(dir_.Write("TWMCONF.DAT", "config"));
  WriteConference(3);
  WriteConference(4);
  Snapshot(3, 4);
  const std::string ptr3 = dir_.Read(Conf(3, "PTR"));
  ASSERT_TRUE(dir_.Write("TWMCONF.DAT", "config and more"));
  std::filesystem::remove(Joined(Conf(3, "PTR")));
  std::string dat4 = Conf(4, "DAT") + " contents";
  dat4[7] ^= 1;  // one changed byte, same size
  ASSERT_TRUE(dir_.Write(Conf(4, "DAT"), dat4));

  EXPECT_FALSE(VerifyIntegritySnapshot(os_, out_, list_));
  EXPECT_EQ(Lines(), (test::Lines{
                         "  CHANGED: " + Config(),
                         "    Before " + Values("config"),
                         "    After  " + Values("config and more"),
                         "  CHANGED/UNREADABLE: " + Joined(Conf(3, "PTR")),
                         "  CHANGED: " + Joined(Conf(4, "DAT")),
                         "    Before " + Values(Conf(4, "DAT") + " contents"),
                         "    After  " + Values(dat4),
                         "SAFETY ABORT: 3 selected file(s) changed during the scan.",
                         kAbortTail,
                     }));
  // Put back, and an unreadable or replaced file counts the same way.
  ASSERT_TRUE(dir_.Write(Conf(3, "PTR"), ptr3));
  ASSERT_TRUE(dir_.Write("TWMCONF.DAT", "config"));
  ASSERT_TRUE(dir_.Write(Conf(4, "DAT"), Conf(4, "DAT") + " contents"));
  std::filesystem::remove(Joined(Conf(4, "IDX")));
  std::filesystem::create_directory(Joined(Conf(4, "IDX")));
  os_.FailPath(OsCall::kOpenSharedRead, "TWMSG03.IDX");
  os_.ClearStdout();
  EXPECT_FALSE(VerifyIntegritySnapshot(os_, out_, list_));
  EXPECT_EQ(Lines(), (test::Lines{
                         "  CHANGED/UNREADABLE: " + Joined(Conf(3, "IDX")),
                         "  CHANGED/UNREADABLE: " + Joined(Conf(4, "IDX")),
                         "SAFETY ABORT: 2 selected file(s) changed during the scan.",
                         kAbortTail,
                     }));
}

}  // namespace
}  // namespace twtrim
