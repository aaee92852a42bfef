#include "msgbase/records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/paths.h"

namespace twtrim {
namespace {

const std::string kSep(1, kPathSeparator);

TEST(ConferenceFilePathTest, NamesAndJoins) {
  struct Case {
    std::string dir;
    uint32_t conference;
    std::string extension, expected;
  };
  const Case cases[] = {
      {"C:\\TW\\MESSAGE", 7, "PTR", "C:\\TW\\MESSAGE" + kSep + "TWMSG07.PTR"},
      {"C:\\TW\\MESSAGE\\", 7, "PTR", "C:\\TW\\MESSAGE\\TWMSG07.PTR"},  // no doubled separator
      {"/srv/bbs/MESSAGE/", 7, "PTR", "/srv/bbs/MESSAGE/TWMSG07.PTR"},
      {"MSG", 10, "DAT", "MSG" + kSep + "TWMSG10.DAT"},  // no leading zero from 10 on
      {"MSG", 123, "DAT", "MSG" + kSep + "TWMSG123.DAT"},
      {"MSG", 999, "SIG", "MSG" + kSep + "TWMSG999.SIG"},
      {"", 5, "PTR", "TWMSG05.PTR"},  // an empty directory gives the bare name
  };
  for (const Case& c : cases) {
    std::string path;
    ASSERT_TRUE(ConferenceFilePath(&path, c.dir, c.conference, c.extension)) << c.expected;
    EXPECT_EQ(path, c.expected);
  }
}

// The body and thread fields sit, little-endian, where the other tools of the
// board put them.
TEST(PtrRecordTest, FieldsAreLittleEndianAtTheirOffsets) {
  PtrRecord ptr;
  ptr.setWhere(0x1234);
  ptr.setRecords(0xABCD);
  ptr.setMsgNumber(-5);
  ptr.setOrg(static_cast<int32_t>(0x80000000u));
  const std::vector<uint8_t> fields(ptr.bytes.begin() + 160, ptr.bytes.begin() + 174);
  EXPECT_EQ(fields, (std::vector<uint8_t>{0x34, 0x12, 0xCD, 0xAB, ptr.bytes[164], ptr.bytes[165],
                                          0xFB, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80}));
  EXPECT_EQ(ptr.msgNumber(), -5);
  EXPECT_EQ(ptr.org(), INT32_MIN);
}

TEST(PtrRecordTest, ThreadShapes) {
  struct Case {
    uint8_t tm, ts;
    int32_t org;
    bool root, reply, danger;
  };
  const Case cases[] = {
      {1, 1, 7, true, false, false},   // root
      {1, 0, 3, false, true, false},   // reply
      {1, 0, 7, false, false, true},   // DANGER: a reply to itself
      {0, 1, 7, false, false, false},  // detached
      {1, 1, 3, false, false, false},  // no shape
  };
  for (const Case& c : cases) {
    PtrRecord ptr;
    ptr.setMsgNumber(7);
    ptr.setTM(c.tm);
    ptr.setTS(c.ts);
    ptr.setOrg(c.org);
    EXPECT_EQ(ptr.isRoot(), c.root);
    EXPECT_EQ(ptr.isReply(), c.reply);
    EXPECT_EQ(ptr.isDanger(), c.danger);
  }
}

}  // namespace
}  // namespace twtrim
