// What the crash, interrupt and concurrency tests share: a board with
// conferences to pack, to repair and to leave alone; its reference states
// (pristine, and after one uninterrupted write); and the checks that follow
// a run that was killed or interrupted: no original byte lost, the dry run
// truthful, the operator's recovery procedure from the README working, and a
// final write leaving the packed board.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "board/board_builder.h"
#include "support/full_sweeps.h"
#include "support/report_lines.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace twtrim::crash {

namespace fs = std::filesystem;
using test::Lines;

using test::FullSweeps;

inline std::optional<std::string> ReadFile(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return std::nullopt;
  return bytes;
}

inline bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

inline bool SameFile(const std::string& a, const std::string& b) {
  const std::optional<std::string> x = ReadFile(a), y = ReadFile(b);
  return x && y && *x == *y;
}

inline void CopyTree(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::copy(from, to, fs::copy_options::recursive, error);
  ASSERT_FALSE(error) << "copy " << from << " -> " << to << ": " << error.message();
}

// Names of the entries of one directory, sorted; empty when it is missing.
inline std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

inline const std::vector<std::string>& Extensions() {
  static const std::vector<std::string> extensions = {"PTR", "IDX", "DAT"};
  return extensions;
}

inline std::string ConferenceName(uint32_t conference, const std::string& extension) {
  return board::ConferenceFileName(conference, extension);
}

// Report texts the checks look for.
inline constexpr char kCommitHeading[] =
    "======================= COMMIT =============================";
inline constexpr char kFooterRule[] =
    "-------------------- RUN COMPLETE --------------------------";
inline constexpr char kAlreadyExists[] = "SAFETY ABORT: shared message-base lock already exists: ";
inline constexpr char kLockText[] = "TWTRIM32 0.6.0-beta1 active - shared message-base lock\r\n";
inline constexpr char kLockName[] = "VIZIZE.BSY";
inline constexpr char kReportName[] = "TWTRIM32_REPORT.TXT";
inline constexpr char kBackupRoot[] = "TWTRIM32-BACKUPS";

// The "  RESULT: " line of every conference block of a report.
inline std::map<uint32_t, std::string> ResultLines(const std::string& report) {
  std::map<uint32_t, std::string> results;
  uint32_t current = 0;
  for (const std::string& line : test::ReportLines(report)) {
    if (line.rfind("CONF ", 0) == 0) {
      current = static_cast<uint32_t>(std::strtoul(line.c_str() + 5, nullptr, 10));
    } else if (line.rfind("  RESULT: ", 0) == 0 && current != 0) {
      results[current] = line;
    }
  }
  return results;
}

// The reports in a report file, one string each, in file order.
inline std::vector<std::string> SplitReports(const std::string& file) {
  std::vector<std::string> reports;
  const std::string marker = "\r\nTWTRIM32 REPORT RUN\r\n";
  // Each report starts with an empty line and a rule of '#' before the marker.
  const std::string start = "\r\n" + std::string(60, '#') + marker;
  size_t at = file.find(start);
  if (at == std::string::npos) return reports;
  while (at != std::string::npos) {
    const size_t next = file.find(start, at + 1);
    reports.push_back(file.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return reports;
}

// The value of the first labelled line with this label.
inline std::string LabelValue(const std::string& report, std::string_view label) {
  for (const std::string& line : test::ReportLines(report)) {
    if (line.rfind(label, 0) == 0 && line.size() >= 20) return line.substr(20);
  }
  return "";
}

// ---------------------------------------------------------------------------
// The board and its reference states.

struct BoardShape {
  uint32_t bigRecords = 0;  // 0: the small board of scenarios
};

// Conference 1 packs (with LMR and SIG companions), 2 is repair-only, 3 is
// clean and never written, 4 packs again. A write touches 1, 2 and 4 only.
inline bool WriteCrashBoard(const std::string& home, const BoardShape& shape) {
  board::Board made;
  if (!board::CreateBoard(home, {"Big Pack", "Repairs", "Clean", "Second Pack"}, &made)) {
    return false;
  }
  const std::string msg = made.messageDir();
  const board::ConferenceFiles first = shape.bigRecords == 0
                                           ? board::PackConference()
                                           : board::RandomConference(11, shape.bigRecords, 30, 3);
  const board::ConferenceFiles fourth = shape.bigRecords == 0
                                            ? board::DangerConference()
                                            : board::RandomConference(44, shape.bigRecords, 50, 2);
  const auto text = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  return board::WriteConference(msg, 1, first) &&
         board::WriteConference(msg, 2, board::RepairOnlyConference()) &&
         board::WriteConference(msg, 3, board::CleanConference()) &&
         board::WriteConference(msg, 4, fourth) &&
         board::WriteFileBytes(msg + "/TWOUTBOUND.SEQ", text("00000042\r\n")) &&
         board::WriteFileBytes(board::ConferencePath(msg, 1, "LMR"),
                               std::vector<uint8_t>(64, 0x11)) &&
         board::WriteFileBytes(board::ConferencePath(msg, 1, "SIG"), text("-- Big Pack --\r\n"));
}

inline std::vector<std::string> WithHome(std::vector<std::string> switches,
                                         const std::string& home) {
  switches.push_back("/HOME=" + home);
  return switches;
}

inline ProcessResult RunTwtrim(const std::string& home, const std::vector<std::string>& switches) {
  return RunProcess(TwtrimBinary(), WithHome(switches, home), home);
}

inline const std::vector<std::string>& WriteSwitches() {
  static const std::vector<std::string> switches = {"/ALL", "/WRITE"};
  return switches;
}

// The pristine board, the same board after one uninterrupted write, and the
// dry-run verdicts of both. Built once per shape and kept for the process.
class Reference {
 public:
  explicit Reference(const BoardShape& shape) {
    original_ = dir_.Path("original");
    packed_ = dir_.Path("packed");
    if (!WriteCrashBoard(original_, shape)) {
      ADD_FAILURE() << "cannot write the crash board";
      return;
    }
    CopyTree(original_, packed_);
    const ProcessResult write = RunTwtrim(packed_, WriteSwitches());
    EXPECT_EQ(write.exitCode, 0) << write.stdoutBytes;
    std::error_code error;
    fs::remove_all(packed_ + "/" + kBackupRoot, error);
    fs::remove(packed_ + "/" + kReportName, error);
    for (uint32_t c = 1; c <= 4; ++c) {
      bool changed = false;
      for (const std::string& ext : Extensions()) {
        changed |= !SameFile(Message(original_, c, ext), Message(packed_, c, ext));
      }
      (changed ? written_ : unwritten_).push_back(c);
    }
    EXPECT_EQ(written_, (std::vector<uint32_t>{1, 2, 4}));
    originalResults_ = DryRunResults(original_);
    packedResults_ = DryRunResults(packed_);
    fixedFiles_ = {"TWMCONF.DAT", "WORK/TWWHOSON.DAT", "MESSAGE/TWOUTBOUND.SEQ",
                   "MESSAGE/" + ConferenceName(1, "LMR"), "MESSAGE/" + ConferenceName(1, "SIG")};
    for (uint32_t c : unwritten_) {
      for (const std::string& ext : Extensions()) {
        fixedFiles_.push_back("MESSAGE/" + ConferenceName(c, ext));
      }
    }
  }

  static std::string Message(const std::string& home, uint32_t c, const std::string& ext) {
    return home + "/MESSAGE/" + ConferenceName(c, ext);
  }

  const std::string& original() const { return original_; }
  const std::string& packed() const { return packed_; }
  const std::vector<uint32_t>& written() const { return written_; }
  const std::vector<std::string>& fixedFiles() const { return fixedFiles_; }
  const std::map<uint32_t, std::string>& originalResults() const { return originalResults_; }
  const std::map<uint32_t, std::string>& packedResults() const { return packedResults_; }

  // A fresh copy of the pristine board under `scratch`; returns its home.
  std::string FreshCopy(const TempDir& scratch, const std::string& name = "BBS") const {
    const std::string home = scratch.Path(name);
    std::error_code error;
    fs::remove_all(home, error);
    CopyTree(original_, home);
    return home;
  }

 private:
  static std::map<uint32_t, std::string> DryRunResults(const std::string& home) {
    const ProcessResult dry = RunTwtrim(home, {"/ALL", "/DRYRUN", "/NOLOG"});
    EXPECT_TRUE(dry.exitCode == 0 || dry.exitCode == 1) << dry.stdoutBytes;
    return ResultLines(dry.stdoutBytes);
  }

  TempDir dir_;
  std::string original_, packed_;
  std::vector<uint32_t> written_, unwritten_;
  std::vector<std::string> fixedFiles_;
  std::map<uint32_t, std::string> originalResults_, packedResults_;
};

// A board whose write takes a while: two conferences of thousands of
// messages to pack, one to repair, one to leave alone.
inline const Reference& LargeReference() {
  static const Reference reference(BoardShape{FullSweeps() ? 30000u : 3000u});
  return reference;
}

// The scenario board, for the sweeps that run the program many times.
inline const Reference& SmallReference() {
  static const Reference reference(BoardShape{0});
  return reference;
}

// ---------------------------------------------------------------------------
// What a run left behind, and the checks.

enum class ConfState { kOriginal, kPacked, kMixed, kDamaged };

inline const char* StateName(ConfState state) {
  switch (state) {
    case ConfState::kOriginal:
      return "original";
    case ConfState::kPacked:
      return "packed";
    case ConfState::kMixed:
      return "half-committed";
    default:
      return "DAMAGED";
  }
}

// Figures of one sweep, printed at its end.
struct Tally {
  int runs = 0;
  int passed = 0;                                   // runs after which every check held
  std::map<std::string, int> endings;               // how the run ended / what it left
  std::map<std::string, int> halfCommittedResults;  // dry-run verdicts of those

  void Count(const std::string& what) { ++endings[what]; }
  void Print(const char* sweep) const {
    std::printf("[%s] runs=%d passed-all-checks=%d\n", sweep, runs, passed);
    for (const auto& [what, n] : endings) std::printf("[%s]   %-44s %d\n", sweep, what.c_str(), n);
    for (const auto& [line, n] : halfCommittedResults) {
      std::printf("[%s]   dry run of a half-committed conference: %s (%d)\n", sweep, line.c_str(),
                  n);
    }
    std::fflush(stdout);
  }
};

// Failed assertions of the running test so far.
inline int FailureCount() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info == nullptr ? 0 : info->result()->total_part_count();
}

struct Observed {
  std::map<uint32_t, ConfState> conferences;
  bool lockLeft = false;
  std::vector<std::string> staged;  // leftover .NEW files in MESSAGE
  std::set<uint32_t> records;       // conferences with an intent record (.JNL) left
  bool anyTouched() const {
    return std::any_of(conferences.begin(), conferences.end(),
                       [](const auto& c) { return c.second != ConfState::kOriginal; });
  }
  bool allPacked() const {
    return std::all_of(conferences.begin(), conferences.end(),
                       [](const auto& c) { return c.second == ConfState::kPacked; });
  }
  bool anyMixed() const {
    return std::any_of(conferences.begin(), conferences.end(),
                       [](const auto& c) { return c.second == ConfState::kMixed; });
  }
};

// The original home-relative location of a file found in a backup directory.
inline std::string OriginalOfBackup(const std::string& name) {
  return name == "TWMCONF.DAT" ? name : "MESSAGE/" + name;
}

// Every file in every backup directory is a complete copy of its original,
// except a copy still being made (.PARTIAL). Returns the backup directories.
inline std::vector<std::string> CheckBackups(const Reference& ref, const std::string& home) {
  std::vector<std::string> directories;
  const std::string root = home + "/" + kBackupRoot;
  for (const std::string& run : Entries(root)) {
    const std::string directory = root + "/" + run;
    EXPECT_TRUE(fs::is_directory(directory)) << directory;
    directories.push_back(directory);
    for (const std::string& name : Entries(directory)) {
      if (EndsWith(name, ".PARTIAL")) continue;
      EXPECT_TRUE(SameFile(directory + "/" + name, ref.original() + "/" + OriginalOfBackup(name)))
          << "backup copy differs from its original: " << directory << "/" << name;
    }
  }
  return directories;
}

inline ConfState StateOf(const Reference& ref, const std::string& home, uint32_t c) {
  // A file a write leaves as it was (the IDX of a repair) counts as both.
  int original = 0, packed = 0;
  for (const std::string& ext : Extensions()) {
    const std::string live = Reference::Message(home, c, ext);
    const bool isOriginal = SameFile(live, Reference::Message(ref.original(), c, ext));
    const bool isPacked = SameFile(live, Reference::Message(ref.packed(), c, ext));
    if (!isOriginal && !isPacked) {
      ADD_FAILURE() << "live file is neither the original nor the packed one: " << live;
      return ConfState::kDamaged;
    }
    original += isOriginal;
    packed += isPacked;
  }
  if (original == 3) return ConfState::kOriginal;
  if (packed == 3) return ConfState::kPacked;
  return ConfState::kMixed;
}

// Invariants of the board right after a run ended, however it ended.
inline Observed CheckNothingLost(const Reference& ref, const std::string& home, bool lockAllowed) {
  Observed seen;
  for (const std::string& file : ref.fixedFiles()) {
    EXPECT_TRUE(SameFile(home + "/" + file, ref.original() + "/" + file))
        << "a file no write may change was changed: " << file;
  }
  for (uint32_t c : ref.written()) seen.conferences[c] = StateOf(ref, home, c);

  const std::vector<std::string> backups = CheckBackups(ref, home);
  if (seen.anyTouched()) {
    // Nothing live is replaced before the whole backup is proven: some
    // backup directory holds every file of every conference being written.
    const bool complete = std::any_of(backups.begin(), backups.end(), [&](const std::string& d) {
      bool all = IsFile(d + "/TWMCONF.DAT") && IsFile(d + "/TWOUTBOUND.SEQ");
      for (uint32_t c : ref.written()) {
        for (const std::string& ext : Extensions()) {
          all = all && IsFile(d + "/" + ConferenceName(c, ext));
        }
      }
      return all;
    });
    EXPECT_TRUE(complete) << "live files changed without a complete backup directory";
  }

  std::set<std::string> expected;
  for (const std::string& name : Entries(ref.original() + "/MESSAGE")) expected.insert(name);
  for (const std::string& name : Entries(home + "/MESSAGE")) {
    if (expected.count(name) != 0) continue;
    if (name == kLockName) {
      seen.lockLeft = true;
      const std::optional<std::string> content = ReadFile(home + "/MESSAGE/" + name);
      // Created but not yet written is the one other state a kill can leave.
      EXPECT_TRUE(content && (*content == kLockText || content->empty()))
          << "the lock file holds something else";
    } else if (EndsWith(name, ".NEW")) {
      seen.staged.push_back(name);
    } else if (EndsWith(name, ".JNL")) {
      seen.records.insert(static_cast<uint32_t>(std::strtoul(name.c_str() + 5, nullptr, 10)));
    } else {
      ADD_FAILURE() << "unexpected file in the message directory: " << name;
    }
  }
  if (!lockAllowed) {
    EXPECT_FALSE(seen.lockLeft) << "an interrupted run left its lock behind";
  }

  // A half-committed conference is protected by the staged files still to
  // be moved: each is the complete packed file, so a later write refuses.
  for (const auto& [c, state] : seen.conferences) {
    if (state != ConfState::kMixed) continue;
    for (const std::string& ext : Extensions()) {
      const std::string live = Reference::Message(home, c, ext);
      if (SameFile(live, Reference::Message(ref.packed(), c, ext))) continue;
      EXPECT_TRUE(SameFile(live + ".NEW", Reference::Message(ref.packed(), c, ext)))
          << "half-committed conference without its verified staged file: " << live << ".NEW";
    }
  }
  return seen;
}

// Size and content hash of every file under the home directory but the
// report file: what a dry run must leave exactly as it found it.
inline std::map<std::string, std::string> Snapshot(const std::string& home) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(home, error)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), home).generic_string();
    if (relative == kReportName) continue;
    const std::optional<std::string> bytes = ReadFile(entry.path().string());
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char byte : bytes.value_or("")) hash = (hash ^ byte) * 1099511628211ull;
    files[relative] = std::to_string(bytes ? bytes->size() : 0) + ":" + std::to_string(hash);
  }
  return files;
}

// The dry runs after a run that was stopped: first with whatever lock the
// stopped run left (the truthful abort), then, after the lock is removed as
// the README says, a complete dry run that changes nothing and reports each
// conference as its files now are.
inline void CheckDryRuns(const Reference& ref, const std::string& home, const Observed& seen,
                         Tally* tally) {
  const std::string lock = home + "/MESSAGE/" + kLockName;
  if (seen.lockLeft) {
    const std::optional<std::string> before = ReadFile(lock);
    const ProcessResult blocked = RunTwtrim(home, {"/ALL", "/DRYRUN"});
    EXPECT_EQ(blocked.exitCode, 3) << blocked.stdoutBytes;
    EXPECT_TRUE(Contains(blocked.stdoutBytes, kAlreadyExists)) << blocked.stdoutBytes;
    EXPECT_EQ(ReadFile(lock), before) << "a dry run touched a lock it did not own";
    std::error_code error;
    fs::remove(lock, error);
  }
  const std::map<std::string, std::string> before = Snapshot(home);
  const ProcessResult dry = RunTwtrim(home, {"/ALL", "/DRYRUN"});
  EXPECT_TRUE(dry.exitCode >= 0 && dry.exitCode <= 2) << dry.stdoutBytes;
  EXPECT_TRUE(Contains(dry.stdoutBytes, kFooterRule)) << dry.stdoutBytes;
  EXPECT_EQ(Snapshot(home), before) << "the dry run changed the board";
  const std::map<uint32_t, std::string> results = ResultLines(dry.stdoutBytes);
  for (const auto& [c, state] : seen.conferences) {
    const auto found = results.find(c);
    if (found == results.end()) {
      ADD_FAILURE() << "no RESULT line for CONF" << c << " in\n" << dry.stdoutBytes;
      continue;
    }
    if (seen.records.count(c) != 0) {
      // An unfinished commit is an error whatever the files look like.
      EXPECT_EQ(found->second.rfind("  RESULT: ERROR - ", 0), 0u) << "CONF" << c;
    } else if (state == ConfState::kOriginal) {
      EXPECT_EQ(found->second, ref.originalResults().at(c)) << "CONF" << c;
    } else if (state == ConfState::kPacked) {
      EXPECT_EQ(found->second, ref.packedResults().at(c)) << "CONF" << c;
    } else if (tally != nullptr) {
      ++tally->halfCommittedResults[found->second];
    }
  }
}

// A /WRITE before any clean-up must not make things worse: with staged
// files left it refuses (exit 2 when a half-committed conference fails
// validation, exit 4 at the stale .NEW file) and changes nothing; without
// any, it packs the board.
inline void CheckWriteBeforeCleanup(const Reference& ref, const std::string& home,
                                    const Observed& seen, Tally* tally) {
  const std::map<std::string, std::string> before = Snapshot(home);
  const ProcessResult write = RunTwtrim(home, WriteSwitches());
  if (!seen.staged.empty() || !seen.records.empty()) {
    if (write.exitCode == 2) {
      EXPECT_TRUE(Contains(write.stdoutBytes, "WRITE REFUSED: validation errors must be resolved"))
          << write.stdoutBytes;
      tally->Count("write before clean-up: refused, validation errors");
    } else {
      EXPECT_EQ(write.exitCode, 4) << write.stdoutBytes;
      EXPECT_TRUE(Contains(write.stdoutBytes, "WRITE ERROR: stale .NEW file exists for CONF"))
          << write.stdoutBytes;
      tally->Count("write before clean-up: refused, stale .NEW");
    }
    EXPECT_EQ(Snapshot(home), before) << "a refused write changed the board";
  } else {
    EXPECT_EQ(write.exitCode, 0) << write.stdoutBytes;
    for (uint32_t c : ref.written()) {
      EXPECT_EQ(StateOf(ref, home, c), ConfState::kPacked) << "CONF" << c;
    }
    tally->Count("write before clean-up: packed the board");
  }
}

// The operator's procedure of the README section "Recovering from an
// interrupted write", followed to the letter: find the stopped run's report
// (the one without a footer); if it reached the COMMIT heading without a
// WRITE RESULT line, copy every conference file of its backup directory back
// over the live one; then delete the stale lock, the .NEW and .ROLLBACK files,
// the intent records and unfinished .PARTIAL copies. Returns whether a restore was made.
inline bool RecoverByTheBook(const std::string& home) {
  const std::string msg = home + "/MESSAGE";
  const std::optional<std::string> log = ReadFile(home + "/" + kReportName);
  std::string stopped;
  for (const std::string& report : SplitReports(log.value_or(""))) {
    if (!Contains(report, kFooterRule)) stopped = report;
  }
  bool restored = false;
  if (Contains(stopped, kCommitHeading) && !Contains(stopped, "WRITE RESULT: ")) {
    const std::string backup = LabelValue(stopped, "Backup directory:");
    EXPECT_FALSE(backup.empty()) << "the report reached COMMIT without a backup directory";
    for (const std::string& name : Entries(backup)) {
      const bool conferenceFile =
          name.rfind("TWMSG", 0) == 0 &&
          (EndsWith(name, ".PTR") || EndsWith(name, ".IDX") || EndsWith(name, ".DAT"));
      if (!conferenceFile) continue;
      std::error_code error;
      fs::copy_file(backup + "/" + name, msg + "/" + name, fs::copy_options::overwrite_existing,
                    error);
      EXPECT_FALSE(error) << name << ": " << error.message();
      EXPECT_TRUE(SameFile(backup + "/" + name, msg + "/" + name)) << name;
      restored = true;
    }
  }
  for (const std::string& name : Entries(msg)) {
    if (name == kLockName || EndsWith(name, ".NEW") || EndsWith(name, ".ROLLBACK") ||
        EndsWith(name, ".JNL")) {
      std::error_code error;
      fs::remove(msg + "/" + name, error);
    }
  }
  const std::string root = home + "/" + kBackupRoot;
  for (const std::string& run : Entries(root)) {
    for (const std::string& name : Entries(root + "/" + run)) {
      std::error_code error;
      if (EndsWith(name, ".PARTIAL")) fs::remove(root + "/" + run + "/" + name, error);
    }
  }
  return restored;
}

// Everything after a stopped run: invariants, dry runs, a write before the
// clean-up, the README procedure, and a final write that must leave the
// packed board. `lockAllowed`: the run was killed outright (SIGKILL), so a
// stale lock is the truth; an interrupted run must have removed it.
// Returns what the stopped run left.
inline Observed CheckStoppedRun(const Reference& ref, const std::string& home, bool lockAllowed,
                                Tally* tally) {
  ++tally->runs;
  const int failuresBefore = FailureCount();
  const Observed seen = CheckNothingLost(ref, home, lockAllowed);

  std::string ending = seen.lockLeft ? "lock left; " : "";
  if (seen.allPacked()) {
    ending += "packed";
  } else if (seen.anyMixed()) {
    ending += "half-committed conference";
  } else if (seen.anyTouched()) {
    ending += "some conferences packed, others original";
  } else {
    ending += "original";
  }
  if (!seen.staged.empty()) ending += " + stale .NEW";
  tally->Count(ending);

  CheckDryRuns(ref, home, seen, tally);
  CheckWriteBeforeCleanup(ref, home, seen, tally);
  const Observed now = CheckNothingLost(ref, home, true);
  const bool restored = RecoverByTheBook(home);
  if (restored) {
    for (uint32_t c : ref.written()) {
      EXPECT_EQ(StateOf(ref, home, c), ConfState::kOriginal)
          << "the README restore did not bring back the originals of CONF" << c;
    }
  } else if (!now.allPacked()) {
    // The report never reached COMMIT: nothing live may have changed.
    for (uint32_t c : ref.written()) {
      EXPECT_EQ(StateOf(ref, home, c), ConfState::kOriginal)
          << "CONF" << c << " changed although the report never reached COMMIT";
    }
  }
  const ProcessResult write = RunTwtrim(home, WriteSwitches());
  EXPECT_EQ(write.exitCode, 0) << write.stdoutBytes;
  for (uint32_t c : ref.written()) {
    EXPECT_EQ(StateOf(ref, home, c), ConfState::kPacked)
        << "CONF" << c << " is not packed after recovery and a final write";
  }
  const Observed last = CheckNothingLost(ref, home, false);
  EXPECT_TRUE(last.staged.empty());
  if (FailureCount() == failuresBefore) ++tally->passed;
  return seen;
}

}  // namespace twtrim::crash
