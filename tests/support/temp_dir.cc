#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace twtrim {
namespace fs = std::filesystem;

namespace {

// Unique across processes (random seed) and within one (counter).
std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  static const uint64_t seed = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device() ^
           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  char name[64];
  std::snprintf(name, sizeof name, "twtrim-%016llx-%u", static_cast<unsigned long long>(seed),
                counter++);
  return name;
}

}  // namespace

TempDir::TempDir() {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) base = fs::current_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / UniqueName();
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
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
  fs::path target(Path(relative));
  std::error_code error;
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
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
  if (!stream) return false;
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream.close();
  return !stream.fail();
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  std::ifstream stream(fs::path(path), std::ios::binary);
  if (!stream) return false;
  bytes->assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  return !stream.bad();
}

}  // namespace twtrim
