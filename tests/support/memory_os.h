// MemoryOs: a whole Os held in memory, for in-process runs that must be fast
// and exactly repeatable (the fault and crash sweeps, the fuzzers). Files and
// directories live in one tree keyed by normalised path ('\' and '/' alike,
// "." and ".." resolved, names case-sensitive as on POSIX). An open file
// keeps its bytes when its name is renamed over or deleted, as on POSIX.
// The clock, process list and free space are fixed (FaultOs sets them); standard
// output is captured. Copying a MemoryOs copies every file (a snapshot).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"

namespace twtrim {

class MemoryOs : public Os {
 public:
  MemoryOs();
  MemoryOs(const MemoryOs& other);
  MemoryOs& operator=(const MemoryOs&) = delete;

  // Creates missing parent directories; replaces the file's bytes in place.
  bool WriteFile(const std::string& path, const std::string& bytes);
  bool ReadFile(const std::string& path, std::string* bytes) const;
  // The size the existing file reports when open, without holding the bytes.
  void FakeSize(const std::string& path, uint64_t size) { files_.at(Normalise(path))->fakedSize = size; }
  bool MakeDirectories(const std::string& path);
  // Every file below `directory` (recursively), as normalised paths.
  std::vector<std::string> FilesUnder(const std::string& directory) const;
  const std::string& stdoutText() const { return stdout_; }

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
  bool FreeSpace(const std::string& directory, uint64_t* bytes) override;
  bool ListProcessNames(std::vector<std::string>* names) override;
  LocalTime Now() override { return now_; }
  void WriteStdout(const char* data, size_t size) override { stdout_.append(data, size); }
  bool IsInteractiveConsole() override { return false; }
  bool ConsoleSize(int*, int*) override { return false; }
  bool ReadKeyEvent(KeyEvent*) override { return false; }
  void InstallControlHandler(ControlHandler) override {}
  std::vector<std::string> CommandLineArguments() override { return {}; }

  struct Node {
    std::string bytes;
    uint64_t id = 0;
    uint64_t fakedSize = 0;  // when set, the size an open file reports (too large to hold)
  };

 private:
  // "/a/b/../c" -> "/a/c"; relative paths start at "/".
  std::string Normalise(const std::string& path) const;
  bool ParentExists(const std::string& key) const;
  std::shared_ptr<Node> NewNode();

  std::map<std::string, std::shared_ptr<Node>> files_;
  std::set<std::string> directories_;
  uint64_t nextId_ = 1;
  static constexpr LocalTime now_{2026, 3, 7, 9, 5, 4};
  static constexpr uint64_t freeSpace_ = uint64_t{1} << 40;
  std::string stdout_;
};

}  // namespace twtrim
