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
  for (bool directory : {false, true}) {
    if (directory) {
      ASSERT_TRUE(dir_.MakeDirectory("TWMCONF.DAT"));
    }
    const ConferenceList list = Load();
    EXPECT_FALSE(list.present);
    EXPECT_FALSE(list.usable());
    EXPECT_EQ(list.errors, 0u);
  }
  EXPECT_TRUE(Report().empty());
}

// Length byte 0 gives an empty name, 200 the first 64 characters.
TEST_F(ConferenceListTest, NamesAreCutAndMadePrintable) {
  std::vector<uint8_t> bytes = board::ConferenceConfigBytes(
      {"General", "", std::string(200, 'n'), "Bell\x07 and \xE9t\xE9", "Last"});
  std::string sixtyFour;
  for (size_t i = 0; i < 64; ++i) sixtyFour += static_cast<char>('A' + i % 26);
  std::copy(sixtyFour.begin(), sixtyFour.end(), bytes.begin() + 2 * 128 + 4);
  WriteConfig(bytes);
  const ConferenceList list = Load();
  EXPECT_TRUE(list.usable());
  EXPECT_EQ(list.count, 5u);
  EXPECT_EQ(list.errors, 0u);
  EXPECT_EQ(list.names,
            (std::vector<std::string>{"General", "", sixtyFour, "Bell. and .t.", "Last"}));
  EXPECT_TRUE(Report().empty());
}

TEST_F(ConferenceListTest, SizesDecideTheCount) {
  const std::string kCount = "ERROR: TWMCONF.DAT conference count is outside 1..999.";
  const std::string kSize = "ERROR: TWMCONF.DAT size is not a valid multiple of 128 bytes.";
  struct Case {
    uint64_t size;
    uint32_t count;
    std::string message;  // "" for a usable list
  };
  const Case cases[] = {
      {999 * 128, 999, ""},
      {0, 0, kCount},
      {128000, 0, kCount},
      {130, 0, kSize},
      {127, 0, kSize},
      {0x100000000ull, 0, kSize},  // a multiple of 128, but past what the format holds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    os_.ClearStdout();
    WriteConfig({});
    std::filesystem::resize_file(ConfigPath(), c.size);  // sparse where it is large
    const ConferenceList list = Load();
    EXPECT_TRUE(list.present);
    EXPECT_EQ(list.count, c.count);
    EXPECT_EQ(list.names.size(), c.count);
    EXPECT_EQ(list.usable(), c.message.empty());
    EXPECT_EQ(list.errors, c.message.empty() ? 0u : 1u);
    EXPECT_EQ(Report(), c.message.empty() ? Lines{} : Lines{c.message});
  }
  std::filesystem::remove(ConfigPath());
}

TEST_F(ConferenceListTest, OpenOrSizeFailureIsCannotRead) {
  WriteConfig(board::ConferenceConfigBytes({"A", "B"}));
  for (OsCall kind : {OsCall::kOpenSharedRead, OsCall::kSize}) {
    os_.ClearFaults();
    os_.ClearStdout();
    os_.FailPath(kind, "TWMCONF.DAT");
    SCOPED_TRACE(OsCallName(kind));
    const ConferenceList list = Load();
    EXPECT_TRUE(list.present);
    EXPECT_FALSE(list.usable());
    EXPECT_EQ(list.errors, 1u);
    EXPECT_EQ(Report(), Lines{"ERROR: cannot open/read TWMCONF.DAT: " + ConfigPath()});
  }
}

// A read that fails, or brings fewer than 128 bytes, at record 4 of 5 keeps
// the count and the three names read before it.
TEST_F(ConferenceListTest, ShortReadKeepsCountAndEarlierNames) {
  WriteConfig(board::ConferenceConfigBytes({"One", "Two", "Three", "Four", "Five"}));
  for (FaultEffect effect : {FaultEffect::kShort, FaultEffect::kFail}) {
    os_.ClearFaults();
    os_.ClearStdout();
    os_.AddFault({{OsCall::kRead, "TWMCONF.DAT", 4}, effect});
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
