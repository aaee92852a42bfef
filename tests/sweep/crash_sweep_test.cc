// A /WRITE that stops dead at call k, for every k of the fault-free run: the
// calls before k reached the disk, nothing after it did (the process died).
// Then, on what the crash left:
//   - every original byte is in the live files or in a verified backup copy;
//   - a /DRYRUN finishes, changes nothing and reports the base truthfully;
//   - after the clean-up an operator does for a killed run (stale
//     VIZIZE.BSY, .NEW, .ROLLBACK and .PARTIAL files deleted) a /WRITE either
//     refuses or leaves a packed base that a dry run finds nothing to do in;
//   - the README's procedure for a killed write (restore from the logged
//     backup directory once the run reached COMMIT) gives back the original
//     base, and a /WRITE then packs it.
// The figures and the crash points that need the manual restore are
// printed as "[ FIGURES  ]" and "[ CRASH    ]" lines.
//
// By default every second call is a crash point; TWTRIM_FULL_SWEEPS=1 takes
// them all.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "report/paths.h"
#include "support/sweep_harness.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

const std::vector<std::string> kWrite = {"/ALL", "/WRITE"};
const std::vector<std::string> kDryRun = {"/ALL", "/DRYRUN"};
constexpr char kCommitRule[] = "======================= COMMIT =============================";
constexpr int kMaxReportedFailures = 10;

std::unique_ptr<Os> SystemOs() {
  static char program[] = "twtrim_tests";
  static char* argv[] = {program, nullptr};
  return CreateSystemOs(1, argv);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The concise result and findings lines of each conference of a report.
struct ConferenceResult {
  std::string result, findings;
  friend bool operator==(const ConferenceResult&, const ConferenceResult&) = default;
};
using Results = std::map<uint32_t, ConferenceResult>;

Results ConferenceResults(const Lines& lines) {
  Results results;
  uint32_t current = 0;
  for (const std::string& line : lines) {
    if (line.rfind("CONF ", 0) == 0) {
      current = static_cast<uint32_t>(std::stoul(line.substr(5, 3)));
    } else if (current != 0 && line.rfind("  RESULT: ", 0) == 0) {
      results[current].result = line;
    } else if (current != 0 && line.rfind("  FINDINGS:", 0) == 0) {
      results[current].findings = line;
    }
  }
  return results;
}

std::string Describe(const Results& results) {
  std::string text;
  for (const auto& [conference, r] : results) {
    text += "    CONF" + std::to_string(conference) + " " + r.result + " " + r.findings + "\n";
  }
  return text;
}

// The state of the base in a word per conference ("1:packed(PPP) 2:...").
std::string StateKey(const DiskState& disk) {
  std::string key;
  for (const auto& [conference, c] : disk.conferences) {
    key += std::to_string(conference) + ":" + FormName(c.form) + "(" + c.detail + ") ";
  }
  return key;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
  return text.empty() ? "none" : text;
}

// What an operator reads off a crash: which files stayed behind, ignoring
// which conference or backup they belong to.
std::string LeftoverKinds(const DiskState& disk) {
  std::vector<std::string> kinds;
  const auto add = [&](const std::string& kind) {
    for (const std::string& k : kinds) {
      if (k == kind) return;
    }
    kinds.push_back(kind);
  };
  for (const std::string& leftover : disk.leftovers) {
    if (EndsWith(leftover, "VIZIZE.BSY")) add("VIZIZE.BSY");
    if (EndsWith(leftover, ".NEW")) add(".NEW");
    if (EndsWith(leftover, ".ROLLBACK")) add(".ROLLBACK");
    if (EndsWith(leftover, ".PARTIAL")) add(".PARTIAL");
  }
  return Join(kinds);
}

class CrashSweep : public ::testing::Test {
 protected:
  // A dry run of a pristine board whose conferences hold exactly the live
  // bytes `disk` shows: what a truthful report of that base says.
  Results ReferenceDryRun(const DiskState& disk) {
    const std::string key = StateKey(disk);
    auto cached = references_.find(key);
    if (cached != references_.end()) return cached->second;
    BoardImage copy = image_;
    for (const auto& [conference, c] : disk.conferences) {
      copy.files[BoardImage::ConferenceFile(conference, "PTR")] = c.live.ptr;
      copy.files[BoardImage::ConferenceFile(conference, "IDX")] = c.live.idx;
      copy.files[BoardImage::ConferenceFile(conference, "DAT")] = c.live.dat;
    }
    ScratchBoard board(copy);
    EXPECT_TRUE(board.ok());
    const SweepRun run = RunInProcess(*real_, board.home(), kDryRun);
    return references_[key] = ConferenceResults(run.lines);
  }

  // Every original byte is live or in a backup copy proven equal to it.
  std::string NothingLost(const ScratchBoard& board, const DiskState& disk) {
    for (const auto& [conference, c] : disk.conferences) {
      if (c.form == DiskState::Form::kTorn) {
        return "CONF" + std::to_string(conference) + " has a torn file (" + c.detail + ")";
      }
    }
    for (const auto& [path, original] : image_.files) {
      if (path.rfind("MESSAGE/", 0) != 0 && path != "TWMCONF.DAT") continue;
      std::string live;
      if (ReadWholeFile(board.Path(path), &live) && live == original) continue;
      const std::string name(BaseName(path));
      bool backedUp = false;
      for (const auto& [relative, bytes] : disk.backups) {
        backedUp = backedUp || (BaseName(relative) == name && bytes == original);
      }
      if (!backedUp) return path + " is neither live nor in a verified backup copy";
    }
    return "";
  }

  // The dry run right after the crash: it must change nothing and either
  // stop at the lock the dead run left or judge the base as it is.
  std::string DryRunAfterCrash(const ScratchBoard& board, const DiskState& before) {
    const bool lockLeft = real_->GetPathKind(board.Path("MESSAGE/VIZIZE.BSY")) == PathKind::kFile;
    const SweepRun dry = RunInProcess(*real_, board.home(), kDryRun);
    const DiskState after = Observe(*real_, board, image_, expected_);
    if (StateKey(after) != StateKey(before) || after.leftovers != before.leftovers ||
        after.backups != before.backups) {
      return "the dry run changed the board";
    }
    if (lockLeft) {
      const std::string line = "SAFETY ABORT: shared message-base lock already exists: " +
                               JoinExpected(JoinExpected(board.home(), "MESSAGE"), "VIZIZE.BSY");
      if (dry.exitCode != 3 || !HasLine(dry.lines, line)) {
        return "with the dead run's lock left, the dry run did not stop at it (exit " +
               std::to_string(dry.exitCode) + ")";
      }
      return "";
    }
    return TruthfulDryRun(dry, before);
  }

  std::string TruthfulDryRun(const SweepRun& dry, const DiskState& disk) {
    if (dry.exitCode < 0 || dry.exitCode > 2) {
      return "dry run exit " + std::to_string(dry.exitCode);
    }
    const Results results = ConferenceResults(dry.lines);
    const Results reference = ReferenceDryRun(disk);
    if (results != reference) {
      return "dry run reports\n" + Describe(results) + "  where a pristine copy reports\n" +
             Describe(reference);
    }
    // A half-replaced conference must never look packable or finished.
    for (const auto& [conference, c] : disk.conferences) {
      if (c.form == DiskState::Form::kMixed && c.detail[2] == 'P' &&
          results.at(conference).result.rfind("  RESULT: ERROR", 0) != 0) {
        return "half-packed CONF" + std::to_string(conference) + " judged " +
               results.at(conference).result;
      }
    }
    return "";
  }

  // The clean-up the README asks for after a killed run.
  void DeleteWorkFiles(const ScratchBoard& board, const DiskState& disk) {
    for (const std::string& leftover : disk.leftovers) {
      const bool work = EndsWith(leftover, "VIZIZE.BSY") || EndsWith(leftover, ".NEW") ||
                        EndsWith(leftover, ".ROLLBACK") || EndsWith(leftover, ".PARTIAL");
      if (work) {
        EXPECT_TRUE(real_->DeleteFile(board.Path(leftover))) << leftover;
      }
    }
  }

  // After the clean-up: a /WRITE refuses and changes nothing, or packs; a
  // dry run then finds nothing to do in any conference.
  std::string WriteAfterCleanUp(const ScratchBoard& board) {
    const DiskState before = Observe(*real_, board, image_, expected_);
    const SweepRun dry = RunInProcess(*real_, board.home(), kDryRun);
    if (std::string truthful = TruthfulDryRun(dry, before); !truthful.empty()) {
      return "after the clean-up: " + truthful;
    }
    const SweepRun write = RunInProcess(*real_, board.home(), kWrite);
    const DiskState after = Observe(*real_, board, image_, expected_);
    if (!after.leftovers.empty()) return "the write left " + after.leftovers.front();
    if (write.exitCode == 2) {
      if (!HasLineStarting(write.lines, "WRITE REFUSED: ")) return "exit 2 without a refusal";
      if (StateKey(after) != StateKey(before)) return "the refused write changed the base";
      ++outcomes_["write after clean-up refused"];
      return "";
    }
    if (write.exitCode != 0) {
      return "write after the clean-up ended with exit " + std::to_string(write.exitCode) + "\n" +
             Context(write, 0);
    }
    const Results results = ConferenceResults(RunInProcess(*real_, board.home(), kDryRun).lines);
    for (const auto& [conference, r] : results) {
      if (r.result != "  RESULT: NO CHANGES.") {
        return "after the write, CONF" + std::to_string(conference) + " still " + r.result;
      }
    }
    for (const auto& [conference, c] : after.conferences) {
      const bool exact = expected_.Written(conference) ? c.form == DiskState::Form::kPacked
                                                       : c.form == DiskState::Form::kOriginal;
      ++outcomes_[exact ? "write after clean-up packed exactly"
                        : "write after clean-up kept CONF" + std::to_string(conference) + " " +
                              FormName(c.form) + "(" + c.detail + ")"];
    }
    return "";
  }

  // The README's procedure for a killed write, then a /WRITE.
  std::string DocumentedRecovery(uint64_t k) {
    ScratchBoard board(image_);
    if (!board.ok()) return "cannot make the board";
    RunInProcess(*real_, board.home(), kWrite, [k](FaultOs& os) { CrashAtCall(os, k); });
    std::string report;
    ReadWholeFile(board.Path("TWTRIM32_REPORT.TXT"), &report);
    const Lines lines = ReportLines(report);
    if (HasLine(lines, kCommitRule)) {
      const std::string label = Labelled("Backup directory:", "");
      std::string backup;
      for (const std::string& line : lines) {
        if (line.rfind(label, 0) == 0) backup = line.substr(label.size());
      }
      if (backup.empty()) return "the report reached COMMIT without a backup directory line";
      for (uint32_t conference : image_.conferences) {
        RestoreIfBackedUp(board, backup, conference);
      }
    }
    DeleteWorkFiles(board, Observe(*real_, board, image_, expected_));
    const SweepRun dry = RunInProcess(*real_, board.home(), kDryRun);
    if (ConferenceResults(dry.lines) != pristine_) {
      return "after the documented recovery the dry run reports\n" +
             Describe(ConferenceResults(dry.lines));
    }
    const SweepRun write = RunInProcess(*real_, board.home(), kWrite);
    const DiskState after = Observe(*real_, board, image_, expected_);
    const RunVerdict verdict = CheckWriteRun(image_, expected_, write, after, {});
    if (write.exitCode != 0 || !verdict.ok()) {
      return "the write after the documented recovery: exit " + std::to_string(write.exitCode) +
             "\n" + verdict.Describe() + Context(write, 0);
    }
    return "";
  }

  void RestoreIfBackedUp(const ScratchBoard& board, const std::string& backup,
                         uint32_t conference) {
    std::vector<std::pair<std::string, std::string>> copies;
    for (const char* extension : {"PTR", "IDX", "DAT"}) {
      const std::string name = board::ConferenceFileName(conference, extension);
      std::string bytes;
      if (!ReadWholeFile(JoinExpected(backup, name), &bytes)) return;
      copies.emplace_back(name, bytes);
    }
    for (const auto& [name, bytes] : copies) {
      EXPECT_TRUE(WriteWholeFile(board.Path("MESSAGE/" + name), bytes));
    }
  }

  std::unique_ptr<Os> real_ = SystemOs();
  BoardImage image_ = SweepBoard();
  BoardExpectation expected_ = Expect(image_);
  std::map<std::string, Results> references_;
  std::map<std::string, uint64_t> outcomes_;
  Results pristine_;
};

TEST_F(CrashSweep, EveryCrashPointIsRecoverable) {
  SweepRun baseline;
  {
    ScratchBoard board(image_);
    ASSERT_TRUE(board.ok());
    pristine_ = ConferenceResults(RunInProcess(*real_, board.home(), kDryRun).lines);
    baseline = RunInProcess(*real_, board.home(), kWrite);
  }
  ASSERT_EQ(baseline.exitCode, 0) << Context(baseline, 0);
  ASSERT_EQ(pristine_.size(), image_.conferences.size());

  const uint64_t stride = FullSweeps() ? 1 : 2;
  uint64_t runs = 0, lost = 0, dryRuns = 0, cleanUps = 0, recoveries = 0;
  int reported = 0;
  // Consecutive crash points that leave the same kind of state, for the
  // description of which points need the manual restore.
  struct Span {
    uint64_t first, last;
    std::string state;
  };
  std::vector<Span> spans;
  for (uint64_t k = 1; k <= baseline.log.size(); k += stride) {
    ++runs;
    std::vector<std::string> failures;
    std::string state;
    {
      ScratchBoard board(image_);
      ASSERT_TRUE(board.ok());
      const SweepRun crash =
          RunInProcess(*real_, board.home(), kWrite, [k](FaultOs& os) { CrashAtCall(os, k); });
      if (!crash.crashed) failures.push_back("the run did not reach call " + std::to_string(k));
      const DiskState disk = Observe(*real_, board, image_, expected_);
      state = StateKey(disk) + "left: " + LeftoverKinds(disk);
      if (std::string f = NothingLost(board, disk); !f.empty()) {
        failures.push_back("lost: " + f);
      } else {
        ++lost;
      }
      if (std::string f = DryRunAfterCrash(board, disk); !f.empty()) {
        failures.push_back("dry run: " + f);
      } else {
        ++dryRuns;
      }
      DeleteWorkFiles(board, disk);
      if (std::string f = WriteAfterCleanUp(board); !f.empty()) {
        failures.push_back("clean-up: " + f);
      } else {
        ++cleanUps;
      }
    }
    if (std::string f = DocumentedRecovery(k); !f.empty()) {
      failures.push_back("recovery: " + f);
    } else {
      ++recoveries;
    }
    if (spans.empty() || spans.back().state != state) spans.push_back({k, k, state});
    spans.back().last = k;
    if (!failures.empty() && reported++ < kMaxReportedFailures) {
      std::string text;
      for (const std::string& f : failures) text += "  " + f + "\n";
      ADD_FAILURE() << "crash before " << CallText(baseline.log[k - 1]) << "\n" << text;
    }
  }
  for (const Span& span : spans) {
    std::printf("[ CRASH    ] calls %llu-%llu (%s): %s\n",
                static_cast<unsigned long long>(span.first),
                static_cast<unsigned long long>(span.last),
                CallText(baseline.log[span.first - 1]).c_str(), span.state.c_str());
  }
  for (const auto& [outcome, count] : outcomes_) {
    std::printf("[ CRASH    ] %s: %llu\n", outcome.c_str(), static_cast<unsigned long long>(count));
  }
  std::printf(
      "[ FIGURES  ] crash: %zu calls, %llu crash points; nothing-lost %llu/%llu; dry-run "
      "%llu/%llu; clean-up-then-write %llu/%llu; documented-recovery %llu/%llu\n",
      baseline.log.size(), static_cast<unsigned long long>(runs),
      static_cast<unsigned long long>(lost), static_cast<unsigned long long>(runs),
      static_cast<unsigned long long>(dryRuns), static_cast<unsigned long long>(runs),
      static_cast<unsigned long long>(cleanUps), static_cast<unsigned long long>(runs),
      static_cast<unsigned long long>(recoveries), static_cast<unsigned long long>(runs));
  RecordProperty("crash.points", std::to_string(runs));
  RecordProperty("crash.nothing_lost", std::to_string(lost));
  RecordProperty("crash.dry_run", std::to_string(dryRuns));
  RecordProperty("crash.clean_up_then_write", std::to_string(cleanUps));
  RecordProperty("crash.documented_recovery", std::to_string(recoveries));
  EXPECT_EQ(lost, runs);
  EXPECT_EQ(dryRuns, runs);
  EXPECT_EQ(cleanUps, runs);
  EXPECT_EQ(recoveries, runs);
}

}  // namespace
}  // namespace twtrim::test
