// The Os of Windows: KERNEL32 called directly, with the sharing and creation
// modes each kind of open needs. <windows.h> stays out of this header: its
// DeleteFile and CreateDirectory macros would rename the Os methods.
#pragma once

#include <string>
#include <vector>

#include "platform/os.h"

namespace twtrim {

class Win32Os : public Os {
 public:
  std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) override;
  std::unique_ptr<OsFile> CreateNew(const std::string& path) override;
  std::unique_ptr<OsFile> OpenForAppend(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;

  PathKind GetPathKind(const std::string& path) override;
  bool PathIdentity(const std::string& path, FileIdentity* identity) override;
  bool FullPath(const std::string& path, std::string* full) override;
  bool PathTooLong(const std::string& path) override;
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
  // The console handler, which runs on its own thread, waits for the hold
  // to end.
  void HoldControlEvents() override;
  void ReleaseControlEvents() override;

  std::vector<std::string> CommandLineArguments() override;
};

}  // namespace twtrim
