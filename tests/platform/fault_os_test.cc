#include "support/fault_os.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

class FaultOsTest : public ::testing::Test {
 protected:
  FaultOsTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_) {}

  // Writes `bytes` into a new file through the FaultOs.
  bool WriteThrough(const std::string& path, const std::string& bytes) {
    std::unique_ptr<OsFile> file = os_.CreateExclusive(path);
    if (!file) return false;
    bool written = WriteExact(*file, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return file->Close() && written;
  }
  // Reads the whole file through the FaultOs; false on any failure.
  bool ReadThrough(const std::string& path, std::string* bytes) {
    std::unique_ptr<OsFile> file = os_.OpenSharedRead(path);
    uint64_t size = 0;
    if (!file || !file->Size(&size)) return false;
    bytes->assign(size, '\0');
    return ReadExact(*file, bytes->data(), static_cast<uint32_t>(size));
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
};

TEST_F(FaultOsTest, CountsEveryCallByKindWithItsPath) {
  const std::string a = dir_.Path("A.DAT");
  ASSERT_TRUE(WriteThrough(a, "hello"));  // CreateExclusive, Write, Close
  std::string bytes;
  ASSERT_TRUE(ReadThrough(a, &bytes));  // OpenSharedRead, Size, Read
  EXPECT_EQ(os_.GetPathKind(a), PathKind::kFile);
  EXPECT_TRUE(os_.ReplaceRename(a, dir_.Path("B.DAT")));

  EXPECT_EQ(os_.calls(), 8u);
  EXPECT_EQ(os_.calls(OsCall::kWrite), 1u);
  EXPECT_EQ(os_.calls(OsCall::kRead), 1u);
  EXPECT_EQ(os_.calls(OsCall::kClose), 1u);  // the reader closed by destruction: uncounted
  EXPECT_EQ(os_.calls(OsCall::kFlush), 0u);

  const std::vector<CallRecord>& log = os_.log();
  ASSERT_EQ(log.size(), 8u);
  const OsCall expected[] = {OsCall::kCreateExclusive, OsCall::kWrite,        OsCall::kClose,
                             OsCall::kOpenSharedRead,  OsCall::kSize,         OsCall::kRead,
                             OsCall::kGetPathKind,     OsCall::kReplaceRename};
  for (size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].index, i + 1);
    EXPECT_EQ(log[i].kind, expected[i]) << OsCallName(log[i].kind);
    EXPECT_EQ(log[i].path, a);  // file methods carry the path they were opened with
    EXPECT_FALSE(log[i].failed);
  }
  EXPECT_EQ(log[7].otherPath, dir_.Path("B.DAT"));

  os_.ResetCounts();
  EXPECT_EQ(os_.calls(), 0u);
  EXPECT_TRUE(os_.log().empty());
}

// Each kind of call, failed by rule, reports failure and leaves the disk as
// it was: the real system never saw the call.
TEST_F(FaultOsTest, FailedCallNeverReachesTheSystem) {
  struct Case {
    const char* name;
    OsCall kind;
    std::function<bool(FaultOs&, TempDir&)> call;  // true when the call succeeded
    std::function<bool(TempDir&)> untouched;
  };
  const Case cases[] = {
      {"create-exclusive does not truncate", OsCall::kCreateExclusive,
       [](FaultOs& os, TempDir& d) { return os.CreateExclusive(d.Path("OLD")) != nullptr; },
       [](TempDir& d) { return d.Read("OLD") == "old"; }},
      {"create-new does not create", OsCall::kCreateNew,
       [](FaultOs& os, TempDir& d) { return os.CreateNew(d.Path("NEW")) != nullptr; },
       [](TempDir& d) { return !d.Exists("NEW"); }},
      {"append-open does not create", OsCall::kOpenForAppend,
       [](FaultOs& os, TempDir& d) { return os.OpenForAppend(d.Path("LOG")) != nullptr; },
       [](TempDir& d) { return !d.Exists("LOG"); }},
      {"delete does not delete", OsCall::kDeleteFile,
       [](FaultOs& os, TempDir& d) { return os.DeleteFile(d.Path("OLD")); },
       [](TempDir& d) { return d.Read("OLD") == "old"; }},
      {"rename does not rename", OsCall::kReplaceRename,
       [](FaultOs& os, TempDir& d) { return os.ReplaceRename(d.Path("OLD"), d.Path("R")); },
       [](TempDir& d) { return d.Read("OLD") == "old" && !d.Exists("R"); }},
      {"mkdir does not create", OsCall::kCreateDirectory,
       [](FaultOs& os, TempDir& d) { return os.CreateDirectory(d.Path("SUB")); },
       [](TempDir& d) { return !d.Exists("SUB"); }},
      {"write writes nothing", OsCall::kWrite,
       [](FaultOs& os, TempDir& d) {
         auto file = os.OpenForAppend(d.Path("OLD"));
         return file && file->SeekToEnd() && WriteExact(*file, "more", 4);
       },
       [](TempDir& d) { return d.Read("OLD") == "old"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_TRUE(dir.Write("OLD", "old"));
    FaultOs os(*real_);
    os.FailNthCall(c.kind, 1);
    EXPECT_FALSE(c.call(os, dir));
    EXPECT_TRUE(c.untouched(dir));
    ASSERT_FALSE(os.log().empty());
    EXPECT_TRUE(os.log().back().failed);
  }
}

TEST_F(FaultOsTest, FailsOnlyTheNthCallUnlessPersistent) {
  const std::string path = dir_.Path("F");
  ASSERT_TRUE(dir_.Write("F", ""));
  auto appendOnce = [&] {
    auto file = os_.OpenForAppend(path);
    return file && file->SeekToEnd() && WriteExact(*file, "x", 1);
  };
  os_.FailNthCall(OsCall::kWrite, 2);
  EXPECT_TRUE(appendOnce());
  EXPECT_FALSE(appendOnce());
  EXPECT_TRUE(appendOnce());
  EXPECT_EQ(dir_.Read("F"), "xx");

  // Counting all kinds: an append is open, seek, write, so call 3 is the write.
  os_.ClearFaults();
  os_.ResetCounts();
  os_.FailNthCall(3);
  EXPECT_FALSE(appendOnce());
  EXPECT_EQ(os_.log()[2].kind, OsCall::kWrite);
  EXPECT_TRUE(os_.log()[2].failed);

  // Persistent, like a full disk: that write and every later write fail,
  // while other kinds of call go on working.
  os_.ClearFaults();
  os_.FailNthCall(OsCall::kWrite, 2, /*persistent=*/true);
  EXPECT_TRUE(appendOnce());
  EXPECT_FALSE(appendOnce());
  EXPECT_FALSE(appendOnce());
  EXPECT_FALSE(WriteThrough(dir_.Path("OTHER"), "y"));
  EXPECT_EQ(dir_.Read("F"), "xxx");
  std::string bytes;
  EXPECT_TRUE(ReadThrough(path, &bytes));
}

TEST_F(FaultOsTest, FailPathMatchesWholeComponentsIgnoringCaseAndSlashKind) {
  ASSERT_TRUE(dir_.Write("MESSAGE/TWMSG05.PTR", "p"));
  ASSERT_TRUE(dir_.Write("MESSAGE/XTWMSG05.PTR", "x"));
  ASSERT_TRUE(dir_.Write("MESSAGE/TWMSG05.PTR.NEW", "n"));
  os_.FailPath("message\\twmsg05.ptr");

  std::string bytes;
  EXPECT_FALSE(ReadThrough(dir_.Path("MESSAGE/TWMSG05.PTR"), &bytes));
  EXPECT_EQ(os_.GetPathKind(dir_.Path("MESSAGE/TWMSG05.PTR")), PathKind::kMissing);
  EXPECT_FALSE(
      os_.ReplaceRename(dir_.Path("MESSAGE/TWMSG05.PTR.NEW"), dir_.Path("MESSAGE/TWMSG05.PTR")));
  EXPECT_TRUE(ReadThrough(dir_.Path("MESSAGE/XTWMSG05.PTR"), &bytes));
  EXPECT_TRUE(ReadThrough(dir_.Path("MESSAGE/TWMSG05.PTR.NEW"), &bytes));
  EXPECT_EQ(dir_.Read("MESSAGE/TWMSG05.PTR"), "p");

  // Narrowed to one kind: the open works, the read on that file fails.
  os_.ClearFaults();
  os_.FailPath(OsCall::kRead, "TWMSG05.PTR");
  auto file = os_.OpenSharedRead(dir_.Path("MESSAGE/TWMSG05.PTR"));
  ASSERT_NE(file, nullptr);
  char byte;
  EXPECT_FALSE(ReadExact(*file, &byte, 1));
}

TEST_F(FaultOsTest, ShortReadsAndWritesMoveHalfTheBytes) {
  ASSERT_TRUE(dir_.Write("DATA", "0123456789"));
  os_.ShortNthCall(OsCall::kRead, 1);
  auto reader = os_.OpenSharedRead(dir_.Path("DATA"));
  ASSERT_NE(reader, nullptr);
  char buffer[10];
  uint32_t got = 0;
  EXPECT_TRUE(reader->Read(buffer, 10, &got));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buffer, got), "01234");
  EXPECT_TRUE(reader->Read(buffer, 10, &got));  // only the first read was shortened
  EXPECT_EQ(std::string(buffer, got), "56789");

  os_.ShortNthCall(OsCall::kWrite, 1);
  auto writer = os_.CreateExclusive(dir_.Path("OUT"));
  ASSERT_NE(writer, nullptr);
  uint32_t put = 0;
  EXPECT_TRUE(writer->Write("abcdefgh", 8, &put));
  EXPECT_EQ(put, 4u);
  EXPECT_TRUE(writer->Close());
  EXPECT_EQ(dir_.Read("OUT"), "abcd");
}

TEST_F(FaultOsTest, HookChangesAFileAtTheChosenMoment) {
  ASSERT_TRUE(dir_.Write("CONF.DAT", "before"));
  int runs = 0;
  // Between two reads of the same file, as between a snapshot and a verify.
  os_.BeforeCall(OsCall::kOpenSharedRead, "CONF.DAT", [&] { ++runs; });
  os_.AddHook({OsCall::kOpenSharedRead, "CONF.DAT", 2},
              [&] { ASSERT_TRUE(WriteWholeFile(dir_.Path("CONF.DAT"), "after!")); });
  std::string first, second, third;
  ASSERT_TRUE(ReadThrough(dir_.Path("CONF.DAT"), &first));
  ASSERT_TRUE(ReadThrough(dir_.Path("CONF.DAT"), &second));
  ASSERT_TRUE(ReadThrough(dir_.Path("CONF.DAT"), &third));
  EXPECT_EQ(first, "before");
  EXPECT_EQ(second, "after!");
  EXPECT_EQ(runs, 1);  // BeforeCall by kind and path runs at the first match only

  // By overall call number.
  std::vector<uint64_t> seen;
  os_.ClearHooks();
  os_.ResetCounts();
  os_.BeforeCall(2, [&] { seen.push_back(os_.calls()); });
  ASSERT_TRUE(ReadThrough(dir_.Path("CONF.DAT"), &first));
  EXPECT_EQ(seen, std::vector<uint64_t>{2});
}

TEST_F(FaultOsTest, CapturesStandardOutput) {
  os_.WriteStdout("line\r\n", 6);
  os_.WriteStdout("more", 4);
  EXPECT_EQ(os_.stdoutText(), "line\r\nmore");
  os_.ClearStdout();
  EXPECT_EQ(os_.stdoutText(), "");
  EXPECT_EQ(os_.calls(), 0u);  // output is not a counted call
}

TEST_F(FaultOsTest, OverridesStandInForTheSystem) {
  std::vector<std::string> names;
  os_.SetProcessNames({"init", "VIZIZE32.EXE"});
  ASSERT_TRUE(os_.ListProcessNames(&names));
  EXPECT_EQ(names, (std::vector<std::string>{"init", "VIZIZE32.EXE"}));
  os_.FailProcessList();
  EXPECT_FALSE(os_.ListProcessNames(&names));
  EXPECT_TRUE(names.empty());

  os_.SetNow({2026, 1, 9, 7, 5, 3});
  LocalTime now = os_.Now();
  EXPECT_EQ(now.year * 10000 + now.month * 100 + now.day, 20260109);
  EXPECT_EQ(now.hour * 10000 + now.minute * 100 + now.second, 70503);

  std::string cwd;
  os_.SetCurrentDirectory("C:\\TW");
  ASSERT_TRUE(os_.CurrentDirectory(&cwd));
  EXPECT_EQ(cwd, "C:\\TW");
  os_.FailCurrentDirectory();
  EXPECT_FALSE(os_.CurrentDirectory(&cwd));

  os_.SetArguments({"TWTRIM32", "/ALL", "/DRYRUN"});
  EXPECT_EQ(os_.CommandLineArguments().size(), 3u);

  // A process-list rule fails the overridden list as well.
  os_.SetProcessNames({"init"});
  os_.FailNthCall(OsCall::kListProcessNames, 1);
  EXPECT_FALSE(os_.ListProcessNames(&names));
  EXPECT_TRUE(os_.ListProcessNames(&names));
}

TEST_F(FaultOsTest, ConsoleIsScriptedAndNeverTheRealOne) {
  int rows = 0, columns = 0;
  EXPECT_FALSE(os_.IsInteractiveConsole());
  EXPECT_FALSE(os_.ConsoleSize(&rows, &columns));
  KeyEvent key;
  EXPECT_FALSE(os_.ReadKeyEvent(&key));  // empty queue: the read fails, never blocks

  os_.SetInteractive(true);
  os_.SetConsoleSize(25, 80);
  ASSERT_TRUE(os_.ConsoleSize(&rows, &columns));
  EXPECT_EQ(rows, 25);
  EXPECT_EQ(columns, 80);
  os_.QueueKeys({{true, 16, 0}, {true, 'Q', 'q'}});
  ASSERT_TRUE(os_.ReadKeyEvent(&key));
  EXPECT_EQ(key.virtualKey, 16);
  ASSERT_TRUE(os_.ReadKeyEvent(&key));
  EXPECT_EQ(key.character, 'q');
  EXPECT_FALSE(os_.ReadKeyEvent(&key));
  EXPECT_EQ(os_.keyReads(), 4u);
  os_.FailConsoleSize();
  EXPECT_FALSE(os_.ConsoleSize(&rows, &columns));
}

int g_handlerRuns = 0;
void CountingHandler() { ++g_handlerRuns; }

TEST_F(FaultOsTest, RecordsTheControlHandlerForTheTestToInvoke) {
  EXPECT_FALSE(os_.InvokeControlHandler());
  g_handlerRuns = 0;
  os_.InstallControlHandler(CountingHandler);
  EXPECT_EQ(os_.controlHandler(), &CountingHandler);
  EXPECT_TRUE(os_.InvokeControlHandler());
  EXPECT_EQ(g_handlerRuns, 1);
}

TEST_F(FaultOsTest, FileOutlivingTheFaultOsStaysUsable) {
  std::unique_ptr<OsFile> file;
  {
    FaultOs os(*real_);
    file = os.CreateExclusive(dir_.Path("LATE"));
    ASSERT_NE(file, nullptr);
  }
  EXPECT_TRUE(WriteExact(*file, "ok", 2));
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(dir_.Read("LATE"), "ok");
}

}  // namespace
}  // namespace twtrim
