// The Os of Linux and other POSIX systems. Windows paths from the command
// line work unchanged: every '\' becomes '/' before a system call. There are
// no sharing modes; the lock relies on O_EXCL alone.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "platform/os.h"

namespace twtrim {

class PosixOs : public Os {
 public:
  PosixOs(int argc, char** argv);

  std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) override;
  std::unique_ptr<OsFile> CreateNew(const std::string& path) override;
  std::unique_ptr<OsFile> OpenForAppend(const std::string& path) override;
  // Async-signal-safe: the control handler deletes the lock file with it.
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
  LocalTime Now() override;

  void WriteStdout(const char* data, size_t size) override;
  bool IsInteractiveConsole() override;
  bool ConsoleSize(int* rows, int* columns) override;
  bool ReadKeyEvent(KeyEvent* event) override;
  void InstallControlHandler(ControlHandler handler) override;
  // The control signals are blocked: one that comes meanwhile stays pending
  // and is delivered when they are unblocked.
  void HoldControlEvents() override;
  void ReleaseControlEvents() override;

  std::vector<std::string> CommandLineArguments() override;

 private:
  std::vector<std::string> arguments_;
  sigset_t heldMask_;  // the signal mask before HoldControlEvents
};

}  // namespace twtrim
