#include "support/judge.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/pack_model.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace {

constexpr char kInterrupted[] = "  ERROR: interrupted commit: live files are ";
constexpr char kBackupRoot[] = "TWTRIM32-BACKUPS";

bool Has(const Lines& lines, std::string_view text) {
  return std::ranges::any_of(lines, [&](auto& l) { return l.find(text) != std::string::npos; });
}

bool IsWorkFile(const std::string& path, bool journalsToo) {
  for (const char* end : {".NEW", ".ROLLBACK", ".PARTIAL", "/VIZIZE.BSY"}) {
    if (path.ends_with(end)) return true;
  }
  return journalsToo && path.ends_with(".JNL");
}

// Per conference: its RESULT line, and its "interrupted commit" line if any.
struct ConferenceLines {
  std::string result, interrupted;
};
std::map<uint32_t, ConferenceLines> ByConference(const Lines& lines) {
  std::map<uint32_t, ConferenceLines> found;
  uint32_t current = 0;
  for (const std::string& line : lines) {
    if (line.starts_with("CONF ")) current = static_cast<uint32_t>(std::stoul(line.substr(5, 3)));
    if (current != 0 && line.starts_with("  RESULT: ")) found[current].result = line;
    if (current != 0 && line.starts_with(kInterrupted)) found[current].interrupted = line;
  }
  return found;
}

std::string Conf(uint32_t conference) { return "CONF" + std::to_string(conference); }

// The three files of a conference in `directory` ("" for a missing one).
ConferenceBytes Files(const MemoryOs& os, const std::string& directory, uint32_t conference) {
  const auto read = [&](const char* extension) {
    std::string bytes;
    os.ReadFile(directory + "/" + board::ConferenceFileName(conference, extension), &bytes);
    return bytes;
  };
  return {read("PTR"), read("IDX"), read("DAT")};
}

// The report names the outcome the exit code stands for.
std::string ReportAgrees(const RunResult& run) {
  const Lines& l = run.lines;
  const std::string footer = Labelled("Exit code:", std::to_string(run.exitCode));
  if (HasLine(l, "TWTRIM32 REPORT RUN") && !HasLine(l, footer)) {
    return "the footer does not say \"" + footer + "\"";
  }
  switch (run.exitCode) {
    case 0: return HasLineStarting(l, "WRITE RESULT: SUCCESS") ||
                           HasLine(l, "WRITE RESULT: NO CHANGES") ||
                           !HasLineStarting(l, "WRITE RESULT")
                       ? "" : "exit 0 without SUCCESS";
    case 1: return HasLineStarting(l, "PREVIEW RESULT: ") ? "" : "exit 1 without a preview";
    case 2: return Has(l, "WRITE REFUSED: ") || Has(l, "RESULT: ERROR") || Has(l, "ERROR: ")
                       ? "" : "exit 2 without an ERROR or WRITE REFUSED line";
    case 3: return Has(l, "SAFETY ") ? "" : "exit 3 without a SAFETY line";
    case 4: return HasLineStarting(l, "WRITE RESULT: FAILED") ||
                           HasLineStarting(l, "LOCK CLEANUP ERROR: ")
                       ? "" : "exit 4 without WRITE RESULT: FAILED or LOCK CLEANUP";
    default: return "exit code " + std::to_string(run.exitCode);
  }
}

// A work file may stay only when the fault fell on the delete that was to
// remove it, on the close or on the identity check before it (a name not
// proved to be the run's own is left), or the rollback says INCOMPLETE.
bool Explained(const std::string& path, const RunResult& run) {
  if (HasLineStarting(run.lines, "ROLLBACK RESULT: INCOMPLETE")) return true;
  const std::string_view name = std::string_view(path).substr(path.find_last_of('/') + 1);
  return std::ranges::any_of(run.log, [&](const CallRecord& call) {
    return call.failed && call.path.ends_with(name) &&
           (call.kind == OsCall::kDeleteFile || call.kind == OsCall::kClose ||
            call.kind == OsCall::kPathIdentity);
  });
}

}  // namespace

std::vector<uint64_t> SweepPoints(const std::vector<CallRecord>& log, uint64_t from,
                                  uint64_t stride, bool everyNameChange) {
  if (FullSweeps()) stride = 1;
  std::vector<uint64_t> points;
  for (uint64_t k = from; k <= log.size(); ++k) {
    const OsCall kind = log[k - 1].kind;
    const bool names = kind == OsCall::kCreateNew || kind == OsCall::kDeleteFile ||
                       kind == OsCall::kReplaceRename || kind == OsCall::kCreateDirectory;
    if ((k - from) % stride == 0 || (everyNameChange && names)) points.push_back(k);
  }
  return points;
}

MemoryOs Snapshot(const std::string& home) {
  MemoryOs memory;
  memory.MakeDirectories(home);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
    const std::string path = entry.path().generic_string();
    std::string bytes;
    if (entry.is_directory()) memory.MakeDirectories(path);
    if (entry.is_regular_file() && ReadWholeFile(path, &bytes)) memory.WriteFile(path, bytes);
  }
  return memory;
}

Judge::Judge(BoardImage image, std::string home) : image_(std::move(image)), home_(std::move(home)) {
  if (!board_.MakeDirectories(home_) || !LayOut(board_, home_, image_)) {
    problem_ = "cannot lay the board out";
    return;
  }
  MemoryOs written(board_);
  for (const auto& [conference, lines] : ByConference(RunInProcess(written, home_, {"/ALL", "/DRYRUN"}).lines)) {
    pristine_[conference] = lines.result;
  }
  baseline_ = RunInProcess(written, home_, {image_.selector, "/WRITE"});
  for (uint32_t conference : image_.conferences) {
    const ExpectedPack model = PackConference(image_.Conference(conference));
    const bool packs = model.verdict == PackVerdict::kWritten;
    packed_[conference] = Live(written, conference);
    if (!(packed_[conference] == (packs ? model.packed : image_.Conference(conference)))) {
      problem_ += Conf(conference) + (packs ? " not packed as the model packs it; " : " written; ");
    }
  }
  if (baseline_.exitCode != 0) {
    problem_ += "the fault-free write ended " + std::to_string(baseline_.exitCode);
    for (const std::string& line : baseline_.lines) {
      if (line.find("RESULT") != std::string::npos || line.find("REFUSED") != std::string::npos) problem_ += "\n" + line;
    }
  }
}

ConferenceBytes Judge::Live(const MemoryOs& os, uint32_t conference) const {
  return Files(os, Path("MESSAGE"), conference);
}

Judge::State Judge::StateOf(uint32_t conference, const ConferenceBytes& live) const {
  if (live == image_.Conference(conference)) return State::kOriginal;
  return live == packed_.at(conference) ? State::kPacked : State::kOther;
}

// A backup of each of the conference's files the board had (its three and
// the companions the operator restores with them), byte for byte.
bool Judge::BackupHolds(const MemoryOs& os, uint32_t conference) const {
  const std::string ptr = "/" + board::ConferenceFileName(conference, "PTR");
  for (const std::string& path : os.FilesUnder(Path(kBackupRoot))) {
    if (!path.ends_with(ptr)) continue;
    const std::string run = path.substr(0, path.size() - ptr.size());
    const auto holds = [&](const char* extension) {
      const auto original = image_.files.find(BoardImage::ConferenceFile(conference, extension));
      std::string bytes;
      return original == image_.files.end() ||
             (os.ReadFile(run + "/" + board::ConferenceFileName(conference, extension), &bytes) &&
              bytes == original->second);
    };
    const char* const kinds[] = {"PTR", "IDX", "DAT", "LMR", "SIG"};
    if (std::ranges::all_of(kinds, holds)) return true;
  }
  return false;
}

std::string Judge::NothingLost(MemoryOs& os) const {
  for (uint32_t conference : image_.conferences) {
    const std::vector<int32_t> missing = MissingMessages(image_.Conference(conference), Live(os, conference));
    if (!missing.empty() && !BackupHolds(os, conference)) {
      return Conf(conference) + " message " + std::to_string(missing.front()) +
             " is whole neither live nor in a verified backup";
    }
  }
  return "";
}

void Judge::DeleteWorkFiles(MemoryOs& os, bool journalsToo) const {
  for (const std::string& path : os.FilesUnder(home_)) {
    if (IsWorkFile(path, journalsToo)) os.DeleteFile(path);
  }
}

std::string Judge::DryRunTruth(MemoryOs& os) {
  os.DeleteFile(Path("MESSAGE/VIZIZE.BSY"));
  const RunResult dry = RunInProcess(os, home_, {"/ALL", "/DRYRUN"});
  const auto results = ByConference(dry.lines);
  for (uint32_t conference : image_.conferences) {
    if (StateOf(conference, Live(os, conference)) != State::kOther) continue;
    const std::string result = results.count(conference) ? results.at(conference).result : "";
    if (!result.starts_with("  RESULT: ERROR") && !result.starts_with("  RESULT: BLOCKED")) {
      return Conf(conference) + " is neither original nor packed, yet the dry run says \"" + result + "\"";
    }
  }
  return "";
}

std::string Judge::NoWriteOnMixed(MemoryOs& os) {
  DeleteWorkFiles(os, false);
  std::map<uint32_t, ConferenceBytes> mixed;
  for (uint32_t conference : image_.conferences) {
    const ConferenceBytes live = Live(os, conference);
    if (StateOf(conference, live) == State::kOther) mixed[conference] = live;
  }
  const RunResult write = RunInProcess(os, home_, {image_.selector, "/WRITE"});
  for (const auto& [conference, before] : mixed) {
    if (!(Live(os, conference) == before)) {
      return "a /WRITE (exit " + std::to_string(write.exitCode) + ") rewrote " + Conf(conference) +
             ", which was neither original nor packed";
    }
  }
  return "";
}

std::string Judge::Recovery(MemoryOs& os) {
  os.DeleteFile(Path("MESSAGE/VIZIZE.BSY"));
  for (const auto& [conference, lines] : ByConference(RunInProcess(os, home_, {"/ALL", "/DRYRUN"}).lines)) {
    if (lines.interrupted.empty()) continue;
    const std::string rest = lines.interrupted.substr(sizeof kInterrupted - 1);
    const std::string backup = rest.substr(rest.find("; backup: ") + 10);
    // The record is renamed into place whole, so it always names a state:
    // the one the files are in. A MIXED one is copied back from the backup.
    const State state = StateOf(conference, Live(os, conference));
    const std::string truth = state == State::kOriginal ? "ORIGINAL"
                              : state == State::kPacked ? "PACKED" : "MIXED";
    if (!rest.starts_with(truth + ";")) return Conf(conference) + " is " + truth + ", not " + rest;
    if (state == State::kOther) {
      for (const char* extension : {"PTR", "IDX", "DAT"}) {
        const std::string name = board::ConferenceFileName(conference, extension);
        std::string bytes;
        if (!os.ReadFile(backup + "/" + name, &bytes)) return "no " + name + " in " + backup;
        os.WriteFile(Path("MESSAGE/" + name), bytes);
      }
    }
    os.DeleteFile(Path(BoardImage::ConferenceFile(conference, "JNL")));
  }
  DeleteWorkFiles(os, false);
  const auto results = ByConference(RunInProcess(os, home_, {"/ALL", "/DRYRUN"}).lines);
  for (uint32_t conference : image_.conferences) {
    const State state = StateOf(conference, Live(os, conference));
    if (state == State::kOther) return "after the recovery " + Conf(conference) + " is neither original nor packed";
    const std::string result = results.count(conference) ? results.at(conference).result : "";
    if (state == State::kOriginal && result != pristine_[conference]) {
      return "after the recovery the original " + Conf(conference) + " is judged \"" + result + "\"";
    }
  }
  const RunResult write = RunInProcess(os, home_, {image_.selector, "/WRITE"});
  for (uint32_t conference : image_.conferences) {
    if (!(Live(os, conference) == packed_[conference])) {
      return "the /WRITE after the recovery (exit " + std::to_string(write.exitCode) +
             ") did not leave the packed " + Conf(conference);
    }
  }
  return "";
}

void Judge::Tally(const std::string& rule, const std::string& failure,
                  std::vector<std::string>* out) {
  auto& [kept, judged] = figures_[rule];
  ++judged;
  kept += failure.empty() ? 1 : 0;
  if (!failure.empty()) out->push_back(rule + ": " + failure);
}

// What the rules depend on: every file's bytes, but only the names of the
// staged, rollback and partial files (every rule deletes them before it
// writes) and nothing of the report file. Many crash points share a key.
std::string Judge::StateKey(const MemoryOs& left) const {
  std::string key;
  for (const std::string& path : left.FilesUnder(home_)) {
    if (path.ends_with("/TWTRIM32_REPORT.TXT")) continue;
    std::string bytes;
    left.ReadFile(path, &bytes);
    const bool work = IsWorkFile(path, false) && !path.ends_with("/VIZIZE.BSY");
    key += path + "=" + (work ? "" : std::to_string(std::hash<std::string>()(bytes))) + ";";
  }
  return key;
}

std::vector<std::string> Judge::AfterCrash(const MemoryOs& left) {
  const std::string key = StateKey(left);
  auto known = verdicts_.find(key);
  if (known == verdicts_.end()) {
    MemoryOs skipped(left), recovered(left);
    known = verdicts_.emplace(key, std::vector<std::pair<std::string, std::string>>{
                                       {"nothing-lost", NothingLost(skipped)},
                                       {"dry-run-truth", DryRunTruth(skipped)},
                                       {"no-write-on-mixed", NoWriteOnMixed(skipped)},
                                       {"recovery", Recovery(recovered)}}).first;
  }
  std::vector<std::string> failures;
  for (const auto& [rule, failure] : known->second) Tally(rule, failure, &failures);
  return failures;
}

std::string Judge::Finished(const RunResult& run, MemoryOs& after, bool allowIncomplete) const {
  if (std::string report = ReportAgrees(run); !report.empty()) return report;
  const bool success = HasLineStarting(run.lines, "WRITE RESULT: SUCCESS");
  const bool incomplete = HasLineStarting(run.lines, "ROLLBACK RESULT: INCOMPLETE");
  if (incomplete && !allowIncomplete) return "a rollback INCOMPLETE";
  for (uint32_t conference : image_.conferences) {
    const State state = StateOf(conference, Live(after, conference));
    const bool written = !(packed_.at(conference) == image_.Conference(conference));
    const State want = success && written ? State::kPacked : State::kOriginal;
    // A conference a successful run packed has its originals in the backup.
    if (state == want && want == State::kPacked && !BackupHolds(after, conference)) {
      return Conf(conference) + " was packed without a whole backup";
    }
    if (state == want || (incomplete && BackupHolds(after, conference))) continue;
    return Conf(conference) + (state == State::kOther ? " is neither original nor packed"
                                                      : state == State::kPacked ? " is packed" : " is original");
  }
  for (const std::string& path : after.FilesUnder(home_)) {
    if (IsWorkFile(path, true) && !Explained(path, run)) return "left behind: " + path;
    if (path.find(kBackupRoot) == std::string::npos || IsWorkFile(path, true)) continue;
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::string bytes;
    after.ReadFile(path, &bytes);
    const auto original = std::find_if(image_.files.begin(), image_.files.end(), [&](const auto& f) {
      return f.first.ends_with("/" + name) || f.first == name;
    });
    if (original == image_.files.end() || original->second != bytes) return "backup copy " + path + " is no original";
  }
  return "";
}

std::vector<std::string> Judge::AfterRun(const RunResult& run, MemoryOs& after,
                                         bool allowIncomplete) {
  std::vector<std::string> failures;
  Tally("nothing-lost", NothingLost(after), &failures);
  Tally("finished-run", Finished(run, after, allowIncomplete), &failures);
  return failures;
}

void Judge::Print(const std::string& name) const {
  std::string line = "[ FIGURES  ] " + name + ": " + std::to_string(baseline_.log.size()) + " calls";
  uint64_t judged = 0;
  for (const auto& [rule, counts] : figures_) {
    line += "; " + rule + " " + std::to_string(counts.first) + "/" + std::to_string(counts.second);
    judged = std::max(judged, counts.second);
    EXPECT_EQ(counts.first, counts.second) << name << ": rule " << rule;
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  EXPECT_GT(judged, 0u) << name << " judged no run";
}

}  // namespace twtrim::test
