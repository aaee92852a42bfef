// Overlap counting on hostile boards: many records on one block must not
// overflow a per-block counter, and random ranges must give exactly the
// counts and lines a naive per-block tally gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "report/report_output.h"
#include "scan/conference_scan.h"
#include "support/app_harness.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

struct Scanned {
  ConferenceScan scan;
  Lines lines;
};

Scanned ScanOne(const board::ConferenceFiles& files) {
  TempDir dir;
  EXPECT_TRUE(board::WriteConference(dir.path(), 1, files));
  const std::unique_ptr<Os> real = CreateSystemOs(0, nullptr);
  FaultOs os(*real);
  ReportOutput out(os);
  out.SetVerbose(true);
  Scanned result;
  ScanConference(os, out, dir.path(), 1, "", false, &result.scan);
  result.lines = ReportLines(os.stdoutText());
  return result;
}

TEST(OverlapTest, ManyRecordsOnOneBlockSaturateWithoutMiscounting) {
  board::ConferenceBuilder b;
  b.Add(board::Root(1, 2));
  for (int32_t n = 2; n <= 300; ++n) b.Add(ShapeAt(board::Root(n), 1));
  const Scanned r = ScanOne(b.files());
  EXPECT_EQ(r.scan.datOverlapBlocks, 1u);
  EXPECT_EQ(r.scan.unreferencedDat, 0u);
}

TEST(OverlapTest, CountsMatchANaiveCountOverRandomRanges) {
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  const uint32_t blocks = 300;
  for (int round = 0; round < 5; ++round) {
    board::ConferenceBuilder b;
    b.AddUnreferencedBlocks(blocks);
    std::vector<uint32_t> refs(blocks, 0);
    Lines expected;
    uint32_t overlaps = 0;
    for (int32_t n = 1; n <= 60; ++n) {
      const auto where = static_cast<uint16_t>(next(blocks));
      const uint32_t room = blocks - where;  // ranges stay inside the DAT
      const auto length = static_cast<uint16_t>(1 + next(round % 2 ? room : std::min(room, 8u)));
      uint32_t shared = 0;
      for (uint32_t k = where; k < uint32_t{where} + length; ++k) {
        if (refs[k] == 1) ++overlaps;
        if (refs[k]++ > 0) ++shared;
      }
      if (shared > 0) {
        expected.push_back("    DAT-OVERLAP: slot " + std::to_string(n) +
                           " range Where=" + std::to_string(where) +
                           " Records=" + std::to_string(length) + " overlaps " +
                           std::to_string(shared) + " already-referenced DAT record(s).");
      }
      b.Add(ShapeAt(board::Root(n, length), where));
    }
    const Scanned r = ScanOne(b.files());
    EXPECT_EQ(r.scan.datOverlapBlocks, overlaps) << round;
    const auto unreferenced = static_cast<uint32_t>(std::count(refs.begin(), refs.end(), 0u));
    EXPECT_EQ(r.scan.unreferencedDat, unreferenced) << round;
    Lines found;
    for (const std::string& line : r.lines) {
      if (line.starts_with("    DAT-OVERLAP: ")) found.push_back(line);
    }
    EXPECT_EQ(found, expected) << round;
  }
}

}  // namespace
}  // namespace twtrim::test
