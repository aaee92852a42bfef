// Random boards, written: whatever the mix of deletions, threads, DANGER
// records, bodies and CRC conventions, a successful /WRITE leaves every
// written conference holding exactly its original live messages, in order,
// with bodies intact and only Where, the thread repairs and the IDX
// identity changed, and a /DRYRUN afterwards finds nothing left to do.
//
// 50 boards by default; TWTRIM_FULL_SWEEPS=1 writes 500.
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "support/sweep_harness.h"

namespace twtrim::test {
namespace {

std::unique_ptr<Os> SystemOs() {
  static char program[] = "twtrim_tests";
  static char* argv[] = {program, nullptr};
  return CreateSystemOs(1, argv);
}

// Board `index`: one to three conferences of up to 150 messages, from none
// to most of them deleted, bodies of up to eight blocks.
std::vector<std::pair<uint32_t, board::ConferenceFiles>> RandomBoard(uint32_t index) {
  std::mt19937 random(index * 2654435761u + 1);
  const auto below = [&](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
  std::vector<std::pair<uint32_t, board::ConferenceFiles>> conferences;
  const uint32_t count = 1 + below(3);
  for (uint32_t c = 1; c <= count; ++c) {
    const uint32_t records = below(4) == 0 ? below(4) : below(151);
    const uint32_t deletedPercent = below(3) == 0 ? 0 : below(71);
    const uint32_t maxBlocks = below(9);
    conferences.emplace_back(
        c, board::RandomConference(index * 10 + c, records, deletedPercent, maxBlocks));
  }
  return conferences;
}

// Findings a pack leaves on purpose: bodyless messages stay, and so does a
// root whose replies were all purged.
bool OnlyKeptFindings(const std::string& findings) {
  std::istringstream items(findings.empty() ? "" : findings.substr(sizeof "  FINDINGS:" - 1));
  for (std::string item; items >> item;) {
    if (item.rfind("bodyless=", 0) != 0 && item.rfind("root-no-child=", 0) != 0) return false;
  }
  return true;
}

struct Figures {
  uint64_t boards = 0, conferences = 0, written = 0, messagesKept = 0, purged = 0, repaired = 0;
  uint64_t passed = 0;
};

// Everything checked about one board; empty when it all holds.
std::string CheckBoard(Os& real, uint32_t index, Figures* figures) {
  const BoardImage image = ImageOf(RandomBoard(index));
  const BoardExpectation expected = Expect(image);
  bool anyWritten = false;
  for (const auto& [conference, pack] : expected.packs) {
    if (pack.verdict == PackVerdict::kUnusable || pack.verdict == PackVerdict::kBlocked) {
      return "the generator made CONF" + std::to_string(conference) + " unpackable: " + pack.error;
    }
    anyWritten = anyWritten || pack.verdict == PackVerdict::kWritten;
  }
  ScratchBoard board(image);
  if (!board.ok()) return "cannot make the board";
  const SweepRun write = RunInProcess(real, board.home(), {"/ALL", "/WRITE"});
  const std::string expectedResult =
      anyWritten ? "WRITE RESULT: SUCCESS - changes committed and verified."
                 : "WRITE RESULT: no selected conference needs a Phase-1 change; no backup or "
                   "write performed.";
  if (write.exitCode != 0 || !HasLine(write.lines, expectedResult)) {
    return "write exit " + std::to_string(write.exitCode) + "\n" + Context(write, 0);
  }
  const DiskState disk = Observe(real, board, image, expected);
  const SweepRun dry = RunInProcess(real, board.home(), {"/ALL", "/DRYRUN"});
  std::map<uint32_t, std::pair<std::string, std::string>> results;
  uint32_t current = 0;
  for (const std::string& line : dry.lines) {
    if (line.rfind("CONF ", 0) == 0) current = static_cast<uint32_t>(std::stoul(line.substr(5, 3)));
    if (current != 0 && line.rfind("  RESULT: ", 0) == 0) results[current].first = line;
    if (current != 0 && line.rfind("  FINDINGS:", 0) == 0) results[current].second = line;
  }
  for (const auto& [conference, pack] : expected.packs) {
    const ConferenceBytes& live = disk.conferences.at(conference).live;
    const std::string conf = "CONF" + std::to_string(conference);
    ++figures->conferences;
    if (pack.verdict != PackVerdict::kWritten) {
      if (live != image.Conference(conference)) return conf + " changed without need";
      continue;
    }
    ++figures->written;
    figures->messagesKept += pack.kept;
    figures->purged += pack.purged;
    figures->repaired += pack.repaired;
    if (const std::string d = CompareMessages(image.Conference(conference), live); !d.empty()) {
      return conf + ": " + d;
    }
    if (live != pack.packed) return conf + " differs from the independent pack";
    const auto& [line, found] = results[conference];
    if (line != "  RESULT: NO CHANGES." || !OnlyKeptFindings(found)) {
      return conf + " after the write: " + line + " " + found;
    }
  }
  if (dry.exitCode > 1) return "dry run after the write: exit " + std::to_string(dry.exitCode);
  return "";
}

TEST(PackProperty, WrittenConferencesKeepTheirLiveMessages) {
  const std::unique_ptr<Os> real = SystemOs();
  const uint32_t boards = FullSweeps() ? 500 : 50;
  Figures figures;
  int reported = 0;
  for (uint32_t index = 0; index < boards; ++index) {
    ++figures.boards;
    const std::string failure = CheckBoard(*real, index, &figures);
    if (failure.empty()) {
      ++figures.passed;
    } else if (reported++ < 10) {
      ADD_FAILURE() << "board " << index << ": " << failure;
    }
  }
  std::printf(
      "[ FIGURES  ] property: %llu boards, %llu passed; %llu conferences, %llu written; "
      "%llu messages kept, %llu purged, %llu repaired\n",
      static_cast<unsigned long long>(figures.boards),
      static_cast<unsigned long long>(figures.passed),
      static_cast<unsigned long long>(figures.conferences),
      static_cast<unsigned long long>(figures.written),
      static_cast<unsigned long long>(figures.messagesKept),
      static_cast<unsigned long long>(figures.purged),
      static_cast<unsigned long long>(figures.repaired));
  RecordProperty("property.boards", std::to_string(figures.boards));
  RecordProperty("property.passed", std::to_string(figures.passed));
  RecordProperty("property.written", std::to_string(figures.written));
  EXPECT_EQ(figures.passed, figures.boards);
  // The generator must exercise the pack: deletions, repairs, and boards
  // with nothing to do.
  EXPECT_GT(figures.purged, 0u);
  EXPECT_GT(figures.repaired, 0u);
  EXPECT_LT(figures.written, figures.conferences);
}

}  // namespace
}  // namespace twtrim::test
