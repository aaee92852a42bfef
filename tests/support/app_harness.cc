#include "support/app_harness.h"

#include "app/run_sequence.h"
#include "safety/tosser_lock.h"

namespace twtrim::test {

namespace {

// The clock and an idle process list for a run.
void SetScene(FaultOs& os) {
  os.SetNow(kRunTime);
  os.SetProcessNames({"init", "bash", "twtrim_tests"});
}

}  // namespace

RunResult RunWith(FaultOs& os, const std::string& home, const std::vector<std::string>& switches) {
  std::vector<std::string> arguments = {"twtrim32"};
  arguments.insert(arguments.end(), switches.begin(), switches.end());
  arguments.push_back("/HOME=" + home);
  os.ClearStdout();
  RunResult run;
  try {
    run.exitCode = RunProgram(os, arguments);
  } catch (const SimulatedCrash&) {
    // The lock's state is process-wide and a dead process loses it. Every
    // call fails now, so forgetting it leaves the lock file behind.
    run.crashed = true;
    ReleaseSharedTosserLock();
    ConsoleControlHandler();
    ReleaseSharedTosserLock();
  }
  run.lines = ReportLines(os.stdoutText(), &run.allCrLf);
  run.log = os.log();
  return run;
}

RunResult RunInProcess(Os& os, const std::string& home, const std::vector<std::string>& switches,
                       const std::function<void(FaultOs&)>& arm) {
  FaultOs fault(os);
  SetScene(fault);
  if (arm) arm(fault);
  return RunWith(fault, home, switches);
}

void CrashAtCall(FaultOs& os, uint64_t n) {
  os.AddHook({std::nullopt, "", n}, [&os] {
    os.AddFault({{std::nullopt, "", 0}, FaultEffect::kFail, false});
    throw SimulatedCrash{};
  });
}

AppHarness::AppHarness(const std::vector<std::string>& names) : home_(dir_.Path("BBS")) {
  real_ = CreateSystemOs(0, nullptr);
  os_ = std::make_unique<FaultOs>(*real_);
  SetScene(*os_);
  board::Board board;
  if (!board::CreateBoard(home_, names, &board)) {
    ADD_FAILURE() << "cannot create the board in " << home_;
  }
}

AppHarness::~AppHarness() = default;

bool AppHarness::AddConference(uint32_t conference, const board::ConferenceFiles& files) {
  return board::WriteConference(HomePath("MESSAGE"), conference, files);
}

bool AppHarness::SetCallers(const std::vector<std::pair<uint32_t, board::CallerSlot>>& active) {
  return board::WriteCallerTable(home_, active);
}

std::string AppHarness::ReadFile(const std::string& path) const {
  std::string bytes;
  ReadWholeFile(path, &bytes);
  return bytes;
}

bool AppHarness::Exists(const std::string& path) const {
  return real_->GetPathKind(path) != PathKind::kMissing;
}

ConferenceBytes ReadConference(const AppHarness& harness, uint32_t conference) {
  const std::string dir = harness.HomePath("MESSAGE");
  return {harness.ReadFile(board::ConferencePath(dir, conference, "PTR")),
          harness.ReadFile(board::ConferencePath(dir, conference, "IDX")),
          harness.ReadFile(board::ConferencePath(dir, conference, "DAT"))};
}

ConferenceBytes ToBytes(const board::ConferenceFiles& files) {
  const std::vector<uint8_t> ptr = files.PtrBytes(), idx = files.IdxBytes();
  return {std::string(ptr.begin(), ptr.end()), std::string(idx.begin(), idx.end()),
          std::string(files.dat.begin(), files.dat.end())};
}

board::ConferenceFiles MakeConference(const std::vector<board::MessageShape>& shapes,
                                      uint32_t unreferencedBlocks) {
  board::ConferenceBuilder builder;
  for (const board::MessageShape& shape : shapes) builder.Add(shape);
  builder.AddUnreferencedBlocks(unreferencedBlocks);
  return builder.files();
}

board::MessageShape ShapeAt(board::MessageShape shape, uint16_t where) {
  shape.where = where;
  return shape;
}

void BeforeCheckpoint(AppHarness& harness, uint64_t nth, std::function<void()> action) {
  harness.os().AddHook({OsCall::kOpenSharedRead, "WORK/TWWHOSON.DAT", nth}, std::move(action));
}

void FlipByte(const std::string& path, size_t offset) {
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path, &bytes));
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
  ASSERT_TRUE(WriteWholeFile(path, bytes));
}

}  // namespace twtrim::test
