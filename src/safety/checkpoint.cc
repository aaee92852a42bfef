#include "safety/checkpoint.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/bytes.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "report/format.h"
#include "safety/tosser_lock.h"

namespace twtrim {
namespace {

constexpr uint32_t kCallerSlots = 255;
constexpr uint32_t kCallerSlotSize = 6;
constexpr uint32_t kCallerBytes = kCallerSlots * kCallerSlotSize;  // 1530
constexpr uint64_t kLiveCallerFileSize = 1536;                     // 256 records
constexpr uint16_t kNoUser = 0xFFFF;
constexpr uint8_t kActiveInMessages = 'M';

std::string StatusText(uint8_t status) {
  if (IsPrintableAscii(status)) return std::string(1, static_cast<char>(status));
  return std::string("0x") + Hex32(status);
}

// Reads the 1530 examined bytes of the caller table into `table`, reporting
// every reason it cannot. `*size` is the file's size.
bool ReadCallerTable(Os& os, ReportOutput& out, const std::string& homeDir, uint8_t* table,
                     uint64_t* size) {
  std::string work, path;
  if (!JoinPath(&work, homeDir, "WORK") || !JoinPath(&path, work, "TWWHOSON.DAT")) {
    out.Line("SAFETY ERROR: TWWHOSON.DAT path is too long.");
    return false;
  }
  if (os.GetPathKind(path) != PathKind::kFile) {
    out.Line("SAFETY ERROR: cannot verify callers because TWWHOSON.DAT is missing: " + path);
    out.Line("Expected location: <Tarnwick home>\\WORK\\TWWHOSON.DAT");
    out.Line("Use /HOME= to point TWTRIM32 at the real Tarnwick home directory.");
    return false;
  }
  std::unique_ptr<OsFile> file = os.OpenSharedRead(path);
  if (!file || !file->Size(size)) {
    out.Line("SAFETY ERROR: cannot open/read TWWHOSON.DAT.");
    return false;
  }
  if (*size != kCallerBytes && *size != kLiveCallerFileSize) {
    file->Close();
    out.Line("SAFETY ERROR: unsupported TWWHOSON.DAT size: " + Decimal(*size) + " bytes.");
    out.Line("Expected 1530 bytes (255 slots) or 1536 bytes (live 256-record file).");
    return false;
  }
  const bool read = file->Seek(0) && ReadExact(*file, table, kCallerBytes);
  file->Close();
  if (!read) {
    out.Line("SAFETY ERROR: unable to read the first 1530 bytes of TWWHOSON.DAT.");
    return false;
  }
  return true;
}

bool CheckCallers(Os& os, ReportOutput& out, const std::string& homeDir, std::string_view label) {
  std::vector<uint8_t> table(kCallerBytes);
  uint64_t size = 0;
  if (!ReadCallerTable(os, out, homeDir, table.data(), &size)) return false;
  const std::string tag = std::string("[").append(label).append("]: ");
  if (out.verbose()) {
    out.Line("Caller-status format " + tag + Decimal(size) +
             " bytes; scanning slots 1..255 using original REZADUDU rules");
  }
  bool active = false;
  for (uint32_t slot = 1; slot <= kCallerSlots; ++slot) {
    const uint8_t* record = &table[(slot - 1) * kCallerSlotSize];
    const uint16_t userNo = Load16(record);
    const uint8_t status = record[2];
    // User 0 is a user; a caller reading messages counts whatever UserNo says.
    if (userNo == kNoUser && status != kActiveInMessages) continue;
    if (!active) out.Line("SAFETY ABORT: caller activity found during " + std::string(label) + ":");
    active = true;
    out.Line("  TWWHOSON slot " + Decimal(slot) + " UserNo=" + Decimal(userNo) +
             " Status=" + StatusText(status));
  }
  if (active) {
    out.Line("TWTRIM32 will not scan while a caller may be online or active in messages.");
    return false;
  }
  if (out.verbose()) out.Line("Caller safety check " + tag + "CLEAR");
  return true;
}

bool CheckBusyMarker(Os& os, ReportOutput& out, const std::string& messageDir,
                     std::string_view label) {
  const std::string during = std::string(" during ").append(label);
  std::string path;
  if (!JoinPath(&path, messageDir, "VIZIZE.BSY")) {
    out.Line("SAFETY ERROR: VIZIZE.BSY path is too long" + during + ".");
    return false;
  }
  const bool exists = os.GetPathKind(path) == PathKind::kFile;
  const std::string tag = std::string("VIZize busy-marker check [").append(label).append("]: ");
  if (SharedTosserLockOwned()) {
    // Our own lock: it must still be the very file we created, where we
    // created it; one deleted and made anew by someone else is not ours.
    if (!exists || !SamePath(path, SharedTosserLockPath()) || !SharedTosserLockIntact()) {
      out.Line("SAFETY ERROR: TWTRIM32's shared VIZIZE.BSY lock is missing or changed" + during +
               ".");
      return false;
    }
    if (out.verbose()) out.Line(tag + "HELD BY TWTRIM32");
    return true;
  }
  if (exists) {
    out.Line("SAFETY ABORT: VIZize32 busy marker exists" + during + ": " + path);
    out.Line("TWTRIM32 will not scan while VIZIZE.BSY indicates message-base activity.");
    return false;
  }
  if (out.verbose()) out.Line(tag + "CLEAR");
  return true;
}

bool CheckTosserProcess(Os& os, ReportOutput& out, std::string_view label) {
  std::vector<std::string> names;
  // An empty list is a snapshot whose first entry could not be read.
  if (!os.ListProcessNames(&names) || names.empty()) {
    out.Line("SAFETY ERROR: unable to enumerate processes during " + std::string(label) + ".");
    return false;
  }
  for (const std::string& name : names) {
    if (EqualsIgnoreCase(name, "VIZIZE32.EXE")) {
      out.Line("SAFETY ABORT: VIZIZE32.EXE is running during " + std::string(label) + ".");
      return false;
    }
  }
  if (out.verbose()) out.Line("VIZize32 process check [" + std::string(label) + "]: CLEAR");
  return true;
}

}  // namespace

bool RunSafetyCheck(Os& os, ReportOutput& out, const std::string& homeDir,
                    const std::string& messageDir, std::string_view label) {
  return CheckCallers(os, out, homeDir, label) && CheckBusyMarker(os, out, messageDir, label) &&
         CheckTosserProcess(os, out, label);
}

}  // namespace twtrim
