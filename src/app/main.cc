// Process entry: take the command line, run, and end with the run's exit code.
#include "app/run_sequence.h"
#include "platform/os.h"

int main(int argc, char** argv) {
  std::unique_ptr<twtrim::Os> os = twtrim::CreateSystemOs(argc, argv);
  return twtrim::RunProgram(*os, os->CommandLineArguments());
}
