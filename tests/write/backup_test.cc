// The verified backup: directory naming, proven copies, and no copy left
// behind by any failure, including a source that changes while it is copied.
#include "write/backup.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "write/write_fixture.h"

namespace twtrim {
namespace {

constexpr char kStamp[] = "TWTRIM32-20260307-090504";

class BackupTest : public WriteTest {
 protected:
  // Paths as the program forms them, with the platform separator.
  std::string Root() const { return test::JoinExpected(home_, "TWTRIM32-BACKUPS"); }
  std::string Candidate(const std::string& suffix) const {
    return test::JoinExpected(Root(), kStamp + suffix);
  }
  std::vector<std::string> RootEntries() {
    std::vector<DirEntry> entries;
    EXPECT_TRUE(real_->ListDirectory(Root() + "/*", &entries));
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name);
    return names;
  }
};

TEST_F(BackupTest, DirectoryIsNamedAfterTheLocalTimeWithSuffixesWhenTaken) {
  std::string first, second, third;
  ASSERT_TRUE(CreateBackupDirectory(os_, home_, &first));
  ASSERT_TRUE(CreateBackupDirectory(os_, home_, &second));
  ASSERT_TRUE(Write(Candidate("-02"), "a file with the name counts as taken"));
  ASSERT_TRUE(CreateBackupDirectory(os_, home_, &third));
  EXPECT_EQ(first, Candidate(""));
  EXPECT_EQ(second, Candidate("-01"));
  EXPECT_EQ(third, Candidate("-03"));
  for (const std::string* dir : {&first, &second, &third}) {
    EXPECT_EQ(Kind(*dir), PathKind::kDirectory);
  }
  EXPECT_EQ(Read(Candidate("-02")), "a file with the name counts as taken");
  EXPECT_EQ(os_.stdoutText(), "");

  os_.SetNow({987, 1, 2, 3, 4, 5});
  ASSERT_TRUE(CreateBackupDirectory(os_, home_, &first));
  EXPECT_EQ(first, test::JoinExpected(Root(), "TWTRIM32-09870102-030405"));
}

TEST_F(BackupTest, AllHundredNamesTakenFailsWithoutCreatingAnything) {
  ASSERT_TRUE(real_->CreateDirectory(Root()));
  ASSERT_TRUE(real_->CreateDirectory(Candidate("")));
  for (int i = 1; i <= 99; ++i) {
    const std::string suffix = (i < 10 ? "-0" : "-") + std::to_string(i);
    ASSERT_TRUE(i % 2 ? Write(Candidate(suffix), "") : real_->CreateDirectory(Candidate(suffix)));
  }
  std::string dir = "stale";
  EXPECT_FALSE(CreateBackupDirectory(os_, home_, &dir));
  EXPECT_EQ(dir, "");
  EXPECT_EQ(RootEntries().size(), 100u);
}

TEST_F(BackupTest, RootThatIsAFileFailsTheBackup) {
  ASSERT_TRUE(Write(Root(), "in the way"));
  std::string dir;
  EXPECT_FALSE(CreateBackupDirectory(os_, home_, &dir));
  EXPECT_EQ(Read(Root()), "in the way");
}

// The copy takes the base name after the last separator of either kind.
TEST_F(BackupTest, BackupFileCopiesUnderTheBaseName) {
  const std::string source = home_ + "/MESSAGE\\TWOUTBOUND.SEQ";
  ASSERT_TRUE(Write(MessageDir() + "/TWOUTBOUND.SEQ", "sequence 17\r\n"));
  std::string dir;
  ASSERT_TRUE(CreateBackupDirectory(os_, home_, &dir));
  std::string copy;
  ASSERT_TRUE(BackupFile(os_, out_, source, dir, &copy, true));
  EXPECT_EQ(copy, test::JoinExpected(dir, "TWOUTBOUND.SEQ"));
  EXPECT_EQ(Read(dir + "/TWOUTBOUND.SEQ"), "sequence 17\r\n");
  EXPECT_EQ(os_.stdoutText(), "") << "concise mode prints nothing";
}

TEST_F(BackupTest, MissingOrDirectorySourceFailsOnlyWhenRequired) {
  std::string dir;
  ASSERT_TRUE(CreateBackupDirectory(os_, home_, &dir));
  ASSERT_TRUE(real_->CreateDirectory(MessageDir() + "/TWOUTBOUND.SEQ"));
  for (const std::string& source :
       {MessageDir() + "/TWOUTBOUND.SEQ", MessageDir() + "/NOSUCH.SEQ"}) {
    SCOPED_TRACE(source);
    std::string copy = "unchanged?";
    EXPECT_TRUE(BackupFile(os_, out_, source, dir, &copy, false));
    EXPECT_EQ(copy, "");
    EXPECT_FALSE(BackupFile(os_, out_, source, dir, nullptr, true));
  }
  EXPECT_EQ(os_.calls(OsCall::kCreateNew), 0u);

  board::ConferenceBuilder b;
  b.Add(board::Deleted(board::Root(1, 1)));
  ConferencePlan plan = PlanFor(5, b.files());
  const IntegrityList snapshot = SnapshotOf(plan);
  ASSERT_TRUE(real_->DeleteFile(plan.liveDatPath));
  EXPECT_FALSE(BackupConference(os_, out_, &plan, MessageDir(), dir, snapshot));
  EXPECT_EQ(plan.backupDatPath, "");
}

TEST_F(BackupTest, ConferenceBacksUpItsThreeFilesAndCompanionsWhenPresent) {
  board::ConferenceBuilder b;
  b.Add(board::Root(1, 2));
  b.Add(board::Deleted(board::Root(2, 1)));
  for (bool companions : {false, true}) {
    SCOPED_TRACE(companions ? "with LMR and SIG" : "without LMR and SIG");
    ConferencePlan plan = PlanFor(5, b.files());
    if (companions) {
      ASSERT_TRUE(Write(ConfPath(5, "LMR"), "last read"));
      ASSERT_TRUE(Write(ConfPath(5, "SIG"), "signature"));
    }
    std::string dir;
    ASSERT_TRUE(CreateBackupDirectory(os_, home_, &dir));
    ASSERT_TRUE(BackupConference(os_, out_, &plan, MessageDir(), dir, SnapshotOf(plan)));
    EXPECT_EQ(plan.backupDatPath, test::JoinExpected(dir, "TWMSG05.DAT"));
    EXPECT_EQ(Read(plan.backupPtrPath), Read(plan.livePtrPath));
    EXPECT_EQ(Read(plan.backupIdxPath), Read(plan.liveIdxPath));
    EXPECT_EQ(Read(plan.backupDatPath), Read(plan.liveDatPath));
    std::vector<DirEntry> entries;
    ASSERT_TRUE(real_->ListDirectory(dir + "/*", &entries));
    EXPECT_EQ(entries.size(), companions ? 5u : 3u);
    if (companions) {
      EXPECT_EQ(Read(dir + "/TWMSG05.SIG"), "signature");
    }
  }
}

// A source rewritten between two of its reads: the copy holds a mixture of
// old and new bytes, and only the fingerprint comparison can tell.
TEST_F(BackupTest, SourceChangingDuringTheCopyLeavesNoCopy) {
  const std::string source = dir_.Path("source");
  const std::string copy = dir_.Path("copy");
  ASSERT_TRUE(Write(source, std::string(70000, 'a')));
  os_.AddHook({OsCall::kRead, "source", 2}, [&] {
    std::string changed = std::string(70000, 'a');
    changed[3] = 'b';  // before the current position: the copy keeps the old byte
    WriteWholeFile(source, changed);
  });
  EXPECT_FALSE(CopyFileVerified(os_, source, copy, source));
  EXPECT_EQ(Kind(copy), PathKind::kMissing);
}

TEST_F(BackupTest, FailedCopyStepLeavesNothingAtTheDestination) {
  // Each of these would leave a partial or unproven copy at the destination.
  const std::tuple<OsCall, const char*, FaultEffect> faults[] = {
      {OsCall::kCreateNew, "copy", FaultEffect::kFail},
      {OsCall::kRead, "source", FaultEffect::kFail},
      {OsCall::kWrite, "copy", FaultEffect::kShort},
      {OsCall::kFlush, "copy", FaultEffect::kFail},
      {OsCall::kOpenSharedRead, "copy", FaultEffect::kFail},
  };
  const std::string source = dir_.Path("source"), copy = dir_.Path("copy");
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes.push_back(static_cast<char>(i * 31 + i / 256));
  ASSERT_TRUE(Write(source, bytes));
  for (const auto& [kind, path, effect] : faults) {
    SCOPED_TRACE(std::string(OsCallName(kind)) + " " + path);
    os_.ClearFaults();
    os_.AddFault({{kind, path, 1}, effect, false});
    EXPECT_FALSE(CopyFileVerified(os_, source, copy, source));
    EXPECT_EQ(Kind(copy), PathKind::kMissing);
    EXPECT_EQ(Read(source), bytes);
  }
  os_.ClearFaults();
  ASSERT_TRUE(CopyFileVerified(os_, source, copy, source));
  EXPECT_EQ(Read(copy), bytes) << "several buffers copied byte for byte";
}

}  // namespace
}  // namespace twtrim
