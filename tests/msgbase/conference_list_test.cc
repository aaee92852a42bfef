// Conference discovery for /ALL without a usable TWMCONF.DAT: the first PTR
// file, then every one within 21 numbers of the last found, up to 999.
#include "msgbase/conference_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_builder.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

TEST(ConferenceDiscovery, FollowsPtrFilesAcrossGapsOfUpTo21) {
  std::vector<uint32_t> every20th = {999};
  for (uint32_t n = 1; n <= 981; n += 20) every20th.push_back(n);
  const std::pair<std::vector<uint32_t>, uint32_t> cases[] = {
      {{}, 0}, {{9}, 9}, {{10}, 10}, {{1, 22}, 22}, {{1, 23}, 1}, {{30, 51, 73}, 51},
      {every20th, 999}};
  for (const auto& [present, highest] : cases) {
    MemoryOs os;
    ASSERT_TRUE(os.MakeDirectories("/M/TWMSG05.PTR"));  // a directory is no conference
    // Named the board's way, not the program's: TWMSG09.PTR, TWMSG10.PTR.
    for (uint32_t n : present) ASSERT_TRUE(os.WriteFile(board::ConferencePath("/M", n, "PTR"), ""));
    EXPECT_EQ(DiscoverHighestConference(os, "/M"), highest) << ::testing::PrintToString(present);
  }
}

}  // namespace
}  // namespace twtrim
