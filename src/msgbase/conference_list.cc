#include "msgbase/conference_list.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>

#include "msgbase/records.h"
#include "platform/bytes.h"

namespace twtrim {
namespace {

constexpr size_t kNameLength = 3, kName = 4, kNameMax = 64;
// Numbers passed over after the highest PTR file found before discovery gives up.
constexpr uint32_t kDiscoveryGap = 20;

void CannotRead(ReportOutput& out, const std::string& path, ConferenceList* list) {
  out.Line("ERROR: cannot open/read TWMCONF.DAT: " + path);
  list->count = 0;
  list->names.clear();
  list->errors = 1;
}

void Fail(ReportOutput& out, const char* message, ConferenceList* list) {
  out.Line(message);
  list->count = 0;
  list->names.clear();
  list->errors = 1;
}

// Control bytes and code-page bytes would garble a report line.
std::string DisplayName(const uint8_t* record) {
  const size_t length = std::min<size_t>(record[kNameLength], kNameMax);
  std::string name(reinterpret_cast<const char*>(record + kName), length);
  for (char& c : name) {
    if (!IsPrintableAscii(static_cast<uint8_t>(c))) c = '.';
  }
  return name;
}

// Reads every record into its name entry; false after a failed or short read.
bool ReadNames(OsFile& file, ConferenceList* list) {
  std::array<uint8_t, kConferenceRecordSize> record{};
  for (uint32_t i = 0; i < list->count; ++i) {
    uint32_t got = 0;
    if (!file.Read(record.data(), kConferenceRecordSize, &got) || got != kConferenceRecordSize) {
      return false;
    }
    list->names[i] = DisplayName(record.data());
  }
  return true;
}

}  // namespace

ConferenceList LoadConferenceList(Os& os, ReportOutput& out, const std::string& path) {
  ConferenceList list;
  // A missing file is the normal case of a board without one: no message.
  if (os.GetPathKind(path) != PathKind::kFile) return list;
  list.present = true;

  std::unique_ptr<OsFile> file = os.OpenSharedRead(path);
  uint64_t size = 0;
  if (file == nullptr || !file->Size(&size)) {
    CannotRead(out, path, &list);
    if (file != nullptr) file->Close();
    return list;
  }
  if (size % kConferenceRecordSize != 0 || size >= kFourGiB) {
    Fail(out, "ERROR: TWMCONF.DAT size is not a valid multiple of 128 bytes.", &list);
    file->Close();
    return list;
  }
  const uint64_t count = size / kConferenceRecordSize;
  if (count == 0 || count > kMaxConference) {
    Fail(out, "ERROR: TWMCONF.DAT conference count is outside 1..999.", &list);
    file->Close();
    return list;
  }
  try {
    list.names.assign(count, std::string());
  } catch (const std::bad_alloc&) {
    Fail(out, "ERROR: out of memory loading TWMCONF.DAT.", &list);
    file->Close();
    return list;
  }
  list.count = static_cast<uint32_t>(count);
  if (!ReadNames(*file, &list)) {
    // The count stands and the names read so far stay; later entries are empty.
    out.Line("ERROR: short read in TWMCONF.DAT.");
    list.errors = 1;
  }
  file->Close();
  return list;
}

uint32_t DiscoverHighestConference(Os& os, const std::string& messageDir) {
  uint32_t highest = 0;
  for (uint32_t n = 1; n <= kMaxConference; ++n) {
    std::string path;
    const bool found =
        ConferenceFilePath(&path, messageDir, n, "PTR") && os.GetPathKind(path) == PathKind::kFile;
    if (found) {
      highest = n;
    } else if (highest != 0 && n > highest + kDiscoveryGap) {
      break;
    }
  }
  return highest;
}

}  // namespace twtrim
