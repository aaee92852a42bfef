#include "board/board_builder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "msgbase/name_crc.h"

namespace twtrim::board {
namespace {

constexpr uint32_t kConfigNameLength = 3, kConfigName = 4, kConfigNameMax = 64;

// Filler for the bytes the program never interprets: different for every
// message and every offset, so a moved or lost byte shows in a comparison.
uint8_t FillerByte(int32_t msgNumber, size_t offset) {
  const uint32_t m = static_cast<uint32_t>(msgNumber);
  return static_cast<uint8_t>(offset * 37u + m * 11u + (m >> 8) * 5u + 0x5Du);
}

// Writes a length byte and as many characters as fit the field.
void PutName(PtrRecord* ptr, size_t lengthOffset, size_t fieldWidth, const std::string& name) {
  ptr->bytes[lengthOffset] = static_cast<uint8_t>(std::min<size_t>(name.size(), 255));
  const size_t n = std::min(name.size(), fieldWidth);
  std::copy_n(name.begin(), n, ptr->bytes.begin() + static_cast<std::ptrdiff_t>(lengthOffset + 1));
}

uint32_t FieldCrc(const PtrRecord& ptr, size_t offset, uint8_t length, uint32_t limit) {
  return NameCrc(&ptr.bytes[offset], std::min<uint32_t>(length, limit));
}

uint32_t ShapeCrc(uint32_t crc, bool complement, bool wrong) {
  if (wrong) return WrongCrc(crc);
  return complement ? ~crc : crc;
}

}  // namespace

MessageShape Root(int32_t number, uint16_t blocks) {
  MessageShape shape;
  shape.msgNumber = number;
  shape.org = number;
  shape.tm = 1;
  shape.ts = 1;
  shape.blocks = blocks;
  return shape;
}

MessageShape Reply(int32_t number, int32_t parent, uint16_t blocks) {
  MessageShape shape = Root(number, blocks);
  shape.org = parent;
  shape.ts = 0;
  shape.subject = "Re: Hello";
  return shape;
}

MessageShape Danger(int32_t number, uint16_t blocks) {
  MessageShape shape = Root(number, blocks);
  shape.ts = 0;
  return shape;
}

MessageShape Deleted(MessageShape shape) {
  shape.deleted = 1;
  return shape;
}

MessageShape Bodyless(MessageShape shape) {
  shape.blocks = 0;
  return shape;
}

std::vector<uint8_t> ConferenceFiles::PtrBytes() const {
  std::vector<uint8_t> bytes;
  bytes.reserve(ptr.size() * kPtrRecordSize);
  for (const PtrRecord& r : ptr) bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
  return bytes;
}

std::vector<uint8_t> ConferenceFiles::IdxBytes() const {
  std::vector<uint8_t> bytes;
  bytes.reserve(idx.size() * kIdxRecordSize);
  for (const IdxRecord& r : idx) bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
  return bytes;
}

PtrRecord MakePtrRecord(const MessageShape& shape, uint16_t where) {
  PtrRecord ptr;
  for (size_t i = 0; i < kPtrRecordSize; ++i) ptr.bytes[i] = FillerByte(shape.msgNumber, i);
  PutName(&ptr, PtrRecord::kFromLength, kFromLimit, shape.from);
  PutName(&ptr, PtrRecord::kToLength, kToLimit, shape.to);
  PutName(&ptr, PtrRecord::kSubjectLength, kSubjectLimit, shape.subject);
  // The interpreted fields go last: a Subject over 43 characters lies under
  // them, as it does in a real record.
  ptr.setTM(shape.tm);
  ptr.setTS(shape.ts);
  ptr.setDeleted(shape.deleted);
  ptr.setWhere(where);
  ptr.setRecords(shape.blocks);
  ptr.setMsgNumber(shape.msgNumber);
  ptr.setOrg(shape.org);
  return ptr;
}

IdxRecord MakeIdxRecord(const MessageShape& shape, const PtrRecord& ptr) {
  IdxRecord idx;
  const uint32_t from = FieldCrc(ptr, PtrRecord::kFrom, ptr.fromLength(), kFromLimit);
  const uint32_t to = FieldCrc(ptr, PtrRecord::kTo, ptr.toLength(), kToLimit);
  idx.setFromCrc(ShapeCrc(from, shape.complementFromCrc, shape.wrongFromCrc));
  idx.setToCrc(ShapeCrc(to, shape.complementToCrc, shape.wrongToCrc));
  idx.setMsgNumber(shape.staleIdx ? StaleMsgNumber(ptr.msgNumber()) : ptr.msgNumber());
  idx.setOrg(ptr.org());
  return idx;
}

std::vector<uint8_t> BlockPattern(uint32_t index) {
  std::vector<uint8_t> block(kDatBlockSize);
  Store32(block.data(), index);
  for (uint32_t j = 4; j < kDatBlockSize; ++j) {
    block[j] = static_cast<uint8_t>(index * 7u + (index >> 8) * 3u + j * 13u + 0xA5u);
  }
  return block;
}

size_t ConferenceBuilder::Add(const MessageShape& shape) {
  uint32_t where = shape.where ? *shape.where : files_.datBlocks();
  if (!shape.where) {
    for (uint32_t i = 0; i < shape.blocks; ++i) {
      const std::vector<uint8_t> block = BlockPattern(files_.datBlocks());
      files_.dat.insert(files_.dat.end(), block.begin(), block.end());
    }
  }
  // A fresh body at block 65,536 cannot be addressed; tests that go there
  // set Where themselves.
  const PtrRecord ptr = MakePtrRecord(shape, static_cast<uint16_t>(where));
  files_.ptr.push_back(ptr);
  files_.idx.push_back(MakeIdxRecord(shape, ptr));
  return files_.ptr.size() - 1;
}

void ConferenceBuilder::AddUnreferencedBlocks(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const std::vector<uint8_t> block = BlockPattern(files_.datBlocks());
    files_.dat.insert(files_.dat.end(), block.begin(), block.end());
  }
}

std::string ConferenceFileName(uint32_t conference, const std::string& extension) {
  std::string number = std::to_string(conference);
  if (conference < 10) number = "0" + number;
  return "TWMSG" + number + "." + extension;
}

std::string ConferencePath(const std::string& messageDir, uint32_t conference,
                           const std::string& extension) {
  return messageDir + "/" + ConferenceFileName(conference, extension);
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

bool MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error && std::filesystem::is_directory(path, error);
}

bool WriteConference(const std::string& messageDir, uint32_t conference,
                     const ConferenceFiles& files) {
  return WriteFileBytes(ConferencePath(messageDir, conference, "PTR"), files.PtrBytes()) &&
         WriteFileBytes(ConferencePath(messageDir, conference, "IDX"), files.IdxBytes()) &&
         WriteFileBytes(ConferencePath(messageDir, conference, "DAT"), files.dat);
}

std::vector<uint8_t> ConferenceConfigBytes(const std::vector<std::string>& names) {
  std::vector<uint8_t> bytes(names.size() * 128);
  for (size_t i = 0; i < names.size(); ++i) {
    uint8_t* record = &bytes[i * 128];
    // Ignored bytes get a recognisable non-zero filler.
    for (size_t j = 0; j < 128; ++j) record[j] = static_cast<uint8_t>(0xC0 + (i + j) % 32);
    record[kConfigNameLength] = static_cast<uint8_t>(std::min<size_t>(names[i].size(), 255));
    const size_t n = std::min<size_t>(names[i].size(), kConfigNameMax);
    std::copy_n(names[i].begin(), n, record + kConfigName);
  }
  return bytes;
}

bool WriteConferenceConfig(const std::string& homeDir, const std::vector<std::string>& names) {
  return WriteFileBytes(homeDir + "/TWMCONF.DAT", ConferenceConfigBytes(names));
}

std::vector<uint8_t> CallerTableBytes(const std::vector<std::pair<uint32_t, CallerSlot>>& active,
                                      uint32_t size) {
  std::vector<uint8_t> bytes(size, 0);
  auto put = [&bytes](uint32_t slot, const CallerSlot& caller) {
    const size_t offset = (static_cast<size_t>(slot) - 1) * 6;
    if (slot == 0 || offset + 6 > bytes.size()) return;
    Store16(&bytes[offset], caller.userNo);
    bytes[offset + 2] = caller.status;
  };
  for (uint32_t slot = 1; slot <= size / 6; ++slot) put(slot, CallerSlot{});
  for (const auto& [slot, caller] : active) put(slot, caller);
  return bytes;
}

bool WriteCallerTable(const std::string& homeDir,
                      const std::vector<std::pair<uint32_t, CallerSlot>>& active, uint32_t size) {
  return MakeDirectories(homeDir + "/WORK") &&
         WriteFileBytes(homeDir + "/WORK/TWWHOSON.DAT", CallerTableBytes(active, size));
}

bool CreateBoard(const std::string& home, const std::vector<std::string>& names, Board* board) {
  board->home = home;
  if (!MakeDirectories(home) || !MakeDirectories(board->messageDir())) return false;
  if (!WriteCallerTable(home)) return false;
  return names.empty() || WriteConferenceConfig(home, names);
}

// --- streaming writer --------------------------------------------------------

ConferenceStreamWriter::~ConferenceStreamWriter() { Close(); }

bool ConferenceStreamWriter::Open(const std::string& messageDir, uint32_t conference) {
  Close();
  ok_ = true;
  records_ = 0;
  datBlocks_ = 0;
  ptr_ = std::fopen(ConferencePath(messageDir, conference, "PTR").c_str(), "wb");
  idx_ = std::fopen(ConferencePath(messageDir, conference, "IDX").c_str(), "wb");
  dat_ = std::fopen(ConferencePath(messageDir, conference, "DAT").c_str(), "wb");
  if (ptr_ == nullptr || idx_ == nullptr || dat_ == nullptr) {
    ok_ = false;
    Close();
    return false;
  }
  std::setvbuf(ptr_, nullptr, _IOFBF, 1 << 20);
  std::setvbuf(dat_, nullptr, _IOFBF, 1 << 18);
  return true;
}

bool ConferenceStreamWriter::Add(const MessageShape& shape) {
  if (ptr_ == nullptr) return false;
  const uint32_t where = shape.where ? *shape.where : datBlocks_;
  if (!shape.where) {
    for (uint32_t i = 0; i < shape.blocks; ++i) {
      const std::vector<uint8_t> block = BlockPattern(datBlocks_++);
      ok_ = ok_ && std::fwrite(block.data(), 1, block.size(), dat_) == block.size();
    }
  }
  const PtrRecord ptr = MakePtrRecord(shape, static_cast<uint16_t>(where));
  const IdxRecord idx = MakeIdxRecord(shape, ptr);
  ok_ = ok_ && std::fwrite(ptr.bytes.data(), 1, ptr.bytes.size(), ptr_) == ptr.bytes.size();
  ok_ = ok_ && std::fwrite(idx.bytes.data(), 1, idx.bytes.size(), idx_) == idx.bytes.size();
  ++records_;
  return ok_;
}

bool ConferenceStreamWriter::Close() {
  for (std::FILE** file : {&ptr_, &idx_, &dat_}) {
    if (*file != nullptr) {
      ok_ = std::fclose(*file) == 0 && ok_;
      *file = nullptr;
    }
  }
  return ok_;
}

}  // namespace twtrim::board
