// Running a program (normally the real twtrim32) as a separate process and
// collecting its standard output and exit code, on both platforms.
#pragma once

#include <string>
#include <vector>

namespace twtrim {

struct ProcessResult {
  bool started = false;     // false: the program could not be started at all
  int exitCode = -1;        // the exit code; on POSIX -N when killed by signal N
  std::string stdoutBytes;  // everything written to standard output
};

// Runs `program` with `args` (entry 0 of the child's arguments is `program`
// itself) in `workingDir` (empty: the current directory), standard input
// empty, standard error inherited, and waits for it to end. POSIX: the
// control signals start at their default action, as from an operator's shell.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir = "");

// The program under test, absolute: $TWTRIM32_BIN, else twtrim32
// (TWTRIM32.EXE on Windows) beside the running test executable.
std::string TwtrimBinary();

#ifndef _WIN32
// A process left running, for concurrency and interrupt tests (POSIX only).
struct ChildProcess {
  int pid = -1;             // -1 when the program could not be started
  int stdoutFd = -1;        // read end of the child's standard output
  std::string stdoutBytes;  // what has been read from it so far
};
ChildProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workingDir = "");
// Reads the child's output until `text` has appeared in it (true) or the
// output ended (false). Blocks; no timeout.
bool ReadStdoutUntil(ChildProcess& child, const std::string& text);
// Reads the rest of the output and waits for the child to end.
ProcessResult WaitProcess(ChildProcess& child);
#endif

}  // namespace twtrim
