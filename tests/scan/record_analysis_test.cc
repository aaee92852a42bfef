// The record pass, the thread pass, the verdict and the report block of one
// conference, on conferences written by the board builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "scan/scan_fixture.h"

namespace twtrim::test {
namespace {

using board::Bodyless;
using board::ConferenceBuilder;
using board::ConferenceFiles;
using board::Danger;
using board::Deleted;
using board::MessageShape;
using board::Reply;
using board::Root;

ConferenceFiles Conf(std::initializer_list<MessageShape> shapes, uint32_t unreferenced = 0) {
  ConferenceBuilder b;
  for (const MessageShape& shape : shapes) b.Add(shape);
  b.AddUnreferencedBlocks(unreferenced);
  return b.files();
}

MessageShape At(MessageShape shape, uint16_t where) {
  shape.where = where;
  return shape;
}

MessageShape With(MessageShape shape, void (*change)(MessageShape&)) {
  change(shape);
  return shape;
}

// A concise "would pack" RESULT line.
std::string Pack(const std::string& figures) {
  return "  RESULT: WOULD PACK/FIX - " + figures + " bytes.";
}

class RecordAnalysisTest : public ScanTest {
 protected:
  ScanResult ScanFiles(const ConferenceFiles& files, Mode mode = Mode::kConcise,
                       RunMode run = RunMode::kDry) {
    WriteConference(1, files);
    return Scan(1, mode, run);
  }
  // The RESULT line and what follows it in a concise scan.
  Lines Concise(const ConferenceFiles& files, RunMode run = RunMode::kDry) {
    ScanResult r = ScanFiles(files, Mode::kConcise, run);
    return Lines(r.lines.begin() + 2, r.lines.end());
  }
};

// --- the worked example and each verdict -------------------------------------

// The dry-run lines of this example are checked with the other scenarios.
TEST_F(RecordAnalysisTest, WorkedExampleOfConference3) {
  WriteConference(3, board::PackConference());
  const ScanResult r = Scan(3, Mode::kConcise, RunMode::kWrite);
  EXPECT_EQ(r.lines[2],
            "  RESULT: READY TO PACK/FIX - deleted=3; DANGER fixes=0; reply links cleared=1; "
            "PTR/IDX 100 -> 97; DAT 400 -> 390; reclaim=2096 bytes.");
  EXPECT_EQ(r.scan.reclaimBytes, 3u * (256 + 16) + 10u * 128);
  EXPECT_EQ(r.scan.deletedDatRecords, 10u);
  EXPECT_EQ(r.scan.projectedDatBytes, 390u * 128);
}

// The dry-run block is checked line by line end to end; the write plan's
// wording differs and is only seen here.
TEST_F(RecordAnalysisTest, PackVerboseInWriteMode) {
  const ScanResult r = ScanFiles(Conf({Root(1, 2), Deleted(Reply(2, 1)), Reply(3, 1)}),
                                 Mode::kVerbose, RunMode::kWrite);
  EXPECT_TRUE(HasBlock(r.lines, {"  DAT: 512 bytes / 4 records x 128",
                                 "    WILL-PURGE slot 2: Msg=2 Org=1 TM=1 TS=0 Deleted=1 Where=2 "
                                 "Records=1",
                                 "      From=Sysop  To=All", "      Subject=Re: Hello"}));
  EXPECT_TRUE(EndsWith(r.lines, {
                                    "  ---------------- WRITE PLAN ---------------------",
                                    "    RESULT: READY TO PACK/FIX after all safeguards pass.",
                                    "    PTR: 3 -> 2 records (768 -> 512 bytes)",
                                    "    IDX: 3 -> 2 records (48 -> 32 bytes)",
                                    "    DAT: 4 -> 3 records (512 -> 384 bytes)",
                                    "    Deleted-message DAT records:       1",
                                    "    Proven DANGER records to clear:     0",
                                    "    Replies cleared after parent purge: 0",
                                    "    Root-without-child metadata kept:   0",
                                    "    IDX identity fields rebuilt:        0",
                                    "    Estimated bytes reclaimed:          400",
                                }));
}

TEST_F(RecordAnalysisTest, BlockedByEachReason) {
  const std::string kOverlap = "    Reason: overlapping PTR-to-DAT ranges.";
  const std::string kUnreferenced = "    Reason: unreferenced DAT records would be discarded.";
  const std::string kOrphan = "    Reason: pre-existing orphan thread replies.";
  auto blocked = [](const std::string& rest) {
    return "  RESULT: BLOCKED - no write allowed; deleted=1; " + rest;
  };
  struct Case {
    const char* what;
    ConferenceFiles files;
    Lines concise;
    Lines reasons;
  };
  const Case cases[] = {
      {"overlap",
       Conf({Root(1, 2), At(Reply(2, 1, 2), 0), Deleted(Reply(3, 1))}),
       {blocked("DAT overlaps=2."), "  FINDINGS: DAT-overlaps=2"},
       {kOverlap}},
      {"unreferenced",
       Conf({Root(1), Reply(2, 1), Deleted(Reply(3, 1))}, 2),
       {blocked("unreferenced DAT=2."), "  FINDINGS: unreferenced-DAT=2"},
       {kUnreferenced}},
      {"orphan",
       Conf({Root(1), Reply(2, 1), Deleted(Reply(3, 99))}),
       {blocked("orphan replies=1."), "  FINDINGS: orphan-replies=1"},
       {kOrphan}},
      {"deleted record sharing a live body",
       Conf({Root(1, 2), At(Deleted(Reply(2, 1, 1)), 1)}),
       {blocked("DAT overlaps=1."), "  FINDINGS: DAT-overlaps=1"},
       {kOverlap}},
      {"all three",
       Conf({Root(1, 2), At(Reply(2, 1, 2), 0), Deleted(Reply(3, 99))}, 1),
       {blocked("DAT overlaps=2; unreferenced DAT=1; orphan replies=1."),
        "  FINDINGS: orphan-replies=1 DAT-overlaps=2 unreferenced-DAT=1"},
       {kOverlap, kUnreferenced, kOrphan}},
  };
  for (const Case& c : cases) {
    for (RunMode run : {RunMode::kDry, RunMode::kWrite}) {
      EXPECT_EQ(Concise(c.files, run), c.concise) << c.what;
      const ScanResult r = ScanFiles(c.files, Mode::kVerbose, run);
      EXPECT_TRUE(r.scan.blocked) << c.what;
      EXPECT_EQ(r.scan.reclaimBytes, 0u) << c.what;
      // A blocked conference projects its current sizes: nothing would shrink.
      EXPECT_EQ(r.scan.projectedPtrBytes, r.scan.ptrBytes) << c.what;
      EXPECT_EQ(r.scan.projectedDatBytes, r.scan.datBytes) << c.what;
      Lines block = {"    RESULT: BLOCKED - Phase-1 cannot safely rewrite this conference."};
      block.insert(block.end(), c.reasons.begin(), c.reasons.end());
      EXPECT_TRUE(HasBlock(r.lines, block)) << c.what;
    }
  }
}

TEST_F(RecordAnalysisTest, ConciseLinesOfEachRecordRule) {
  const std::string kError1 = "  RESULT: ERROR - 1 validation error(s); no write allowed.";
  const std::string kCrc =
      "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick convention: ";
  const MessageShape mixedCrc = With(Root(1), [](MessageShape& s) { s.complementToCrc = true; });
  struct Case {
    const char* what;
    ConferenceFiles files;
    Lines lines;
  };
  const Case cases[] = {
      {"deleted bodyless record is purged",
       Conf({Root(1), Reply(2, 1), Deleted(Bodyless(Reply(3, 1)))}),
       {Pack("deleted=1; DANGER fixes=0; reply links cleared=0; PTR/IDX 3 -> 2; DAT 2 -> 2; "
             "reclaim=272"),
        "  FINDINGS: bodyless=1"}},
      {"live DANGER is fixed in place",
       Conf({Root(1), Reply(2, 1), Danger(3)}),
       {Pack("deleted=0; DANGER fixes=1; reply links cleared=0; PTR/IDX 3 -> 3; DAT 3 -> 3; "
             "reclaim=0")}},
      {"deleted DANGER is purged, not fixed",
       Conf({Root(1), Reply(2, 1), Deleted(Danger(3))}),
       {Pack("deleted=1; DANGER fixes=0; reply links cleared=0; PTR/IDX 3 -> 2; DAT 3 -> 2; "
             "reclaim=400")}},
      {"reply to a deleted parent",
       Conf({Deleted(Root(1)), Reply(2, 1)}),
       {Pack("deleted=1; DANGER fixes=0; reply links cleared=1; PTR/IDX 2 -> 1; DAT 2 -> 1; "
             "reclaim=400")}},
      {"deleted reply to a deleted parent",
       Conf({Deleted(Root(1)), Deleted(Reply(2, 1))}),
       {Pack("deleted=2; DANGER fixes=0; reply links cleared=0; PTR/IDX 2 -> 0; DAT 2 -> 0; "
             "reclaim=800")}},
      {"either CRC convention per field, empty names",
       Conf({mixedCrc,
             With(Reply(2, 1),
                  [](MessageShape& s) { s.complementFromCrc = s.complementToCrc = true; }),
             With(Reply(3, 1), [](MessageShape& s) { s.from = s.to = ""; })}),
       {"  RESULT: NO CHANGES."}},
      {"CRC mismatch alone is an error",
       Conf({mixedCrc, With(Reply(4, 1), [](MessageShape& s) { s.wrongToCrc = true; })}),
       {kCrc + "1", kError1}},
      {"each repeat of a number counts",
       Conf({Root(1), Root(1), Root(1), Root(2)}),
       {"  ERROR: duplicate MsgNumber count: 2",
        "  RESULT: ERROR - 2 validation error(s); no write allowed."}},
      {"Deleted=2",
       Conf({Root(1), With(Reply(2, 1), [](MessageShape& s) { s.deleted = 2; })}),
       {"  ERROR: records with non-boolean TM/TS/Deleted flags: 1", kError1}},
      {"TM=2 and TS=7",
       Conf({Root(1), With(Root(3), [](MessageShape& s) { s.tm = 2; }),
             With(Root(4), [](MessageShape& s) { s.ts = 7; })}),
       {"  ERROR: records with non-boolean TM/TS/Deleted flags: 2",
        "  RESULT: ERROR - 2 validation error(s); no write allowed."}},
      {"error lines in their fixed order",
       Conf({Root(1), Root(1), With(Root(2), [](MessageShape& s) { s.tm = 3; }),
             With(Root(3), [](MessageShape& s) { s.wrongFromCrc = true; })}),
       {"  ERROR: duplicate MsgNumber count: 1",
        "  ERROR: records with non-boolean TM/TS/Deleted flags: 1", kCrc + "1",
        "  RESULT: ERROR - 3 validation error(s); no write allowed."}},
      {"an error outranks deletions and blocks",
       Conf({Root(1, 2), At(Reply(2, 1, 2), 0), Deleted(Reply(3, 99)), Root(1)}),
       {"  ERROR: duplicate MsgNumber count: 1", kError1}},
      {"overlaps, unreferenced blocks and orphans alone never block",
       Conf({Root(1, 2), At(Reply(2, 1, 2), 0), Reply(3, 99)}, 1),
       {"  RESULT: NO CHANGES.", "  FINDINGS: orphan-replies=1 DAT-overlaps=2 unreferenced-DAT=1"}},
      {"stale IDX identity is only a finding",
       Conf({Root(1), With(Reply(2, 1), [](MessageShape& s) { s.staleIdx = true; })}),
       {"  RESULT: NO CHANGES.", "  FINDINGS: stale-IDX=1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Concise(c.files), c.lines);
  }
}

// Pascal lengths past their fields: a From or To past its field also fails
// the name check; a subject may fill its 144 bytes.
TEST_F(RecordAnalysisTest, NameLengthsPastTheirFields) {
  const std::string kPast = "    ERROR slot 2: Pascal string length exceeds its PTR field.";
  const std::string kCrc =
      "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick convention: 1";
  const std::string kError2 = "  RESULT: ERROR - 2 validation error(s); no write allowed.";
  struct Case {
    size_t at;
    uint8_t length;
    Lines lines;
  };
  const Case cases[] = {
      {PtrRecord::kFromLength, 31, {kPast, kCrc, kError2}},
      {PtrRecord::kToLength, 62, {kPast, kCrc, kError2}},
      {PtrRecord::kSubjectLength,
       145,
       {kPast, "  RESULT: ERROR - 1 validation error(s); no write allowed."}},
      {PtrRecord::kSubjectLength, 144, {"  RESULT: NO CHANGES."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.length});
    ConferenceFiles files = Conf({Root(1), Reply(2, 1)});
    files.ptr[1].bytes[c.at] = c.length;
    EXPECT_EQ(Concise(files), c.lines);
  }
}

// --- counting rules ------------------------------------------------------------

TEST_F(RecordAnalysisTest, ManyRecordsOnOneBlockSaturateWithoutMiscounting) {
  ConferenceBuilder b;
  b.Add(Root(1, 2));
  for (int32_t n = 2; n <= 300; ++n) b.Add(At(Root(n), 1));
  const ScanResult r = ScanFiles(b.files());
  EXPECT_EQ(r.scan.datOverlapBlocks, 1u);
  EXPECT_EQ(r.scan.unreferencedDat, 0u);
}

TEST_F(RecordAnalysisTest, OverlapCountsMatchANaiveCountOverRandomRanges) {
  // Ranges of all lengths over a small DAT, compared with counting each
  // block's references one by one.
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
    Lines expectedOverlapLines;
    uint32_t overlaps = 0;
    for (int32_t n = 1; n <= 60; ++n) {
      const uint16_t where = static_cast<uint16_t>(next(blocks));
      const uint32_t room = blocks - where;  // ranges stay inside the DAT
      const auto length = static_cast<uint16_t>(1 + next(round % 2 ? room : std::min(room, 8u)));
      uint32_t shared = 0;
      for (uint32_t k = where; k < uint32_t{where} + length; ++k) {
        if (refs[k] == 1) ++overlaps;
        if (refs[k] > 0) ++shared;
        ++refs[k];
      }
      if (shared > 0) {
        expectedOverlapLines.push_back(
            "    DAT-OVERLAP: slot " + std::to_string(n) + " range Where=" + std::to_string(where) +
            " Records=" + std::to_string(length) + " overlaps " + std::to_string(shared) +
            " already-referenced DAT record(s).");
      }
      b.Add(At(Root(n, length), where));
    }
    const uint32_t unreferenced = static_cast<uint32_t>(std::count(refs.begin(), refs.end(), 0u));
    const ScanResult r = ScanFiles(b.files(), Mode::kVerbose);
    EXPECT_EQ(r.scan.datOverlapBlocks, overlaps) << round;
    EXPECT_EQ(r.scan.unreferencedDat, unreferenced) << round;
    Lines overlapLines;
    for (const std::string& line : r.lines) {
      if (line.rfind("    DAT-OVERLAP: ", 0) == 0) overlapLines.push_back(line);
    }
    EXPECT_EQ(overlapLines, expectedOverlapLines) << round;
  }
}

TEST_F(RecordAnalysisTest, BodylessWhereMayEqualTheBlockCountButNotPassIt) {
  ScanResult r = ScanFiles(Conf({Root(1, 2), At(Bodyless(Root(2)), 2)}));
  EXPECT_EQ(r.lines.back(), "  FINDINGS: bodyless=1 root-no-child=2");
  EXPECT_EQ(r.scan.validationErrors, 0u);

  r = ScanFiles(Conf({Root(1, 2), At(Bodyless(Root(2)), 3)}), Mode::kVerbose);
  EXPECT_TRUE(HasBlock(
      r.lines, {"    BODYLESS-NOT-PURGED slot 2: Msg=2 Org=2 TM=1 TS=1 Deleted=0 Where=3 Records=0",
                "      From=Sysop  To=All", "      Subject=Hello",
                "    ERROR slot 2: DAT range Where=3 Records=0 exceeds DAT count 2.",
                "    INVALID-DAT slot 2: Msg=2 Org=2 TM=1 TS=1 Deleted=0 Where=3 Records=0"}));
  EXPECT_EQ(r.scan.validationErrors, 1u);
  EXPECT_EQ(r.scan.bodylessCount, 1u);
}

TEST_F(RecordAnalysisTest, RangeEndingAtTheLastAddressableBlock) {
  ConferenceFiles files = Conf({At(Root(1, 6), 65530)});
  WriteConference(1, files);
  WriteSized(1, "DAT", 65536ull * 128);
  ScanResult r = Scan(1);
  EXPECT_EQ(r.scan.validationErrors, 0u);
  EXPECT_EQ(r.scan.unreferencedDat, 65530u);

  files.ptr[0].setRecords(7);
  WriteConference(1, files);
  WriteSized(1, "DAT", 65536ull * 128);
  r = Scan(1);
  EXPECT_EQ(r.lines[2],
            "    ERROR slot 1: DAT range Where=65530 Records=7 exceeds DAT count 65536.");
  EXPECT_EQ(r.scan.unreferencedDat, 65536u);  // an invalid range marks nothing
}

TEST_F(RecordAnalysisTest, ReplyKeepsItsLinkWhileItsParentsNumberLives) {
  EXPECT_EQ(ScanFiles(Conf({Deleted(Root(1)), Root(1), Reply(2, 1)})).scan.replyLinksCleared, 0u);
}

TEST_F(RecordAnalysisTest, RootsWithAndWithoutChildren) {
  // Root 1's only reply is deleted; root 3 has none; root 4 has a live reply.
  const ScanResult r = ScanFiles(
      Conf({Root(1), Deleted(Reply(2, 1)), Root(3), Root(4), Reply(5, 4)}), Mode::kVerbose);
  EXPECT_EQ(r.scan.normalRoots, 2u);
  EXPECT_EQ(r.scan.rootsWithoutChild, 1u);
  EXPECT_EQ(r.scan.rootsKeptWithoutChild, 2u);
  EXPECT_EQ(CountPrefix(r.lines, "    Root-without-child metadata kept:   2"), 1u);
}

TEST_F(RecordAnalysisTest, StaleIdxIdentityIsLeftOrRebuilt) {
  const MessageShape stale = With(Reply(2, 1), [](MessageShape& s) { s.staleIdx = true; });
  ScanResult r = ScanFiles(Conf({Root(1), stale}), Mode::kVerbose);
  EXPECT_EQ(CountPrefix(r.lines, "    IDX identity stale/left untouched:  1"), 1u);
  r = ScanFiles(Conf({Root(1), stale, Deleted(Reply(3, 1))}), Mode::kVerbose);
  EXPECT_EQ(CountPrefix(r.lines, "    IDX identity fields rebuilt:        1"), 1u);
}

// --- reading failures ------------------------------------------------------------

TEST_F(RecordAnalysisTest, ShortOrFailedReadStopsTheAnalysis) {
  ConferenceBuilder b;
  for (int32_t n = 1; n <= 100; ++n) b.Add(Root(n));
  WriteConference(1, b.files());
  // Another process cuts the PTR file after its size was taken.
  const std::string ptr = FilePath(1, "PTR");
  os_.BeforeCall(OsCall::kRead, "TWMSG01.PTR",
                 [ptr] { std::filesystem::resize_file(ptr, 39 * 256 + 100); });
  const ScanResult r = Scan(1);
  EXPECT_EQ(r.lines, (Lines{"", "CONF 01", "  ERROR: short PTR/IDX read at slot 40.",
                            "  RESULT: ERROR - 1 validation error(s); no write allowed."}));
  EXPECT_EQ(r.scan.rootsWithoutChild, 39u);  // what slots 1 to 39 contributed stays
  EXPECT_EQ(r.scan.unreferencedDat, 61u);    // the blocks of unread slots
  EXPECT_EQ(r.scan.projectedPtrRecords, 100u);

  // A read that fails outright, after the first buffer of 128 records, stops
  // it the same way.
  for (int32_t n = 101; n <= 300; ++n) b.Add(Root(n));
  WriteConference(1, b.files());
  os_.ClearFaults();
  os_.AddFault({{OsCall::kRead, "TWMSG01.PTR", 2}});
  EXPECT_EQ(Scan(1).lines[2], "  ERROR: short PTR/IDX read at slot 129.");
}

TEST_F(RecordAnalysisTest, EachMissingFileIsAnError) {
  for (const char* extension : {"PTR", "IDX", "DAT"}) {
    WriteConference(1, Conf({Root(1), Deleted(Reply(2, 1))}));
    ASSERT_TRUE(real_->DeleteFile(FilePath(1, extension)));
    const ScanResult r = Scan(1);
    EXPECT_EQ(r.lines, (Lines{"", "CONF 01", "  ERROR: missing " + Shown(1, extension)}));
    EXPECT_EQ(r.scan.validationErrors, 1u);
  }
}

// A failed seek of the PTR file stops the analysis the same way (see the
// two-million-record limit).
TEST_F(RecordAnalysisTest, FailedSeekOfTheIdxToTheStart) {
  WriteConference(1, Conf({Root(1), Deleted(Reply(2, 1))}));
  os_.FailPath(OsCall::kSeek, "TWMSG01.IDX");
  const ScanResult r = Scan(1);
  EXPECT_EQ(r.lines, (Lines{"", "CONF 01", "  ERROR: cannot seek PTR/IDX to start.",
                            "  RESULT: ERROR - 1 validation error(s); no write allowed."}));
  EXPECT_FALSE(r.scan.needsAction);
}

// --- verbose dumps ---------------------------------------------------------------

TEST_F(RecordAnalysisTest, DumpTagsAndTheirOrder) {
  struct Case {
    const char* what;
    ConferenceFiles files;
    RunMode run;
    Lines heads;
  };
  const Case cases[] = {
      {"deleted bodyless DANGER, write mode",
       Conf({Deleted(Bodyless(Danger(4)))}),
       RunMode::kWrite,
       {"WILL-PURGE slot 1", "BODYLESS-NOT-PURGED slot 1", "DANGER slot 1"}},
      {"invalid range",
       Conf({At(Danger(5, 2), 9)}),
       RunMode::kDry,
       {"ERROR slot 1", "INVALID-DAT slot 1", "DANGER slot 1"}},
      {"thread pass, dry run",
       Conf({Root(1), Reply(2, 99), Deleted(Root(3)), Reply(4, 3)}),
       RunMode::kDry,
       {"WOULD-PURGE slot 3", "ROOT-NO-CHILD slot 1", "ORPHAN-REPLY slot 2",
        "WOULD-CLEAR-DELETED-PARENT slot 4"}},
      {"thread pass, write mode",
       Conf({Deleted(Root(3)), Reply(4, 3)}),
       RunMode::kWrite,
       {"WILL-PURGE slot 1", "WILL-CLEAR-DELETED-PARENT slot 2"}},
  };
  for (const Case& c : cases) {
    const ScanResult r = ScanFiles(c.files, Mode::kVerbose, c.run);
    EXPECT_EQ(DumpHeads(r.lines), c.heads) << c.what;
    // Concise mode dumps nothing (an error line is no dump) and rereads nothing.
    Lines errorsOnly;
    for (const std::string& head : c.heads) {
      if (head.rfind("ERROR ", 0) == 0) errorsOnly.push_back(head);
    }
    const uint64_t seeks = os_.calls(OsCall::kSeek);
    EXPECT_EQ(DumpHeads(ScanFiles(c.files, Mode::kConcise, c.run).lines), errorsOnly) << c.what;
    EXPECT_EQ(os_.calls(OsCall::kSeek) - seeks, 2u) << c.what;  // the two seeks to the start
  }
}

}  // namespace
}  // namespace twtrim::test
