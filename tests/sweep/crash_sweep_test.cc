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
// The same for a crash during a rollback (the last commit rename fails,
// then the run dies at each call of the rollback that follows). The figures
// and the state each run of crash points leaves are printed as
// "[ FIGURES  ]" and "[ CRASH    ]" lines.
//
// By default every 2nd call is a crash point (every 16th in the Windows
// build under Wine), with every call that creates, renames or deletes a name;
// TWTRIM_FULL_SWEEPS=1 takes them all.
#include <cstdio>
#include <functional>
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
    if (EndsWith(leftover, ".JNL")) add(".JNL");
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
    Results results = ConferenceResults(dry.lines);
    Results reference = ReferenceDryRun(disk);
    // A conference with an intent record left is an error whatever its files.
    for (const std::string& leftover : disk.leftovers) {
      if (!EndsWith(leftover, ".JNL")) continue;
      const uint32_t conference = static_cast<uint32_t>(std::stoul(leftover.substr(13)));
      if (results[conference].result.rfind("  RESULT: ERROR - ", 0) != 0) {
        return "CONF" + std::to_string(conference) + " has an intent record, yet is judged " +
               results[conference].result;
      }
      results.erase(conference);
      reference.erase(conference);
    }
    if (results != reference) {
      return "dry run reports\n" + Describe(results) + "  where a pristine copy reports\n" +
             Describe(reference);
    }
    // A conference whose files were replaced out of step (headers of one
    // state, bodies of another) must never look packable or finished.
    for (const auto& [conference, c] : disk.conferences) {
      if (results.count(conference) == 0) continue;  // its intent record speaks for it
      const std::string& result = results.at(conference).result;
      if (!CheckIntact(image_.Conference(conference), c.live).empty() &&
          result.rfind("  RESULT: ERROR", 0) != 0 && result.rfind("  RESULT: BLOCKED", 0) != 0) {
        return "CONF" + std::to_string(conference) + " (" + c.detail +
               ") has messages out of step with their bodies, yet is judged " + result;
      }
    }
    return "";
  }

  // The clean-up the README asks for after a killed run; intent records only
  // once the live files are known to be whole (`records`).
  void DeleteWorkFiles(const ScratchBoard& board, const DiskState& disk, bool records = false) {
    for (const std::string& leftover : disk.leftovers) {
      const bool work = EndsWith(leftover, "VIZIZE.BSY") || EndsWith(leftover, ".NEW") ||
                        EndsWith(leftover, ".ROLLBACK") || EndsWith(leftover, ".PARTIAL") ||
                        (records && EndsWith(leftover, ".JNL"));
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
    // Intent records the operator kept stay; the write must add nothing.
    if (after.leftovers != before.leftovers) return "the write left " + after.leftovers.front();
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
    std::string outcome = "write after clean-up packed exactly";
    for (const auto& [conference, c] : after.conferences) {
      const ConferenceBytes original = image_.Conference(conference);
      if (!expected_.Written(conference)) {
        if (c.form != DiskState::Form::kOriginal) {
          return "CONF" + std::to_string(conference) + " was changed without need";
        }
        continue;
      }
      // Identities the crash left stale are findings a later pack rebuilds.
      if (const std::string d = CompareMessages(original, c.live, true); !d.empty()) {
        return "after the write CONF" + std::to_string(conference) + " (" + c.detail + "): " + d;
      }
      if (c.form != DiskState::Form::kPacked) {
        outcome = "write after clean-up packed, stale IDX identity kept in CONF" +
                  std::to_string(conference) + " (" + c.detail + ")";
      }
    }
    ++outcomes_[outcome];
    return "";
  }

  // The README's procedure for a killed write, then a /WRITE.
  std::string DocumentedRecovery(const std::function<void(FaultOs&)>& arm) {
    ScratchBoard board(image_);
    if (!board.ok()) return "cannot make the board";
    RunInProcess(*real_, board.home(), kWrite, arm);
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
    DeleteWorkFiles(board, Observe(*real_, board, image_, expected_), true);
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

  // The fault-free write, and the dry run of the untouched board.
  void SetUp() override {
    ScratchBoard board(image_);
    ASSERT_TRUE(board.ok());
    pristine_ = ConferenceResults(RunInProcess(*real_, board.home(), kDryRun).lines);
    baseline_ = RunInProcess(*real_, board.home(), kWrite);
    ASSERT_EQ(baseline_.exitCode, 0) << Context(baseline_, 0);
    ASSERT_EQ(pristine_.size(), image_.conferences.size());
  }

  // Crashes at the calls of `log` from `from` on (see SweepPoints), after a
  // fault at call `fault` when it is not 0; every check above after each.
  void Sweep(const std::string& name, uint64_t fault, const std::vector<CallRecord>& log,
             uint64_t from) {
    Figures figures;
    std::vector<Span> spans;
    int reported = 0;
    for (uint64_t k : SweepPoints(log, from, log.size(), 2, 16)) {
      const auto arm = [fault, k](FaultOs& os) {
        if (fault != 0) os.AddFault({{std::nullopt, "", fault}, FaultEffect::kFail});
        CrashAtCall(os, k);
      };
      std::string state, log;
      const std::vector<std::string> failures = CrashPoint(arm, k, &figures, &state, &log);
      if (spans.empty() || spans.back().state != state) spans.push_back({k, k, log, state});
      spans.back().last = k;
      if (!failures.empty() && reported++ < kMaxReportedFailures) {
        std::string text;
        for (const std::string& f : failures) text += "  " + f + "\n";
        ADD_FAILURE() << name << ": crash before " << log << "\n" << text;
      }
    }
    Print(name, spans, figures);
  }

  struct Figures {
    uint64_t points = 0, lost = 0, dryRuns = 0, cleanUps = 0, recoveries = 0;
  };
  // Consecutive crash points that leave the same kind of state, for the
  // description of which points need the manual restore.
  struct Span {
    uint64_t first, last;
    std::string call, state;
  };

  std::vector<std::string> CrashPoint(const std::function<void(FaultOs&)>& arm, uint64_t k,
                                      Figures* figures, std::string* state, std::string* call) {
    ++figures->points;
    std::vector<std::string> failures;
    {
      ScratchBoard board(image_);
      if (!board.ok()) return {"cannot make the board"};
      const SweepRun crash = RunInProcess(*real_, board.home(), kWrite, arm);
      *call = crash.log.size() >= k ? CallText(crash.log[k - 1]) : "?";
      if (!crash.crashed) failures.push_back("the run ended before the crash point");
      const DiskState disk = Observe(*real_, board, image_, expected_);
      *state = StateKey(disk) + "left: " + LeftoverKinds(disk);
      Tick(NothingLost(board, disk), "lost: ", &figures->lost, &failures);
      Tick(DryRunAfterCrash(board, disk), "dry run: ", &figures->dryRuns, &failures);
      DeleteWorkFiles(board, disk);
      Tick(WriteAfterCleanUp(board), "clean-up: ", &figures->cleanUps, &failures);
    }
    Tick(DocumentedRecovery(arm), "recovery: ", &figures->recoveries, &failures);
    return failures;
  }

  static void Tick(const std::string& failure, const char* what, uint64_t* passed,
                   std::vector<std::string>* failures) {
    if (failure.empty()) {
      ++*passed;
    } else {
      failures->push_back(what + failure);
    }
  }

  void Print(const std::string& name, const std::vector<Span>& spans, const Figures& f) {
    const auto u = [](uint64_t value) { return static_cast<unsigned long long>(value); };
    for (const Span& span : spans) {
      std::printf("[ CRASH    ] %s: calls %llu-%llu (first: %s): %s\n", name.c_str(), u(span.first),
                  u(span.last), span.call.c_str(), span.state.c_str());
    }
    for (const auto& [outcome, count] : outcomes_) {
      std::printf("[ CRASH    ] %s: %s: %llu\n", name.c_str(), outcome.c_str(), u(count));
    }
    std::printf(
        "[ FIGURES  ] %s: %zu calls, %llu crash points; nothing-lost %llu/%llu; dry-run "
        "%llu/%llu; clean-up-then-write %llu/%llu; documented-recovery %llu/%llu\n",
        name.c_str(), baseline_.log.size(), u(f.points), u(f.lost), u(f.points), u(f.dryRuns),
        u(f.points), u(f.cleanUps), u(f.points), u(f.recoveries), u(f.points));
    std::fflush(stdout);
    RecordProperty(name + ".points", std::to_string(f.points));
    RecordProperty(name + ".nothing_lost", std::to_string(f.lost));
    RecordProperty(name + ".dry_run", std::to_string(f.dryRuns));
    RecordProperty(name + ".clean_up_then_write", std::to_string(f.cleanUps));
    RecordProperty(name + ".documented_recovery", std::to_string(f.recoveries));
    EXPECT_EQ(f.lost, f.points);
    EXPECT_EQ(f.dryRuns, f.points);
    EXPECT_EQ(f.cleanUps, f.points);
    EXPECT_EQ(f.recoveries, f.points);
  }

  std::unique_ptr<Os> real_ = SystemOs();
  BoardImage image_ = SweepBoard();
  BoardExpectation expected_ = Expect(image_);
  std::map<std::string, Results> references_;
  std::map<std::string, uint64_t> outcomes_;
  Results pristine_;
  SweepRun baseline_;
};

TEST_F(CrashSweep, EveryCrashPointOfAWriteIsRecoverable) { Sweep("crash", 0, baseline_.log, 1); }

// A write whose last commit rename fails rolls back both conferences; a
// crash anywhere in that rollback must leave everything recoverable too.
TEST_F(CrashSweep, EveryCrashPointOfARollbackIsRecoverable) {
  uint64_t lastRename = 0;
  for (const CallRecord& call : baseline_.log) {
    if (call.kind == OsCall::kReplaceRename && EndsWith(call.path, ".NEW")) {
      lastRename = call.index;
    }
  }
  ASSERT_NE(lastRename, 0u);
  ScratchBoard board(image_);
  ASSERT_TRUE(board.ok());
  const SweepRun failed = RunInProcess(*real_, board.home(), kWrite, [&](FaultOs& os) {
    os.AddFault({{std::nullopt, "", lastRename}, FaultEffect::kFail});
  });
  ASSERT_TRUE(HasLine(failed.lines, "ROLLBACK RESULT: originals restored and verified."))
      << Context(failed, lastRename);
  Sweep("rollback-crash", lastRename, failed.log, lastRename + 1);
}

}  // namespace
}  // namespace twtrim::test
