// BuildStagedFiles and CopyDatRange: the packed conference written as .NEW
// files beside the live ones, which are only ever read.
#include "write/staged_rebuild.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "msgbase/records.h"
#include "platform/file_io.h"
#include "report/format.h"
#include "scan/message_number_set.h"

namespace twtrim {
namespace {

constexpr uint32_t kMaxWhere = 65535;

// Collects fixed-size records and hands them to the system a buffer at a
// time, so a large conference is not written with one call per record.
class BufferedWriter {
 public:
  explicit BufferedWriter(OsFile& file)
      : file_(file), buffer_(std::make_unique<uint8_t[]>(kTransferBufferSize)) {}

  bool Write(const void* data, uint32_t count) {
    if (used_ + count > kTransferBufferSize && !Drain()) return false;
    std::memcpy(buffer_.get() + used_, data, count);
    used_ += count;
    return true;
  }
  bool Drain() {
    const uint32_t pending = used_;
    used_ = 0;
    return pending == 0 || WriteExact(file_, buffer_.get(), pending);
  }

 private:
  OsFile& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t used_ = 0;
};

// A reply (TM 1, TS 0) that points at itself, or at no kept message, is
// detached; every other record is left alone.
void RepairThread(PtrRecord* ptr, const MessageNumberSet& kept) {
  if (ptr->tm() != 1 || ptr->ts() != 0) return;
  const bool danger = ptr->org() == ptr->msgNumber();
  if (!danger && kept.Contains(static_cast<uint32_t>(ptr->org()))) return;
  ptr->setTM(0);
  ptr->setTS(1);
  if (!danger) ptr->setOrg(ptr->msgNumber());
}

// One build of one conference. Every handle and buffer is owned here, so
// they are all closed and released before the caller removes the staged
// files of a failed build.
class StagedBuild {
 public:
  StagedBuild(Os& os, const ConferencePlan& plan)
      : os_(os), plan_(plan), purging_(plan.scan.deletedCount > 0) {}

  bool Run() {
    return OpenLive() && CollectKeptNumbers() && CreateStaged() && WriteRecords() &&
           CarryWholeDat() && MatchesProjection() && FlushStaged() && CloseStaged();
  }

 private:
  bool OpenLive() {
    livePtr_ = os_.OpenSharedRead(plan_.livePtrPath);
    if (!livePtr_) return false;
    liveIdx_ = os_.OpenSharedRead(plan_.liveIdxPath);
    if (!liveIdx_) return false;
    liveDat_ = os_.OpenSharedRead(plan_.liveDatPath);
    return liveDat_ != nullptr;
  }

  // First pass: the numbers of exactly the records that will be kept.
  bool CollectKeptNumbers() {
    if (!kept_.Allocate(2 * plan_.scan.ptrRecords + 1)) return false;
    if (!livePtr_->Seek(0)) return false;
    BufferedReader reader(*livePtr_);
    PtrRecord ptr;
    for (uint32_t slot = 0; slot < plan_.scan.ptrRecords; ++slot) {
      if (!reader.ReadExact(ptr.bytes.data(), kPtrRecordSize)) return false;
      if (ptr.deleted() == 0) kept_.Insert(static_cast<uint32_t>(ptr.msgNumber()));
    }
    return livePtr_->Seek(0) && liveIdx_->Seek(0);
  }

  bool CreateStaged() {
    stagedPtr_ = os_.CreateNew(plan_.stagedPtrPath);
    if (!stagedPtr_) return false;
    stagedIdx_ = os_.CreateNew(plan_.stagedIdxPath);
    if (!stagedIdx_) return false;
    stagedDat_ = os_.CreateNew(plan_.stagedDatPath);
    if (!stagedDat_) return false;
    buffer_ = std::make_unique<uint8_t[]>(kTransferBufferSize);  // zero-filled
    return true;
  }

  // Second pass: every kept record repaired, renumbered and written.
  bool WriteRecords() {
    BufferedReader ptrIn(*livePtr_), idxIn(*liveIdx_);
    BufferedWriter ptrOut(*stagedPtr_), idxOut(*stagedIdx_);
    PtrRecord ptr;
    IdxRecord idx;
    for (uint32_t slot = 0; slot < plan_.scan.ptrRecords; ++slot) {
      if (!ptrIn.ReadExact(ptr.bytes.data(), kPtrRecordSize) ||
          !idxIn.ReadExact(idx.bytes.data(), kIdxRecordSize)) {
        return false;
      }
      if (ptr.deleted() != 0) continue;
      RepairThread(&ptr, kept_);
      const uint16_t oldWhere = ptr.where();
      if (purging_) {
        if (blockCounter_ > kMaxWhere) return false;
        ptr.setWhere(static_cast<uint16_t>(blockCounter_));
      }
      idx.setMsgNumber(ptr.msgNumber());
      idx.setOrg(ptr.org());
      if (!ptrOut.Write(ptr.bytes.data(), kPtrRecordSize) ||
          !idxOut.Write(idx.bytes.data(), kIdxRecordSize)) {
        return false;
      }
      if (purging_ && !QueueBody(oldWhere, ptr.records())) return false;
      ++keptCount_;
    }
    return CopyPendingBodies() && ptrOut.Drain() && idxOut.Drain();
  }

  // Bodies that lie back to back in the live DAT are copied as one range:
  // the staged DAT receives the same bytes in the same order.
  bool QueueBody(uint32_t firstBlock, uint32_t blockCount) {
    blockCounter_ += blockCount;
    if (blockCount == 0) return true;
    if (pendingCount_ > 0 && pendingFirst_ + pendingCount_ == firstBlock) {
      pendingCount_ += blockCount;
      return true;
    }
    if (!CopyPendingBodies()) return false;
    pendingFirst_ = firstBlock;
    pendingCount_ = blockCount;
    return true;
  }

  bool CopyPendingBodies() {
    const uint32_t count = pendingCount_;
    pendingCount_ = 0;
    return CopyDatRange(*liveDat_, *stagedDat_, pendingFirst_, count, buffer_.get());
  }

  // Nothing purged: the DAT is carried whole and every Where stays valid.
  bool CarryWholeDat() {
    if (purging_) {
      finalBlocks_ = blockCounter_;
      return true;
    }
    if (!liveDat_->Seek(0)) return false;
    for (;;) {
      uint32_t got = 0;
      if (!liveDat_->Read(buffer_.get(), kTransferBufferSize, &got)) return false;
      if (got == 0) break;
      if (!WriteExact(*stagedDat_, buffer_.get(), got)) return false;
    }
    finalBlocks_ = plan_.scan.datRecords;
    return true;
  }

  // A Deleted flag changed since the scan shows up here.
  bool MatchesProjection() const {
    return keptCount_ == plan_.scan.projectedPtrRecords &&
           finalBlocks_ == plan_.scan.projectedDatRecords;
  }

  bool FlushStaged() { return stagedPtr_->Flush() && stagedIdx_->Flush() && stagedDat_->Flush(); }

  // A staged file whose close the system refused does not count as written.
  bool CloseStaged() {
    const bool ptr = stagedPtr_->Close();
    const bool idx = stagedIdx_->Close();
    const bool dat = stagedDat_->Close();
    return ptr && idx && dat;
  }

  Os& os_;
  const ConferencePlan& plan_;
  const bool purging_;
  std::unique_ptr<OsFile> livePtr_, liveIdx_, liveDat_;
  std::unique_ptr<OsFile> stagedPtr_, stagedIdx_, stagedDat_;
  std::unique_ptr<uint8_t[]> buffer_;
  MessageNumberSet kept_;
  uint32_t keptCount_ = 0;
  uint32_t blockCounter_ = 0;
  uint32_t finalBlocks_ = 0;
  uint32_t pendingFirst_ = 0, pendingCount_ = 0;
};

bool StagedFileExists(Os& os, const ConferencePlan& plan) {
  for (const std::string* path : {&plan.stagedPtrPath, &plan.stagedIdxPath, &plan.stagedDatPath}) {
    if (os.GetPathKind(*path) == PathKind::kFile) return true;
  }
  return false;
}

bool RunBuild(Os& os, const ConferencePlan& plan) {
  try {
    StagedBuild build(os, plan);
    return build.Run();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool CopyDatRange(OsFile& source, OsFile& destination, uint32_t firstBlock, uint32_t blockCount,
                  uint8_t* buffer) {
  if (blockCount == 0) return true;
  if (!source.Seek(uint64_t{firstBlock} * kDatBlockSize)) return false;
  uint64_t remaining = uint64_t{blockCount} * kDatBlockSize;
  while (remaining > 0) {
    const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(remaining, kTransferBufferSize));
    if (!ReadExact(source, buffer, chunk) || !WriteExact(destination, buffer, chunk)) {
      return false;
    }
    remaining -= chunk;
  }
  return true;
}

bool BuildStagedFiles(Os& os, ReportOutput& out, ConferencePlan* plan) {
  if (!plan->writeWanted) return true;
  // A leftover .NEW may be the only copy of an earlier interrupted write:
  // refuse, and touch nothing.
  if (StagedFileExists(os, *plan)) {
    out.Line("WRITE ERROR: stale .NEW file exists for CONF" + Decimal(plan->conferenceNumber) +
             ". Remove it only after confirming no earlier write is recoverable.");
    return false;
  }
  if (RunBuild(os, *plan)) return true;
  RemoveStagedFiles(os, plan);
  return false;
}

}  // namespace twtrim
