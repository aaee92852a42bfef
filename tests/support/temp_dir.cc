#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace twtrim {
namespace fs = std::filesystem;

TempDir::TempDir() {
  // Unique across processes (random seed) and within one (counter).
  static std::atomic<unsigned> counter{0};
  static const unsigned long long seed =
      (static_cast<unsigned long long>(std::random_device()()) << 32) ^
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) base = fs::current_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "twtrim-%016llx-%u", seed, counter++);
    if (fs::create_directory(base / name, error)) {
      path_ = (base / name).generic_string();
      return;
    }
  }
  std::fprintf(stderr, "TempDir: cannot create a directory under %s\n",
               base.generic_string().c_str());
  std::abort();
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(fs::path(path_), error);
}

std::string TempDir::Path(std::string_view relative) const {
  return path_ + "/" + std::string(relative);
}

bool TempDir::Write(std::string_view relative, std::string_view bytes) const {
  const fs::path target(Path(relative));
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  return WriteWholeFile(target.string(), bytes);
}

std::string TempDir::Read(std::string_view relative) const {
  std::string bytes;
  ReadWholeFile(Path(relative), &bytes);
  return bytes;
}

bool TempDir::Exists(std::string_view relative) const {
  std::error_code error;
  return fs::exists(fs::path(Path(relative)), error);
}

bool TempDir::MakeDirectory(std::string_view relative) const {
  std::error_code error;
  fs::create_directories(fs::path(Path(relative)), error);
  return !error;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream stream(fs::path(path), std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream.close();
  return !stream.fail();
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream stream(fs::path(path), std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  return stream.is_open() && !stream.bad();
}

}  // namespace twtrim
