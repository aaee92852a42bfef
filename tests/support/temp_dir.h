// A scratch directory for one test: created unique under the system's temp
// directory and removed with everything in it when the object goes away.
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

  // The directory, with '/' separators (Windows accepts them too).
  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string Path(std::string_view relative) const;

  // Whole-file helpers on a path relative to the directory; missing parent
  // directories are created by Write.
  bool Write(std::string_view relative, std::string_view bytes) const;
  // The file's bytes; empty when it cannot be read (see Exists).
  std::string Read(std::string_view relative) const;
  bool Exists(std::string_view relative) const;
  bool MakeDirectory(std::string_view relative) const;

 private:
  std::string path_;
};

// Whole-file helpers on any path.
bool WriteWholeFile(const std::string& path, std::string_view bytes);
bool ReadWholeFile(const std::string& path, std::string* bytes);

}  // namespace twtrim
