// The record pass, the thread pass, the verdict and the report block of one
// conference: the cases the sample board's golden reports do not show.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "report/report_output.h"
#include "scan/conference_scan.h"
#include "support/app_harness.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

using namespace board;

template <typename Change>
MessageShape With(MessageShape shape, Change change) {
  change(shape);
  return shape;
}

// The "TAG slot N" of each record dump and slot error line.
Lines DumpHeads(const Lines& lines) {
  static const std::regex kHead("    ([A-Z-]+ slot \\d+): .*");
  Lines heads;
  std::smatch m;
  for (const std::string& line : lines) {
    if (std::regex_match(line, m, kHead)) heads.push_back(m[1]);
  }
  return heads;
}

struct ScanResult {
  ConferenceScan scan;
  Lines lines;
};

// Conference 1 of a MESSAGE directory in a scratch directory, scanned through
// a FaultOs over the real Os.
class RecordAnalysisTest : public ::testing::Test {
 protected:
  RecordAnalysisTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {
    dir_.MakeDirectory("MESSAGE");
  }
  std::string FilePath(const std::string& extension) const {
    return ConferencePath(messageDir_, 1, extension);
  }
  ScanResult Scan(bool verbose = false, bool write = false) {
    os_.ClearStdout();
    out_.SetVerbose(verbose);
    ScanResult r;
    ScanConference(os_, out_, messageDir_, 1, "", write, &r.scan);
    bool allCrLf = false;
    r.lines = ReportLines(os_.stdoutText(), &allCrLf);
    EXPECT_TRUE(allCrLf) << "a report line lacks its CR LF";
    return r;
  }
  ScanResult Scan(const ConferenceFiles& files, bool verbose = false, bool write = false) {
    EXPECT_TRUE(WriteConference(messageDir_, 1, files));
    return Scan(verbose, write);
  }
  // The lines after the heading of a concise dry run.
  Lines Concise(const ConferenceFiles& files) {
    const Lines lines = Scan(files).lines;
    return Lines(lines.begin() + 2, lines.end());
  }

  TempDir dir_;
  const std::string messageDir_ = dir_.Path("MESSAGE");
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

TEST_F(RecordAnalysisTest, ConciseLinesOfEachRecordRule) {
  const auto pack = [](const std::string& figures) {
    return "  RESULT: WOULD PACK/FIX - deleted=" + figures + " bytes.";
  };
  const auto errors = [](int count) {
    return "  RESULT: ERROR - " + std::to_string(count) + " validation error(s); no write allowed.";
  };
  const auto lengthOf = [](size_t field, uint8_t length) {
    ConferenceFiles files = MakeConference({Root(1), Reply(2, 1)});
    files.ptr[1].bytes[field] = length;
    return files;
  };
  const std::string kPast = "    ERROR slot 2: Pascal string length exceeds its PTR field.";
  const std::string kCrc =
      "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick convention: ";
  const std::string kBlocked = "  RESULT: BLOCKED - no write allowed; deleted=1; ";
  const struct {
    const char* what;
    ConferenceFiles files;
    Lines lines;
  } cases[] = {
      // With a deletion, each reason alone blocks the pack.
      {"blocked: unreferenced", MakeConference({Root(1), Reply(2, 1), Deleted(Reply(3, 1))}, 2),
       {kBlocked + "unreferenced DAT=2.", "  FINDINGS: unreferenced-DAT=2"}},
      {"blocked: orphan", MakeConference({Root(1), Reply(2, 1), Deleted(Reply(3, 99))}),
       {kBlocked + "orphan replies=1.", "  FINDINGS: orphan-replies=1"}},
      {"blocked: deleted record sharing a live body",
       MakeConference({Root(1, 2), ShapeAt(Deleted(Reply(2, 1, 1)), 1)}),
       {kBlocked + "DAT overlaps=1.", "  FINDINGS: DAT-overlaps=1"}},
      {"deleted bodyless record is purged",
       MakeConference({Root(1), Reply(2, 1), Deleted(Bodyless(Reply(3, 1)))}),
       {pack("1; DANGER fixes=0; reply links cleared=0; PTR/IDX 3 -> 2; DAT 2 -> 2; reclaim=272"),
        "  FINDINGS: bodyless=1"}},
      {"a live DANGER alone is fixed in place", MakeConference({Root(1), Reply(2, 1), Danger(3)}),
       {pack("0; DANGER fixes=1; reply links cleared=0; PTR/IDX 3 -> 3; DAT 3 -> 3; reclaim=0")}},
      {"deleted reply to a deleted parent",
       MakeConference({Deleted(Root(1)), Deleted(Reply(2, 1))}),
       {pack("2; DANGER fixes=0; reply links cleared=0; PTR/IDX 2 -> 0; DAT 2 -> 0; reclaim=800")}},
      {"either CRC convention per field, empty names",
       MakeConference(
           {With(Root(1), [](MessageShape& s) { s.complementToCrc = true; }),
            With(Reply(2, 1), [](auto& s) { s.complementFromCrc = s.complementToCrc = true; }),
            With(Reply(3, 1), [](MessageShape& s) { s.from = s.to = ""; })}),
       {"  RESULT: NO CHANGES."}},
      {"a bodyless Where may equal the block count",
       MakeConference({Root(1, 2), ShapeAt(Bodyless(Root(2)), 2)}),
       {"  RESULT: NO CHANGES.", "  FINDINGS: bodyless=1 root-no-child=2"}},
      {"but not pass it", MakeConference({Root(1, 2), ShapeAt(Bodyless(Root(2)), 3)}),
       {"    ERROR slot 2: DAT range Where=3 Records=0 exceeds DAT count 2.", errors(1)}},
      // Each repeat of a number and each record with a flag of 2 counts; the
      // deletion, the overlap and the orphan reply are outranked.
      {"every error, in order",
       MakeConference({Root(1, 2), ShapeAt(Root(1), 0), Root(1),
                       With(Root(2), [](auto& s) { s.tm = 2; }),
                       With(Root(3), [](auto& s) { s.ts = 2; }),
                       With(Reply(4, 99), [](auto& s) { s.deleted = 2; }),
                       With(Root(5), [](auto& s) { s.wrongToCrc = true; })}),
       {"  ERROR: duplicate MsgNumber count: 2",
        "  ERROR: records with non-boolean TM/TS/Deleted flags: 3", kCrc + "1", errors(6)}},
      // A From or To past its field also fails the name check; names and a
      // subject may fill their fields. Length bytes at 18, 49 and 111.
      {"From", lengthOf(18, 31), {kPast, kCrc + "1", errors(2)}},
      {"To", lengthOf(49, 62), {kPast, kCrc + "1", errors(2)}},
      {"Subject", lengthOf(111, 145), {kPast, errors(1)}},
      {"full Subject", lengthOf(111, 144), {"  RESULT: NO CHANGES."}},
      {"DAT not whole blocks",
       [] {
         ConferenceFiles files = MakeConference({Root(1)});
         files.dat.push_back(0);
         return files;
       }(),
       {"  ERROR: DAT size is not a supported multiple of 128 bytes.", errors(1)}},
      {"full names",
       MakeConference({Root(1), With(Reply(2, 1), [](auto& s) { s.from.assign(30, 'f'); }),
                       With(Reply(3, 1), [](auto& s) { s.to.assign(61, 't'); })}),
       {"  RESULT: NO CHANGES."}},
      {"overlaps, unreferenced blocks, orphans and stale IDX alone never block",
       MakeConference({Root(1, 2), ShapeAt(Reply(2, 1, 2), 0), Reply(3, 99),
                       With(Reply(4, 1), [](auto& s) { s.staleIdx = true; })},
                      1),
       {"  RESULT: NO CHANGES.",
        "  FINDINGS: orphan-replies=1 stale-IDX=1 DAT-overlaps=2 unreferenced-DAT=1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Concise(c.files), c.lines) << c.what;
}

TEST_F(RecordAnalysisTest, ManyRecordsOnOneBlockSaturateWithoutMiscounting) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));
  for (int32_t n = 2; n <= 300; ++n) b.Add(ShapeAt(Root(n), 1));
  const ScanResult r = Scan(b.files());
  EXPECT_EQ(r.scan.datOverlapBlocks, 1u);
  EXPECT_EQ(r.scan.unreferencedDat, 0u);
}

// Ranges of all lengths over a small DAT, against counting each block's
// references one by one.
TEST_F(RecordAnalysisTest, OverlapCountsMatchANaiveCountOverRandomRanges) {
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  const uint32_t blocks = 300;
  for (int round = 0; round < 5; ++round) {
    ConferenceBuilder b;
    b.AddUnreferencedBlocks(blocks);
    std::vector<uint32_t> refs(blocks, 0);
    Lines expectedLines;
    uint32_t overlaps = 0;
    for (int32_t n = 1; n <= 60; ++n) {
      const uint16_t where = static_cast<uint16_t>(next(blocks));
      const uint32_t room = blocks - where;  // ranges stay inside the DAT
      const auto length = static_cast<uint16_t>(1 + next(round % 2 ? room : std::min(room, 8u)));
      uint32_t shared = 0;
      for (uint32_t k = where; k < uint32_t{where} + length; ++k) {
        overlaps += refs[k] == 1;
        shared += refs[k]++ > 0;
      }
      if (shared > 0) {
        expectedLines.push_back("    DAT-OVERLAP: slot " + std::to_string(n) + " range Where=" +
                                std::to_string(where) + " Records=" + std::to_string(length) +
                                " overlaps " + std::to_string(shared) +
                                " already-referenced DAT record(s).");
      }
      b.Add(ShapeAt(Root(n, length), where));
    }
    const ScanResult r = Scan(b.files(), true);
    EXPECT_EQ(r.scan.datOverlapBlocks, overlaps) << round;
    EXPECT_EQ(r.scan.unreferencedDat, static_cast<uint32_t>(std::ranges::count(refs, 0u)))
        << round;
    Lines overlapLines;
    std::copy_if(r.lines.begin(), r.lines.end(), std::back_inserter(overlapLines),
                 [](const std::string& line) { return line.starts_with("    DAT-OVERLAP: "); });
    EXPECT_EQ(overlapLines, expectedLines) << round;
  }
}

// The last block a 16-bit Where reaches, in a DAT of the most blocks allowed;
// past them, and at 4 GiB, the DAT itself is refused.
TEST_F(RecordAnalysisTest, RangeEndingAtTheLastAddressableBlock) {
  const struct {
    uint16_t records;
    uint32_t blocks, unreferenced;
    std::string line;
  } cases[] = {
      {6, 65536, 65530, "  RESULT: NO CHANGES."},
      {7, 65536, 65536,  // an invalid range marks nothing
       "    ERROR slot 1: DAT range Where=65530 Records=7 exceeds DAT count 65536."},
      {6, 65537, 0, "  ERROR: DAT exceeds 65,536 records and cannot be addressed safely by the "
                    "16-bit PTR Where field."},
      {6, 1u << 25, 0, "  ERROR: DAT size is not a supported multiple of 128 bytes."},
  };
  for (const auto& c : cases) {
    const ConferenceFiles files = MakeConference({ShapeAt(Root(1, c.records), 65530)});
    ASSERT_TRUE(WriteConference(messageDir_, 1, files));
    std::filesystem::resize_file(FilePath("DAT"), uint64_t{c.blocks} * 128);
    const ScanResult r = Scan();
    EXPECT_EQ(r.lines[2], c.line);
    EXPECT_EQ(r.scan.unreferencedDat, c.unreferenced);
  }
}

TEST_F(RecordAnalysisTest, ShortOrFailedReadOrSeekStopsTheAnalysis) {
  ConferenceBuilder b;
  for (int32_t n = 1; n <= 100; ++n) b.Add(Root(n));
  ASSERT_TRUE(WriteConference(messageDir_, 1, b.files()));
  // Another process cuts the PTR file after its size was taken.
  const std::string ptr = FilePath("PTR");
  os_.BeforeCall(OsCall::kRead, "TWMSG01.PTR",
                 [ptr] { std::filesystem::resize_file(ptr, 39 * 256 + 100); });
  const std::string kError = "  RESULT: ERROR - 1 validation error(s); no write allowed.";
  ScanResult r = Scan();
  EXPECT_EQ(r.lines, (Lines{"", "CONF 01", "  ERROR: short PTR/IDX read at slot 40.", kError}));
  EXPECT_EQ(r.scan.rootsWithoutChild, 39u);  // what slots 1 to 39 contributed stays
  EXPECT_EQ(r.scan.unreferencedDat, 61u);    // the blocks of unread slots
  EXPECT_EQ(r.scan.projectedPtrRecords, 100u);
  // A read that fails outright after the first buffer of 128 records.
  for (int32_t n = 101; n <= 300; ++n) b.Add(Root(n));
  os_.ClearFaults();
  os_.AddFault({{OsCall::kRead, "TWMSG01.PTR", 2}});
  EXPECT_EQ(Scan(b.files()).lines[2], "  ERROR: short PTR/IDX read at slot 129.");

  os_.ClearFaults();
  os_.FailPath(OsCall::kSeek, "TWMSG01.IDX");
  r = Scan();
  EXPECT_EQ(r.lines, (Lines{"", "CONF 01", "  ERROR: cannot seek PTR/IDX to start.", kError}));
  EXPECT_FALSE(r.scan.needsAction);
  // A read that delivers part of a record is only read on from.
  os_.ClearFaults();
  const Lines whole = Scan(true).lines;
  os_.AddFault({{OsCall::kRead, "TWMSG01.PTR", 1}, FaultEffect::kShort});
  EXPECT_EQ(Scan(true).lines, whole);
}

TEST_F(RecordAnalysisTest, DumpTagsAndTheirOrder) {
  const struct {
    const char* what;
    ConferenceFiles files;
    bool write;
    Lines heads;
  } cases[] = {
      {"deleted bodyless DANGER, write mode", MakeConference({Deleted(Bodyless(Danger(4)))}), true,
       {"WILL-PURGE slot 1", "BODYLESS-NOT-PURGED slot 1", "DANGER slot 1"}},
      {"invalid range", MakeConference({ShapeAt(Danger(5, 2), 9)}), false,
       {"ERROR slot 1", "INVALID-DAT slot 1", "DANGER slot 1"}},
      {"thread pass, dry run",
       MakeConference({Root(1), Reply(2, 99), Deleted(Root(3)), Reply(4, 3)}), false,
       {"WOULD-PURGE slot 3", "ROOT-NO-CHILD slot 1", "ORPHAN-REPLY slot 2",
        "WOULD-CLEAR-DELETED-PARENT slot 4"}},
  };
  for (const auto& c : cases) {
    const ScanResult r = Scan(c.files, true, c.write);
    EXPECT_EQ(DumpHeads(r.lines), c.heads) << c.what;
    // Concise mode dumps nothing and rereads nothing.
    const uint64_t seeks = os_.calls(OsCall::kSeek);
    EXPECT_EQ(CountPrefix(Scan(c.files, false, c.write).lines, "      From="), 0u) << c.what;
    EXPECT_EQ(os_.calls(OsCall::kSeek) - seeks, 2u) << c.what;  // the two seeks to the start
  }
}

}  // namespace
}  // namespace twtrim::test
