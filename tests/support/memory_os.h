// MemoryOs: a whole Os held in memory, for in-process runs that must be fast
// and exactly repeatable (the fault and crash sweeps, the fuzzers). Files and
// directories live in one tree keyed by normalised path ('\' and '/' alike,
// "." and ".." resolved, names case-sensitive as on POSIX). An open file
// keeps its bytes when its name is renamed over or deleted, as on POSIX.
// The clock, process list, free space and console are settable; standard
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

  // --- the test's side -------------------------------------------------------
  // Creates missing parent directories; replaces the file's bytes in place.
  bool WriteFile(const std::string& path, const std::string& bytes);
  bool ReadFile(const std::string& path, std::string* bytes) const;
  // The file's bytes, changed in place by the caller; nullptr when missing.
  std::string* Bytes(const std::string& path);
  bool MakeDirectories(const std::string& path);
  // Every file below `directory` (recursively), as normalised paths.
  std::vector<std::string> FilesUnder(const std::string& directory) const;
  // "/a/b/../c" -> "/a/c"; relative paths start at the current directory.
  std::string Normalise(const std::string& path) const;

  void SetCurrentDirectory(const std::string& path) { current_ = Normalise(path); }
  void SetNow(const LocalTime& time) { now_ = time; }
  void SetProcessNames(std::vector<std::string> names) { processes_ = std::move(names); }
  void SetFreeSpace(uint64_t bytes) { freeSpace_ = bytes; }
  void SetArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
  const std::string& stdoutText() const { return stdout_; }

  // --- Os --------------------------------------------------------------------
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
  std::vector<std::string> CommandLineArguments() override { return arguments_; }

  struct Node {
    std::string bytes;
    uint64_t id = 0;
  };

 private:
  bool ParentExists(const std::string& key) const;
  std::shared_ptr<Node> NewNode();

  std::map<std::string, std::shared_ptr<Node>> files_;
  std::set<std::string> directories_;
  std::string current_ = "/";
  uint64_t nextId_ = 1;
  LocalTime now_{2026, 3, 7, 9, 5, 4};
  std::vector<std::string> processes_{"init", "bash"};
  uint64_t freeSpace_ = uint64_t{1} << 40;
  std::vector<std::string> arguments_;
  std::string stdout_;
};

// Writes `bytes` over the file's bytes from `offset` on, in place (the file
// keeps its identity), through MemoryOs::Bytes when `os` is a MemoryOs and
// the real file system otherwise. `*old` gets the bytes replaced.
bool PatchFile(Os& os, const std::string& path, uint64_t offset, const std::string& bytes,
               std::string* old);

}  // namespace twtrim
