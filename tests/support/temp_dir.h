// A scratch directory for one test: made unique under the system's temp
// directory, removed with everything in it when the object goes away.
#pragma once

#include <string>
#include <string_view>

namespace twtrim {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }  // '/' separators, on Windows too
  std::string Path(std::string_view relative) const { return path_ + "/" + std::string(relative); }
  // On paths relative to the directory: Write makes missing parents, Read
  // gives "" for a file it cannot read.
  bool Write(std::string_view relative, std::string_view bytes) const;
  std::string Read(std::string_view relative) const;
  bool Exists(std::string_view relative) const;
  bool MakeDirectory(std::string_view relative) const;

 private:
  std::string path_;
};

bool WriteWholeFile(const std::string& path, std::string_view bytes);
bool ReadWholeFile(const std::string& path, std::string* bytes);

}  // namespace twtrim
