#include "msgbase/conference_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

using test::Lines;

class ConferenceListTest : public ::testing::Test {
 protected:
  ConferenceListTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  std::string ConfigPath() const { return dir_.Path("TWMCONF.DAT"); }
  void WriteConfig(const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(board::WriteFileBytes(ConfigPath(), bytes));
  }
  ConferenceList Load() { return LoadConferenceList(os_, out_, ConfigPath()); }
  Lines Report() const {
    bool allCrLf = true;
    Lines lines = test::ReportLines(os_.stdoutText(), &allCrLf);
    EXPECT_TRUE(allCrLf);
    return lines;
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

TEST_F(ConferenceListTest, MissingFileOrDirectoryIsNotAnError) {
  ConferenceList list = Load();
  EXPECT_FALSE(list.present);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.errors, 0u);
  EXPECT_FALSE(list.usable());

  ASSERT_TRUE(dir_.MakeDirectory("TWMCONF.DAT"));
  list = Load();
  EXPECT_FALSE(list.present);
  EXPECT_EQ(list.errors, 0u);
  EXPECT_TRUE(Report().empty());
}

TEST_F(ConferenceListTest, NamesAreCutAndMadePrintable) {
  std::vector<uint8_t> bytes = board::ConferenceConfigBytes(
      {"General", "", std::string(200, 'n'), "Bell\x07 and \xE9t\xE9", "Last"});
  for (size_t i = 0; i < 64; ++i) bytes[2 * 128 + 4 + i] = static_cast<uint8_t>('A' + i % 26);
  WriteConfig(bytes);
  const ConferenceList list = Load();
  EXPECT_TRUE(list.present);
  EXPECT_TRUE(list.usable());
  EXPECT_EQ(list.errors, 0u);
  ASSERT_EQ(list.count, 5u);
  ASSERT_EQ(list.names.size(), 5u);
  EXPECT_EQ(list.names[0], "General");
  EXPECT_EQ(list.names[1], "");          // length byte 0
  EXPECT_EQ(list.names[2].size(), 64u);  // length byte 200: the first 64 characters
  EXPECT_EQ(list.names[2].substr(0, 27), "ABCDEFGHIJKLMNOPQRSTUVWXYZA");
  EXPECT_EQ(list.names[3], "Bell. and .t.");
  EXPECT_EQ(list.names[4], "Last");
  EXPECT_TRUE(Report().empty());
}

TEST_F(ConferenceListTest, LargestFileHas999Conferences) {
  WriteConfig(board::ConferenceConfigBytes(std::vector<std::string>(999, "Conf")));
  const ConferenceList list = Load();
  EXPECT_EQ(list.count, 999u);
  EXPECT_EQ(list.names[998], "Conf");
  EXPECT_EQ(list.errors, 0u);
}

TEST_F(ConferenceListTest, WrongSizesAreReportedAndLeaveNoList) {
  struct Case {
    uint64_t size;
    const char* message;
  };
  const Case cases[] = {
      {0, "ERROR: TWMCONF.DAT conference count is outside 1..999."},
      {128000, "ERROR: TWMCONF.DAT conference count is outside 1..999."},
      {130, "ERROR: TWMCONF.DAT size is not a valid multiple of 128 bytes."},
      {127, "ERROR: TWMCONF.DAT size is not a valid multiple of 128 bytes."},
      // 4 GiB is a multiple of 128 but past what the format can hold (sparse).
      {0x100000000ull, "ERROR: TWMCONF.DAT size is not a valid multiple of 128 bytes."},
  };
  for (const Case& c : cases) {
    os_.ClearStdout();
    WriteConfig({});
    std::filesystem::resize_file(ConfigPath(), c.size);
    const ConferenceList list = Load();
    EXPECT_TRUE(list.present) << c.size;
    EXPECT_EQ(list.count, 0u) << c.size;
    EXPECT_TRUE(list.names.empty()) << c.size;
    EXPECT_EQ(list.errors, 1u) << c.size;
    EXPECT_FALSE(list.usable()) << c.size;
    EXPECT_EQ(Report(), Lines{c.message}) << c.size;
  }
  std::filesystem::remove(ConfigPath());
}

TEST_F(ConferenceListTest, OpenOrSizeFailureIsCannotRead) {
  WriteConfig(board::ConferenceConfigBytes({"A", "B"}));
  for (OsCall kind : {OsCall::kOpenSharedRead, OsCall::kSize}) {
    os_.ClearFaults();
    os_.ClearStdout();
    os_.FailPath(kind, "TWMCONF.DAT");
    const ConferenceList list = Load();
    EXPECT_TRUE(list.present) << OsCallName(kind);
    EXPECT_EQ(list.count, 0u) << OsCallName(kind);
    EXPECT_EQ(list.errors, 1u) << OsCallName(kind);
    EXPECT_EQ(Report(), Lines{"ERROR: cannot open/read TWMCONF.DAT: " + ConfigPath()})
        << OsCallName(kind);
  }
}

// A read that fails, or brings fewer than 128 bytes, at record 4 of 5 keeps
// the count and the three names read before it.
TEST_F(ConferenceListTest, ShortReadKeepsCountAndEarlierNames) {
  WriteConfig(board::ConferenceConfigBytes({"One", "Two", "Three", "Four", "Five"}));
  for (FaultEffect effect : {FaultEffect::kShort, FaultEffect::kFail}) {
    os_.ClearFaults();
    os_.ClearStdout();
    FaultRule rule;
    rule.match.kind = OsCall::kRead;
    rule.match.pathSuffix = "TWMCONF.DAT";
    rule.match.nth = 4;
    rule.effect = effect;
    os_.AddFault(rule);
    const ConferenceList list = Load();
    EXPECT_TRUE(list.usable());
    EXPECT_EQ(list.count, 5u);
    EXPECT_EQ(list.errors, 1u);
    EXPECT_EQ(list.names, (std::vector<std::string>{"One", "Two", "Three", "", ""}));
    EXPECT_EQ(Report(), Lines{"ERROR: short read in TWMCONF.DAT."});
  }
}

class DiscoveryTest : public ConferenceListTest {
 protected:
  void MakePtr(uint32_t n) {
    ASSERT_TRUE(dir_.Write("MESSAGE/" + board::ConferenceFileName(n, "PTR"), ""));
  }
  uint32_t Discover() { return DiscoverHighestConference(os_, dir_.Path("MESSAGE")); }
};

TEST_F(DiscoveryTest, FindsTheHighestBeforeAGapOfMoreThanTwenty) {
  struct Case {
    std::vector<uint32_t> files;
    uint32_t highest;
    uint64_t probes;  // numbers tried before the search stopped
  };
  const Case cases[] = {
      {{1, 2, 3, 30}, 3, 24},  // stops at 24, never sees 30
      {{1, 22}, 22, 43},      {{1, 23}, 1, 22},
      {{500}, 500, 521},  // everything below the first file is tried
      {{}, 0, 999},           {{999}, 999, 999},
      {{5, 9, 12}, 12, 33},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_.Path("MESSAGE"));
    ASSERT_TRUE(dir_.MakeDirectory("MESSAGE"));
    for (uint32_t n : c.files) MakePtr(n);
    os_.ResetCounts();
    EXPECT_EQ(Discover(), c.highest) << ::testing::PrintToString(c.files);
    EXPECT_EQ(os_.calls(OsCall::kGetPathKind), c.probes) << ::testing::PrintToString(c.files);
  }
}

TEST_F(DiscoveryTest, OnlyPtrFilesCount) {
  ASSERT_TRUE(dir_.MakeDirectory("MESSAGE/TWMSG02.PTR"));  // a directory is not a conference
  ASSERT_TRUE(dir_.Write("MESSAGE/TWMSG03.IDX", ""));
  ASSERT_TRUE(dir_.Write("MESSAGE/TWMSG04.DAT", ""));
  ASSERT_TRUE(dir_.Write("MESSAGE/TWMSG5.PTR", ""));  // not the naming rule
  EXPECT_EQ(Discover(), 0u);
  MakePtr(1);
  EXPECT_EQ(Discover(), 1u);
  EXPECT_TRUE(Report().empty());
}

}  // namespace
}  // namespace twtrim
