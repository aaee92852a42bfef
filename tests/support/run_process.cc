#include "support/run_process.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace twtrim {

std::string RunningExecutablePath() {
#ifdef _WIN32
  char buffer[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "";
  return std::string(buffer, length);
#else
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "";
  return std::string(buffer, static_cast<size_t>(length));
#endif
}

std::string TwtrimBinary() {
  const char* fromEnvironment = std::getenv("TWTRIM32_BIN");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') return fromEnvironment;
  const std::string self = RunningExecutablePath();
  const size_t slash = self.find_last_of("/\\");
  const std::string directory = slash == std::string::npos ? "." : self.substr(0, slash);
#ifdef _WIN32
  return directory + "\\TWTRIM32.EXE";
#else
  return directory + "/twtrim32";
#endif
}

#ifdef _WIN32

namespace {

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t") == std::string::npos) return argument;
  return "\"" + argument + "\"";
}

// Closes a handle when it goes out of scope.
struct HandleGuard {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~HandleGuard() { Close(); }
  void Close() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
};

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ProcessResult result;
  std::string commandLine = QuoteArgument(program);
  for (const std::string& argument : args) commandLine += " " + QuoteArgument(argument);

  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HandleGuard readEnd, writeEnd, input;
  if (!CreatePipe(&readEnd.handle, &writeEnd.handle, &inherit, 0)) return result;
  SetHandleInformation(readEnd.handle, HANDLE_FLAG_INHERIT, 0);
  input.handle = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.handle;
  startup.hStdOutput = writeEnd.handle;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process)) {
    return result;
  }
  result.started = true;
  HandleGuard processHandle{process.hProcess}, threadHandle{process.hThread};
  // Only the child may hold the write end now, so the reads end with it.
  writeEnd.Close();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(readEnd.handle, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.stdoutBytes.append(buffer, got);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) result.exitCode = static_cast<int>(exitCode);
  return result;
}

#else  // POSIX

ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workingDir) {
  ChildProcess child;
  // Everything the child needs is built before fork: only async-signal-safe
  // calls may follow it.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : args) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const char* directory = workingDir.empty() ? nullptr : workingDir.c_str();

  // errorFds is closed by a successful exec; a byte in it means the child never ran.
  int pipeFds[2], errorFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return child;
  const pid_t pid = ::pipe2(errorFds, O_CLOEXEC) == 0 ? ::fork() : -2;
  if (pid == -2) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return child;
  }
  if (pid == 0) {
    const int input = ::open("/dev/null", O_RDONLY);
    if (input >= 0) ::dup2(input, 0);
    ::dup2(pipeFds[1], 1);  // dup2 clears close-on-exec on the copy
    if (directory == nullptr || ::chdir(directory) == 0) ::execv(program.c_str(), argv.data());
    [[maybe_unused]] const ssize_t ignored = ::write(errorFds[1], "x", 1);
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  ::close(errorFds[1]);
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(errorFds[0]);
    return child;
  }
  char failed;
  ssize_t got;
  do {
    got = ::read(errorFds[0], &failed, 1);
  } while (got < 0 && errno == EINTR);
  ::close(errorFds[0]);
  child.pid = pid;
  child.stdoutFd = pipeFds[0];
  child.started = got == 0;
  return child;
}

namespace {

// Appends what one read delivers; false at the end of the output.
bool ReadSome(ChildProcess& child) {
  if (child.stdoutFd < 0) return false;
  char buffer[65536];
  ssize_t got;
  do {
    got = ::read(child.stdoutFd, buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    ::close(child.stdoutFd);
    child.stdoutFd = -1;
    return false;
  }
  child.stdoutBytes.append(buffer, static_cast<size_t>(got));
  return true;
}

}  // namespace

bool ReadStdoutUntil(ChildProcess& child, const std::string& text) {
  while (child.stdoutBytes.find(text) == std::string::npos) {
    if (!ReadSome(child)) return child.stdoutBytes.find(text) != std::string::npos;
  }
  return true;
}

ProcessResult WaitProcess(ChildProcess& child) {
  ProcessResult result;
  if (child.pid < 0) return result;
  while (ReadSome(child)) {
  }
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(child.pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  child.pid = -1;
  result.stdoutBytes = child.stdoutBytes;
  if (waited < 0) return result;
  result.started = child.started;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.exitCode = -WTERMSIG(status);
  return result;
}

bool SendSignal(const ChildProcess& child, int signal) {
  return child.pid > 0 && ::kill(child.pid, signal) == 0;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir) {
  ChildProcess child = StartProcess(program, args, workingDir);
  return WaitProcess(child);
}

#endif

}  // namespace twtrim
