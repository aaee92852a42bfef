// The sweeps trust FaultOs to count every call and to fail exactly the one
// asked for without touching the disk; a wrong count or a leaking failure
// would make them pass on a broken program.
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

  bool Append(const std::string& name, const char* bytes) {
    auto file = os_.OpenForAppend(dir_.Path(name));
    return file && file->SeekToEnd() && WriteExact(*file, bytes, 1) && file->Close();
  }
  std::string ReadThrough(const std::string& name) {
    auto file = os_.OpenSharedRead(dir_.Path(name));
    uint64_t size = 0;
    if (!file || !file->Size(&size)) return "<failed>";
    std::string bytes(size, '\0');
    return ReadExact(*file, bytes.data(), static_cast<uint32_t>(size)) ? bytes : "<failed>";
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
};

TEST_F(FaultOsTest, FailedCallNeverReachesTheSystem) {
  struct Case {
    OsCall kind;
    std::function<bool(FaultOs&, TempDir&)> call;  // true when the call succeeded
    std::function<bool(TempDir&)> untouched;
  };
  auto oldKept = [](TempDir& d) { return d.Read("OLD") == "old"; };
  const Case cases[] = {
      {OsCall::kCreateNew,
       [](FaultOs& os, TempDir& d) { return os.CreateNew(d.Path("OLD")) != nullptr; },
       oldKept},
      {OsCall::kCreateNew, [](FaultOs& os, TempDir& d) { return !!os.CreateNew(d.Path("NEW")); },
       [](TempDir& d) { return !d.Exists("NEW"); }},
      {OsCall::kDeleteFile, [](FaultOs& os, TempDir& d) { return os.DeleteFile(d.Path("OLD")); },
       oldKept},
      {OsCall::kReplaceRename,
       [](FaultOs& os, TempDir& d) { return os.ReplaceRename(d.Path("OLD"), d.Path("R")); },
       [](TempDir& d) { return d.Read("OLD") == "old" && !d.Exists("R"); }},
      {OsCall::kCreateDirectory,
       [](FaultOs& os, TempDir& d) { return os.CreateDirectory(d.Path("SUB")); },
       [](TempDir& d) { return !d.Exists("SUB"); }},
      {OsCall::kWrite,
       [](FaultOs& os, TempDir& d) {
         auto file = os.OpenForAppend(d.Path("OLD"));
         return file && file->SeekToEnd() && WriteExact(*file, "more", 4);
       },
       oldKept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(OsCallName(c.kind));
    TempDir dir;
    ASSERT_TRUE(dir.Write("OLD", "old"));
    FaultOs os(*real_);
    os.FailNthCall(c.kind, 1);
    EXPECT_FALSE(c.call(os, dir));
    EXPECT_TRUE(c.untouched(dir));
    ASSERT_EQ(os.log().size(), c.kind == OsCall::kWrite ? 3u : 1u);  // every call counted
    EXPECT_TRUE(os.log().back().failed);
    EXPECT_EQ(os.log().back().kind, c.kind);
  }
}

TEST_F(FaultOsTest, FailsOnlyTheNthCallUnlessPersistent) {
  ASSERT_TRUE(dir_.Write("F", ""));
  os_.FailNthCall(OsCall::kWrite, 2);
  EXPECT_TRUE(Append("F", "x"));
  EXPECT_FALSE(Append("F", "x"));
  EXPECT_TRUE(Append("F", "x"));
  EXPECT_EQ(dir_.Read("F"), "xx");

  // Persistent, like a full disk: every later write fails, on any file, while
  // other kinds of call go on working.
  os_.ClearFaults();
  os_.FailNthCall(OsCall::kWrite, 2, /*persistent=*/true);
  EXPECT_TRUE(Append("F", "x"));
  EXPECT_FALSE(Append("F", "x"));
  EXPECT_FALSE(Append("OTHER", "y"));
  EXPECT_EQ(dir_.Read("F"), "xxx");
  EXPECT_EQ(ReadThrough("F"), "xxx");
}

TEST_F(FaultOsTest, FailPathMatchesWholeComponentsIgnoringCaseAndSlashKind) {
  ASSERT_TRUE(dir_.Write("M/TWMSG05.PTR", "live") && dir_.Write("M/XTWMSG05.PTR", "other"));
  os_.FailPath("m\\twmsg05.ptr");
  EXPECT_EQ(ReadThrough("M/TWMSG05.PTR"), "<failed>");
  EXPECT_EQ(os_.GetPathKind(dir_.Path("M/TWMSG05.PTR")), PathKind::kMissing);
  EXPECT_FALSE(os_.ReplaceRename(dir_.Path("M/XTWMSG05.PTR"), dir_.Path("M/TWMSG05.PTR")));
  EXPECT_EQ(dir_.Read("M/TWMSG05.PTR"), "live");
  EXPECT_EQ(ReadThrough("M/XTWMSG05.PTR"), "other");

  // Narrowed to one kind: the open works, the read on that file fails.
  os_.ClearFaults();
  os_.FailPath(OsCall::kRead, "TWMSG05.PTR");
  auto file = os_.OpenSharedRead(dir_.Path("M/TWMSG05.PTR"));
  ASSERT_NE(file, nullptr);
  char byte;
  EXPECT_FALSE(ReadExact(*file, &byte, 1));
}

// Between two reads of the same file, as between a snapshot and a verify.
TEST_F(FaultOsTest, HookChangesAFileAtTheChosenMoment) {
  ASSERT_TRUE(dir_.Write("CONF.DAT", "before"));
  int firstOnly = 0;
  std::vector<uint64_t> byNumber;
  os_.BeforeCall(OsCall::kOpenSharedRead, "CONF.DAT", [&] { ++firstOnly; });
  os_.BeforeCall(2, [&] { byNumber.push_back(os_.calls()); });
  os_.AddHook({OsCall::kOpenSharedRead, "CONF.DAT", 2},
              [&] { ASSERT_TRUE(WriteWholeFile(dir_.Path("CONF.DAT"), "after!")); });
  EXPECT_EQ(ReadThrough("CONF.DAT"), "before");
  EXPECT_EQ(ReadThrough("CONF.DAT"), "after!");
  EXPECT_EQ(ReadThrough("CONF.DAT"), "after!");
  EXPECT_EQ(firstOnly, 1);
  EXPECT_EQ(byNumber, std::vector<uint64_t>{2});
}

}  // namespace
}  // namespace twtrim
