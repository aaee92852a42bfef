#include "support/run_process.h"

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define popen _popen
#define pclose _pclose
#define read _read
#define fileno _fileno
constexpr char kReadMode[] = "rb";
#else
#include <sys/wait.h>
#include <unistd.h>
constexpr char kReadMode[] = "r";
#endif

namespace twtrim {

std::string TwtrimBinary() {
  const char* chosen = std::getenv("TWTRIM32_BIN");
  if (chosen != nullptr && *chosen != '\0') return std::filesystem::absolute(chosen).string();
#ifdef _WIN32
  char self[MAX_PATH * 4];
  self[GetModuleFileNameA(nullptr, self, sizeof self - 1)] = '\0';
  return (std::filesystem::path(self).parent_path() / "TWTRIM32.EXE").string();
#else
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "twtrim32").string();
#endif
}

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDir, const std::string& prefix) {
#ifdef _WIN32
  std::string line = (workingDir.empty() ? "" : "cd /d \"" + workingDir + "\" && ") + prefix;
#else
  std::string line = (workingDir.empty() ? "" : "cd '" + workingDir + "' && ") + prefix + " exec";
#endif
  std::vector<std::string> words = args;
  words.insert(words.begin(), program);
  for (const std::string& word : words) {
    const bool quote = word.empty() || word.find_first_of(" \t") != std::string::npos;
    line += " " + (quote ? "\"" + word + "\"" : word);
  }
  pipe_ = popen(line.c_str(), kReadMode);
}

bool Process::ReadMore() {
  char buffer[65536];
  const auto got = pipe_ == nullptr ? 0 : read(fileno(pipe_), buffer, sizeof buffer);
  if (got > 0) output_.append(buffer, static_cast<size_t>(got));
  return got > 0;
}

bool Process::ReadUntil(const std::string& text) {
  while (output_.find(text) == std::string::npos) {
    if (!ReadMore()) return false;
  }
  return true;
}

ProcessResult Process::Wait() {
  ProcessResult result;
  while (ReadMore()) {
  }
  const int status = pipe_ == nullptr ? -1 : pclose(pipe_);
  pipe_ = nullptr;
#ifdef _WIN32
  result.exitCode = status;
#else
  if (status != -1) result.exitCode = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
#endif
  result.stdoutBytes = output_;
  return result;
}

}  // namespace twtrim
