// Conference discovery for /ALL without a usable TWMCONF.DAT: the first PTR
// file, then every one within 21 numbers of the last found, up to 999.
#include "msgbase/conference_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msgbase/records.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

TEST(ConferenceDiscovery, FollowsPtrFilesAcrossGapsOfUpTo21) {
  std::vector<uint32_t> every20th;
  for (uint32_t n = 1; n <= 981; n += 20) every20th.push_back(n);
  every20th.push_back(999);
  const struct {
    std::vector<uint32_t> present;
    uint32_t highest;
  } cases[] = {
      {{}, 0}, {{7}, 7}, {{1, 22}, 22}, {{1, 23}, 1}, {{30, 51, 73}, 51}, {every20th, 999},
  };
  for (const auto& c : cases) {
    MemoryOs os;
    ASSERT_TRUE(os.MakeDirectories("/M/TWMSG05.PTR"));  // a directory is no conference
    for (uint32_t n : c.present) {
      std::string path;
      ASSERT_TRUE(ConferenceFilePath(&path, "/M", n, "PTR") && os.WriteFile(path, ""));
    }
    EXPECT_EQ(DiscoverHighestConference(os, "/M"), c.highest)
        << ::testing::PrintToString(c.present);
  }
}

}  // namespace
}  // namespace twtrim
