// Shared by the configuration and command-line fuzz targets: the in-memory
// Os extended with directories and an appendable report log, and the checks
// every report must pass whatever the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "memory_os.h"

namespace twtrim::fuzz {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Every CR is followed by LF and every LF preceded by CR (unless `echoed`:
// the program echoes what the operator typed, line ends and all); when
// `nonEmpty`, the text ends with CR LF.
inline void CheckCrLf(std::string_view text, bool nonEmpty, bool echoed = false) {
  for (size_t i = 0; i < text.size() && !echoed; ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n', "CR without LF");
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r', "LF without CR");
  }
  if (nonEmpty) {
    Check(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n", "output does not end a line");
  }
}

inline bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// MemoryOs plus directories and a report log that can be opened, appended to
// and read back. A path listed in `unwritable` cannot be opened for append.
class LogOs : public MemoryOs {
 public:
  std::set<std::string> directories;
  std::set<std::string> unwritable;
  std::string log;      // everything appended to the log
  std::string logPath;  // the path it was opened with; empty: never opened
  int openLogs = 0;     // log files currently open

  PathKind GetPathKind(const std::string& path) override {
    if (directories.count(path) != 0) return PathKind::kDirectory;
    return MemoryOs::GetPathKind(path);
  }
  std::unique_ptr<OsFile> OpenSharedRead(const std::string& path) override {
    if (directories.count(path) != 0) return nullptr;
    return MemoryOs::OpenSharedRead(path);
  }
  std::unique_ptr<OsFile> OpenForAppend(const std::string& path) override {
    if (unwritable.count(path) != 0 || directories.count(path) != 0) return nullptr;
    logPath = path;
    return std::make_unique<AppendFile>(*this);
  }

 private:
  class AppendFile : public OsFile {
   public:
    explicit AppendFile(LogOs& os) : os_(os) { ++os_.openLogs; }
    ~AppendFile() override { Close(); }
    bool Read(void*, uint32_t, uint32_t* got) override {
      *got = 0;
      return false;
    }
    bool Write(const void* buffer, uint32_t count, uint32_t* put) override {
      *put = 0;
      if (closed_) return false;
      os_.log.append(static_cast<const char*>(buffer), count);
      *put = count;
      return true;
    }
    bool Seek(uint64_t) override { return !closed_; }
    bool SeekToEnd() override { return !closed_; }
    bool Size(uint64_t* size) override {
      *size = os_.log.size();
      return !closed_;
    }
    bool Flush() override { return !closed_; }
    bool Identity(FileIdentity*) override { return false; }
    bool CopyOwnerAndMode(const std::string&) override { return true; }
    bool Close() override {
      if (closed_) return false;
      closed_ = true;
      --os_.openLogs;
      return true;
    }

   private:
    LogOs& os_;
    bool closed_ = false;
  };
};

}  // namespace twtrim::fuzz
