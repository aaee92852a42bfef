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

class RunTotalsTest : public ::testing::Test {
 protected:
  RunTotalsTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  Lines Summary(uint32_t extraErrors = 0, uint32_t backupFolders = 0, bool write = false) {
    os_.ClearStdout();
    PrintSummary(out_, totals_, extraErrors, backupFolders, write);
    bool allCrLf = false;
    Lines lines = test::ReportLines(os_.stdoutText(), &allCrLf);
    EXPECT_TRUE(allCrLf);
    return lines;
  }
  // The findings line, or "" when the summary has none.
  std::string Findings(uint32_t extraErrors = 0, uint32_t backupFolders = 0) {
    for (const std::string& line : Summary(extraErrors, backupFolders)) {
      if (line.rfind("Findings:", 0) == 0) return line;
    }
    return "";
  }
  std::string Verdict(uint32_t extraErrors, bool write) {
    return Summary(extraErrors, 0, write).back();
  }

  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
  RunTotals totals_;
};

ConferenceScan PackedScan() {
  ConferenceScan s;
  s.ptrBytes = 25600;
  s.idxBytes = 1600;
  s.datBytes = 51200;
  s.projectedPtrBytes = 24832;
  s.projectedIdxBytes = 1552;
  s.projectedDatBytes = 49920;
  s.reclaimBytes = 2096;
  s.ptrRecords = s.idxRecords = 100;
  s.datRecords = 400;
  s.projectedPtrRecords = s.projectedIdxRecords = 97;
  s.projectedDatRecords = 390;
  s.deletedCount = 3;
  s.bodylessCount = 2;
  s.replyLinksCleared = 1;
  s.deletedDatRecords = 10;
  s.liveDatRecords = 390;
  s.needsAction = true;
  return s;
}

TEST_F(RunTotalsTest, AddsEveryConferenceAndCountsFlags) {
  ConferenceScan blocked = PackedScan();
  blocked.blocked = true;
  blocked.reclaimBytes = 0;
  blocked.datOverlapBlocks = 4;
  blocked.validationErrors = 2;
  blocked.idxCrcErrors = 2;
  ConferenceScan clean;
  clean.ptrRecords = clean.idxRecords = 5;
  clean.ptrBytes = 1280;
  AddPlanToTotals(&totals_, PackedScan());
  AddPlanToTotals(&totals_, blocked);
  AddPlanToTotals(&totals_, clean);

  EXPECT_EQ(totals_.conferencesScanned, 3u);
  EXPECT_EQ(totals_.conferencesNeedingAction, 2u);
  EXPECT_EQ(totals_.conferencesBlocked, 1u);
  EXPECT_EQ(totals_.ptrRecords, 205u);
  EXPECT_EQ(totals_.projectedPtrRecords, 194u);
  EXPECT_EQ(totals_.projectedDatRecords, 780u);
  EXPECT_EQ(totals_.deletedCount, 6u);
  EXPECT_EQ(totals_.replyLinksCleared, 2u);
  EXPECT_EQ(totals_.datOverlapBlocks, 4u);
  EXPECT_EQ(totals_.validationErrors, 2u);
  EXPECT_EQ(totals_.idxCrcErrors, 2u);
  EXPECT_EQ(totals_.totalBytes, 2 * (25600u + 1600u + 51200u) + 1280u);
  EXPECT_EQ(totals_.projectedBytes, 2 * (24832u + 1552u + 49920u));
  EXPECT_EQ(totals_.reclaimBytes, 2096u);
}

TEST_F(RunTotalsTest, ByteTotalsAreExactPastFourGiB) {
  ConferenceScan big;
  big.ptrBytes = 3ull << 30;
  big.datBytes = 3ull << 30;
  big.reclaimBytes = 5ull << 30;
  AddPlanToTotals(&totals_, big);
  AddPlanToTotals(&totals_, big);
  EXPECT_EQ(totals_.totalBytes, 12ull << 30);
  EXPECT_EQ(totals_.reclaimBytes, 10ull << 30);
  EXPECT_EQ(Summary()[5], "Estimated bytes reclaimed: 10737418240");
}

TEST_F(RunTotalsTest, DryRunSummaryOfOneConferenceToPack) {
  ConferenceScan clean;
  ConferenceScan packed;
  packed.ptrRecords = packed.idxRecords = 10;
  packed.projectedPtrRecords = packed.projectedIdxRecords = 7;
  packed.datRecords = 20;
  packed.projectedDatRecords = 14;
  packed.deletedCount = 3;
  packed.reclaimBytes = 3 * 272 + 6 * 128;
  packed.needsAction = true;
  AddPlanToTotals(&totals_, clean);
  AddPlanToTotals(&totals_, packed);
  const Lines expected = {
      "",
      "======================= SUMMARY ============================",
      "Conferences: scanned=2; needing action=1; blocked=0",
      "Planned work: deleted=3; DANGER fixes=0; reply links cleared=0",
      "Records: PTR/IDX 10 -> 7; DAT 20 -> 14",
      "Estimated bytes reclaimed: 1584",
      "PREVIEW: changes would be made; no files changed.",
  };
  EXPECT_EQ(Summary(), expected);
  EXPECT_EQ(Summary(0, 0, true).back(), "WRITE PLAN: ready after remaining safeguards pass.");
}

TEST_F(RunTotalsTest, NothingToReportHasNoFindingsLine) {
  const Lines lines = Summary();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[2], "Conferences: scanned=0; needing action=0; blocked=0");
  EXPECT_EQ(lines[6], "PREVIEW: no selected conference needs a change.");
  EXPECT_EQ(Summary(0, 0, true).back(), "WRITE PLAN: no selected conference needs a change.");
}

TEST_F(RunTotalsTest, FindingsListOnlyWhatIsNotZeroInFixedOrder) {
  totals_.staleIdxIdentity = 2;
  EXPECT_EQ(Findings(), "Findings: stale-IDX=2");

  totals_ = RunTotals{};
  EXPECT_EQ(Findings(0, 4), "Findings: ignored-backup-folders=4");
  EXPECT_EQ(Verdict(0, false), "PREVIEW: no selected conference needs a change.");

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

TEST_F(RunTotalsTest, ConferenceListErrorsCountAsValidationErrors) {
  EXPECT_EQ(Findings(1), "Findings: validation-errors=1");
  EXPECT_EQ(Verdict(1, false), "PREVIEW: VALIDATION ERROR; no write is allowed.");
}

TEST_F(RunTotalsTest, VerdictPrecedence) {
  struct Case {
    const char* what;
    uint32_t blocked, errors, extra, needing;
    bool write;
    const char* verdict;
  };
  const Case cases[] = {
      {"blocked beats errors", 1, 2, 1, 3, false,
       "PREVIEW: BLOCKED conference(s) are selected; no write is allowed."},
      {"blocked, write run", 1, 0, 0, 1, true,
       "WRITE PLAN: BLOCKED conference(s) are selected; no write is allowed."},
      {"errors beat action", 0, 1, 0, 3, false, "PREVIEW: VALIDATION ERROR; no write is allowed."},
      {"extra errors beat action", 0, 0, 1, 3, true,
       "WRITE PLAN: VALIDATION ERROR; no write is allowed."},
      {"action, dry run", 0, 0, 0, 1, false, "PREVIEW: changes would be made; no files changed."},
      {"action, write run", 0, 0, 0, 1, true, "WRITE PLAN: ready after remaining safeguards pass."},
  };
  for (const Case& c : cases) {
    totals_ = RunTotals{};
    totals_.conferencesBlocked = c.blocked;
    totals_.validationErrors = c.errors;
    totals_.conferencesNeedingAction = c.needing;
    EXPECT_EQ(Verdict(c.extra, c.write), c.verdict) << c.what;
  }
}

}  // namespace
}  // namespace twtrim
