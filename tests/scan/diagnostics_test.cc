#include "scan/diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "board/board_builder.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim {
namespace {

using test::Lines;

class DiagnosticsTest : public ::testing::Test {
 protected:
  DiagnosticsTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  Lines Printed() {
    bool allCrLf = false;
    Lines lines = test::ReportLines(os_.stdoutText(), &allCrLf);
    EXPECT_TRUE(allCrLf);
    os_.ClearStdout();
    return lines;
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

void SetName(PtrRecord* r, size_t lengthAt, uint8_t length, std::string_view text) {
  r->bytes[lengthAt] = length;
  std::memcpy(&r->bytes[lengthAt + 1], text.data(), text.size());
}

// Msg 42, Where 7, 3 blocks, From Sysop, To All, Subject Hello.
PtrRecord Sample() { return board::MakePtrRecord(board::Root(42, 3), 7); }

// Byte figures come from the counts, in 64 bits.
TEST_F(DiagnosticsTest, ProjectionLinePastFourGiB) {
  WriteProjectionLine(out_, "PTR", 4000000000u, 3999999999u, 256);
  EXPECT_EQ(Printed(), Lines{"    PTR: 4000000000 -> 3999999999 records (1024000000000 -> "
                             "1023999999744 bytes)"});
}

// Numbers are signed, flags show their raw byte, unprintable name bytes show
// as dots, and a length past its field is cut at the field's end: a subject
// runs to the end of the record, showing the bytes it runs over.
TEST_F(DiagnosticsTest, DumpShowsRawFieldsAndCutsNames) {
  PtrRecord r = Sample();
  for (size_t i = PtrRecord::kSubject; i < 256; ++i) r.bytes[i] = 'a' + i % 26;
  r.bytes[PtrRecord::kSubjectLength] = 255;
  SetName(&r, PtrRecord::kFromLength, 12, "Ada\tBrennan\x7F");
  std::string to(60, 't');
  to[0] = '\0';
  SetName(&r, PtrRecord::kToLength, 70, to + "T");  // cut at 61
  r.setMsgNumber(-5);
  r.setOrg(static_cast<int32_t>(0x80000000u));
  r.setTM(200);
  r.setTS(1);
  r.setDeleted(2);
  r.setWhere(65535);
  r.setRecords(65535);
  r.bytes[157] = 'Q';  // an uninterpreted byte shows as itself
  DumpPtrRecord(out_, r, 12, "DANGER");
  std::string subject;
  for (size_t i = PtrRecord::kSubject; i < 256; ++i) {
    subject += r.bytes[i] >= 32 && r.bytes[i] <= 126 ? static_cast<char>(r.bytes[i]) : '.';
  }
  ASSERT_EQ(subject.size(), 144u);
  EXPECT_EQ(subject.substr(155 - 112, 3), "..Q");  // TM=200 and TS=1 as raw bytes
  EXPECT_EQ(Printed(), (Lines{"    DANGER slot 12: Msg=-5 Org=-2147483648 TM=200 TS=1 Deleted=2 "
                              "Where=65535 Records=65535",
                              "      From=Ada.Brennan.  To=." + std::string(59, 't') + "T",
                              "      Subject=" + subject}));
}

// A record cut off after the pass, a failed seek and a short read each
// give the one-line notice instead of a dump.
TEST_F(DiagnosticsTest, DumpSlotRereadsThatSlotOrSaysItCannot) {
  PtrRecord first = Sample();
  PtrRecord second = Sample();
  second.setMsgNumber(77);
  std::string bytes(reinterpret_cast<const char*>(first.bytes.data()), 256);
  bytes.append(reinterpret_cast<const char*>(second.bytes.data()), 256);
  ASSERT_TRUE(dir_.Write("TWMSG01.PTR", bytes));
  std::unique_ptr<OsFile> file = os_.OpenSharedRead(dir_.Path("TWMSG01.PTR"));
  ASSERT_TRUE(file);
  DumpSlot(out_, *file, 2, "ROOT-NO-CHILD");
  DumpSlot(out_, *file, 3, "ORPHAN-REPLY");
  os_.FailNthCall(OsCall::kSeek, 1);
  DumpSlot(out_, *file, 1, "WOULD-CLEAR-DELETED-PARENT");
  os_.ShortNthCall(OsCall::kRead, 1);
  DumpSlot(out_, *file, 1, "WILL-CLEAR-DELETED-PARENT");
  const Lines lines = Printed();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0],
            "    ROOT-NO-CHILD slot 2: Msg=77 Org=42 TM=1 TS=1 Deleted=0 Where=7 Records=3");
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()),
            (Lines{"    ORPHAN-REPLY slot 3: unable to reread PTR identity",
                   "    WOULD-CLEAR-DELETED-PARENT slot 1: unable to reread PTR identity",
                   "    WILL-CLEAR-DELETED-PARENT slot 1: unable to reread PTR identity"}));
}

}  // namespace
}  // namespace twtrim
