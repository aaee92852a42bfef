// VerifyConferenceFiles: re-reads a packed conference from disk and proves it
// sound before it may go live (staged files) or after it went live (compare
// mode on the live files).
#include "write/staged_verify.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "msgbase/name_crc.h"
#include "msgbase/records.h"
#include "platform/file_io.h"
#include "safety/fingerprint.h"
#include "scan/message_number_set.h"

namespace twtrim {
namespace {

struct FileSet {
  std::array<const std::string*, kFileKindCount> path;
  std::array<FileFingerprint, kFileKindCount> fingerprint;
};

bool SizesSound(const FileSet& files) {
  const uint64_t ptr = files.fingerprint[kPtrFile].size;
  const uint64_t idx = files.fingerprint[kIdxFile].size;
  const uint64_t dat = files.fingerprint[kDatFile].size;
  return ptr % kPtrRecordSize == 0 && idx % kIdxRecordSize == 0 && dat % kDatBlockSize == 0 &&
         ptr < kFourGiB && idx < kFourGiB && dat < kFourGiB;
}

bool CountsMatch(const FileSet& files, const ConferenceScan& scan) {
  const uint64_t ptr = files.fingerprint[kPtrFile].size / kPtrRecordSize;
  const uint64_t idx = files.fingerprint[kIdxFile].size / kIdxRecordSize;
  const uint64_t dat = files.fingerprint[kDatFile].size / kDatBlockSize;
  return ptr == scan.projectedPtrRecords && idx == scan.projectedIdxRecords &&
         dat == scan.projectedDatRecords && ptr == idx;
}

// The record-level requirements, read once in order through buffered reads.
class RecordCheck {
 public:
  RecordCheck(uint32_t records, uint32_t datBlocks, const ConferenceScan& scan)
      : records_(records),
        datBlocks_(datBlocks),
        purged_(scan.deletedCount > 0),
        orphans_(scan.orphanReplies) {}

  bool Run(Os& os, const std::string& ptrPath, const std::string& idxPath) {
    summaries_.assign(records_, RecordSummary{});
    blockUse_.assign(std::max<uint32_t>(datBlocks_, 1), 0);
    if (!numbers_.Allocate(2 * records_ + 1)) return false;
    std::unique_ptr<OsFile> ptrFile = os.OpenSharedRead(ptrPath);
    if (!ptrFile) return false;
    std::unique_ptr<OsFile> idxFile = os.OpenSharedRead(idxPath);
    if (!idxFile) return false;
    BufferedReader ptrIn(*ptrFile), idxIn(*idxFile);
    PtrRecord ptr;
    IdxRecord idx;
    for (uint32_t slot = 0; slot < records_; ++slot) {
      if (!ptrIn.ReadExact(ptr.bytes.data(), kPtrRecordSize) ||
          !idxIn.ReadExact(idx.bytes.data(), kIdxRecordSize) || !CheckRecord(ptr, idx)) {
        return false;
      }
      summaries_[slot] = Summarise(ptr);
    }
    return ThreadsIntact() && (!purged_ || markedBlocks_ == datBlocks_);
  }

 private:
  bool CheckRecord(const PtrRecord& ptr, const IdxRecord& idx) {
    if (ptr.deleted() != 0) return false;
    if (ptr.tm() > 1 || ptr.ts() > 1) return false;
    if (ptr.isDanger()) return false;
    if (idx.msgNumber() != ptr.msgNumber() || idx.org() != ptr.org()) return false;
    if (!NameCheck(ptr, idx.fromCrc(), idx.toCrc())) return false;
    if (uint32_t{ptr.where()} + ptr.records() > datBlocks_) return false;
    const auto number = static_cast<uint32_t>(ptr.msgNumber());
    if (numbers_.Contains(number)) return false;
    numbers_.Insert(number);
    return !purged_ || MarkBlocks(ptr.where(), ptr.records());
  }

  // After a pack every block belongs to exactly one record.
  bool MarkBlocks(uint32_t first, uint32_t count) {
    for (uint32_t block = first; block < first + count; ++block) {
      if (blockUse_[block] != 0) return false;
      blockUse_[block] = 1;
      ++markedBlocks_;
    }
    return true;
  }

  static RecordSummary Summarise(const PtrRecord& ptr) {
    RecordSummary summary;
    summary.msgNumber = ptr.msgNumber();
    summary.org = ptr.org();
    summary.where = ptr.where();
    summary.records = ptr.records();
    summary.tm = ptr.tm();
    summary.ts = ptr.ts();
    return summary;
  }

  // Every reply must point at a message that is still there, except the
  // replies the scan found whose parent never was in the conference: those
  // are reported, not repaired, and a purge is refused while there are any.
  bool ThreadsIntact() const {
    uint32_t orphans = 0;
    for (const RecordSummary& s : summaries_) {
      const bool reply = IsReplyShape(s.tm, s.ts, s.org, s.msgNumber);
      if (reply && !numbers_.Contains(static_cast<uint32_t>(s.org))) ++orphans;
    }
    return orphans == orphans_;
  }

  const uint32_t records_, datBlocks_;
  const bool purged_;
  const uint32_t orphans_;
  std::vector<RecordSummary> summaries_;
  std::vector<uint8_t> blockUse_;
  MessageNumberSet numbers_;
  uint32_t markedBlocks_ = 0;
};

bool RecordsSound(Os& os, const FileSet& files, const ConferenceScan& scan) {
  const auto records = static_cast<uint32_t>(files.fingerprint[kPtrFile].size / kPtrRecordSize);
  const auto datBlocks = static_cast<uint32_t>(files.fingerprint[kDatFile].size / kDatBlockSize);
  try {
    RecordCheck check(records, datBlocks, scan);
    return check.Run(os, *files.path[kPtrFile], *files.path[kIdxFile]);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool VerifyConferenceFiles(Os& os, ConferencePlan* plan, Verification which) {
  FileSet files{};
  for (FileKind kind : kFileKinds) {
    const PlannedFile& file = plan->files[kind];
    files.path[kind] = which == Verification::kStaged ? &file.staged : &file.live;
    if (!FingerprintFile(os, *files.path[kind], &files.fingerprint[kind])) return false;
  }
  if (!SizesSound(files) || !CountsMatch(files, plan->scan)) return false;
  if (!RecordsSound(os, files, plan->scan)) return false;
  for (FileKind kind : kFileKinds) {
    FileFingerprint& stored = plan->files[kind].stagedFingerprint;
    if (which == Verification::kStaged) {
      stored = files.fingerprint[kind];
    } else if (!(stored == files.fingerprint[kind])) {
      return false;
    }
  }
  return true;
}

}  // namespace twtrim
