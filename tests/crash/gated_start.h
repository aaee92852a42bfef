// Starting several runs of a program at the same moment: each child is made
// in turn but waits at a gate (a pipe nobody writes to) until every child
// exists; closing the gate's write end releases them all at once into exec.
// POSIX only.
#pragma once

#ifndef _WIN32

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_process.h"

namespace twtrim::crash {

namespace gated {

inline void CloseBoth(int fds[2]) {
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace gated

// One ChildProcess per entry of `commands` (arguments after the program
// name), all started in `workingDir` at the same moment. A child that could
// not be made has pid -1.
inline std::vector<ChildProcess> StartTogether(
    const std::string& program, const std::vector<std::vector<std::string>>& commands,
    const std::string& workingDir) {
  std::vector<ChildProcess> children(commands.size());
  std::vector<int> errorFds(commands.size(), -1);
  int gate[2];
  if (::pipe2(gate, O_CLOEXEC) != 0) return children;

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
      gated::CloseBoth(out);
      break;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
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
    children[i].pid = pid;
    children[i].stdoutFd = out[0];
    errorFds[i] = failed[0];
  }
  // Open the gate: every child reads end-of-file at once.
  ::close(gate[1]);
  ::close(gate[0]);
  for (size_t i = 0; i < children.size(); ++i) {
    if (errorFds[i] < 0) continue;
    char byte;
    ssize_t got;
    do {
      got = ::read(errorFds[i], &byte, 1);
    } while (got < 0 && errno == EINTR);
    ::close(errorFds[i]);
    children[i].started = got == 0;
  }
  return children;
}

}  // namespace twtrim::crash

#endif  // _WIN32
