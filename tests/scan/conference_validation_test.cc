// The file checks that come before any record is read: presence, sizes,
// counts and limits, and the heading of the conference's block.
#include <gtest/gtest.h>

#include <string>

#include "scan/scan_fixture.h"

namespace twtrim::test {
namespace {

const char* const kError1 = "  RESULT: ERROR - 1 validation error(s); no write allowed.";
const char* const kError2 = "  RESULT: ERROR - 2 validation error(s); no write allowed.";
const char* const kError3 = "  RESULT: ERROR - 3 validation error(s); no write allowed.";

class ConferenceValidationTest : public ScanTest {
 protected:
  // A small valid conference: 3 records, 3 DAT blocks.
  void WriteSmall(uint32_t conference) {
    board::ConferenceBuilder b;
    for (board::MessageShape shape : {board::Root(1), board::Reply(2, 1), board::Reply(3, 1)}) {
      b.Add(shape);
    }
    WriteConference(conference, b.files());
  }
  void WriteSizes(uint64_t ptr, uint64_t idx, uint64_t dat) {
    WriteSized(1, "PTR", ptr);
    WriteSized(1, "IDX", idx);
    WriteSized(1, "DAT", dat);
  }
};

// Numbers from 10 on have no leading zero; a name follows a dash.
TEST_F(ConferenceValidationTest, HeadingWithNumberAndName) {
  WriteSmall(123);
  const ScanResult r = Scan(123, Mode::kConcise, RunMode::kDry, "Swap.Meet");
  EXPECT_EQ(r.lines, (Lines{"", "CONF 123 - Swap.Meet", "  RESULT: NO CHANGES."}));
}

// A missing PTR still has IDX and DAT probed (their sizes are shown in the
// totals) but nothing is read; a directory with a file's name is missing.
TEST_F(ConferenceValidationTest, MissingFilesEndTheBlock) {
  struct Case {
    const char* remove;  // "" removes all three
    bool directory;
    Lines errors;
    uint64_t opens;
  };
  const Case cases[] = {
      {"", false, {"PTR", "IDX", "DAT"}, 0},
      {"PTR", false, {"PTR"}, 2},
      {"IDX", true, {"IDX"}, 2},
      {"DAT", false, {"DAT"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.remove);
    WriteSmall(1);
    for (const char* ext : {"PTR", "IDX", "DAT"}) {
      if (*c.remove == '\0' || c.remove == std::string(ext)) real_->DeleteFile(FilePath(1, ext));
    }
    if (c.directory) {
      ASSERT_TRUE(dir_.MakeDirectory("MESSAGE/TWMSG01.IDX"));
    }
    os_.ResetCounts();
    const ScanResult r = Scan(1, Mode::kVerbose);
    Lines expected = {"", "CONF 01"};
    for (const std::string& ext : c.errors) expected.push_back("  ERROR: missing " + Shown(1, ext));
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(r.scan.validationErrors, c.errors.size());
    EXPECT_FALSE(r.scan.needsAction);
    EXPECT_EQ(os_.calls(OsCall::kOpenSharedRead), c.opens);
    EXPECT_EQ(os_.calls(OsCall::kRead), 0u);
    if (c.remove == std::string("PTR")) {
      EXPECT_EQ(r.scan.idxBytes, 48u);
      EXPECT_EQ(r.scan.datBytes, 384u);
    }
    if (c.directory) {
      ASSERT_TRUE(std::filesystem::remove(FilePath(1, "IDX")));
    }
  }
}

TEST_F(ConferenceValidationTest, FilesThatCannotBeOpenedOrSized) {
  struct Case {
    OsCall kind;
    const char* ext;
    Lines tail;
  };
  const Case cases[] = {
      {OsCall::kOpenSharedRead, "PTR", {"  ERROR: cannot open PTR."}},
      {OsCall::kOpenSharedRead, "IDX", {"  ERROR: cannot open IDX."}},
      {OsCall::kOpenSharedRead, "DAT", {"  ERROR: cannot open DAT."}},
      {OsCall::kSize,
       "PTR",
       {"  ERROR: cannot determine PTR size.", "  ERROR: PTR/IDX record-count mismatch (0 vs 3).",
        kError2}},
      {OsCall::kSize,
       "IDX",
       {"  ERROR: cannot determine IDX size.", "  ERROR: PTR/IDX record-count mismatch (3 vs 0).",
        kError2}},
      {OsCall::kSize, "DAT", {"  ERROR: cannot determine DAT size.", kError1}},
  };
  WriteSmall(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(OsCallName(c.kind)) + " " + c.ext);
    os_.ClearFaults();
    os_.ResetCounts();
    os_.FailPath(c.kind, board::ConferenceFileName(1, c.ext));
    const ScanResult r = Scan(1);
    Lines expected = {"", "CONF 01"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(os_.calls(OsCall::kRead), 0u);
  }
}

// Sizes are judged before anything is read (sparse files stand in for big ones).
TEST_F(ConferenceValidationTest, SizesAndLimits) {
  const char* const kNotPtr = "  ERROR: PTR size is not a supported multiple of 256 bytes.";
  const char* const kNotIdx = "  ERROR: IDX size is not a supported multiple of 16 bytes.";
  const char* const kNotDat = "  ERROR: DAT size is not a supported multiple of 128 bytes.";
  struct Case {
    const char* what;
    uint64_t ptr, idx, dat;
    Lines lines;
  };
  const Case cases[] = {
      {"empty files", 0, 0, 0, {"  RESULT: NO CHANGES."}},
      {"each size check stands alone", 257, 17, 129, {kNotPtr, kNotIdx, kNotDat, kError3}},
      {"4 GiB or more",
       1ull << 32,
       (1ull << 32) + 16,
       1ull << 32,
       {kNotPtr, kNotIdx, kNotDat, kError3}},
      {"counts differ, PTR named first",
       25600,
       1584,
       0,
       {"  ERROR: PTR/IDX record-count mismatch (100 vs 99).", kError1}},
      {"PTR not a multiple beside a 100-record IDX",
       25700,
       1600,
       0,
       {kNotPtr, "  ERROR: PTR/IDX record-count mismatch (0 vs 100).", kError2}},
      {"65,536 DAT blocks",
       0,
       0,
       65536ull * 128,
       {"  RESULT: NO CHANGES.", "  FINDINGS: unreferenced-DAT=65536"}},
      {"65,537 DAT blocks",
       0,
       0,
       65537ull * 128,
       {"  ERROR: DAT exceeds 65,536 records and cannot be addressed safely by the 16-bit PTR "
        "Where field.",
        kError1}},
      {"2,000,001 records",
       2000001ull * 256,
       2000001ull * 16,
       0,
       {"  ERROR: PTR has more than 2,000,000 records; scan safety limit reached.", kError1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSizes(c.ptr, c.idx, c.dat);
    os_.ResetCounts();
    const ScanResult r = Scan(1);
    Lines expected = {"", "CONF 01"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(r.scan.ptrBytes, c.ptr);
    EXPECT_EQ(os_.calls(OsCall::kRead), 0u);
  }
}

// In verbose mode a size error comes before the size lines, and the block
// ends with the counts.
TEST_F(ConferenceValidationTest, VerboseSizeErrorOrder) {
  WriteSizes(25700, 1600, 0);
  const ScanResult r = Scan(1, Mode::kVerbose);
  EXPECT_TRUE(HasBlock(
      r.lines,
      {"CONF 01", "  ERROR: PTR size is not a supported multiple of 256 bytes.",
       "  PTR: 25700 bytes / 0 records x 256", "  IDX: 1600 bytes / 100 records x 16",
       "  DAT: 0 bytes / 0 records x 128", "  ERROR: PTR/IDX record-count mismatch (0 vs 100).",
       "  Deleted records:      0"}));
  EXPECT_EQ(r.lines.back(), "  Validation errors:    2");
}

TEST_F(ConferenceValidationTest, ExactlyTwoMillionRecordsGoOnToTheAnalysis) {
  WriteSizes(2000000ull * 256, 2000000ull * 16, 0);
  // Stop the analysis at its first file operation: reaching it is the point.
  os_.FailNthCall(OsCall::kSeek, 1);
  const ScanResult r = Scan(1);
  EXPECT_EQ(r.lines, (Lines{"", "CONF 01", "  ERROR: cannot seek PTR/IDX to start.", kError1}));
}

TEST_F(ConferenceValidationTest, PathsThatCannotBeFormedAreMissing) {
  // 500 characters of directory leave no room for "/TWMSG01.PTR".
  const std::string longDir = messageDir_ + "/" + std::string(500 - messageDir_.size() - 1, 'x');
  ConferenceScan scan;
  ScanConference(os_, out_, longDir, 1, "", false, &scan);
  EXPECT_EQ(ReportLines(os_.stdoutText()),
            (Lines{"", "CONF 01", "  ERROR: missing ", "  ERROR: missing ", "  ERROR: missing "}));
  EXPECT_EQ(scan.validationErrors, 3u);
  EXPECT_EQ(os_.calls(), 0u);  // nothing half-formed was probed
}

}  // namespace
}  // namespace twtrim::test
