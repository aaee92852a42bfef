// A tiny Os over files held in memory, for the fuzz targets: no disk, no
// temp directories, so each input runs in microseconds. Reads can be made to
// fail or come up short from a chosen call on. Everything else is inert.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"

namespace twtrim::fuzz {

class MemoryOs : public Os {
 public:
  std::map<std::string, std::vector<uint8_t>> files;
  // Fake sizes, for files too large to hold: Size() reports this instead.
  std::map<std::string, uint64_t> sizeOverride;
  uint64_t reads = 0;
  uint64_t failReadFrom = 0;  // 1-based read call from which reads fail; 0: never
  uint64_t shortReadAt = 0;   // 1-based read call that delivers half; 0: never
  bool failSeeks = false;
  std::string stdoutText;

  std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) override {
    if (files.find(path) == files.end()) return nullptr;
    return std::make_unique<File>(*this, path);
  }
  std::unique_ptr<OsFile> CreateNew(const std::string&) override { return nullptr; }
  std::unique_ptr<OsFile> OpenForAppend(const std::string&) override { return nullptr; }
  bool DeleteFile(const std::string&) override { return false; }
  PathKind GetPathKind(const std::string& path) override {
    return files.count(path) != 0 ? PathKind::kFile : PathKind::kMissing;
  }
  bool PathIdentity(const std::string&, FileIdentity*) override { return false; }
  bool FullPath(const std::string& path, std::string* full) override {
    *full = path;
    return true;
  }
  bool ReplaceRename(const std::string&, const std::string&) override { return false; }
  bool CreateDirectory(const std::string&) override { return false; }
  bool ListDirectory(const std::string&, std::vector<DirEntry>*) override { return false; }
  bool CurrentDirectory(std::string*) override { return false; }
  bool FreeSpace(const std::string&, uint64_t*) override { return false; }
  bool ListProcessNames(std::vector<std::string>*) override { return false; }
  LocalTime Now() override { return {}; }
  void WriteStdout(const char* data, size_t size) override { stdoutText.append(data, size); }
  bool IsInteractiveConsole() override { return false; }
  bool ConsoleSize(int*, int*) override { return false; }
  bool ReadKeyEvent(KeyEvent*) override { return false; }
  void InstallControlHandler(ControlHandler) override {}
  std::vector<std::string> CommandLineArguments() override { return {}; }

 private:
  class File : public OsFile {
   public:
    File(MemoryOs& os, std::string path) : os_(os), path_(std::move(path)) {}
    bool Read(void* buffer, uint32_t count, uint32_t* got) override {
      *got = 0;
      const uint64_t call = ++os_.reads;
      if (closed_ || (os_.failReadFrom != 0 && call >= os_.failReadFrom)) return false;
      const std::vector<uint8_t>& bytes = os_.files[path_];
      if (position_ >= bytes.size()) return true;
      uint64_t n = std::min<uint64_t>(count, bytes.size() - position_);
      if (call == os_.shortReadAt) n /= 2;
      std::memcpy(buffer, bytes.data() + position_, n);
      position_ += n;
      *got = static_cast<uint32_t>(n);
      return true;
    }
    bool Write(const void*, uint32_t, uint32_t* put) override {
      *put = 0;
      return false;
    }
    bool Seek(uint64_t offset) override {
      if (closed_ || os_.failSeeks) return false;
      position_ = offset;
      return true;
    }
    bool SeekToEnd() override { return false; }
    bool Size(uint64_t* size) override {
      if (closed_) return false;
      auto fake = os_.sizeOverride.find(path_);
      *size = fake != os_.sizeOverride.end() ? fake->second : os_.files[path_].size();
      return true;
    }
    bool Flush() override { return false; }
    bool Close() override {
      closed_ = true;
      return true;
    }
    bool Identity(FileIdentity*) override { return false; }
    bool CopyOwnerAndMode(const std::string&) override { return true; }

   private:
    MemoryOs& os_;
    std::string path_;
    uint64_t position_ = 0;
    bool closed_ = false;
  };
};

}  // namespace twtrim::fuzz
