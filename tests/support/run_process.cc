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

std::string RunningExecutablePath() {
#ifdef _WIN32
  char buffer[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return length < sizeof buffer ? std::string(buffer, length) : "";
#else
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).string();
#endif
}

std::string TwtrimBinary() {
  const char* chosen = std::getenv("TWTRIM32_BIN");
#ifdef _WIN32
  const char* const kName = "TWTRIM32.EXE";
#else
  const char* const kName = "twtrim32";
#endif
  const std::filesystem::path path =
      chosen != nullptr && *chosen != '\0'
          ? std::filesystem::path(chosen)
          : std::filesystem::path(RunningExecutablePath()).parent_path() / kName;
  return std::filesystem::absolute(path).make_preferred().string();
}

#ifdef _WIN32

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ProcessResult result;
  // The program's own splitter has no escape character: quotes only.
  std::string commandLine = "\"" + program + "\"";
  for (const std::string& arg : args) {
    commandLine += arg.empty() || arg.find_first_of(" \t") != std::string::npos ? " \"" + arg + "\""
                                                                                : " " + arg;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  const HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  result.started =
      CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process);
  CloseHandle(writeEnd);  // only the child holds it now, so the reads end with it
  CloseHandle(input);
  char buffer[65536];
  DWORD got = 0;
  while (result.started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.stdoutBytes.append(buffer, got);
  }
  CloseHandle(readEnd);
  if (!result.started) return result;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) result.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

#else

ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workingDir) {
  ChildProcess child;
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
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
  if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) == 0) {
    child.pid = pid;
    child.stdoutFd = out[0];
  } else {
    ::close(out[0]);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  return child;
}

// Appends what one read delivers; false at the end of the output.
static bool ReadSome(ChildProcess& child) {
  char buffer[65536];
  ssize_t got = -1;
  while (child.stdoutFd >= 0 && (got = ::read(child.stdoutFd, buffer, sizeof buffer)) < 0 &&
         errno == EINTR) {
  }
  if (got <= 0) return false;
  child.stdoutBytes.append(buffer, static_cast<size_t>(got));
  return true;
}

bool ReadStdoutUntil(ChildProcess& child, const std::string& text) {
  while (child.stdoutBytes.find(text) == std::string::npos) {
    if (!ReadSome(child)) return false;
  }
  return true;
}

ProcessResult WaitProcess(ChildProcess& child) {
  ProcessResult result;
  while (ReadSome(child)) {
  }
  if (child.stdoutFd >= 0) ::close(child.stdoutFd);
  child.stdoutFd = -1;
  result.stdoutBytes = child.stdoutBytes;
  int status = 0;
  while (child.pid > 0 && ::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.started = child.pid > 0;
  if (result.started)
    result.exitCode = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
  child.pid = -1;
  return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ChildProcess child = StartProcess(program, args, workingDir);
  return WaitProcess(child);
}

#endif

}  // namespace twtrim
