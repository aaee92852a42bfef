// Running a program (normally the real twtrim32) through the system's shell
// (sh, or cmd on Windows) and collecting its standard output and exit code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace twtrim {

struct ProcessResult {
  int exitCode = -1;        // the exit code; on POSIX -N when killed by signal N
  std::string stdoutBytes;  // everything written to standard output
};

// `program` with `args` (each quoted where it holds a blank), run in
// `workingDir` (empty: the current directory), standard error inherited.
// POSIX: `prefix` is shell commands run first, in the process that then
// becomes the program ("echo $$;" prints its process id).
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::string& workingDir = "", const std::string& prefix = "");
  Process(const Process&) = delete;
  ~Process() { Wait(); }
  // Reads the output until `text` has appeared in it (true) or it ended.
  bool ReadUntil(const std::string& text);
  // Reads the rest of the output and waits for the end.
  ProcessResult Wait();
  const std::string& output() const { return output_; }

 private:
  bool ReadMore();  // false at the end of the output
  std::FILE* pipe_;
  std::string output_;
};

inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workingDir = "") {
  return Process(program, args, workingDir).Wait();
}

// The program under test, absolute: $TWTRIM32_BIN, else twtrim32
// (TWTRIM32.EXE on Windows) beside the running test executable.
std::string TwtrimBinary();

}  // namespace twtrim
