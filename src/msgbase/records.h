// On-disk records of one conference: the 256-byte PTR header, the 16-byte
// IDX index entry and the 128-byte DAT body block. All little-endian. Records
// are kept as raw bytes so that every byte the program does not interpret is
// carried through a rebuild untouched.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace twtrim {

inline constexpr uint32_t kPtrRecordSize = 256;
inline constexpr uint32_t kIdxRecordSize = 16;
inline constexpr uint32_t kDatBlockSize = 128;
inline constexpr uint32_t kMaxDatBlocks = 65536;      // every block index fits the 16-bit Where
inline constexpr uint32_t kMaxScanRecords = 2000000;  // scan safety limit
inline constexpr uint32_t kFromLimit = 30;
inline constexpr uint32_t kToLimit = 61;
inline constexpr uint32_t kSubjectLimit = 144;
// Every message-base file stays below 4 GiB: its offsets are 32-bit.
inline constexpr uint64_t kFourGiB = uint64_t{1} << 32;

// Thread shapes, read from TM, TS, Org and the message's own number only.
inline bool IsRootShape(uint8_t tm, uint8_t ts, int32_t org, int32_t msgNumber) {
  return tm == 1 && ts == 1 && org == msgNumber;
}
inline bool IsReplyShape(uint8_t tm, uint8_t ts, int32_t org, int32_t msgNumber) {
  return tm == 1 && ts == 0 && org != msgNumber;
}
// A reply that names itself as its parent.
inline bool IsDangerShape(uint8_t tm, uint8_t ts, int32_t org, int32_t msgNumber) {
  return tm == 1 && ts == 0 && org == msgNumber;
}

struct PtrRecord {
  // Offsets of the interpreted fields; every other byte is opaque.
  static constexpr size_t kFromLength = 18, kFrom = 19;
  static constexpr size_t kToLength = 49, kTo = 50;
  static constexpr size_t kSubjectLength = 111, kSubject = 112;
  static constexpr size_t kTM = 155, kTS = 156, kDeleted = 158;
  static constexpr size_t kWhere = 160, kRecords = 162;
  static constexpr size_t kMsgNumber = 166, kOrg = 170;

  std::array<uint8_t, kPtrRecordSize> bytes{};

  uint8_t fromLength() const { return bytes[kFromLength]; }
  uint8_t toLength() const { return bytes[kToLength]; }
  uint8_t subjectLength() const { return bytes[kSubjectLength]; }
  uint8_t tm() const { return bytes[kTM]; }
  uint8_t ts() const { return bytes[kTS]; }
  uint8_t deleted() const { return bytes[kDeleted]; }
  uint16_t where() const { return Load16(&bytes[kWhere]); }
  uint16_t records() const { return Load16(&bytes[kRecords]); }
  int32_t msgNumber() const { return static_cast<int32_t>(Load32(&bytes[kMsgNumber])); }
  int32_t org() const { return static_cast<int32_t>(Load32(&bytes[kOrg])); }

  void setTM(uint8_t v) { bytes[kTM] = v; }
  void setTS(uint8_t v) { bytes[kTS] = v; }
  void setDeleted(uint8_t v) { bytes[kDeleted] = v; }
  void setWhere(uint16_t v) { Store16(&bytes[kWhere], v); }
  void setRecords(uint16_t v) { Store16(&bytes[kRecords], v); }
  void setMsgNumber(int32_t v) { Store32(&bytes[kMsgNumber], static_cast<uint32_t>(v)); }
  void setOrg(int32_t v) { Store32(&bytes[kOrg], static_cast<uint32_t>(v)); }

  bool isReply() const { return IsReplyShape(tm(), ts(), org(), msgNumber()); }
  bool isDanger() const { return IsDangerShape(tm(), ts(), org(), msgNumber()); }
};

struct IdxRecord {
  static constexpr size_t kFromCrc = 0, kToCrc = 4, kMsgNumber = 8, kOrg = 12;

  std::array<uint8_t, kIdxRecordSize> bytes{};

  uint32_t fromCrc() const { return Load32(&bytes[kFromCrc]); }
  uint32_t toCrc() const { return Load32(&bytes[kToCrc]); }
  int32_t msgNumber() const { return static_cast<int32_t>(Load32(&bytes[kMsgNumber])); }
  int32_t org() const { return static_cast<int32_t>(Load32(&bytes[kOrg])); }

  void setFromCrc(uint32_t v) { Store32(&bytes[kFromCrc], v); }
  void setToCrc(uint32_t v) { Store32(&bytes[kToCrc], v); }
  void setMsgNumber(int32_t v) { Store32(&bytes[kMsgNumber], static_cast<uint32_t>(v)); }
  void setOrg(int32_t v) { Store32(&bytes[kOrg], static_cast<uint32_t>(v)); }
};

// TWMSGnn.<extension> joined to the message directory ("TWMSG05.PTR",
// "TWMSG10.IDX", "TWMSG123.DAT"). False when the path would not fit.
bool ConferenceFilePath(std::string* destination, std::string_view messageDir,
                        uint32_t conference, std::string_view extension);

}  // namespace twtrim
