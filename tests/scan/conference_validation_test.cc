// The file checks that come before any record is read: presence, sizes,
// counts and limits, and the heading of the conference's block.
#include <gtest/gtest.h>

#include <string>

#include "scan/scan_fixture.h"

namespace twtrim::test {
namespace {

using board::ConferenceBuilder;
using board::Root;

class ConferenceValidationTest : public ScanTest {
 protected:
  // A small valid conference: 3 records, 3 DAT blocks.
  void WriteSmall(uint32_t conference) {
    ConferenceBuilder b;
    b.Add(Root(1));
    b.Add(board::Reply(2, 1));
    b.Add(board::Reply(3, 1));
    WriteConference(conference, b.files());
  }
};

TEST_F(ConferenceValidationTest, HeadingsNumberAndName) {
  struct Case {
    uint32_t conference;
    const char* name;
    const char* heading;
  };
  const Case cases[] = {
      {9, "", "CONF 09"},
      {10, "", "CONF 10"},
      {5, "General", "CONF 05 - General"},
      {123, "Swap.Meet", "CONF 123 - Swap.Meet"},
  };
  for (const Case& c : cases) {
    WriteSmall(c.conference);
    const ScanResult r = Scan(c.conference, Mode::kConcise, RunMode::kDry, c.name);
    ASSERT_GE(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0], "");
    EXPECT_EQ(r.lines[1], c.heading);
    EXPECT_EQ(r.lines[2], "  RESULT: NO CHANGES.");
  }
}

TEST_F(ConferenceValidationTest, AllThreeFilesMissing) {
  const ScanResult r = Scan(7);
  const Lines expected = {
      "",
      "CONF 07",
      "  ERROR: missing " + Shown(7, "PTR"),
      "  ERROR: missing " + Shown(7, "IDX"),
      "  ERROR: missing " + Shown(7, "DAT"),
  };
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.validationErrors, 3u);
  EXPECT_FALSE(r.scan.needsAction);
}

TEST_F(ConferenceValidationTest, MissingPtrStillProbesIdxAndDatButEndsTheBlock) {
  WriteSmall(2);
  ASSERT_TRUE(real_->DeleteFile(FilePath(2, "PTR")));
  const ScanResult r = Scan(2, Mode::kVerbose);
  const Lines expected = {"", "CONF 02", "  ERROR: missing " + Shown(2, "PTR")};
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.validationErrors, 1u);
  EXPECT_EQ(r.scan.idxBytes, 48u);
  EXPECT_EQ(r.scan.datBytes, 384u);
  EXPECT_EQ(os_.calls(OsCall::kOpenSharedRead), 2u);
  EXPECT_EQ(os_.calls(OsCall::kRead), 0u);
}

TEST_F(ConferenceValidationTest, ADirectoryNamedLikeAFileIsMissing) {
  WriteSmall(3);
  ASSERT_TRUE(real_->DeleteFile(FilePath(3, "IDX")));
  ASSERT_TRUE(dir_.MakeDirectory("MESSAGE/TWMSG03.IDX"));
  const ScanResult r = Scan(3);
  const Lines expected = {"", "CONF 03", "  ERROR: missing " + Shown(3, "IDX")};
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.validationErrors, 1u);
}

TEST_F(ConferenceValidationTest, MissingDatEndsTheBlock) {
  WriteSmall(4);
  ASSERT_TRUE(real_->DeleteFile(FilePath(4, "DAT")));
  const ScanResult r = Scan(4);
  const Lines expected = {"", "CONF 04", "  ERROR: missing " + Shown(4, "DAT")};
  EXPECT_EQ(r.lines, expected);
}

TEST_F(ConferenceValidationTest, FilesThatCannotBeOpened) {
  for (const char* ext : {"PTR", "IDX", "DAT"}) {
    WriteSmall(1);
    os_.ClearFaults();
    os_.FailPath(OsCall::kOpenSharedRead, board::ConferenceFileName(1, ext));
    const ScanResult r = Scan(1);
    const Lines expected = {"", "CONF 01", std::string("  ERROR: cannot open ") + ext + "."};
    EXPECT_EQ(r.lines, expected) << ext;
    EXPECT_EQ(r.scan.validationErrors, 1u) << ext;
  }
}

TEST_F(ConferenceValidationTest, SizesThatCannotBeDetermined) {
  WriteSmall(1);
  struct Case {
    const char* ext;
    Lines tail;
  };
  const Case cases[] = {
      {"PTR",
       {"  ERROR: cannot determine PTR size.", "  ERROR: PTR/IDX record-count mismatch (0 vs 3).",
        "  RESULT: ERROR - 2 validation error(s); no write allowed."}},
      {"IDX",
       {"  ERROR: cannot determine IDX size.", "  ERROR: PTR/IDX record-count mismatch (3 vs 0).",
        "  RESULT: ERROR - 2 validation error(s); no write allowed."}},
      {"DAT",
       {"  ERROR: cannot determine DAT size.",
        "  RESULT: ERROR - 1 validation error(s); no write allowed."}},
  };
  for (const Case& c : cases) {
    os_.ClearFaults();
    os_.FailPath(OsCall::kSize, board::ConferenceFileName(1, c.ext));
    const ScanResult r = Scan(1);
    Lines expected = {"", "CONF 01"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(r.lines, expected) << c.ext;
    EXPECT_EQ(os_.calls(OsCall::kRead), 0u) << c.ext;
  }
}

TEST_F(ConferenceValidationTest, EmptyFilesPassWithAllCountsZero) {
  WriteSized(1, "PTR", 0);
  WriteSized(1, "IDX", 0);
  WriteSized(1, "DAT", 0);
  const ScanResult r = Scan(1);
  const Lines expected = {"", "CONF 01", "  RESULT: NO CHANGES."};
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.validationErrors, 0u);
  EXPECT_EQ(r.scan.ptrRecords + r.scan.idxRecords + r.scan.datRecords, 0u);
}

TEST_F(ConferenceValidationTest, PtrNotAMultipleBesideAHundredRecordIdx) {
  WriteSized(1, "PTR", 25700);
  WriteSized(1, "IDX", 1600);
  WriteSized(1, "DAT", 0);
  for (Mode mode : {Mode::kConcise, Mode::kVerbose}) {
    const ScanResult r = Scan(1, mode);
    Lines expected = {"", "CONF 01", "  ERROR: PTR size is not a supported multiple of 256 bytes."};
    if (mode == Mode::kVerbose) {
      expected.insert(expected.end(),
                      {"  PTR: 25700 bytes / 0 records x 256",
                       "  IDX: 1600 bytes / 100 records x 16", "  DAT: 0 bytes / 0 records x 128"});
    }
    expected.push_back("  ERROR: PTR/IDX record-count mismatch (0 vs 100).");
    if (mode == Mode::kVerbose) {
      expected.insert(
          expected.end(),
          {"  Deleted records:      0", "  Bodyless records:     0", "  DANGER records:       0",
           "  Normal roots:         0", "  Root w/o child warn:  0", "  Orphan reply warn:    0",
           "  IDX identity stale:   0", "  IDX CRC errors:       0", "  DAT overlap records:  0",
           "  Unreferenced DAT:     0", "  Validation errors:    2"});
    } else {
      expected.push_back("  RESULT: ERROR - 2 validation error(s); no write allowed.");
    }
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(r.scan.validationErrors, 2u);
    EXPECT_EQ(r.scan.ptrRecords, 0u);
    EXPECT_EQ(r.scan.idxRecords, 100u);
    EXPECT_EQ(os_.calls(OsCall::kRead), 0u);
  }
}

TEST_F(ConferenceValidationTest, EachSizeCheckStandsAlone) {
  WriteSized(1, "PTR", 257);
  WriteSized(1, "IDX", 17);
  WriteSized(1, "DAT", 129);
  const ScanResult r = Scan(1);
  const Lines expected = {
      "",
      "CONF 01",
      "  ERROR: PTR size is not a supported multiple of 256 bytes.",
      "  ERROR: IDX size is not a supported multiple of 16 bytes.",
      "  ERROR: DAT size is not a supported multiple of 128 bytes.",
      "  RESULT: ERROR - 3 validation error(s); no write allowed.",
  };
  EXPECT_EQ(r.lines, expected);
}

TEST_F(ConferenceValidationTest, RecordCountMismatchNamesPtrFirst) {
  WriteSized(1, "PTR", 25600);
  WriteSized(1, "IDX", 1584);
  WriteSized(1, "DAT", 0);
  const ScanResult r = Scan(1);
  EXPECT_EQ(r.lines[2], "  ERROR: PTR/IDX record-count mismatch (100 vs 99).");
  EXPECT_EQ(r.scan.validationErrors, 1u);
}

TEST_F(ConferenceValidationTest, DatOf65536BlocksIsAcceptedAndOneMoreIsNot) {
  WriteSized(1, "PTR", 0);
  WriteSized(1, "IDX", 0);
  WriteSized(1, "DAT", 8388608);
  ScanResult r = Scan(1);
  Lines expected = {"", "CONF 01", "  RESULT: NO CHANGES.", "  FINDINGS: unreferenced-DAT=65536"};
  EXPECT_EQ(r.lines, expected);

  WriteSized(1, "DAT", 8388736);
  r = Scan(1);
  expected = {"", "CONF 01",
              "  ERROR: DAT exceeds 65,536 records and cannot be addressed safely by the 16-bit "
              "PTR Where field.",
              "  RESULT: ERROR - 1 validation error(s); no write allowed."};
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.datRecords, 65537u);
}

TEST_F(ConferenceValidationTest, FilesOfFourGiBOrMoreAreRejected) {
  // Sparse files: nothing is read before the size checks.
  WriteSized(1, "PTR", 1ull << 32);
  WriteSized(1, "IDX", (1ull << 32) + 16);
  WriteSized(1, "DAT", 1ull << 32);
  const ScanResult r = Scan(1);
  const Lines expected = {
      "",
      "CONF 01",
      "  ERROR: PTR size is not a supported multiple of 256 bytes.",
      "  ERROR: IDX size is not a supported multiple of 16 bytes.",
      "  ERROR: DAT size is not a supported multiple of 128 bytes.",
      "  RESULT: ERROR - 3 validation error(s); no write allowed.",
  };
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.ptrBytes, 1ull << 32);
}

TEST_F(ConferenceValidationTest, MoreThanTwoMillionRecordsAreNotRead) {
  WriteSized(1, "PTR", 2000001ull * 256);
  WriteSized(1, "IDX", 2000001ull * 16);
  WriteSized(1, "DAT", 0);
  const ScanResult r = Scan(1);
  const Lines expected = {
      "",
      "CONF 01",
      "  ERROR: PTR has more than 2,000,000 records; scan safety limit reached.",
      "  RESULT: ERROR - 1 validation error(s); no write allowed.",
  };
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(os_.calls(OsCall::kRead), 0u);
  EXPECT_EQ(os_.calls(OsCall::kSeek), 0u);
}

TEST_F(ConferenceValidationTest, ExactlyTwoMillionRecordsGoOnToTheAnalysis) {
  WriteSized(1, "PTR", 2000000ull * 256);
  WriteSized(1, "IDX", 2000000ull * 16);
  WriteSized(1, "DAT", 0);
  // Stop the analysis at its first file operation: reaching it is the point.
  os_.FailNthCall(OsCall::kSeek, 1);
  const ScanResult r = Scan(1);
  const Lines expected = {
      "",
      "CONF 01",
      "  ERROR: cannot seek PTR/IDX to start.",
      "  RESULT: ERROR - 1 validation error(s); no write allowed.",
  };
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.scan.projectedPtrRecords, 0u);  // no projections without the record pass
}

TEST_F(ConferenceValidationTest, VerboseSizeLines) {
  WriteSmall(1);
  const ScanResult r = Scan(1, Mode::kVerbose);
  ASSERT_GE(r.lines.size(), 5u);
  EXPECT_EQ(r.lines[2], "  PTR: 768 bytes / 3 records x 256");
  EXPECT_EQ(r.lines[3], "  IDX: 48 bytes / 3 records x 16");
  EXPECT_EQ(r.lines[4], "  DAT: 384 bytes / 3 records x 128");
}

TEST_F(ConferenceValidationTest, PathsThatCannotBeFormedAreMissing) {
  // 500 characters of directory leave no room for "/TWMSG01.PTR".
  const std::string longDir = messageDir_ + "/" + std::string(500 - messageDir_.size() - 1, 'x');
  os_.ClearStdout();
  ConferenceScan scan;
  ScanConference(os_, out_, longDir, 1, "", false, &scan);
  const Lines expected = {"", "CONF 01", "  ERROR: missing ", "  ERROR: missing ",
                          "  ERROR: missing "};
  EXPECT_EQ(ReportLines(os_.stdoutText()), expected);
  EXPECT_EQ(scan.validationErrors, 3u);
  EXPECT_EQ(os_.calls(), 0u);  // nothing half-formed was probed
}

TEST_F(ConferenceValidationTest, ARescanStartsFromZero) {
  WriteSmall(1);
  ConferenceScan scan;
  scan.deletedCount = 9;
  scan.validationErrors = 4;
  scan.blocked = true;
  out_.SetVerbose(false);
  ScanConference(os_, out_, messageDir_, 1, "", false, &scan);
  EXPECT_EQ(scan.deletedCount, 0u);
  EXPECT_EQ(scan.validationErrors, 0u);
  EXPECT_FALSE(scan.blocked);
  EXPECT_EQ(scan.ptrRecords, 3u);
}

}  // namespace
}  // namespace twtrim::test
