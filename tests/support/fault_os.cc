#include "support/fault_os.h"

#include <utility>

namespace twtrim {

const char* OsCallName(OsCall kind) {
  switch (kind) {
    case OsCall::kOpenSharedRead:
      return "OpenSharedRead";
    case OsCall::kCreateExclusive:
      return "CreateExclusive";
    case OsCall::kCreateNew:
      return "CreateNew";
    case OsCall::kOpenForAppend:
      return "OpenForAppend";
    case OsCall::kDeleteFile:
      return "DeleteFile";
    case OsCall::kGetPathKind:
      return "GetPathKind";
    case OsCall::kReplaceRename:
      return "ReplaceRename";
    case OsCall::kCreateDirectory:
      return "CreateDirectory";
    case OsCall::kListDirectory:
      return "ListDirectory";
    case OsCall::kCurrentDirectory:
      return "CurrentDirectory";
    case OsCall::kListProcessNames:
      return "ListProcessNames";
    case OsCall::kRead:
      return "Read";
    case OsCall::kWrite:
      return "Write";
    case OsCall::kSeek:
      return "Seek";
    case OsCall::kSeekToEnd:
      return "SeekToEnd";
    case OsCall::kSize:
      return "Size";
    case OsCall::kFlush:
      return "Flush";
    case OsCall::kClose:
      return "Close";
  }
  return "?";
}

namespace {

char Fold(char c) {
  if (c == '\\') return '/';
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c;
}

bool PathEndsWith(const std::string& path, const std::string& suffix) {
  if (suffix.size() > path.size()) return false;
  size_t start = path.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (Fold(path[start + i]) != Fold(suffix[i])) return false;
  }
  // "TWMSG05.PTR" must not match "XTWMSG05.PTR".
  return start == 0 || Fold(path[start - 1]) == '/' || Fold(suffix[0]) == '/';
}

struct Rule {
  FaultRule rule;
  uint64_t matched = 0;
  bool fired = false;
  OsCall firedKind = OsCall::kRead;
};

struct Hook {
  CallMatch match;
  std::function<void()> action;
  uint64_t matched = 0;
};

// What the rules decided for one call.
enum class Verdict { kPass, kFail, kShort };

}  // namespace

struct FaultOs::State {
  uint64_t total = 0;
  uint64_t perKind[kOsCallKinds] = {};
  std::vector<CallRecord> log;
  std::vector<Rule> rules;
  std::vector<Hook> hooks;

  std::string stdoutText;
  bool forwardStdout = false;

  std::optional<std::vector<std::string>> processNames;
  bool failProcessList = false;
  std::optional<LocalTime> now;
  std::optional<std::string> currentDirectory;
  bool failCurrentDirectory = false;
  std::optional<std::vector<std::string>> arguments;

  bool interactive = false;
  bool hasConsoleSize = false;
  int rows = 0, columns = 0;
  std::deque<KeyEvent> keys;
  uint64_t keyReads = 0;
  ControlHandler handler = nullptr;

  static bool Matches(const CallMatch& match, OsCall kind, const std::string& path,
                      const std::string& otherPath) {
    if (match.kind && *match.kind != kind) return false;
    if (match.pathSuffix.empty()) return true;
    return PathEndsWith(path, match.pathSuffix) ||
           (!otherPath.empty() && PathEndsWith(otherPath, match.pathSuffix));
  }

  static bool CountMatch(const CallMatch& match, uint64_t* matched) {
    ++*matched;
    return match.nth == 0 || *matched == match.nth;
  }

  // Counts the call, runs its hooks and decides its fate.
  Verdict Enter(OsCall kind, const std::string& path, const std::string& otherPath = {}) {
    ++total;
    ++perKind[static_cast<int>(kind)];
    log.push_back({total, kind, path, otherPath, false});
    const uint64_t index = log.size() - 1;
    RunHooks(kind, path, otherPath);
    Verdict verdict = Decide(kind, path, otherPath);
    // A hook may have reset the log; only mark the record if it is still there.
    if (verdict != Verdict::kPass && index < log.size()) log[index].failed = true;
    return verdict;
  }

  void RunHooks(OsCall kind, const std::string& path, const std::string& otherPath) {
    // By index: a hook may add further hooks.
    for (size_t i = 0; i < hooks.size(); ++i) {
      if (!Matches(hooks[i].match, kind, path, otherPath)) continue;
      if (!CountMatch(hooks[i].match, &hooks[i].matched)) continue;
      std::function<void()> action = hooks[i].action;
      action();
    }
  }

  Verdict Decide(OsCall kind, const std::string& path, const std::string& otherPath) {
    Verdict verdict = Verdict::kPass;
    for (Rule& r : rules) {
      if (r.fired && r.rule.persistent && r.firedKind == kind) {
        verdict = Verdict::kFail;
        continue;
      }
      if (!Matches(r.rule.match, kind, path, otherPath)) continue;
      if (!CountMatch(r.rule.match, &r.matched)) continue;
      r.fired = true;
      r.firedKind = kind;
      bool canShort = kind == OsCall::kRead || kind == OsCall::kWrite;
      Verdict v =
          r.rule.effect == FaultEffect::kShort && canShort ? Verdict::kShort : Verdict::kFail;
      if (verdict != Verdict::kFail) verdict = v;
    }
    return verdict;
  }
};

namespace {

// Wraps a real file: counts its calls and applies the rules with its path.
class FaultFile : public OsFile {
 public:
  FaultFile(std::shared_ptr<FaultOs::State> state, std::unique_ptr<OsFile> real, std::string path)
      : state_(std::move(state)), real_(std::move(real)), path_(std::move(path)) {}

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    *got = 0;
    Verdict v = state_->Enter(OsCall::kRead, path_);
    if (v == Verdict::kFail) return false;
    return real_->Read(buffer, v == Verdict::kShort ? count / 2 : count, got);
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
    *put = 0;
    Verdict v = state_->Enter(OsCall::kWrite, path_);
    if (v == Verdict::kFail) return false;
    return real_->Write(buffer, v == Verdict::kShort ? count / 2 : count, put);
  }
  bool Seek(uint64_t offset) override { return Pass(OsCall::kSeek) && real_->Seek(offset); }
  bool SeekToEnd() override { return Pass(OsCall::kSeekToEnd) && real_->SeekToEnd(); }
  bool Size(uint64_t* size) override { return Pass(OsCall::kSize) && real_->Size(size); }
  bool Flush() override { return Pass(OsCall::kFlush) && real_->Flush(); }
  // A close that fails by rule leaves the real handle open; it is closed
  // when this object goes away, uncounted.
  bool Close() override { return Pass(OsCall::kClose) && real_->Close(); }

 private:
  bool Pass(OsCall kind) { return state_->Enter(kind, path_) == Verdict::kPass; }

  std::shared_ptr<FaultOs::State> state_;
  std::unique_ptr<OsFile> real_;
  std::string path_;
};

}  // namespace

FaultOs::FaultOs(Os& real) : real_(real), state_(std::make_shared<State>()) {}
FaultOs::~FaultOs() = default;

uint64_t FaultOs::calls() const { return state_->total; }
uint64_t FaultOs::calls(OsCall kind) const { return state_->perKind[static_cast<int>(kind)]; }
const std::vector<CallRecord>& FaultOs::log() const { return state_->log; }

void FaultOs::ResetCounts() {
  state_->total = 0;
  for (uint64_t& count : state_->perKind) count = 0;
  state_->log.clear();
}

void FaultOs::AddFault(const FaultRule& rule) { state_->rules.push_back({rule}); }

void FaultOs::FailNthCall(uint64_t n, bool persistent) {
  AddFault({{std::nullopt, "", n}, FaultEffect::kFail, persistent});
}
void FaultOs::FailNthCall(OsCall kind, uint64_t n, bool persistent) {
  AddFault({{kind, "", n}, FaultEffect::kFail, persistent});
}
void FaultOs::FailPath(const std::string& pathSuffix) {
  AddFault({{std::nullopt, pathSuffix, 0}, FaultEffect::kFail, false});
}
void FaultOs::FailPath(OsCall kind, const std::string& pathSuffix) {
  AddFault({{kind, pathSuffix, 0}, FaultEffect::kFail, false});
}
void FaultOs::ShortNthCall(uint64_t n) {
  AddFault({{std::nullopt, "", n}, FaultEffect::kShort, false});
}
void FaultOs::ShortNthCall(OsCall kind, uint64_t n) {
  AddFault({{kind, "", n}, FaultEffect::kShort, false});
}
void FaultOs::ClearFaults() { state_->rules.clear(); }

void FaultOs::AddHook(const CallMatch& match, std::function<void()> action) {
  state_->hooks.push_back({match, std::move(action)});
}
void FaultOs::BeforeCall(uint64_t n, std::function<void()> action) {
  AddHook({std::nullopt, "", n}, std::move(action));
}
void FaultOs::BeforeCall(OsCall kind, const std::string& pathSuffix, std::function<void()> action) {
  AddHook({kind, pathSuffix, 1}, std::move(action));
}
void FaultOs::ClearHooks() { state_->hooks.clear(); }

const std::string& FaultOs::stdoutText() const { return state_->stdoutText; }
void FaultOs::ClearStdout() { state_->stdoutText.clear(); }
void FaultOs::ForwardStdout(bool forward) { state_->forwardStdout = forward; }

void FaultOs::SetProcessNames(std::vector<std::string> names) {
  state_->processNames = std::move(names);
  state_->failProcessList = false;
}
void FaultOs::FailProcessList() { state_->failProcessList = true; }
void FaultOs::SetNow(const LocalTime& time) { state_->now = time; }
void FaultOs::SetCurrentDirectory(std::string path) {
  state_->currentDirectory = std::move(path);
  state_->failCurrentDirectory = false;
}
void FaultOs::FailCurrentDirectory() { state_->failCurrentDirectory = true; }
void FaultOs::SetArguments(std::vector<std::string> arguments) {
  state_->arguments = std::move(arguments);
}

void FaultOs::SetInteractive(bool interactive) { state_->interactive = interactive; }
void FaultOs::SetConsoleSize(int rows, int columns) {
  state_->hasConsoleSize = true;
  state_->rows = rows;
  state_->columns = columns;
}
void FaultOs::FailConsoleSize() { state_->hasConsoleSize = false; }
void FaultOs::QueueKey(const KeyEvent& event) { state_->keys.push_back(event); }
void FaultOs::QueueKeys(const std::vector<KeyEvent>& events) {
  for (const KeyEvent& event : events) QueueKey(event);
}
size_t FaultOs::queuedKeys() const { return state_->keys.size(); }
uint64_t FaultOs::keyReads() const { return state_->keyReads; }

ControlHandler FaultOs::controlHandler() const { return state_->handler; }
bool FaultOs::InvokeControlHandler() {
  if (state_->handler == nullptr) return false;
  state_->handler();
  return true;
}

// --- Os ----------------------------------------------------------------------

std::unique_ptr<OsFile> FaultOs::Open(OsCall kind, const std::string& path,
                                      std::unique_ptr<OsFile> (Os::*open)(const std::string&)) {
  if (state_->Enter(kind, path) != Verdict::kPass) return nullptr;
  std::unique_ptr<OsFile> file = (real_.*open)(path);
  if (!file) return nullptr;
  return std::make_unique<FaultFile>(state_, std::move(file), path);
}

std::unique_ptr<OsFile> FaultOs::OpenSharedRead(const std::string& path) {
  return Open(OsCall::kOpenSharedRead, path, &Os::OpenSharedRead);
}
std::unique_ptr<OsFile> FaultOs::CreateExclusive(const std::string& path) {
  return Open(OsCall::kCreateExclusive, path, &Os::CreateExclusive);
}
std::unique_ptr<OsFile> FaultOs::CreateNew(const std::string& path) {
  return Open(OsCall::kCreateNew, path, &Os::CreateNew);
}
std::unique_ptr<OsFile> FaultOs::OpenForAppend(const std::string& path) {
  return Open(OsCall::kOpenForAppend, path, &Os::OpenForAppend);
}

bool FaultOs::DeleteFile(const std::string& path) {
  return state_->Enter(OsCall::kDeleteFile, path) == Verdict::kPass && real_.DeleteFile(path);
}

PathKind FaultOs::GetPathKind(const std::string& path) {
  // A failed attribute query reads as a missing name, as on the real system.
  if (state_->Enter(OsCall::kGetPathKind, path) != Verdict::kPass) return PathKind::kMissing;
  return real_.GetPathKind(path);
}

bool FaultOs::ReplaceRename(const std::string& from, const std::string& to) {
  return state_->Enter(OsCall::kReplaceRename, from, to) == Verdict::kPass &&
         real_.ReplaceRename(from, to);
}

bool FaultOs::CreateDirectory(const std::string& path) {
  return state_->Enter(OsCall::kCreateDirectory, path) == Verdict::kPass &&
         real_.CreateDirectory(path);
}

bool FaultOs::ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) {
  entries->clear();
  return state_->Enter(OsCall::kListDirectory, pattern) == Verdict::kPass &&
         real_.ListDirectory(pattern, entries);
}

bool FaultOs::CurrentDirectory(std::string* path) {
  if (state_->Enter(OsCall::kCurrentDirectory, "") != Verdict::kPass) return false;
  if (state_->failCurrentDirectory) return false;
  if (state_->currentDirectory) {
    *path = *state_->currentDirectory;
    return true;
  }
  return real_.CurrentDirectory(path);
}

bool FaultOs::ListProcessNames(std::vector<std::string>* names) {
  names->clear();
  if (state_->Enter(OsCall::kListProcessNames, "") != Verdict::kPass) return false;
  if (state_->failProcessList) return false;
  if (state_->processNames) {
    *names = *state_->processNames;
    return true;
  }
  return real_.ListProcessNames(names);
}

LocalTime FaultOs::Now() { return state_->now ? *state_->now : real_.Now(); }

void FaultOs::WriteStdout(const char* data, size_t size) {
  state_->stdoutText.append(data, size);
  if (state_->forwardStdout) real_.WriteStdout(data, size);
}

bool FaultOs::IsInteractiveConsole() { return state_->interactive; }

bool FaultOs::ConsoleSize(int* rows, int* columns) {
  if (!state_->hasConsoleSize) return false;
  *rows = state_->rows;
  *columns = state_->columns;
  return true;
}

bool FaultOs::ReadKeyEvent(KeyEvent* event) {
  ++state_->keyReads;
  if (state_->keys.empty()) return false;
  *event = state_->keys.front();
  state_->keys.pop_front();
  return true;
}

void FaultOs::InstallControlHandler(ControlHandler handler) { state_->handler = handler; }

std::vector<std::string> FaultOs::CommandLineArguments() {
  return state_->arguments ? *state_->arguments : real_.CommandLineArguments();
}

}  // namespace twtrim
