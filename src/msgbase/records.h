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

namespace twtrim {

inline constexpr uint32_t kPtrRecordSize = 256;
inline constexpr uint32_t kIdxRecordSize = 16;
inline constexpr uint32_t kDatBlockSize = 128;
inline constexpr uint32_t kMaxDatBlocks = 65536;      // every block index fits the 16-bit Where
inline constexpr uint32_t kMaxScanRecords = 2000000;  // scan safety limit
inline constexpr uint32_t kFromLimit = 30;
inline constexpr uint32_t kToLimit = 61;
inline constexpr uint32_t kSubjectLimit = 144;

namespace detail {
inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace detail

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
  uint16_t where() const { return detail::Load16(&bytes[kWhere]); }
  uint16_t records() const { return detail::Load16(&bytes[kRecords]); }
  int32_t msgNumber() const { return static_cast<int32_t>(detail::Load32(&bytes[kMsgNumber])); }
  int32_t org() const { return static_cast<int32_t>(detail::Load32(&bytes[kOrg])); }

  void setTM(uint8_t v) { bytes[kTM] = v; }
  void setTS(uint8_t v) { bytes[kTS] = v; }
  void setDeleted(uint8_t v) { bytes[kDeleted] = v; }
  void setWhere(uint16_t v) { detail::Store16(&bytes[kWhere], v); }
  void setRecords(uint16_t v) { detail::Store16(&bytes[kRecords], v); }
  void setMsgNumber(int32_t v) { detail::Store32(&bytes[kMsgNumber], static_cast<uint32_t>(v)); }
  void setOrg(int32_t v) { detail::Store32(&bytes[kOrg], static_cast<uint32_t>(v)); }

  // Thread shapes, read from TM, TS and Org only.
  bool isRoot() const { return tm() == 1 && ts() == 1 && org() == msgNumber(); }
  bool isReply() const { return tm() == 1 && ts() == 0 && org() != msgNumber(); }
  bool isDanger() const { return tm() == 1 && ts() == 0 && org() == msgNumber(); }
  bool isLive() const { return deleted() == 0; }
};

struct IdxRecord {
  static constexpr size_t kFromCrc = 0, kToCrc = 4, kMsgNumber = 8, kOrg = 12;

  std::array<uint8_t, kIdxRecordSize> bytes{};

  uint32_t fromCrc() const { return detail::Load32(&bytes[kFromCrc]); }
  uint32_t toCrc() const { return detail::Load32(&bytes[kToCrc]); }
  int32_t msgNumber() const { return static_cast<int32_t>(detail::Load32(&bytes[kMsgNumber])); }
  int32_t org() const { return static_cast<int32_t>(detail::Load32(&bytes[kOrg])); }

  void setFromCrc(uint32_t v) { detail::Store32(&bytes[kFromCrc], v); }
  void setToCrc(uint32_t v) { detail::Store32(&bytes[kToCrc], v); }
  void setMsgNumber(int32_t v) { detail::Store32(&bytes[kMsgNumber], static_cast<uint32_t>(v)); }
  void setOrg(int32_t v) { detail::Store32(&bytes[kOrg], static_cast<uint32_t>(v)); }
};

// TWMSGnn.<extension> joined to the message directory ("TWMSG05.PTR",
// "TWMSG10.IDX", "TWMSG123.DAT"). False when the path would not fit.
bool ConferenceFilePath(std::string* destination, std::string_view messageDir,
                        uint32_t conference, std::string_view extension);

}  // namespace twtrim
