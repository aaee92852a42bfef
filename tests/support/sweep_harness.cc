#include "support/sweep_harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#include <gtest/gtest.h>

#include "app/run_sequence.h"
#include "board/board_builder.h"
#include "report/paths.h"
#include "safety/tosser_lock.h"
#include "support/temp_dir.h"

namespace twtrim::test {
namespace fs = std::filesystem;

namespace {

constexpr char kBackupRoot[] = "TWTRIM32-BACKUPS";
constexpr char kReportFile[] = "TWTRIM32_REPORT.TXT";
constexpr char kFailedUnchanged[] =
    "WRITE RESULT: FAILED; live-format originals are unchanged or were restored from backup.";
constexpr char kFailedManual[] =
    "WRITE RESULT: FAILED; manual restoration from the backup directory is required.";

std::string Bytes(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

board::ConferenceFiles Make(const std::vector<board::MessageSpec>& specs) {
  board::ConferenceBuilder builder;
  for (const board::MessageSpec& spec : specs) builder.Add(spec);
  return builder.files();
}

board::MessageSpec Stale(board::MessageSpec spec) {
  spec.staleIdx = true;
  return spec;
}

board::MessageSpec Complemented(board::MessageSpec spec) {
  spec.complementFromCrc = true;
  spec.complementToCrc = true;
  return spec;
}

// Deletions in the middle of the DAT, a live reply whose parent goes, a
// bodyless message, a DANGER record and a stale IDX identity.
board::ConferenceFiles PackFiles() {
  using namespace board;
  return Make({Root(1, 2), Deleted(Reply(2, 1, 3)), Reply(3, 1, 1), Deleted(Root(4, 1)),
               Reply(5, 4, 2), Bodyless(Root(6)), Stale(Reply(7, 6, 1)), Danger(8, 1),
               Complemented(Root(9, 2)), Reply(10, 9, 1)});
}

// Nothing to purge: a DANGER record and a reply to a message that never was.
board::ConferenceFiles RepairFiles() {
  using namespace board;
  return Make({Root(1, 1), Reply(2, 1, 1), Danger(3, 1), Reply(4, 99, 1), Stale(Root(5, 2)),
               Reply(6, 5, 1)});
}

board::ConferenceFiles CleanFiles() {
  using namespace board;
  return Make({Root(1, 1), Reply(2, 1, 1), Root(3, 2), Reply(4, 3, 1)});
}

std::string Pattern(const std::string& seed, size_t size) {
  std::string bytes;
  for (size_t i = 0; bytes.size() < size; ++i) {
    bytes += static_cast<char>(seed[i % seed.size()] + static_cast<char>(i / 7 % 5));
  }
  return bytes;
}

// The scratch area: TWTRIM_SWEEP_TMPDIR, else a memory file system where
// there is one (the sweeps make thousands of boards and flush often), else
// the system's temporary directory.
fs::path ScratchBase() {
  std::error_code error;
  if (const char* chosen = std::getenv("TWTRIM_SWEEP_TMPDIR"); chosen && *chosen) return chosen;
#ifndef _WIN32
  if (fs::is_directory("/dev/shm", error)) return "/dev/shm";
#endif
  fs::path base = fs::temp_directory_path(error);
  return error ? fs::current_path() : base;
}

std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  static const uint64_t seed = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device() ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  char name[64];
  std::snprintf(name, sizeof name, "twtrim-sweep-%016llx-%u", static_cast<unsigned long long>(seed),
                counter++);
  return name;
}

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<DirEntry> List(Os& real, const std::string& directory) {
  std::vector<DirEntry> entries;
  if (!real.ListDirectory(directory + "/*", &entries)) return {};
  return entries;
}

std::string ReadOrEmpty(const std::string& path) {
  std::string bytes;
  return ReadWholeFile(path, &bytes) ? bytes : std::string();
}

// 'O' original, 'P' packed, 'B' both (a file a repair leaves alone), '?' neither.
char FileForm(const std::string& live, const std::string& original, const std::string* packed) {
  const bool isOriginal = live == original;
  const bool isPacked = packed != nullptr && live == *packed;
  if (isOriginal && isPacked) return 'B';
  if (isOriginal) return 'O';
  return isPacked ? 'P' : '?';
}

DiskState::Conference ObserveConference(const ScratchBoard& board, const BoardImage& image,
                                        const BoardExpectation& expected, uint32_t conference) {
  DiskState::Conference c;
  c.live = {ReadOrEmpty(board.Path(BoardImage::ConferenceFile(conference, "PTR"))),
            ReadOrEmpty(board.Path(BoardImage::ConferenceFile(conference, "IDX"))),
            ReadOrEmpty(board.Path(BoardImage::ConferenceFile(conference, "DAT")))};
  const ConferenceBytes original = image.Conference(conference);
  const ConferenceBytes* packed =
      expected.Written(conference) ? &expected.packs.at(conference).packed : nullptr;
  c.detail = {FileForm(c.live.ptr, original.ptr, packed ? &packed->ptr : nullptr),
              FileForm(c.live.idx, original.idx, packed ? &packed->idx : nullptr),
              FileForm(c.live.dat, original.dat, packed ? &packed->dat : nullptr)};
  const auto all = [&](std::string_view allowed) {
    return c.detail.find_first_not_of(allowed) == std::string::npos;
  };
  if (all("OB")) {
    c.form = DiskState::Form::kOriginal;
  } else if (all("PB")) {
    c.form = DiskState::Form::kPacked;
  } else if (all("OPB")) {
    c.form = DiskState::Form::kMixed;
  } else {
    c.form = DiskState::Form::kTorn;
  }
  return c;
}

bool IsWorkFile(const std::string& name) {
  return EndsWith(name, ".NEW") || EndsWith(name, ".ROLLBACK") || EndsWith(name, ".PARTIAL") ||
         name == "VIZIZE.BSY";
}

void ObserveBackups(Os& real, const ScratchBoard& board, DiskState* disk) {
  const std::string root = board.Path(kBackupRoot);
  for (const DirEntry& run : List(real, root)) {
    if (!run.isDirectory) {
      disk->leftovers.push_back(std::string(kBackupRoot) + "/" + run.name);
      continue;
    }
    for (const DirEntry& file : List(real, root + "/" + run.name)) {
      const std::string relative = run.name + "/" + file.name;
      if (file.isDirectory || IsWorkFile(file.name)) {
        disk->leftovers.push_back(std::string(kBackupRoot) + "/" + relative);
      } else {
        disk->backups[relative] = ReadOrEmpty(root + "/" + relative);
      }
    }
  }
}

// Calls that create, replace or remove a name: where a commit or a rollback
// changes what the board is, so a sweep never strides over one.
bool ChangesNames(OsCall kind) {
  switch (kind) {
    case OsCall::kCreateNew:
    case OsCall::kDeleteFile:
    case OsCall::kReplaceRename:
    case OsCall::kCreateDirectory:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<uint64_t> SweepPoints(const std::vector<CallRecord>& log, uint64_t from, uint64_t to,
                                  uint64_t native, uint64_t windows) {
#ifdef _WIN32
  const uint64_t stride = FullSweeps() ? 1 : windows;
  (void)native;
#else
  const uint64_t stride = FullSweeps() ? 1 : native;
  (void)windows;
#endif
  to = std::min<uint64_t>(to, log.size());
  std::vector<uint64_t> points;
  for (uint64_t k = from; k <= to; ++k) {
    if ((k - from) % stride == 0 || ChangesNames(log[k - 1].kind)) points.push_back(k);
  }
  return points;
}

// --- the board ---------------------------------------------------------------

std::string BoardImage::ConferenceFile(uint32_t conference, const char* extension) {
  return "MESSAGE/" + board::ConferenceFileName(conference, extension);
}

ConferenceBytes BoardImage::Conference(uint32_t conference) const {
  const auto get = [&](const char* extension) {
    auto it = files.find(ConferenceFile(conference, extension));
    return it == files.end() ? std::string() : it->second;
  };
  return {get("PTR"), get("IDX"), get("DAT")};
}

const std::string* BoardImage::OriginalByBaseName(const std::string& name) const {
  for (const auto& [path, bytes] : files) {
    const bool backedUpKind = path == "TWMCONF.DAT" || path.rfind("MESSAGE/", 0) == 0;
    if (backedUpKind && BaseName(path) == name) return &bytes;
  }
  return nullptr;
}

BoardImage ImageOf(const std::vector<std::pair<uint32_t, board::ConferenceFiles>>& conferences) {
  BoardImage image;
  std::vector<std::string> names;
  for (const auto& [number, files] : conferences) {
    if (names.size() < number) names.resize(number);
    names[number - 1] = "Conference " + std::to_string(number);
    const ConferenceBytes bytes = ToBytes(files);
    image.files[BoardImage::ConferenceFile(number, "PTR")] = bytes.ptr;
    image.files[BoardImage::ConferenceFile(number, "IDX")] = bytes.idx;
    image.files[BoardImage::ConferenceFile(number, "DAT")] = bytes.dat;
    image.conferences.push_back(number);
  }
  image.files["TWMCONF.DAT"] = Bytes(board::ConferenceConfigBytes(names));
  image.files["WORK/TWWHOSON.DAT"] = Bytes(board::CallerTableBytes({}, 1536));
  return image;
}

BoardImage SweepBoard() {
  BoardImage image = ImageOf({{1, PackFiles()}, {2, RepairFiles()}, {3, CleanFiles()}});
  image.files["MESSAGE/" + board::ConferenceFileName(1, "LMR")] = Pattern("last-read", 300);
  image.files["MESSAGE/" + board::ConferenceFileName(1, "SIG")] = Pattern("signature", 130);
  image.files["MESSAGE/TWOUTBOUND.SEQ"] = Pattern("0042", 4);
  return image;
}

bool BoardExpectation::Written(uint32_t conference) const {
  auto it = packs.find(conference);
  return it != packs.end() && it->second.verdict == PackVerdict::kWritten;
}

BoardExpectation Expect(const BoardImage& image) {
  BoardExpectation expected;
  for (uint32_t conference : image.conferences) {
    expected.packs[conference] = PackConference(image.Conference(conference));
  }
  return expected;
}

ScratchBoard::ScratchBoard(const BoardImage& image) {
  std::error_code error;
  fs::path root = ScratchBase() / UniqueName();
  if (!fs::create_directories(root, error)) return;
  root_ = root.generic_string();
  home_ = root_ + "/BBS";
  ok_ = board::MakeDirectories(home_ + "/WORK") && board::MakeDirectories(home_ + "/MESSAGE");
  for (const auto& [path, bytes] : image.files) {
    ok_ = ok_ && WriteWholeFile(Path(path), bytes);
  }
}

ScratchBoard::~ScratchBoard() {
  if (root_.empty()) return;
  std::error_code error;
  fs::remove_all(fs::path(root_), error);
}

// --- runs --------------------------------------------------------------------

SweepRun RunInProcess(Os& real, const std::string& home, const std::vector<std::string>& switches,
                      const std::function<void(FaultOs&)>& setup) {
  FaultOs os(real);
  os.SetNow(kRunTime);
  os.SetProcessNames({"init", "bash", "twtrim_tests"});
  if (setup) setup(os);
  std::vector<std::string> arguments = {"twtrim32"};
  arguments.insert(arguments.end(), switches.begin(), switches.end());
  arguments.push_back("/HOME=" + home);
  SweepRun run;
  try {
    run.exitCode = RunProgram(os, arguments);
  } catch (const SimulatedCrash&) {
    run.crashed = true;
    // The lock's state is process-wide; a dead process would have lost it.
    // Every call now fails, so forgetting it leaves the lock file on disk.
    // A crash inside the release itself leaves a half-closed handle, which
    // only a release after the control handler frees.
    ReleaseSharedTosserLock();
    ConsoleControlHandler();
    ReleaseSharedTosserLock();
  }
  run.output = os.stdoutText();
  run.lines = ReportLines(run.output);
  run.log = os.log();
  return run;
}

void CrashAtCall(FaultOs& os, uint64_t n) {
  os.BeforeCall(n, [&os] {
    os.AddFault({{std::nullopt, "", 0}, FaultEffect::kFail, false});
    throw SimulatedCrash{};
  });
}

// --- what is on disk ---------------------------------------------------------

DiskState Observe(Os& real, const ScratchBoard& board, const BoardImage& image,
                  const BoardExpectation& expected) {
  DiskState disk;
  for (uint32_t conference : image.conferences) {
    disk.conferences[conference] = ObserveConference(board, image, expected, conference);
  }
  for (const DirEntry& entry : List(real, board.Path("MESSAGE"))) {
    if (image.files.count("MESSAGE/" + entry.name) == 0) {
      disk.leftovers.push_back("MESSAGE/" + entry.name);
    }
  }
  for (const DirEntry& entry : List(real, board.home())) {
    const bool known = image.files.count(entry.name) != 0 || entry.name == "WORK" ||
                       entry.name == "MESSAGE" || entry.name == kBackupRoot ||
                       entry.name == kReportFile;
    if (!known) disk.leftovers.push_back(entry.name);
  }
  ObserveBackups(real, board, &disk);
  return disk;
}

const char* FormName(DiskState::Form form) {
  switch (form) {
    case DiskState::Form::kOriginal:
      return "original";
    case DiskState::Form::kPacked:
      return "packed";
    case DiskState::Form::kMixed:
      return "half-packed";
    case DiskState::Form::kTorn:
      return "torn";
  }
  return "?";
}

// --- invariants --------------------------------------------------------------

const char* InvariantName(Invariant invariant) {
  switch (invariant) {
    case kExitInRange:
      return "exit-code";
    case kLiveFiles:
      return "live-files";
    case kReportOutcome:
      return "report";
    case kNoLeftovers:
      return "no-leftovers";
    case kBackupVerified:
      return "backup";
    case kInvariantCount:
      break;
  }
  return "?";
}

bool HasLine(const Lines& lines, std::string_view text) {
  return IndexOf(lines, text) < lines.size();
}

bool HasLineStarting(const Lines& lines, std::string_view prefix) {
  return CountPrefix(lines, prefix) > 0;
}

namespace {

bool Contains(const Lines& lines, std::string_view text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

bool Succeeded(const Lines& lines) { return HasLineStarting(lines, "WRITE RESULT: SUCCESS"); }

bool ManualRestoreReported(const Lines& lines) {
  return HasLine(lines, kFailedManual) && HasLineStarting(lines, "ROLLBACK RESULT: INCOMPLETE");
}

std::string CheckExit(const SweepRun& run) {
  if (run.exitCode < 0 || run.exitCode > 4) return "exit code " + std::to_string(run.exitCode);
  if (!HasLine(run.lines, "TWTRIM32 REPORT RUN")) return "";  // a usage error: console only
  const std::string footer = Labelled("Exit code:", std::to_string(run.exitCode));
  if (!HasLine(run.lines, footer)) return "the footer does not say \"" + footer + "\"";
  return "";
}

std::string CheckReport(const SweepRun& run) {
  const Lines& l = run.lines;
  const bool lockCleanup = HasLineStarting(l, "LOCK CLEANUP ERROR: ");
  switch (run.exitCode) {
    case 0:
      return Succeeded(l) ? "" : "exit 0 without \"WRITE RESULT: SUCCESS\"";
    case 2:
      return Contains(l, "ERROR: ") || HasLineStarting(l, "WRITE REFUSED: ")
                 ? ""
                 : "exit 2 without an ERROR or WRITE REFUSED line";
    case 3:
      return Contains(l, "SAFETY ABORT") || HasLineStarting(l, "SAFETY ERROR: ")
                 ? ""
                 : "exit 3 without a SAFETY line";
    case 4:
      if (Succeeded(l)) return lockCleanup ? "" : "exit 4 after SUCCESS without LOCK CLEANUP";
      if (lockCleanup && !Contains(l, "WRITE RESULT: FAILED")) return "";
      if (!HasLine(l, kFailedUnchanged) && !HasLine(l, kFailedManual)) {
        return "exit 4 without a WRITE RESULT: FAILED line";
      }
      return HasLineStarting(l, "WRITE ERROR: ") || HasLineStarting(l, "POST-WRITE ERROR: ") ||
                     HasLineStarting(l, "ROLLBACK RESULT: ")
                 ? ""
                 : "exit 4 without the failing step's line";
    default:
      return "exit " + std::to_string(run.exitCode) + " in a write run";
  }
}

bool BackupHolds(const DiskState& disk, const BoardImage& image, const std::string& name) {
  const std::string* original = image.OriginalByBaseName(name);
  for (const auto& [relative, bytes] : disk.backups) {
    if (BaseName(relative) == name && original != nullptr && bytes == *original) return true;
  }
  return false;
}

std::string CheckLive(const BoardImage& image, const BoardExpectation& expected,
                      const SweepRun& run, const DiskState& disk, CheckOptions options) {
  const bool success = Succeeded(run.lines);
  const bool manual = options.allowIncomplete && ManualRestoreReported(run.lines);
  for (const auto& [conference, c] : disk.conferences) {
    const std::string where =
        "CONF" + std::to_string(conference) + " is " + FormName(c.form) + " (" + c.detail + ")";
    if (c.form == DiskState::Form::kTorn) return where;
    if (!expected.Written(conference) || (!success && !manual)) {
      if (c.form != DiskState::Form::kOriginal) return where;
      continue;
    }
    if (success && c.form != DiskState::Form::kPacked) return where + " after SUCCESS";
    if (manual && c.form != DiskState::Form::kOriginal) {
      for (const char* extension : {"PTR", "IDX", "DAT"}) {
        const std::string name = board::ConferenceFileName(conference, extension);
        if (!BackupHolds(disk, image, name)) return where + " and no verified backup of " + name;
      }
    }
  }
  return "";
}

// A file may stay only when the fault fell on the very delete (or, for
// the lock, the close) that was to remove it, and the report says so.
bool Explained(const std::string& leftover, const SweepRun& run) {
  const std::string_view name = BaseName(leftover);
  // An intent record stays with a conference the rollback could not finish.
  if (name.ends_with(".JNL") && HasLineStarting(run.lines, "ROLLBACK RESULT: INCOMPLETE")) {
    return true;
  }
  for (const CallRecord& call : run.log) {
    if (!call.failed || BaseName(call.path) != name) continue;
    if (call.kind == OsCall::kDeleteFile) return true;
    if (call.kind == OsCall::kClose && name == "VIZIZE.BSY" &&
        HasLineStarting(run.lines, "LOCK CLEANUP ERROR: ")) {
      return true;
    }
  }
  return false;
}

std::string CheckLeftovers(const SweepRun& run, const DiskState& disk) {
  for (const std::string& leftover : disk.leftovers) {
    if (!Explained(leftover, run)) return "left behind: " + leftover;
  }
  return "";
}

std::string CheckBackup(const BoardImage& image, const BoardExpectation& expected,
                        const SweepRun& run, const DiskState& disk) {
  for (const auto& [relative, bytes] : disk.backups) {
    const std::string* original = image.OriginalByBaseName(std::string(BaseName(relative)));
    if (original == nullptr) return "unexpected backup file " + relative;
    if (bytes != *original) return "backup copy " + relative + " differs from the original";
  }
  // The copies a rollback or an operator restores from must all be there.
  // The control files and the LMR and SIG companions, which no write
  // changes, are copied when they can be seen and skipped otherwise.
  if (!Succeeded(run.lines)) return "";
  std::vector<std::string> required;
  for (uint32_t conference : image.conferences) {
    if (!expected.Written(conference)) continue;
    for (const char* extension : {"PTR", "IDX", "DAT"}) {
      required.push_back(board::ConferenceFileName(conference, extension));
    }
  }
  for (const std::string& name : required) {
    if (!BackupHolds(disk, image, name)) return "the backup lacks " + name;
  }
  return "";
}

}  // namespace

bool RunVerdict::ok() const {
  for (const std::string& failure : failures) {
    if (!failure.empty()) return false;
  }
  return true;
}

std::string RunVerdict::Describe() const {
  std::string text;
  for (int i = 0; i < kInvariantCount; ++i) {
    if (failures[i].empty()) continue;
    text +=
        std::string("  [") + InvariantName(static_cast<Invariant>(i)) + "] " + failures[i] + "\n";
  }
  return text;
}

RunVerdict CheckWriteRun(const BoardImage& image, const BoardExpectation& expected,
                         const SweepRun& run, const DiskState& disk, CheckOptions options) {
  RunVerdict verdict;
  verdict.failures[kExitInRange] = CheckExit(run);
  verdict.failures[kLiveFiles] = CheckLive(image, expected, run, disk, options);
  verdict.failures[kReportOutcome] = CheckReport(run);
  verdict.failures[kNoLeftovers] = CheckLeftovers(run, disk);
  verdict.failures[kBackupVerified] = CheckBackup(image, expected, run, disk);
  return verdict;
}

// --- figures -----------------------------------------------------------------

void SweepTally::Count(const RunVerdict& verdict, const SweepRun& run) {
  ++runs_;
  if (run.exitCode >= 0 && run.exitCode <= 4) ++exits_[static_cast<size_t>(run.exitCode)];
  if (HasLineStarting(run.lines, "ROLLBACK RESULT: INCOMPLETE")) ++incomplete_;
  for (int i = 0; i < kInvariantCount; ++i) {
    if (verdict.failures[i].empty()) ++passed_[i];
  }
}

bool SweepTally::AllPassed() const {
  for (uint64_t passed : passed_) {
    if (passed != runs_) return false;
  }
  return true;
}

void SweepTally::Report(uint64_t calls, const std::string& extra) const {
  std::string line =
      name_ + ": " + std::to_string(calls) + " calls, " + std::to_string(runs_) + " runs";
  for (int i = 0; i < kInvariantCount; ++i) {
    const char* invariant = InvariantName(static_cast<Invariant>(i));
    line += std::string("; ") + invariant + " " + std::to_string(passed_[i]) + "/" +
            std::to_string(runs_);
    ::testing::Test::RecordProperty(name_ + "." + invariant, std::to_string(passed_[i]));
  }
  line += "; exits";
  for (size_t code = 0; code < exits_.size(); ++code) {
    line += " " + std::to_string(code) + ":" + std::to_string(exits_[code]);
  }
  line += "; rollbacks incomplete " + std::to_string(incomplete_);
  if (!extra.empty()) line += "; " + extra;
  ::testing::Test::RecordProperty(name_ + ".calls", std::to_string(calls));
  ::testing::Test::RecordProperty(name_ + ".runs", std::to_string(runs_));
  std::printf("[ FIGURES  ] %s\n", line.c_str());
  std::fflush(stdout);
}

std::string CallText(const CallRecord& call) {
  std::string text = "#" + std::to_string(call.index) + " " + OsCallName(call.kind);
  if (!call.path.empty()) text += " " + call.path;
  if (!call.otherPath.empty()) text += " -> " + call.otherPath;
  if (call.failed) text += " (failed)";
  return text;
}

std::string Context(const SweepRun& run, uint64_t n) {
  std::string text = "calls near #" + std::to_string(n) + ":\n";
  for (const CallRecord& call : run.log) {
    if (call.index + 4 >= n && call.index <= n + 4) text += "    " + CallText(call) + "\n";
  }
  text += "report (last lines):\n";
  const size_t from = run.lines.size() > 30 ? run.lines.size() - 30 : 0;
  for (size_t i = from; i < run.lines.size(); ++i) text += "    |" + run.lines[i] + "|\n";
  return text;
}

}  // namespace twtrim::test
