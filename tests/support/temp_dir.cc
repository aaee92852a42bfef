#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace twtrim {
namespace fs = std::filesystem;

// A random name: unique across the test processes that run side by side.
TempDir::TempDir() {
  std::random_device random;
  fs::path made;
  do {
    made = fs::temp_directory_path() /
           ("twtrim-" + std::to_string(random()) + std::to_string(random()));
  } while (!fs::create_directory(made));
  path_ = made.generic_string();
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool TempDir::Write(std::string_view relative, std::string_view bytes) const {
  std::error_code ignored;
  fs::create_directories(fs::path(Path(relative)).parent_path(), ignored);
  return WriteWholeFile(Path(relative), bytes);
}

std::string TempDir::Read(std::string_view relative) const {
  std::string bytes;
  return ReadWholeFile(Path(relative), &bytes) ? bytes : "";
}

bool TempDir::Exists(std::string_view relative) const {
  std::error_code ignored;
  return fs::exists(Path(relative), ignored);
}

bool TempDir::MakeDirectory(std::string_view relative) const {
  std::error_code error;
  fs::create_directories(Path(relative), error);
  return !error;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream stream(fs::path(path), std::ios::binary);
  return stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush().good();
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream stream(fs::path(path), std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  return stream.is_open() && !stream.bad();
}

}  // namespace twtrim
