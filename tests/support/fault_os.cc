#include "support/fault_os.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <utility>

namespace twtrim {

const char* OsCallName(OsCall kind) {
  // clang-format off
  static const char* const kNames[kOsCallKinds] = {
      "OpenSharedRead", "CreateNew", "OpenForAppend", "DeleteFile",
      "GetPathKind", "ReplaceRename", "CreateDirectory", "ListDirectory", "CurrentDirectory",
      "ListProcessNames", "Read", "Write", "Seek", "SeekToEnd", "Size", "Flush", "Close",
      "PathIdentity", "FullPath", "FreeSpace", "Identity", "CopyOwnerAndMode"};
  // clang-format on
  return kNames[static_cast<int>(kind)];
}

namespace {

char Fold(char c) {
  if (c == '\\') return '/';
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool PathEndsWith(const std::string& path, const std::string& suffix) {
  if (suffix.size() > path.size()) return false;
  const size_t start = path.size() - suffix.size();
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (Fold(path[start + i]) != Fold(suffix[i])) return false;
  }
  // "TWMSG05.PTR" must not match "XTWMSG05.PTR".
  return start == 0 || Fold(path[start - 1]) == '/' || Fold(suffix[0]) == '/';
}

bool Matches(const CallMatch& match, OsCall kind, const std::string& path,
             const std::string& otherPath) {
  if (match.kind && *match.kind != kind) return false;
  return match.pathSuffix.empty() || PathEndsWith(path, match.pathSuffix) ||
         (!otherPath.empty() && PathEndsWith(otherPath, match.pathSuffix));
}

// Counts a match; true when it is the one the rule or hook waits for.
bool CountMatch(const CallMatch& match, uint64_t* matched) {
  ++*matched;
  return match.nth == 0 || *matched == match.nth;
}

enum class Verdict { kPass, kFail, kShort };

}  // namespace

struct FaultOs::State {
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

  explicit State(Os& os) : real(os) {}
  Os& real;
  std::vector<CallRecord> log;
  std::vector<Rule> rules;
  std::vector<Hook> hooks;

  // Counts the call, runs its hooks and decides its fate.
  Verdict Enter(OsCall kind, const std::string& path, const std::string& otherPath = {}) {
    const size_t index = log.size();
    log.push_back({index + 1, kind, path, false});
    // By index, each action a copy: a hook may add further hooks.
    for (size_t i = 0; i < hooks.size(); ++i) {
      Hook& h = hooks[i];
      if (Matches(h.match, kind, path, otherPath) && CountMatch(h.match, &h.matched)) {
        std::function<void()>(h.action)();
      }
    }
    const Verdict verdict = Decide(kind, path, otherPath);
    if (verdict != Verdict::kPass) log[index].failed = true;
    if (verdict == Verdict::kFail) {
      real.RememberFailure({OsCallName(kind), otherPath.empty() ? path : path + " -> " + otherPath,
                            "", 0, "failed by test rule"});
    }
    return verdict;
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
      const bool canShort = kind == OsCall::kRead || kind == OsCall::kWrite;
      const bool isShort = r.rule.effect == FaultEffect::kShort && canShort;
      if (verdict != Verdict::kFail) verdict = isShort ? Verdict::kShort : Verdict::kFail;
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
    const Verdict v = state_->Enter(OsCall::kRead, path_);
    return v != Verdict::kFail &&
           real_->Read(buffer, v == Verdict::kShort ? count / 3 : count, got);
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
    *put = 0;
    const Verdict v = state_->Enter(OsCall::kWrite, path_);
    return v != Verdict::kFail &&
           real_->Write(buffer, v == Verdict::kShort ? count / 3 : count, put);
  }
  bool Seek(uint64_t offset) override { return Pass(OsCall::kSeek) && real_->Seek(offset); }
  bool SeekToEnd() override { return Pass(OsCall::kSeekToEnd) && real_->SeekToEnd(); }
  bool Size(uint64_t* size) override { return Pass(OsCall::kSize) && real_->Size(size); }
  bool Flush() override { return Pass(OsCall::kFlush) && real_->Flush(); }
  // A close failed by rule leaves the real handle open until this object goes.
  bool Close() override { return Pass(OsCall::kClose) && real_->Close(); }
  bool Identity(FileIdentity* identity) override {
    return Pass(OsCall::kIdentity) && real_->Identity(identity);
  }
  bool CopyOwnerAndMode(const std::string& originalPath) override {
    return Pass(OsCall::kCopyOwnerAndMode) && real_->CopyOwnerAndMode(originalPath);
  }

 private:
  bool Pass(OsCall kind) { return state_->Enter(kind, path_) == Verdict::kPass; }

  std::shared_ptr<FaultOs::State> state_;
  std::unique_ptr<OsFile> real_;
  std::string path_;
};

}  // namespace

FaultOs::FaultOs(Os& real) : real_(real), state_(std::make_shared<State>(real)) {}
FaultOs::~FaultOs() = default;

uint64_t FaultOs::calls(OsCall kind) const {
  return std::count_if(log().begin(), log().end(), [kind](auto& c) { return c.kind == kind; });
}
const std::vector<CallRecord>& FaultOs::log() const { return state_->log; }
void FaultOs::AddFault(const FaultRule& rule) { state_->rules.push_back({rule}); }
void FaultOs::FailPath(OsCall kind, const std::string& pathSuffix) {
  AddFault({{kind, pathSuffix, 0}, FaultEffect::kFail, false});
}
void FaultOs::ShortNthCall(OsCall kind, uint64_t n) {
  AddFault({{kind, "", n}, FaultEffect::kShort, false});
}
void FaultOs::ClearFaults() { state_->rules.clear(); }

void FaultOs::AddHook(const CallMatch& match, std::function<void()> action) {
  state_->hooks.push_back({match, std::move(action)});
}
void FaultOs::BeforeCall(OsCall kind, const std::string& pathSuffix, std::function<void()> action) {
  AddHook({kind, pathSuffix, 1}, std::move(action));
}
bool FaultOs::Pass(OsCall kind, const std::string& path, const std::string& otherPath) {
  return state_->Enter(kind, path, otherPath) == Verdict::kPass;
}
std::unique_ptr<OsFile> FaultOs::Open(OsCall kind, const std::string& path,
                                      std::unique_ptr<OsFile> (Os::*open)(const std::string&)) {
  if (!Pass(kind, path)) return nullptr;
  std::unique_ptr<OsFile> file = (real_.*open)(path);
  return file ? std::make_unique<FaultFile>(state_, std::move(file), path) : nullptr;
}
std::unique_ptr<OsFile> FaultOs::OpenSharedRead(const std::string& path) {
  return Open(OsCall::kOpenSharedRead, path, &Os::OpenSharedRead);
}
std::unique_ptr<OsFile> FaultOs::CreateNew(const std::string& path) {
  return Open(OsCall::kCreateNew, path, &Os::CreateNew);
}
std::unique_ptr<OsFile> FaultOs::OpenForAppend(const std::string& path) {
  return Open(OsCall::kOpenForAppend, path, &Os::OpenForAppend);
}
bool FaultOs::DeleteFile(const std::string& path) {
  return Pass(OsCall::kDeleteFile, path) && real_.DeleteFile(path);
}
PathKind FaultOs::GetPathKind(const std::string& path) {
  // A failed attribute query reads as a missing name, as on the real system.
  return Pass(OsCall::kGetPathKind, path) ? real_.GetPathKind(path) : PathKind::kMissing;
}
bool FaultOs::PathIdentity(const std::string& path, FileIdentity* identity) {
  return Pass(OsCall::kPathIdentity, path) && real_.PathIdentity(path, identity);
}
bool FaultOs::FullPath(const std::string& path, std::string* full) {
  return Pass(OsCall::kFullPath, path) && real_.FullPath(path, full);
}
bool FaultOs::FreeSpace(const std::string& directory, uint64_t* bytes) {
  if (!Pass(OsCall::kFreeSpace, directory)) return false;
  if (!freeSpace_) return real_.FreeSpace(directory, bytes);
  *bytes = *freeSpace_;
  return true;
}
bool FaultOs::ReplaceRename(const std::string& from, const std::string& to) {
  return Pass(OsCall::kReplaceRename, from, to) && real_.ReplaceRename(from, to);
}
bool FaultOs::CreateDirectory(const std::string& path) {
  return Pass(OsCall::kCreateDirectory, path) && real_.CreateDirectory(path);
}
bool FaultOs::ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) {
  entries->clear();
  return Pass(OsCall::kListDirectory, pattern) && real_.ListDirectory(pattern, entries);
}
bool FaultOs::CurrentDirectory(std::string* path) {
  return Pass(OsCall::kCurrentDirectory, "") && real_.CurrentDirectory(path);
}
bool FaultOs::ListProcessNames(std::vector<std::string>* names) {
  names->clear();
  if (!Pass(OsCall::kListProcessNames, "")) return false;
  if (failProcessList_) {
    RememberFailure({"ListProcessNames", "", "", 0, "failed by test rule"});
    return false;
  }
  if (!processNames_) return real_.ListProcessNames(names);
  *names = *processNames_;
  return true;
}
void FaultOs::ChangeAndRevert(const CallMatch& change, const CallMatch& revert,
                              const std::string& path, uint64_t offset, const std::string& bytes) {
  // In place, so the file keeps its identity; what was there, or none if it failed.
  const auto patch = [path, offset](const std::string& with) -> std::optional<std::string> {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string was(with.size(), '\0');
    file.seekg(static_cast<std::streamoff>(offset)).read(was.data(), std::ssize(was));
    file.seekp(static_cast<std::streamoff>(offset)).write(with.data(), std::ssize(with));
    return file.flush() ? std::optional(was) : std::nullopt;
  };
  auto old = std::make_shared<std::optional<std::string>>();
  AddHook({change.kind, change.pathSuffix, change.nth == 0 ? 1 : change.nth},
          [=] { *old = patch(bytes); });
  AddHook({revert.kind, revert.pathSuffix, 0}, [=] {
    if (*old) patch(**old);
    old->reset();
  });
}

}  // namespace twtrim
