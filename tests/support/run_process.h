// Runs a program (normally the real twtrim32) through the shell (sh; cmd on Windows).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace twtrim {

struct ProcessResult {
  int exitCode = -1;        // on POSIX -N when killed by signal N
  std::string stdoutBytes;  // everything written to standard output
};

// `program` and `args` (quoted where they hold a blank) run in `workingDir`
// (empty: the current one), standard error inherited. POSIX: `prefix` is
// shell commands run first by the process that then becomes the program.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::string& workingDir = "", const std::string& prefix = "");
  Process(const Process&) = delete;
  ~Process() { Wait(); }
  // Reads the output until `text` appears in it (true) or it ends (false).
  bool ReadUntil(const std::string& text);
  ProcessResult Wait();  // reads the rest of the output and waits for the end
  const std::string& output() const { return output_; }

 private:
  bool ReadMore();  // false at the end of the output
  std::FILE* pipe_;
  std::string output_;
};

// The program under test, absolute: $TWTRIM32_BIN, else twtrim32
// (TWTRIM32.EXE on Windows) beside the running test executable.
std::string TwtrimBinary();

}  // namespace twtrim
