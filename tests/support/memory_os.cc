#include "support/memory_os.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/listing_order.h"

namespace twtrim {
namespace {

enum class Mode { kRead, kWrite };

// A failure in the Os's own terms: the method's name, no system code.
template <typename Result = bool>
Result Fail(Os& os, const char* call, const std::string& path, const char* why) {
  os.RememberFailure({call, path, "", 0, why});
  return Result{};
}
constexpr auto FailOpen = Fail<std::unique_ptr<OsFile>>;

class MemoryFile : public OsFile {
 public:
  MemoryFile(std::shared_ptr<MemoryOs::Node> node, Mode mode, uint64_t position, Os& os,
             std::string path)
      : node_(std::move(node)), mode_(mode), position_(position), os_(os), path_(std::move(path)) {}

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    *got = 0;
    if (!Usable("Read", Mode::kRead)) return false;
    const std::string& bytes = node_->bytes;
    if (position_ < bytes.size()) {
      *got = static_cast<uint32_t>(std::min<uint64_t>(count, bytes.size() - position_));
      std::memcpy(buffer, bytes.data() + position_, *got);
      position_ += *got;
    }
    return true;
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
    *put = 0;
    if (!Usable("Write", Mode::kWrite)) return false;
    std::string& bytes = node_->bytes;
    if (bytes.size() < position_ + count) bytes.resize(position_ + count, '\0');
    std::memcpy(bytes.data() + position_, buffer, count);
    position_ += count;
    *put = count;
    return true;
  }
  bool Seek(uint64_t offset) override { return Usable("Seek") && (position_ = offset, true); }
  bool SeekToEnd() override {
    return Usable("SeekToEnd") && (position_ = node_->bytes.size(), true);
  }
  bool Size(uint64_t* size) override {
    return Usable("Size") &&
           (*size = node_->fakedSize ? node_->fakedSize : node_->bytes.size(), true);
  }
  bool Flush() override { return Usable("Flush"); }
  bool Close() override { return Usable("Close") && (node_ = nullptr, true); }
  bool Identity(FileIdentity* identity) override {
    return Usable("Identity") && (*identity = {1, node_->id}, true);
  }
  bool CopyOwnerAndMode(const std::string&) override { return Usable("CopyOwnerAndMode"); }

 private:
  bool Usable(const char* call) { return node_ || Fail(os_, call, path_, "file is closed"); }
  bool Usable(const char* call, Mode mode) {
    return Usable(call) && (mode_ == mode || Fail(os_, call, path_, "not open for that"));
  }

  std::shared_ptr<MemoryOs::Node> node_;
  Mode mode_;
  uint64_t position_;
  Os& os_;
  std::string path_;
};

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool WildcardMatch(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* rest = name;; ++rest) {
      if (WildcardMatch(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*pattern != '?' && Upper(*pattern) != Upper(*name)) return false;
  return WildcardMatch(pattern + 1, name + 1);
}

std::string Parent(const std::string& key) {
  const size_t slash = key.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : key.substr(0, slash);
}

}  // namespace

MemoryOs::MemoryOs() { directories_.insert("/"); }

MemoryOs::MemoryOs(const MemoryOs& other)
    : directories_(other.directories_), nextId_(other.nextId_) {
  for (const auto& [key, node] : other.files_) files_[key] = std::make_shared<Node>(*node);
}

std::string MemoryOs::Normalise(const std::string& path) const {
  std::vector<std::string> parts;  // relative or not, and "C:" too: all below "/"
  std::string part;
  for (const char c : path + "/") {
    if (c != '/' && c != '\\') {
      part += c;
      continue;
    }
    if (part == ".." && !parts.empty()) parts.pop_back();
    if (part != ".." && part != "." && !part.empty()) parts.push_back(part);
    part.clear();
  }
  std::string key;
  for (const std::string& name : parts) key += "/" + name;
  return key.empty() ? "/" : key;
}

bool MemoryOs::ParentExists(const std::string& key) const {
  return directories_.count(Parent(key)) != 0;
}

std::shared_ptr<MemoryOs::Node> MemoryOs::NewNode() {
  auto node = std::make_shared<Node>();
  node->id = nextId_++;
  return node;
}

bool MemoryOs::MakeDirectories(const std::string& path) {
  const std::string key = Normalise(path);
  if (files_.count(key) != 0) return false;
  if (key != "/" && !MakeDirectories(Parent(key))) return false;
  directories_.insert(key);
  return true;
}

bool MemoryOs::WriteFile(const std::string& path, const std::string& bytes) {
  const std::string key = Normalise(path);
  if (directories_.count(key) != 0 || !MakeDirectories(Parent(key))) return false;
  std::shared_ptr<Node>& node = files_[key];
  if (!node) node = NewNode();
  node->bytes = bytes;
  return true;
}

bool MemoryOs::ReadFile(const std::string& path, std::string* bytes) const {
  auto it = files_.find(Normalise(path));
  if (it == files_.end()) return false;
  *bytes = it->second->bytes;
  return true;
}

std::vector<std::string> MemoryOs::FilesUnder(const std::string& directory) const {
  const std::string prefix = Normalise(directory) + "/";
  std::vector<std::string> found;
  for (const auto& [key, node] : files_) {
    if (key.rfind(prefix, 0) == 0) found.push_back(key);
  }
  return found;
}

std::unique_ptr<OsFile> MemoryOs::OpenSharedRead(const std::string& path) {
  auto it = files_.find(Normalise(path));
  if (it == files_.end()) return FailOpen(*this, "OpenSharedRead", path, "no such file");
  return std::make_unique<MemoryFile>(it->second, Mode::kRead, 0, *this, path);
}

std::unique_ptr<OsFile> MemoryOs::CreateNew(const std::string& path) {
  const std::string key = Normalise(path);
  if (GetPathKind(key) != PathKind::kMissing)
    return FailOpen(*this, "CreateNew", path, "name exists");
  if (!ParentExists(key)) return FailOpen(*this, "CreateNew", path, "no such directory");
  return std::make_unique<MemoryFile>(files_[key] = NewNode(), Mode::kWrite, 0, *this, path);
}

std::unique_ptr<OsFile> MemoryOs::OpenForAppend(const std::string& path) {
  const std::string key = Normalise(path);
  if (directories_.count(key) != 0 || !ParentExists(key)) {
    return FailOpen(*this, "OpenForAppend", path, "a directory, or no such directory");
  }
  std::shared_ptr<Node>& node = files_[key];
  if (!node) node = NewNode();
  return std::make_unique<MemoryFile>(node, Mode::kWrite, node->bytes.size(), *this, path);
}

bool MemoryOs::DeleteFile(const std::string& path) { return files_.erase(Normalise(path)) != 0; }

PathKind MemoryOs::GetPathKind(const std::string& path) {
  const std::string key = Normalise(path);
  if (files_.count(key) != 0) return PathKind::kFile;
  return directories_.count(key) != 0 ? PathKind::kDirectory : PathKind::kMissing;
}

bool MemoryOs::PathIdentity(const std::string& path, FileIdentity* identity) {
  auto it = files_.find(Normalise(path));
  if (it == files_.end()) return false;
  *identity = {1, it->second->id};
  return true;
}

bool MemoryOs::FullPath(const std::string& path, std::string* full) {
  *full = Normalise(path);
  return true;
}

bool MemoryOs::ReplaceRename(const std::string& from, const std::string& to) {
  const std::string source = Normalise(from), target = Normalise(to);
  auto it = files_.find(source);
  if (it == files_.end() || directories_.count(target) != 0 || !ParentExists(target)) {
    return Fail(*this, "ReplaceRename", from + " -> " + to, "no such file, or no place for it");
  }
  std::shared_ptr<Node> node = it->second;
  files_.erase(it);
  files_[target] = std::move(node);
  return true;
}

bool MemoryOs::CreateDirectory(const std::string& path) {
  const std::string key = Normalise(path);
  if (GetPathKind(key) != PathKind::kMissing || !ParentExists(key)) {
    return Fail(*this, "CreateDirectory", path, "name exists, or no such directory");
  }
  directories_.insert(key);
  return true;
}

bool MemoryOs::ListDirectory(const std::string& pattern, std::vector<DirEntry>* entries) {
  entries->clear();
  const std::string key = Normalise(pattern);
  const std::string directory = Parent(key);
  if (directories_.count(directory) == 0) {
    return Fail(*this, "ListDirectory", pattern, "no such directory");
  }
  const std::string wildcard = key.substr(key.find_last_of('/') + 1);
  const std::string prefix = directory == "/" ? "/" : directory + "/";
  const auto consider = [&](const std::string& child, bool isDirectory) {
    if (child.rfind(prefix, 0) != 0 || child.size() == prefix.size()) return;
    const std::string name = child.substr(prefix.size());
    if (name.find('/') == std::string::npos && WildcardMatch(wildcard.c_str(), name.c_str())) {
      entries->push_back({name, isDirectory});
    }
  };
  for (const auto& [child, node] : files_) consider(child, false);
  for (const std::string& child : directories_) consider(child, true);
  // The one listing order of the real systems.
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return ListedBefore(a.name, b.name); });
  return true;
}

bool MemoryOs::CurrentDirectory(std::string* path) {
  path->assign(1, '/');
  return true;
}

bool MemoryOs::FreeSpace(const std::string& directory, uint64_t* bytes) {
  *bytes = freeSpace_;
  return GetPathKind(directory) == PathKind::kDirectory ||
         Fail(*this, "FreeSpace", directory, "no such directory");
}

bool MemoryOs::ListProcessNames(std::vector<std::string>* names) {
  *names = {"init", "bash"};
  return true;
}

}  // namespace twtrim
