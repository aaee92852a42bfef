#include "safety/checkpoint.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "board/board_builder.h"
#include "safety/tosser_lock.h"
#include "safety_fixture.h"

namespace twtrim {
namespace {

using board::CallerSlot;
using Active = std::vector<std::pair<uint32_t, CallerSlot>>;
using Lines_ = std::vector<std::string>;

const std::string kCallerTail =
    "TWTRIM32 will not scan while a caller may be online or active in messages.";

class CheckpointTest : public SafetyTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeDirectory("MESSAGE"));
    ASSERT_TRUE(board::WriteCallerTable(home(), {}, 1536));
    os_.SetProcessNames({"init", "sshd", "bash"});
  }
  void TearDown() override { ReleaseSharedTosserLock(); }

  std::string home() const { return dir_.path(); }
  std::string msg() const { return Joined("MESSAGE"); }
  std::string callers() const { return Joined("WORK/TWWHOSON.DAT"); }
  std::string marker() const { return Joined("MESSAGE/VIZIZE.BSY"); }

  void WriteCallers(const Active& active, uint32_t size) {
    const std::vector<uint8_t> bytes = board::CallerTableBytes(active, size);
    ASSERT_TRUE(dir_.Write("WORK/TWWHOSON.DAT", std::string(bytes.begin(), bytes.end())));
  }
  bool Check(std::string_view label = kBeforeScan) {
    os_.ClearStdout();
    return RunSafetyCheck(os_, out_, home(), msg(), label);
  }
};

TEST_F(CheckpointTest, PassIsSilentUnlessVerbose) {
  ASSERT_TRUE(AcquireSharedTosserLock(os_, marker()));
  for (std::string_view label :
       {kInitialPreflight, kBeforeScan, kAfterScan, kScanVerification, kBeforeBackup, kBeforeCommit,
        kAfterCommit, kFinalWriteVerification}) {
    EXPECT_TRUE(Check(label)) << label;
    EXPECT_EQ(os_.stdoutText(), "") << label;
  }
  // Verbose, without the lock and on a 255-slot table.
  ReleaseSharedTosserLock();
  WriteCallers({}, 1530);
  out_.SetVerbose(true);
  EXPECT_TRUE(Check(kAfterScan));
  EXPECT_EQ(Lines(),
            (Lines_{"Caller-status format [immediately after scan]: 1530 bytes; scanning slots "
                    "1..255 using original REZADUDU rules",
                    "Caller safety check [immediately after scan]: CLEAR",
                    "VIZize busy-marker check [immediately after scan]: CLEAR",
                    "VIZize32 process check [immediately after scan]: CLEAR"}));
}

TEST_F(CheckpointTest, ActiveSlotRules) {
  struct Case {
    const char* name;
    Active active;
    uint32_t size;
    Lines_ expected;  // empty: the check passes
  };
  const std::string head = "SAFETY ABORT: caller activity found during immediately before scan:";
  const std::vector<Case> cases = {
      {"user 0 with a blank status is a caller",
       {{1, {0, ' '}}},
       1536,
       {head, "  TWWHOSON slot 1 UserNo=0 Status= ", kCallerTail}},
      {"no user but active in messages",
       {{9, {0xFFFF, 'M'}}},
       1530,
       {head, "  TWWHOSON slot 9 UserNo=65535 Status=M", kCallerTail}},
      {"lower-case m is idle", {{9, {0xFFFF, 'm'}}}, 1536, {}},
      {"slot 256 of the live file is not examined", {{256, {17, 'M'}}}, 1536, {}},
      {"non-printable status in hex",
       {{4, {12, 7}}},
       1536,
       {head, "  TWWHOSON slot 4 UserNo=12 Status=0x00000007", kCallerTail}},
      {"every active slot is listed in order",
       {{255, {5, 'M'}}, {3, {1, 'W'}}, {77, {2, 255}}},
       1536,
       {head, "  TWWHOSON slot 3 UserNo=1 Status=W",
        "  TWWHOSON slot 77 UserNo=2 Status=0x000000FF", "  TWWHOSON slot 255 UserNo=5 Status=M",
        kCallerTail}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteCallers(c.active, c.size);
    EXPECT_EQ(Check(), c.expected.empty());
    EXPECT_EQ(Lines(), c.expected);
  }
}

TEST_F(CheckpointTest, UnusableCallerTable) {
  const Lines_ missing = {
      "SAFETY ERROR: cannot verify callers because TWWHOSON.DAT is missing: " + callers(),
      "Expected location: <Tarnwick home>\\WORK\\TWWHOSON.DAT",
      "Use /HOME= to point TWTRIM32 at the real Tarnwick home directory."};
  out_.SetVerbose(true);  // failures read the same in both modes
  for (uint32_t size : {0u, 1531u, 1537u}) {
    SCOPED_TRACE(size);
    WriteCallers({}, size);
    EXPECT_FALSE(Check());
    EXPECT_EQ(
        Lines(),
        (Lines_{"SAFETY ERROR: unsupported TWWHOSON.DAT size: " + std::to_string(size) + " bytes.",
                "Expected 1530 bytes (255 slots) or 1536 bytes (live 256-record file)."}));
  }
  std::filesystem::remove(callers());
  EXPECT_FALSE(Check());
  EXPECT_EQ(Lines(), missing);
  ASSERT_TRUE(dir_.MakeDirectory("WORK/TWWHOSON.DAT"));
  EXPECT_FALSE(Check());
  EXPECT_EQ(Lines(), missing);
}

TEST_F(CheckpointTest, CallerTableThatCannotBeRead) {
  const std::string open = "SAFETY ERROR: cannot open/read TWWHOSON.DAT.";
  const std::string read = "SAFETY ERROR: unable to read the first 1530 bytes of TWWHOSON.DAT.";
  const std::tuple<OsCall, FaultEffect, std::string> cases[] = {
      {OsCall::kOpenSharedRead, FaultEffect::kFail, open},
      {OsCall::kSize, FaultEffect::kFail, open},
      {OsCall::kSeek, FaultEffect::kFail, read},
      {OsCall::kRead, FaultEffect::kShort, read}};
  for (const auto& [kind, effect, expected] : cases) {
    SCOPED_TRACE(OsCallName(kind));
    os_.ClearFaults();
    os_.AddFault({{kind, "TWWHOSON.DAT", 0}, effect});
    EXPECT_FALSE(Check());
    EXPECT_EQ(Lines(), Lines_{expected});
  }
}

TEST_F(CheckpointTest, ForeignMarkerWhileTheLockIsNotOwned) {
  ASSERT_TRUE(dir_.Write("MESSAGE/VIZIZE.BSY", ""));
  EXPECT_FALSE(Check(kInitialPreflight));
  EXPECT_EQ(
      Lines(),
      (Lines_{"SAFETY ABORT: VIZize32 busy marker exists during initial preflight: " + marker(),
              "TWTRIM32 will not scan while VIZIZE.BSY indicates message-base activity."}));
  EXPECT_TRUE(dir_.Exists("MESSAGE/VIZIZE.BSY")) << "the check never removes anything";

  // A directory of that name is no marker.
  std::filesystem::remove(marker());
  ASSERT_TRUE(dir_.MakeDirectory("MESSAGE/VIZIZE.BSY"));
  EXPECT_TRUE(Check(kInitialPreflight));
}

TEST_F(CheckpointTest, OwnLockMissingOrChanged) {
  const std::string error =
      "SAFETY ERROR: TWTRIM32's shared VIZIZE.BSY lock is missing or changed during after commit.";

  // The lock taken through a path spelled with a backslash is the one checked.
  ASSERT_TRUE(AcquireSharedTosserLock(os_, msg() + "\\VIZIZE.BSY"));
  ASSERT_TRUE(dir_.Exists("MESSAGE/VIZIZE.BSY"));
  EXPECT_TRUE(Check(kAfterCommit));
  ReleaseSharedTosserLock();

  // Held, but at another path than the one checked.
  ASSERT_TRUE(dir_.MakeDirectory("OTHER"));
  ASSERT_TRUE(AcquireSharedTosserLock(os_, dir_.Path("OTHER/VIZIZE.BSY")));
  ASSERT_TRUE(dir_.Write("MESSAGE/VIZIZE.BSY", ""));
  EXPECT_FALSE(Check(kAfterCommit));
  EXPECT_EQ(Lines(), Lines_{error});
}

TEST_F(CheckpointTest, TosserProcessIsMatchedByWholeName) {
  struct Case {
    std::vector<std::string> names;
    bool running;
  };
  const std::vector<Case> cases = {
      {{"init", "vizize32.exe"}, true},
      {{"VIZIZE32.EXE", "bash"}, true},
      {{"VIZIZE32.EXE.BAK"}, false},
      {{"XVIZIZE32.EXE"}, false},
      {{"VIZIZE32"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.back());
    os_.SetProcessNames(c.names);
    EXPECT_EQ(Check(kScanVerification), !c.running);
    EXPECT_EQ(Lines(), c.running ? Lines_{"SAFETY ABORT: VIZIZE32.EXE is running during scan "
                                          "verification."}
                                 : Lines_{});
  }
  os_.FailProcessList();
  EXPECT_FALSE(Check(kScanVerification));
  EXPECT_EQ(Lines(),
            Lines_{"SAFETY ERROR: unable to enumerate processes during scan verification."});
}

}  // namespace
}  // namespace twtrim
