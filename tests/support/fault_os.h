// FaultOs: an Os for tests that forwards to a real Os and can make any call
// fail, come up short, or run test code first. It also stands in for the
// console, the clock, the process list and the command line, and captures
// standard output, so in-process runs are deterministic.
//
// Counted calls are the kinds of OsCall: the Os file and name calls and the
// methods of the files it opens. WriteStdout, Now and the console calls are
// not counted and never fail by rule (they have their own overrides).
//
// A call that fails by rule never reaches the real Os: a failed rename does
// not rename, a failed write writes nothing, a failed open returns nullptr.
//
// Hooks and fault rules are checked in the order they were added. Hooks run
// before the call they match; a hook should use the real Os (or the file
// system directly), not this one, or its own calls are counted too.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace twtrim {

enum class OsCall {
  kOpenSharedRead,
  kCreateExclusive,
  kCreateNew,
  kOpenForAppend,
  kDeleteFile,
  kGetPathKind,
  kReplaceRename,
  kCreateDirectory,
  kListDirectory,
  kCurrentDirectory,
  kListProcessNames,
  kRead,
  kWrite,
  kSeek,
  kSeekToEnd,
  kSize,
  kFlush,
  kClose,
};
inline constexpr int kOsCallKinds = static_cast<int>(OsCall::kClose) + 1;

// "OpenSharedRead", "Read", ... for test messages.
const char* OsCallName(OsCall kind);

// Which calls a rule or hook applies to. Every field narrows the match.
struct CallMatch {
  std::optional<OsCall> kind;  // none: every kind
  // Empty: any path. Otherwise the call's path must end with this text, at a
  // path-component boundary, '/' and '\' alike, ASCII case ignored. A file
  // method's path is the path its file was opened with; a rename matches on
  // either of its two paths.
  std::string pathSuffix;
  // 1-based: the nth call that matches kind and path. 0: every matching call.
  uint64_t nth = 0;
};

enum class FaultEffect {
  kFail,   // the call fails without reaching the real Os
  kShort,  // Read/Write move half the bytes asked for (count / 2); other kinds fail
};

struct FaultRule {
  CallMatch match;
  FaultEffect effect = FaultEffect::kFail;
  // Once the rule has fired, every later call of the same kind fails as
  // well, on any path (a full disk, a dead drive).
  bool persistent = false;
};

struct CallRecord {
  uint64_t index = 0;  // 1-based position among all counted calls
  OsCall kind = OsCall::kRead;
  std::string path;       // the file's path for file methods; empty for CurrentDirectory
  std::string otherPath;  // ReplaceRename: the destination
  bool failed = false;    // a rule made it fail or come up short
};

class FaultOs : public Os {
 public:
  explicit FaultOs(Os& real);
  ~FaultOs() override;

  Os& real() { return real_; }

  // --- counting ----------------------------------------------------------
  uint64_t calls() const;
  uint64_t calls(OsCall kind) const;
  const std::vector<CallRecord>& log() const;
  // Forgets counts and log (rules and hooks keep their own match counters).
  void ResetCounts();

  // --- faults ------------------------------------------------------------
  void AddFault(const FaultRule& rule);
  // The nth call of any kind (1-based).
  void FailNthCall(uint64_t n, bool persistent = false);
  // The nth call of `kind`.
  void FailNthCall(OsCall kind, uint64_t n, bool persistent = false);
  // Every call on `pathSuffix` (see CallMatch).
  void FailPath(const std::string& pathSuffix);
  void FailPath(OsCall kind, const std::string& pathSuffix);
  // Read or Write number n (counted among all calls, or among `kind`) moves
  // half the bytes asked for.
  void ShortNthCall(uint64_t n);
  void ShortNthCall(OsCall kind, uint64_t n);
  void ClearFaults();

  // --- hooks -------------------------------------------------------------
  // Runs `action` before each call that matches (nth 0: every match).
  void AddHook(const CallMatch& match, std::function<void()> action);
  // Before the nth call of any kind.
  void BeforeCall(uint64_t n, std::function<void()> action);
  // Before the first call of `kind` on `pathSuffix` (empty: any path).
  void BeforeCall(OsCall kind, const std::string& pathSuffix, std::function<void()> action);
  void ClearHooks();

  // --- standard output ---------------------------------------------------
  const std::string& stdoutText() const;
  void ClearStdout();
  // Also pass the bytes on to the real standard output (default: no).
  void ForwardStdout(bool forward);

  // --- overrides (each replaces the real service once set) ----------------
  void SetProcessNames(std::vector<std::string> names);
  void FailProcessList();  // ListProcessNames returns false
  void SetNow(const LocalTime& time);
  void SetCurrentDirectory(std::string path);
  void FailCurrentDirectory();
  void SetArguments(std::vector<std::string> arguments);

  // The console never forwards: by default it is not interactive, its size
  // cannot be learned and ReadKeyEvent fails (the key queue is empty).
  void SetInteractive(bool interactive);
  void SetConsoleSize(int rows, int columns);
  void FailConsoleSize();
  void QueueKey(const KeyEvent& event);
  void QueueKeys(const std::vector<KeyEvent>& events);
  size_t queuedKeys() const;
  uint64_t keyReads() const;  // ReadKeyEvent calls, answered or not

  // The handler is recorded, never installed in the real process.
  ControlHandler controlHandler() const;
  // Runs the recorded handler; false when none was installed.
  bool InvokeControlHandler();

  // --- Os ----------------------------------------------------------------
  std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) override;
  std::unique_ptr<OsFile> CreateExclusive(const std::string& path) override;
  std::unique_ptr<OsFile> CreateNew(const std::string& path) override;
  std::unique_ptr<OsFile> OpenForAppend(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  PathKind GetPathKind(const std::string& path) override;
  bool ReplaceRename(const std::string& from, const std::string& to) override;
  bool CreateDirectory(const std::string& path) override;
  bool ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) override;
  bool CurrentDirectory(std::string* path) override;
  bool ListProcessNames(std::vector<std::string>* names) override;
  LocalTime Now() override;
  void WriteStdout(const char* data, size_t size) override;
  bool IsInteractiveConsole() override;
  bool ConsoleSize(int* rows, int* columns) override;
  bool ReadKeyEvent(KeyEvent* event) override;
  void InstallControlHandler(ControlHandler handler) override;
  std::vector<std::string> CommandLineArguments() override;

  // Shared with the files this Os opened, so a file that outlives the FaultOs
  // stays safe to use. Defined in fault_os.cc.
  struct State;

 private:
  std::unique_ptr<OsFile> Open(OsCall kind, const std::string& path,
                               std::unique_ptr<OsFile> (Os::*open)(const std::string&));

  Os& real_;
  std::shared_ptr<State> state_;
};

}  // namespace twtrim
