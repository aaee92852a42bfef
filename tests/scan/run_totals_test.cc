#include "scan/run_totals.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "report/report_output.h"
#include "support/fault_os.h"
#include "support/report_lines.h"

namespace twtrim {
namespace {

using test::Lines;

// The SUMMARY and the totals of a mixed board are checked line by line end to
// end; here are the limits and every choice the summary makes.
class RunTotalsTest : public ::testing::Test {
 protected:
  RunTotalsTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  Lines Summary(uint32_t extraErrors = 0, uint32_t backupFolders = 0, bool write = false) {
    os_.ClearStdout();
    PrintSummary(out_, totals_, extraErrors, backupFolders, write);
    return test::ReportLines(os_.stdoutText());
  }
  // The findings line, or "" when the summary has none.
  std::string Findings(uint32_t extraErrors = 0, uint32_t backupFolders = 0) {
    for (const std::string& line : Summary(extraErrors, backupFolders)) {
      if (line.rfind("Findings:", 0) == 0) return line;
    }
    return "";
  }

  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
  RunTotals totals_;
};

TEST_F(RunTotalsTest, ByteTotalsAreExactPastFourGiB) {
  ConferenceScan big;
  big.ptrBytes = 3ull << 30;
  big.datBytes = 3ull << 30;
  big.reclaimBytes = 5ull << 30;
  AddPlanToTotals(&totals_, big);
  AddPlanToTotals(&totals_, big);
  EXPECT_EQ(totals_.totalBytes, 12ull << 30);
  EXPECT_EQ(Summary()[5], "Estimated bytes reclaimed: 10737418240");
}

TEST_F(RunTotalsTest, FindingsListOnlyWhatIsNotZeroInFixedOrder) {
  EXPECT_EQ(Findings(), "");
  EXPECT_EQ(Findings(0, 4), "Findings: ignored-backup-folders=4");
  // Errors of the conference list count as validation errors.
  EXPECT_EQ(Findings(1), "Findings: validation-errors=1");
  totals_.staleIdxIdentity = 2;
  EXPECT_EQ(Findings(), "Findings: stale-IDX=2");

  totals_.bodylessCount = 1;
  totals_.rootsWithoutChild = 2;
  totals_.orphanReplies = 3;
  totals_.staleIdxIdentity = 4;
  totals_.idxCrcErrors = 5;
  totals_.datOverlapBlocks = 6;
  totals_.unreferencedDat = 7;
  totals_.validationErrors = 8;
  EXPECT_EQ(Findings(1, 9),
            "Findings: bodyless=1 root-no-child=2 orphan-replies=3 stale-IDX=4 IDX-CRC-errors=5 "
            "DAT-overlaps=6 unreferenced-DAT=7 validation-errors=9 ignored-backup-folders=9");
}

TEST_F(RunTotalsTest, VerdictPrecedence) {
  struct Case {
    const char* what;
    uint32_t blocked, errors, extra, needing, backupFolders;
    bool write;
    const char* verdict;
  };
  const Case cases[] = {
      {"blocked beats errors", 1, 2, 1, 3, 0, false,
       "PREVIEW: BLOCKED conference(s) are selected; no write is allowed."},
      {"blocked, write run", 1, 0, 0, 1, 0, true,
       "WRITE PLAN: BLOCKED conference(s) are selected; no write is allowed."},
      {"errors beat action", 0, 1, 0, 3, 0, false,
       "PREVIEW: VALIDATION ERROR; no write is allowed."},
      {"conference-list errors beat action", 0, 0, 1, 3, 0, true,
       "WRITE PLAN: VALIDATION ERROR; no write is allowed."},
      {"action, dry run", 0, 0, 0, 1, 0, false,
       "PREVIEW: changes would be made; no files changed."},
      {"action, write run", 0, 0, 0, 1, 0, true,
       "WRITE PLAN: ready after remaining safeguards pass."},
      {"nothing, dry run", 0, 0, 0, 0, 0, false, "PREVIEW: no selected conference needs a change."},
      {"backup folders are no reason to act", 0, 0, 0, 0, 4, false,
       "PREVIEW: no selected conference needs a change."},
      {"nothing, write run", 0, 0, 0, 0, 0, true,
       "WRITE PLAN: no selected conference needs a change."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    totals_ = RunTotals{};
    totals_.conferencesBlocked = c.blocked;
    totals_.validationErrors = c.errors;
    totals_.conferencesNeedingAction = c.needing;
    EXPECT_EQ(Summary(c.extra, c.backupFolders, c.write).back(), c.verdict);
  }
}

}  // namespace
}  // namespace twtrim
