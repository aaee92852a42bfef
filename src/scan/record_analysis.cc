// The record pass, the thread pass and the projections of one conference.
#include <cstddef>
#include <memory>
#include <new>
#include <string>

#include "msgbase/name_crc.h"
#include "msgbase/records.h"
#include "platform/file_io.h"
#include "platform/zeroed_memory.h"
#include "report/format.h"
#include "scan/diagnostics.h"
#include "scan/message_number_set.h"
#include "scan/scan_steps.h"

namespace twtrim::scan_steps {

namespace {

class RecordAnalysis {
 public:
  RecordAnalysis(ReportOutput& out, OsFile& ptr, OsFile& idx, bool write, ConferenceScan* scan)
      : out_(out), ptr_(ptr), idx_(idx), write_(write), verbose_(out.verbose()), scan_(*scan) {}

  void Run() {
    if (!Prepare()) return;
    if (scan_.ptrRecords == 0) {
      scan_.unreferencedDat = scan_.datRecords;
    } else {
      RecordPass();
      IndexPass();
      scan_.unreferencedDat = scan_.datRecords - referenced_;
      ThreadPass();
    }
    ReportThreadErrors();
    Project();
  }

 private:
  bool Prepare();
  void RecordPass();
  void AnalyseRecord(uint32_t slot, const PtrRecord& ptr, const IdxRecord& idx);
  void CheckDatRange(uint32_t slot, const PtrRecord& ptr);
  void MarkRange(uint32_t slot, const PtrRecord& ptr);
  uint32_t NextOpenBlock(uint32_t block);
  void IndexPass();
  void PrefetchIndexes(const RecordSummary& r) const;
  void ThreadPass();
  void PrefetchThreadLookups(const RecordSummary& r) const;
  void ReportThreadErrors();
  void Project();
  void Fail(std::string_view message) {
    out_.Line(message);
    ++scan_.validationErrors;
  }

  ReportOutput& out_;
  OsFile& ptr_;
  OsFile& idx_;
  const bool write_;
  const bool verbose_;
  ConferenceScan& scan_;

  struct Release {
    size_t bytes;
    void operator()(RecordSummary* p) const { FreeZeroed(p, bytes); }
  };
  std::unique_ptr<RecordSummary[], Release> summaries_;
  std::unique_ptr<uint8_t[]> datRefs_;    // ranges covering each block: 0, 1 or 2 (= more)
  std::unique_ptr<uint32_t[]> nextOpen_;  // links to the next block covered fewer than twice
  MessageNumberSet replyTargets_, liveReplyTargets_, allMsgNumbers_, liveMsgNumbers_;
  std::unique_ptr<BufferedReader> ptrReader_, idxReader_;
  uint32_t referenced_ = 0;
  uint32_t slotsRead_ = 0;
};

// How many slots ahead the index and thread passes announce their lookups.
constexpr uint32_t kPrefetchDistance = 32;

bool IsReply(const RecordSummary& r) { return IsReplyShape(r.tm, r.ts, r.org, r.msgNumber); }
bool IsRoot(const RecordSummary& r) { return IsRootShape(r.tm, r.ts, r.org, r.msgNumber); }

bool RecordAnalysis::Prepare() {
  const uint32_t records = scan_.ptrRecords;
  const size_t summaryBytes = size_t{records == 0 ? 1 : records} * sizeof(RecordSummary);
  summaries_ = std::unique_ptr<RecordSummary[], Release>(
      static_cast<RecordSummary*>(AllocateZeroed(summaryBytes)), Release{summaryBytes});
  try {
    datRefs_.reset(new uint8_t[scan_.datRecords == 0 ? 1 : scan_.datRecords]());
    nextOpen_.reset(new uint32_t[uint64_t{scan_.datRecords} + 1]);
    ptrReader_ = std::make_unique<BufferedReader>(ptr_);
    idxReader_ = std::make_unique<BufferedReader>(idx_);
  } catch (const std::bad_alloc&) {
    // The member that could not be allocated stays empty: reported below.
  }
  if (!summaries_ || !datRefs_ || !nextOpen_ || !ptrReader_ || !idxReader_) {
    Fail("  ERROR: out of memory for preview validation.");
    return false;
  }
  for (uint32_t b = 0; b <= scan_.datRecords; ++b) nextOpen_[b] = b;
  const uint32_t requested = 2 * records + 1;
  if (!replyTargets_.Allocate(requested) || !liveReplyTargets_.Allocate(requested) ||
      !allMsgNumbers_.Allocate(requested) || !liveMsgNumbers_.Allocate(requested)) {
    Fail("  ERROR: out of memory for thread indexes.");
    return false;
  }
  if (!ptr_.Seek(0) || !idx_.Seek(0)) {
    Fail("  ERROR: cannot seek PTR/IDX to start.");
    return false;
  }
  return true;
}

void RecordAnalysis::RecordPass() {
  PtrRecord ptr;
  IdxRecord idx;
  for (uint32_t slot = 1; slot <= scan_.ptrRecords; ++slot) {
    if (!ptrReader_->ReadExact(ptr.bytes.data(), kPtrRecordSize) ||
        !idxReader_->ReadExact(idx.bytes.data(), kIdxRecordSize)) {
      Fail("  ERROR: short PTR/IDX read at slot " + Decimal(slot) + ".");
      return;
    }
    AnalyseRecord(slot, ptr, idx);
    slotsRead_ = slot;
  }
}

void RecordAnalysis::AnalyseRecord(uint32_t slot, const PtrRecord& ptr, const IdxRecord& idx) {
  const int32_t msgNumber = ptr.msgNumber();
  const int32_t org = ptr.org();
  const uint16_t records = ptr.records();
  const bool live = ptr.deleted() == 0;

  if (idx.msgNumber() != msgNumber || idx.org() != org) ++scan_.staleIdxIdentity;
  if (!NameCheck(ptr, idx.fromCrc(), idx.toCrc())) ++scan_.idxCrcErrors;

  RecordSummary& summary = summaries_[slot - 1];
  summary.msgNumber = msgNumber;
  summary.org = org;
  summary.where = ptr.where();
  summary.records = records;
  summary.tm = ptr.tm();
  summary.ts = ptr.ts();
  summary.deleted = ptr.deleted();

  if (!live) {
    ++scan_.deletedCount;
    scan_.deletedDatRecords += records;
    if (verbose_) DumpPtrRecord(out_, ptr, slot, write_ ? "WILL-PURGE" : "WOULD-PURGE");
  } else {
    scan_.liveDatRecords += records;
  }

  CheckDatRange(slot, ptr);

  if (ptr.tm() >= 2 || ptr.ts() >= 2 || ptr.deleted() >= 2) ++scan_.nonBooleanFlags;
  if (ptr.fromLength() > kFromLimit || ptr.toLength() > kToLimit ||
      ptr.subjectLength() > kSubjectLimit) {
    Fail("    ERROR slot " + Decimal(slot) + ": Pascal string length exceeds its PTR field.");
  }

  if (ptr.isDanger()) {
    ++scan_.dangerCount;
    if (verbose_) DumpPtrRecord(out_, ptr, slot, "DANGER");
    if (live) ++scan_.dangerFixes;
  }
  // The message-number sets are filled from the summaries by IndexPass.
}

void RecordAnalysis::CheckDatRange(uint32_t slot, const PtrRecord& ptr) {
  const uint32_t where = ptr.where();
  const uint32_t records = ptr.records();
  const uint32_t end = where + records;
  bool valid;
  if (records == 0) {
    ++scan_.bodylessCount;
    if (verbose_) DumpPtrRecord(out_, ptr, slot, "BODYLESS-NOT-PURGED");
    valid = where <= scan_.datRecords;
  } else {
    valid = end <= scan_.datRecords;
  }
  if (!valid) {
    Fail("    ERROR slot " + Decimal(slot) + ": DAT range Where=" + Decimal(where) +
         " Records=" + Decimal(records) + " exceeds DAT count " + Decimal(scan_.datRecords) + ".");
    if (verbose_) DumpPtrRecord(out_, ptr, slot, "INVALID-DAT");
    return;
  }
  if (records > 0) MarkRange(slot, ptr);
}

void RecordAnalysis::MarkRange(uint32_t slot, const PtrRecord& ptr) {
  const uint32_t where = ptr.where();
  const uint32_t records = ptr.records();
  const uint32_t end = where + records;
  // Only a block's first and second reference change a count anyone sees;
  // once covered twice, a block is settled and skipped. So a corrupt base
  // that points two million records at the same long run of blocks costs
  // no more than one whose bodies are all apart.
  uint32_t fresh = 0;
  for (uint32_t b = NextOpenBlock(where); b < end; b = NextOpenBlock(b + 1)) {
    if (datRefs_[b] == 0) {
      datRefs_[b] = 1;
      ++fresh;
    } else {
      datRefs_[b] = 2;
      ++scan_.datOverlapBlocks;
      nextOpen_[b] = b + 1;
    }
  }
  referenced_ += fresh;
  const uint32_t shared = records - fresh;
  if (shared > 0 && verbose_) {
    out_.Line("    DAT-OVERLAP: slot " + Decimal(slot) + " range Where=" + Decimal(where) +
              " Records=" + Decimal(records) + " overlaps " + Decimal(shared) +
              " already-referenced DAT record(s).");
    DumpPtrRecord(out_, ptr, slot, "OVERLAP-DETAIL");
  }
}

// The first block at or after `block` that is covered fewer than two times
// (datRecords when there is none), shortening the links it follows.
uint32_t RecordAnalysis::NextOpenBlock(uint32_t block) {
  while (nextOpen_[block] != block) {
    nextOpen_[block] = nextOpen_[nextOpen_[block]];
    block = nextOpen_[block];
  }
  return block;
}

// The set insertions of the record pass, done over the summaries in slot
// order once the records are read. They print nothing and depend on nothing
// printed, so the result is the same; but with the records in memory each
// lookup can be announced well before it is made.
void RecordAnalysis::IndexPass() {
  for (uint32_t i = 0; i < slotsRead_; ++i) {
    if (i + kPrefetchDistance < slotsRead_) PrefetchIndexes(summaries_[i + kPrefetchDistance]);
    const RecordSummary& r = summaries_[i];
    const auto msgNumber = static_cast<uint32_t>(r.msgNumber);
    const auto org = static_cast<uint32_t>(r.org);
    const bool live = r.deleted == 0;
    if (live) liveMsgNumbers_.Insert(msgNumber);
    if (IsReply(r)) {
      replyTargets_.Insert(org);
      if (live) liveReplyTargets_.Insert(org);
    }
    if (!allMsgNumbers_.Insert(msgNumber)) ++scan_.duplicateMsgNumbers;
  }
}

void RecordAnalysis::PrefetchIndexes(const RecordSummary& r) const {
  const auto msgNumber = static_cast<uint32_t>(r.msgNumber);
  if (r.deleted == 0) liveMsgNumbers_.Prefetch(msgNumber);
  if (IsReply(r)) {
    replyTargets_.Prefetch(static_cast<uint32_t>(r.org));
    if (r.deleted == 0) liveReplyTargets_.Prefetch(static_cast<uint32_t>(r.org));
  }
  allMsgNumbers_.Prefetch(msgNumber);
}

void RecordAnalysis::PrefetchThreadLookups(const RecordSummary& r) const {
  const auto org = static_cast<uint32_t>(r.org);
  if (IsRoot(r)) {
    replyTargets_.Prefetch(org);
    if (r.deleted == 0) liveReplyTargets_.Prefetch(static_cast<uint32_t>(r.msgNumber));
  } else if (IsReply(r)) {
    allMsgNumbers_.Prefetch(org);
    if (r.deleted == 0) liveMsgNumbers_.Prefetch(org);
  }
}

void RecordAnalysis::ThreadPass() {
  const char* clearTag = write_ ? "WILL-CLEAR-DELETED-PARENT" : "WOULD-CLEAR-DELETED-PARENT";
  // Slots never read hold zero summaries, which match no shape.
  for (uint32_t slot = 1; slot <= slotsRead_; ++slot) {
    if (slot - 1 + kPrefetchDistance < slotsRead_) {
      PrefetchThreadLookups(summaries_[slot - 1 + kPrefetchDistance]);
    }
    const RecordSummary& r = summaries_[slot - 1];
    if (r.tm != 1) continue;
    const bool live = r.deleted == 0;
    const auto org = static_cast<uint32_t>(r.org);
    if (IsRoot(r)) {
      if (replyTargets_.Contains(org)) {
        ++scan_.normalRoots;
      } else {
        ++scan_.rootsWithoutChild;
        if (verbose_) DumpSlot(out_, ptr_, slot, "ROOT-NO-CHILD");
      }
      if (live && !liveReplyTargets_.Contains(static_cast<uint32_t>(r.msgNumber))) {
        ++scan_.rootsKeptWithoutChild;
      }
    } else if (IsReply(r)) {
      const bool parentExists = allMsgNumbers_.Contains(org);
      if (!parentExists) {
        ++scan_.orphanReplies;
        if (verbose_) DumpSlot(out_, ptr_, slot, "ORPHAN-REPLY");
      } else if (live && !liveMsgNumbers_.Contains(org)) {
        ++scan_.replyLinksCleared;
        if (verbose_) DumpSlot(out_, ptr_, slot, clearTag);
      }
    }
  }
}

void RecordAnalysis::ReportThreadErrors() {
  if (scan_.duplicateMsgNumbers > 0) {
    out_.Line("  ERROR: duplicate MsgNumber count: " + Decimal(scan_.duplicateMsgNumbers));
    scan_.validationErrors += scan_.duplicateMsgNumbers;
  }
  if (scan_.nonBooleanFlags > 0) {
    out_.Line("  ERROR: records with non-boolean TM/TS/Deleted flags: " +
              Decimal(scan_.nonBooleanFlags));
    scan_.validationErrors += scan_.nonBooleanFlags;
  }
  if (scan_.idxCrcErrors > 0) {
    out_.Line(
        "  ERROR: IDX name CRC does not match PTR From/To under either known Tarnwick "
        "convention: " +
        Decimal(scan_.idxCrcErrors));
    scan_.validationErrors += scan_.idxCrcErrors;
  }
}

void RecordAnalysis::Project() {
  ConferenceScan& s = scan_;
  s.projectedPtrRecords = s.ptrRecords - s.deletedCount;
  s.projectedIdxRecords = s.idxRecords - s.deletedCount;
  s.projectedDatRecords = s.datRecords;
  s.projectedPtrBytes = uint64_t{s.projectedPtrRecords} * kPtrRecordSize;
  s.projectedIdxBytes = uint64_t{s.projectedIdxRecords} * kIdxRecordSize;
  s.projectedDatBytes = s.datBytes;
  if (s.deletedCount > 0) {
    s.needsAction = true;
    if (s.datOverlapBlocks == 0 && s.unreferencedDat == 0 && s.orphanReplies == 0) {
      s.projectedDatRecords = s.liveDatRecords;
      s.projectedDatBytes = uint64_t{s.liveDatRecords} * kDatBlockSize;
    } else {
      // A pack that would lose or mix bodies is refused; nothing changes.
      s.blocked = true;
      s.projectedPtrRecords = s.ptrRecords;
      s.projectedIdxRecords = s.idxRecords;
      s.projectedPtrBytes = s.ptrBytes;
      s.projectedIdxBytes = s.idxBytes;
    }
  } else {
    s.needsAction = s.dangerFixes > 0 || s.replyLinksCleared > 0;
  }
  if (!s.blocked) {
    const uint64_t total = s.ptrBytes + s.idxBytes + s.datBytes;
    const uint64_t projected = s.projectedPtrBytes + s.projectedIdxBytes + s.projectedDatBytes;
    s.reclaimBytes = total >= projected ? total - projected : 0;
  }
}

}  // namespace

void AnalyseRecords(ReportOutput& out, OsFile& ptr, OsFile& idx, bool write, ConferenceScan* scan) {
  RecordAnalysis(out, ptr, idx, write, scan).Run();
}

}  // namespace twtrim::scan_steps
