// mkboard: writes Tarnwick boards for trying the program, for the tests and
// for the benchmark.
//
//   mkboard sample <home>
//   mkboard scenario <name> <home> <conf#>
//   mkboard random <home> --seed S --conferences C --records R --deleted PCT --max-blocks B
//   mkboard large <home> --records N --deleted PCT
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "msgbase/conference_list.h"
#include "msgbase/records.h"

namespace {

using namespace twtrim::board;

constexpr const char* kUsage =
    "usage: mkboard sample <home>\n"
    "       mkboard scenario <name> <home> <conf#>\n"
    "       mkboard random <home> --seed S --conferences C --records R --deleted PCT "
    "--max-blocks B\n"
    "       mkboard large <home> --records N --deleted PCT\n"
    "scenarios: clean pack danger repair blocked validation\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "mkboard: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

int Failed(const std::string& what) {
  std::fprintf(stderr, "mkboard: could not write %s\n", what.c_str());
  return 1;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || v > max) return false;
  *value = v;
  return true;
}

// "--name value" pairs; every name in `limits` is required.
bool ParseOptions(const std::vector<std::string>& args, size_t first,
                  const std::map<std::string, uint64_t>& limits,
                  std::map<std::string, uint64_t>* values, std::string* problem) {
  for (size_t i = first; i < args.size(); i += 2) {
    const auto limit = limits.find(args[i]);
    if (limit == limits.end() || i + 1 >= args.size()) {
      *problem = "unexpected argument " + args[i];
      return false;
    }
    uint64_t value = 0;
    if (!ParseNumber(args[i + 1], limit->second, &value)) {
      *problem = "bad value for " + args[i] + ": " + args[i + 1];
      return false;
    }
    (*values)[args[i]] = value;
  }
  for (const auto& [name, max] : limits) {
    if (!values->count(name)) {
      *problem = "missing " + name;
      return false;
    }
  }
  return true;
}

struct Totals {
  uint64_t conferences = 0, records = 0, blocks = 0;
};

bool WriteCounted(const std::string& messageDir, uint32_t conference, const ConferenceFiles& files,
                  Totals* totals) {
  ++totals->conferences;
  totals->records += files.ptr.size();
  totals->blocks += files.datBlocks();
  return WriteConference(messageDir, conference, files);
}

void PrintSummary(const char* kind, const std::string& home, const Totals& t) {
  std::printf("mkboard: wrote %s board at %s: %llu conference(s), %llu records, %llu DAT blocks\n",
              kind, home.c_str(), static_cast<unsigned long long>(t.conferences),
              static_cast<unsigned long long>(t.records),
              static_cast<unsigned long long>(t.blocks));
}

int Sample(const std::string& home) {
  if (!WriteSampleBoard(home)) return Failed(home);
  Totals totals;
  for (const char* name : {"clean", "danger", "pack", "blocked", "validation"}) {
    ConferenceFiles files;
    ScenarioByName(name, &files);
    ++totals.conferences;
    totals.records += files.ptr.size();
    totals.blocks += files.datBlocks();
  }
  PrintSummary("sample", home, totals);
  return 0;
}

// Adds one conference to a board, creating the directories (and an idle
// caller table) when they are missing; existing files are left alone.
int Scenario(const std::vector<std::string>& args) {
  if (args.size() != 5) return Usage("scenario takes <name> <home> <conf#>");
  ConferenceFiles files;
  if (!ScenarioByName(args[2], &files)) return Usage("unknown scenario " + args[2]);
  uint64_t conference = 0;
  if (!ParseNumber(args[4], twtrim::kMaxConference, &conference) || conference == 0) {
    return Usage("bad conference number " + args[4]);
  }
  const std::string home = args[3];
  Board board{home};
  if (!MakeDirectories(board.messageDir())) return Failed(board.messageDir());
  if (!std::filesystem::exists(home + "/WORK/TWWHOSON.DAT") && !WriteCallerTable(home)) {
    return Failed("caller table");
  }
  Totals totals;
  if (!WriteCounted(board.messageDir(), static_cast<uint32_t>(conference), files, &totals)) {
    return Failed("conference files");
  }
  PrintSummary(args[2].c_str(), home, totals);
  return 0;
}

int Random(const std::vector<std::string>& args) {
  if (args.size() < 3) return Usage("random takes <home> and options");
  std::map<std::string, uint64_t> v;
  std::string problem;
  const std::map<std::string, uint64_t> limits = {{"--seed", UINT32_MAX},
                                                  {"--conferences", twtrim::kMaxConference},
                                                  {"--records", twtrim::kMaxScanRecords},
                                                  {"--deleted", 100},
                                                  {"--max-blocks", 65535}};
  if (!ParseOptions(args, 3, limits, &v, &problem)) return Usage(problem);
  if (v["--conferences"] == 0) return Usage("--conferences must be at least 1");
  const std::string home = args[2];
  std::vector<std::string> names;
  for (uint64_t n = 1; n <= v["--conferences"]; ++n) names.push_back("Random " + std::to_string(n));
  Board board;
  if (!CreateBoard(home, names, &board)) return Failed(home);
  Totals totals;
  for (uint32_t n = 1; n <= v["--conferences"]; ++n) {
    // Every conference its own stream of the one seed.
    const uint32_t seed = static_cast<uint32_t>(v["--seed"] * 1000 + n);
    const ConferenceFiles files = RandomConference(seed, static_cast<uint32_t>(v["--records"]),
                                                   static_cast<uint32_t>(v["--deleted"]),
                                                   static_cast<uint32_t>(v["--max-blocks"]));
    if (!WriteCounted(board.messageDir(), n, files, &totals)) return Failed("conference files");
  }
  PrintSummary("random", home, totals);
  return 0;
}

// One conference of up to 2,000,000 records, written as it is generated so
// that a 512 MiB PTR file never sits in memory. Every 31st message has a
// one-block body, which keeps the DAT file within 65,536 blocks.
int Large(const std::vector<std::string>& args) {
  if (args.size() < 3) return Usage("large takes <home> and options");
  std::map<std::string, uint64_t> v;
  std::string problem;
  if (!ParseOptions(args, 3, {{"--records", twtrim::kMaxScanRecords}, {"--deleted", 100}}, &v,
                    &problem)) {
    return Usage(problem);
  }
  const std::string home = args[2];
  Board board;
  if (!CreateBoard(home, {"Large"}, &board)) return Failed(home);
  RandomMessageSource source(20260101, static_cast<uint32_t>(v["--deleted"]), 0);
  ConferenceStreamWriter writer;
  if (!writer.Open(board.messageDir(), 1)) return Failed("conference files");
  for (uint64_t i = 0; i < v["--records"]; ++i) {
    MessageShape shape = source.Next();
    shape.blocks = (i % 31 == 0) ? 1 : 0;
    if (!writer.Add(shape)) return Failed("conference files");
  }
  if (!writer.Close()) return Failed("conference files");
  PrintSummary("large", home, Totals{1, writer.records(), writer.datBlocks()});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  if (args.size() < 2) return Usage("");
  const std::string& command = args[1];
  if (command == "sample") return args.size() == 3 ? Sample(args[2]) : Usage("sample takes <home>");
  if (command == "scenario") return Scenario(args);
  if (command == "random") return Random(args);
  if (command == "large") return Large(args);
  return Usage("unknown command " + command);
}
