// Starting several runs of a program at the same moment, on both platforms.
// POSIX: each child is made in turn but waits at a gate (a pipe nobody
// writes to) until every child exists; closing the gate's write end releases
// them all at once into exec. Windows: each process is created suspended and
// all are resumed one right after another.
#pragma once

#include <string>
#include <vector>

#include "support/run_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace twtrim::crash {

class TogetherRuns {
 public:
  // One run per entry of `commands` (the arguments after the program name),
  // all in `workingDir`, standard input empty, standard output captured.
  TogetherRuns(const std::string& program, const std::vector<std::vector<std::string>>& commands,
               const std::string& workingDir);
  ~TogetherRuns();
  TogetherRuns(const TogetherRuns&) = delete;
  TogetherRuns& operator=(const TogetherRuns&) = delete;

  size_t size() const { return runs_.size(); }
  bool started(size_t i) const { return runs_[i].started; }
  // Reads run i's output until `text` has appeared (true) or it ended (false).
  bool ReadUntil(size_t i, const std::string& text);
  // Reads the rest of run i's output and waits for it to end.
  ProcessResult Finish(size_t i);

 private:
#ifdef _WIN32
  struct Run {
    bool started = false;
    HANDLE process = nullptr, thread = nullptr, output = nullptr;
    std::string bytes;
  };
  bool ReadSome(Run& run);
#else
  struct Run : ChildProcess {};
#endif
  std::vector<Run> runs_;
};

#ifdef _WIN32

namespace together {

// Quoted the way the program's own splitter takes it apart again.
inline std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line;
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  for (const std::string& a : all) {
    if (!line.empty()) line += ' ';
    const bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
    line += quote ? "\"" + a + "\"" : a;
  }
  return line;
}

inline void CloseIfOpen(HANDLE* handle) {
  if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = nullptr;
}

}  // namespace together

inline TogetherRuns::TogetherRuns(const std::string& program,
                                  const std::vector<std::vector<std::string>>& commands,
                                  const std::string& workingDir)
    : runs_(commands.size()) {
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  for (size_t i = 0; i < commands.size(); ++i) {
    Run& run = runs_[i];
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&run.output, &writeEnd, &inherit, 0)) continue;
    SetHandleInformation(run.output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION made;
    ZeroMemory(&made, sizeof made);
    std::string line = together::CommandLine(program, commands[i]);
    run.started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED, nullptr, workingDir.c_str(), &startup, &made);
    // Only the child may hold the write end, so the reads end with it.
    together::CloseIfOpen(&writeEnd);
    if (run.started) {
      run.process = made.hProcess;
      run.thread = made.hThread;
    }
  }
  together::CloseIfOpen(&input);
  for (Run& run : runs_) {
    if (run.started) ResumeThread(run.thread);
  }
}

inline TogetherRuns::~TogetherRuns() {
  for (Run& run : runs_) {
    if (run.process != nullptr) {
      // A run the test gave up on must not outlive it.
      TerminateProcess(run.process, 1);
      WaitForSingleObject(run.process, INFINITE);
    }
    together::CloseIfOpen(&run.process);
    together::CloseIfOpen(&run.thread);
    together::CloseIfOpen(&run.output);
  }
}

inline bool TogetherRuns::ReadSome(Run& run) {
  if (run.output == nullptr) return false;
  char buffer[65536];
  DWORD got = 0;
  if (!::ReadFile(run.output, buffer, sizeof buffer, &got, nullptr) || got == 0) {
    together::CloseIfOpen(&run.output);
    return false;
  }
  run.bytes.append(buffer, got);
  return true;
}

inline bool TogetherRuns::ReadUntil(size_t i, const std::string& text) {
  Run& run = runs_[i];
  while (run.bytes.find(text) == std::string::npos) {
    if (!ReadSome(run)) return run.bytes.find(text) != std::string::npos;
  }
  return true;
}

inline ProcessResult TogetherRuns::Finish(size_t i) {
  Run& run = runs_[i];
  ProcessResult result;
  while (ReadSome(run)) {
  }
  result.stdoutBytes = run.bytes;
  if (run.process == nullptr) return result;
  WaitForSingleObject(run.process, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(run.process, &code)) result.exitCode = static_cast<int>(code);
  result.started = true;
  together::CloseIfOpen(&run.process);
  return result;
}

#else  // POSIX

inline TogetherRuns::TogetherRuns(const std::string& program,
                                  const std::vector<std::vector<std::string>>& commands,
                                  const std::string& workingDir)
    : runs_(commands.size()) {
  std::vector<int> errorFds(commands.size(), -1);
  int gate[2];
  if (::pipe2(gate, O_CLOEXEC) != 0) return;

  // Everything the children need is built before the first fork.
  std::vector<std::vector<std::string>> argStrings;
  for (const auto& args : commands) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    argStrings.push_back(std::move(all));
  }
  std::vector<std::vector<char*>> argvs;
  for (auto& strings : argStrings) {
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    argvs.push_back(std::move(argv));
  }

  for (size_t i = 0; i < commands.size(); ++i) {
    int out[2], failed[2];
    if (::pipe2(out, O_CLOEXEC) != 0) break;
    if (::pipe2(failed, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      break;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      // The gate's write end must go, or the read below never ends.
      ::close(gate[1]);
      char byte;
      while (::read(gate[0], &byte, 1) < 0 && errno == EINTR) {
      }
      const int input = ::open("/dev/null", O_RDONLY);
      if (input >= 0) ::dup2(input, 0);
      ::dup2(out[1], 1);
      if (::chdir(workingDir.c_str()) == 0) ::execv(program.c_str(), argvs[i].data());
      const char one = 1;
      ssize_t ignored = ::write(failed[1], &one, 1);
      (void)ignored;
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(failed[1]);
    if (pid < 0) {
      ::close(out[0]);
      ::close(failed[0]);
      break;
    }
    runs_[i].pid = pid;
    runs_[i].stdoutFd = out[0];
    errorFds[i] = failed[0];
  }
  // Open the gate: every child reads end-of-file at once.
  ::close(gate[1]);
  ::close(gate[0]);
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (errorFds[i] < 0) continue;
    char byte;
    ssize_t got;
    do {
      got = ::read(errorFds[i], &byte, 1);
    } while (got < 0 && errno == EINTR);
    ::close(errorFds[i]);
    runs_[i].started = got == 0;
  }
}

inline TogetherRuns::~TogetherRuns() {
  for (Run& run : runs_) {
    if (run.pid > 0) {
      SendSignal(run, SIGKILL);
      WaitProcess(run);
    }
  }
}

inline bool TogetherRuns::ReadUntil(size_t i, const std::string& text) {
  return ReadStdoutUntil(runs_[i], text);
}

inline ProcessResult TogetherRuns::Finish(size_t i) { return WaitProcess(runs_[i]); }

#endif

}  // namespace twtrim::crash
