// The named scenarios are what the sample board, the end-to-end tests and
// the documentation show: each must read exactly as its description says
// when the program scans it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "board/board_builder.h"
#include "scan/conference_scan.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim::board {
namespace {

using test::Lines;

Lines ConciseScan(const ConferenceFiles& files, uint32_t conference) {
  TempDir dir;
  EXPECT_TRUE(WriteConference(dir.path(), conference, files));
  std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  FaultOs os(*real);
  ReportOutput out(os);
  ConferenceScan scan;
  ScanConference(os, out, dir.path(), conference, "", false, &scan);
  return test::ReportLines(os.stdoutText());
}

TEST(ScenarioScanTest, EachScenarioReadsAsDescribed) {
  struct Case {
    const char* name;
    uint32_t conference;
    Lines expected;
  };
  const Case cases[] = {
      {"clean", 1, {"", "CONF 01", "  RESULT: NO CHANGES."}},
      {"danger",
       2,
       {"", "CONF 02",
        "  RESULT: WOULD PACK/FIX - deleted=2; DANGER fixes=2; reply links cleared=1; "
        "PTR/IDX 10 -> 8; DAT 15 -> 11; reclaim=1056 bytes."}},
      {"pack",
       3,
       {"", "CONF 03",
        "  RESULT: WOULD PACK/FIX - deleted=3; DANGER fixes=0; reply links cleared=1; "
        "PTR/IDX 100 -> 97; DAT 400 -> 390; reclaim=2096 bytes.",
        "  FINDINGS: bodyless=2"}},
      {"blocked",
       4,
       {"", "CONF 04", "  RESULT: BLOCKED - no write allowed; deleted=1; DAT overlaps=2.",
        "  FINDINGS: DAT-overlaps=2"}},
      {"validation",
       5,
       {"", "CONF 05", "  ERROR: duplicate MsgNumber count: 1",
        "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick "
        "convention: 1",
        "  RESULT: ERROR - 2 validation error(s); no write allowed."}},
      {"repair",
       6,
       {"", "CONF 06",
        "  RESULT: WOULD PACK/FIX - deleted=0; DANGER fixes=2; reply links cleared=0; "
        "PTR/IDX 7 -> 7; DAT 12 -> 12; reclaim=0 bytes."}},
  };
  for (const Case& c : cases) {
    ConferenceFiles files;
    ASSERT_TRUE(ScenarioByName(c.name, &files)) << c.name;
    EXPECT_EQ(ConciseScan(files, c.conference), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace twtrim::board
