#include "support/run_process.h"

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
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

#ifdef _WIN32

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  // The program's own splitter has no escape character: quotes only.
  std::vector<std::string> words = args;
  words.insert(words.begin(), program);
  std::string line;
  for (const std::string& word : words) {
    const bool quote = word.empty() || word.find_first_of(" \t") != std::string::npos;
    line += (line.empty() ? "" : " ") + (quote ? "\"" + word + "\"" : word);
  }
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  ProcessResult result;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, 0, nullptr);
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  result.started =
      CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process);
  CloseHandle(writeEnd);  // only the child holds it now, so the reads end with it
  CloseHandle(startup.hStdInput);
  char buffer[65536];
  DWORD got = 0;
  while (result.started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.stdoutBytes.append(buffer, got);
  }
  CloseHandle(readEnd);
  DWORD code = 0;
  if (result.started && WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &code)) {
    result.exitCode = static_cast<int>(code);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

#else

ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workingDir) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ChildProcess child;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return child;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t control;
  sigemptyset(&control);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&control, signal);
  posix_spawnattr_setsigdefault(&attributes, &control);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  const bool spawned =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) == 0;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  child.pid = spawned ? pid : -1;
  child.stdoutFd = spawned ? out[0] : (::close(out[0]), -1);
  return child;
}

bool ReadStdoutUntil(ChildProcess& child, const std::string& text) {
  char buffer[65536];
  while (child.stdoutBytes.find(text) == std::string::npos) {
    ssize_t got = -1;
    while (child.stdoutFd >= 0 && (got = ::read(child.stdoutFd, buffer, sizeof buffer)) < 0 &&
           errno == EINTR) {
    }
    if (got <= 0) return false;
    child.stdoutBytes.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

ProcessResult WaitProcess(ChildProcess& child) {
  ReadStdoutUntil(child, std::string(1, '\0') + "never printed");
  if (child.stdoutFd >= 0) ::close(child.stdoutFd);
  child.stdoutFd = -1;
  ProcessResult result;
  result.stdoutBytes = child.stdoutBytes;
  int status = 0;
  pid_t waited = -1;
  while (child.pid > 0 && (waited = ::waitpid(child.pid, &status, 0)) < 0 && errno == EINTR) {
  }
  child.pid = -1;
  result.started = waited > 0;
  if (result.started)
    result.exitCode = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
  return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ChildProcess child = StartProcess(program, args, workingDir);
  return WaitProcess(child);
}

#endif

}  // namespace twtrim
