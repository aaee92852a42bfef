// FaultOs: an Os for tests that forwards to a real Os and can make any call
// fail, come up short, or run test code first. It also stands in for the
// console, the clock and the process list, and captures standard output, so
// in-process runs are deterministic.
//
// Counted calls are the kinds of OsCall; WriteStdout, Now and the console
// calls are neither counted nor failed. A call failed by rule never reaches
// the real Os. Hooks and rules apply in the order added; a hook runs before
// the call it matches and should use the real Os, or its calls count too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"

namespace twtrim {

// clang-format off
enum class OsCall {
  kOpenSharedRead, kCreateNew, kOpenForAppend, kDeleteFile, kGetPathKind,
  kReplaceRename, kCreateDirectory, kListDirectory, kCurrentDirectory, kListProcessNames,
  kRead, kWrite, kSeek, kSeekToEnd, kSize, kFlush, kClose,
  kPathIdentity, kFullPath, kFreeSpace, kIdentity, kCopyOwnerAndMode
};
// clang-format on
inline constexpr int kOsCallKinds = static_cast<int>(OsCall::kCopyOwnerAndMode) + 1;

// "OpenSharedRead", "Read", ... for test messages.
const char* OsCallName(OsCall kind);

// Which calls a rule or hook applies to. Every field narrows the match.
struct CallMatch {
  std::optional<OsCall> kind;  // none: every kind
  // Empty: any path. Otherwise the call's path must end with this text at a
  // component boundary, '/' and '\' alike, ASCII case ignored. A file method
  // matches on its file's path; a rename on either of its paths.
  std::string pathSuffix;
  uint64_t nth = 0;  // 1-based: the nth matching call; 0: every matching call
};

enum class FaultEffect {
  kFail,   // the call fails without reaching the real Os
  // Read/Write move a third of the bytes asked for (count / 3: not a whole
  // number of records); other kinds fail.
  kShort,
};

struct FaultRule {
  CallMatch match;
  FaultEffect effect = FaultEffect::kFail;
  // Once fired, every later call of the same kind fails too, on any path
  // (a full disk, a dead drive).
  bool persistent = false;
};

struct CallRecord {
  uint64_t index = 0;  // 1-based position among all counted calls
  OsCall kind = OsCall::kRead;
  std::string path;     // the file's path for file methods; empty for CurrentDirectory
  bool failed = false;  // a rule made it fail or come up short
};

class FaultOs : public Os {
 public:
  explicit FaultOs(Os& real);
  ~FaultOs() override;

  uint64_t calls(OsCall kind) const;
  const std::vector<CallRecord>& log() const;

  void AddFault(const FaultRule& rule);
  void FailPath(OsCall kind, const std::string& pathSuffix);
  void ShortNthCall(OsCall kind, uint64_t n);  // Read or Write number n moves a third
  void ClearFaults();

  // Runs `action` before each call that matches (nth 0: every match).
  void AddHook(const CallMatch& match, std::function<void()> action);
  // Before the first call of `kind` on `pathSuffix` (empty: any path).
  void BeforeCall(OsCall kind, const std::string& pathSuffix, std::function<void()> action);
  // Another process at work on a real file: before the first call matching
  // `change`, `bytes` are written over the file at `path` from `offset` on
  // (in place, uncounted); before the next call matching `revert`, the bytes
  // it had are put back.
  void ChangeAndRevert(const CallMatch& change, const CallMatch& revert, const std::string& path,
                       uint64_t offset, const std::string& bytes);
  const std::string& stdoutText() const { return stdout_; }
  void ClearStdout() { stdout_.clear(); }

  // Overrides: each replaces the real service once set.
  void SetProcessNames(std::vector<std::string> names) {
    processNames_ = std::move(names);
    failProcessList_ = false;
  }
  void FailProcessList() { failProcessList_ = true; }
  void SetNow(const LocalTime& time) { now_ = time; }
  void SetFreeSpace(uint64_t bytes) { freeSpace_ = bytes; }
  std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) override;
  std::unique_ptr<OsFile> CreateNew(const std::string& path) override;
  std::unique_ptr<OsFile> OpenForAppend(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  PathKind GetPathKind(const std::string& path) override;
  bool PathIdentity(const std::string& path, FileIdentity* identity) override;
  bool FullPath(const std::string& path, std::string* full) override;
  bool ReplaceRename(const std::string& from, const std::string& to) override;
  bool CreateDirectory(const std::string& path) override;
  bool ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) override;
  bool CurrentDirectory(std::string* path) override;
  bool ListProcessNames(std::vector<std::string>* names) override;
  bool FreeSpace(const std::string& directory, uint64_t* bytes) override;
  LocalTime Now() override { return now_ ? *now_ : real_.Now(); }
  void WriteStdout(const char* data, size_t size) override { stdout_.append(data, size); }
  // The console never forwards, and no handler reaches the real process;
  // a hold of interrupts is only noted.
  bool IsInteractiveConsole() override { return false; }
  bool ConsoleSize(int*, int*) override { return false; }
  bool ReadKeyEvent(KeyEvent*) override { return false; }
  void InstallControlHandler(ControlHandler) override {}
  void HoldControlEvents() override { eventsHeld_ = true; }
  void ReleaseControlEvents() override { eventsHeld_ = false; }
  bool eventsHeld() const { return eventsHeld_; }
  std::vector<std::string> CommandLineArguments() override { return real_.CommandLineArguments(); }
  // Kept with the real Os: a call failed by rule is "<OsCallName> <path>: failed by test rule".
  const OsFailure& LastFailure() const override { return real_.LastFailure(); }
  void ForgetFailure() override { real_.ForgetFailure(); }
  void RememberFailure(OsFailure failure) override { real_.RememberFailure(std::move(failure)); }

  // Shared with the files this Os opened, so a file that outlives the FaultOs
  // stays safe to use.
  struct State;

 private:
  std::unique_ptr<OsFile> Open(OsCall kind, const std::string& path,
                               std::unique_ptr<OsFile> (Os::*open)(const std::string&));
  bool Pass(OsCall kind, const std::string& path, const std::string& otherPath = "");

  Os& real_;
  std::shared_ptr<State> state_;
  std::string stdout_;
  std::optional<std::vector<std::string>> processNames_;
  std::optional<LocalTime> now_;
  std::optional<uint64_t> freeSpace_;
  bool failProcessList_ = false;
  bool eventsHeld_ = false;
};

}  // namespace twtrim
