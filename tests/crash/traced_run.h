// Running the real program under ptrace and stopping it at an exact point:
// the entry of its k-th system call that changes a file or a name under a
// watched directory (open for writing, create, write, truncate, flush, rename,
// delete, make directory, and the close that begins the lock's release). There it is killed
// outright, before the call, or sent an interrupt that it receives right after the call. This gives
// a crash sweep over every file-system change the program makes, without timing. Linux only.
#pragma once

#if defined(__linux__)

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crash/crash_board.h"

extern char** environ;

namespace twtrim::crash {

struct TracedResult {
  bool started = false;             // false also where tracing is not permitted
  int exitCode = -1;                // -N when ended by signal N
  bool reached = false;             // the stop point was reached and acted on
  std::vector<std::string> events;  // the changes seen, up to the stop point
  std::string stdoutBytes;
};

namespace traced {

inline constexpr int kNotTraceable = 126;

inline std::string ReadString(pid_t pid, uint64_t address) {
  std::string text;
  char buffer[256];
  while (text.size() < 4096) {
    iovec local{buffer, sizeof buffer};
    iovec remote{reinterpret_cast<void*>(address + text.size()), sizeof buffer};
    const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (got <= 0) break;
    const size_t length = strnlen(buffer, static_cast<size_t>(got));
    text.append(buffer, length);
    if (length < static_cast<size_t>(got)) break;
  }
  return text;
}

inline std::string PathOfDescriptor(pid_t pid, uint64_t fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/%d/fd/%llu", static_cast<int>(pid),
                static_cast<unsigned long long>(fd));
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

inline bool Writes(uint64_t flags) {
  return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
}

// "call path" for a system call that changes something, or "" for any other.
inline std::string Describe(pid_t pid, const __ptrace_syscall_info& info) {
  const uint64_t nr = info.entry.nr;
  const uint64_t* a = info.entry.args;
  const auto path = [&](int i) { return ReadString(pid, a[i]); };
  const auto fdPath = [&](int i) {
    return a[i] <= 2 ? std::string() : PathOfDescriptor(pid, a[i]);
  };
  switch (nr) {
#ifdef SYS_open
    case SYS_open:
      return Writes(a[1]) ? "open " + path(0) : "";
#endif
#ifdef SYS_creat
    case SYS_creat:
      return "creat " + path(0);
#endif
    case SYS_openat:
      return Writes(a[2]) ? "open " + path(1) : "";
#ifdef SYS_rename
    case SYS_rename:
      return "rename " + path(0) + " -> " + path(1);
#endif
    case SYS_renameat:
      return "rename " + path(1) + " -> " + path(3);
#ifdef SYS_renameat2
    case SYS_renameat2:
      return "rename " + path(1) + " -> " + path(3);
#endif
#ifdef SYS_unlink
    case SYS_unlink:
      return "delete " + path(0);
#endif
    case SYS_unlinkat:
      return "delete " + path(1);
#ifdef SYS_mkdir
    case SYS_mkdir:
      return "mkdir " + path(0);
#endif
    case SYS_mkdirat:
      return "mkdir " + path(1);
    case SYS_write:
      return "write " + fdPath(0);
    case SYS_pwrite64:
      return "write " + fdPath(0);
    case SYS_ftruncate:
      return "truncate " + fdPath(0);
    case SYS_fsync:
      return "fsync " + fdPath(0);
    case SYS_fdatasync:
      return "fsync " + fdPath(0);
    case SYS_close: {
      // Closing the lock file is the first half of its release.
      const std::string closed = fdPath(0);
      return EndsWith(closed, std::string("/") + kLockName) ? "close " + closed : "";
    }
    default:
      return "";
  }
}

// Whether a described change touches the watched directory; writes and
// flushes of the report file are left out (it changes with every line).
inline bool Watched(const std::string& event, const std::string& watch) {
  const size_t space = event.find(' ');
  if (space == std::string::npos) return false;
  const std::string call = event.substr(0, space);
  const std::string rest = event.substr(space + 1);
  if (rest.find(watch + "/") == std::string::npos && rest != watch) return false;
  const bool report = EndsWith(rest, std::string("/") + kReportName);
  return !(report && (call == "write" || call == "fsync"));
}

// The environment of the traced child: LeakSanitizer stops the world with
// ptrace at exit, which a traced process cannot do.
inline std::vector<std::string> TracedEnvironment() {
  std::vector<std::string> env;
  bool asan = false;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
      entry += ":detect_leaks=0";
      asan = true;
    }
    env.push_back(entry);
  }
  if (!asan) env.push_back("ASAN_OPTIONS=detect_leaks=0");
  return env;
}

inline int StatusToExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1;
}

inline int WaitEnd(pid_t pid) {
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, __WALL) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) return StatusToExitCode(status);
  }
}

}  // namespace traced

// Runs the program with `args` in `workingDir`, traced. At the entry of the
// `stopAt`-th change under `watch` (1-based; 0: never) it sends `signal`:
// SIGKILL ends the program before that call; any other signal arrives right
// after the call completes.
inline TracedResult RunTraced(const std::string& program, const std::vector<std::string>& args,
                              const std::string& workingDir, const std::string& watch,
                              uint64_t stopAt, int signal) {
  using namespace traced;
  TracedResult result;
  std::vector<std::string> argStrings = {program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = TracedEnvironment();
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  // Standard output goes to a file: a pipe nobody drains while the tracer
  // waits would stop the program.
  char outName[] = "/tmp/twtrim-traced-XXXXXX";
  const int outFd = ::mkstemp(outName);
  if (outFd < 0) return result;
  ::unlink(outName);

  const pid_t pid = ::fork();
  if (pid == 0) {
    // Where tracing is not permitted (a sandbox), say so and stop here.
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(kNotTraceable);
    ::raise(SIGSTOP);
    const int input = ::open("/dev/null", O_RDONLY);
    if (input >= 0) ::dup2(input, 0);
    ::dup2(outFd, 1);
    if (::chdir(workingDir.c_str()) == 0) ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) {
    ::close(outFd);
    return result;
  }
  int status = 0;
  ::waitpid(pid, &status, __WALL);
  if (!WIFSTOPPED(status)) {
    ::close(outFd);
    return result;
  }
  ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
           PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACEEXEC);
  result.started = true;

  int inject = 0;
  uint64_t seen = 0;
  for (;;) {
    ::ptrace(PTRACE_SYSCALL, pid, nullptr, inject);
    inject = 0;
    if (::waitpid(pid, &status, __WALL) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      result.exitCode = StatusToExitCode(status);
      break;
    }
    const int stop = WSTOPSIG(status);
    if (stop != (SIGTRAP | 0x80)) {
      // An event stop (exec) passes; a real signal is delivered.
      if ((status >> 16) == 0 && stop != SIGTRAP) inject = stop;
      continue;
    }
    __ptrace_syscall_info info;
    std::memset(&info, 0, sizeof info);
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0 ||
        info.op != PTRACE_SYSCALL_INFO_ENTRY) {
      continue;
    }
    const std::string event = Describe(pid, info);
    if (event.empty() || !Watched(event, watch)) continue;
    result.events.push_back(event);
    if (++seen != stopAt) continue;
    result.reached = true;
    ::kill(pid, signal);
    if (signal != SIGKILL) ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
    result.exitCode = WaitEnd(pid);
    break;
  }
  ::lseek(outFd, 0, SEEK_SET);
  char buffer[65536];
  ssize_t got;
  while ((got = ::read(outFd, buffer, sizeof buffer)) > 0) {
    result.stdoutBytes.append(buffer, static_cast<size_t>(got));
  }
  ::close(outFd);
  return result;
}

}  // namespace twtrim::crash

#endif  // __linux__
