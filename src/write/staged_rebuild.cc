// BuildStagedFiles: the packed conference written as .NEW files beside the
// live ones, which are only ever read, each once from its start to its end.
#include "write/staged_rebuild.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "msgbase/records.h"
#include "platform/file_io.h"
#include "report/format.h"
#include "safety/fingerprint.h"
#include "scan/message_number_set.h"
#include "write/backup.h"

namespace twtrim {
namespace {

constexpr uint32_t kMaxWhere = kMaxDatBlocks - 1;

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

// Reads a live file strictly in order from its start and fingerprints every
// byte it hands on or passes over.
class ProvenReader {
 public:
  ProvenReader(OsFile& file, uint8_t* buffer) : file_(file), buffer_(buffer) {}

  uint64_t position() const { return hasher_.Result().size; }
  FileFingerprint fingerprint() const { return hasher_.Result(); }

  // Moves the next `bytes` to `destination` (nullptr: only fingerprints them).
  bool Move(uint64_t bytes, OsFile* destination) {
    while (bytes > 0) {
      const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(bytes, kTransferBufferSize));
      if (!ReadExact(file_, buffer_, chunk) || !Pass(chunk, destination)) return false;
      bytes -= chunk;
    }
    return true;
  }
  // Moves everything up to the end of the file.
  bool MoveToEnd(OsFile* destination) {
    return ReadToEnd(file_, buffer_,
                     [&](const uint8_t*, uint32_t count) { return Pass(count, destination); });
  }

 private:
  bool Pass(uint32_t count, OsFile* destination) {
    hasher_.Update(buffer_, count);
    return destination == nullptr || WriteExact(*destination, buffer_, count);
  }

  OsFile& file_;
  uint8_t* buffer_;
  FingerprintHasher hasher_;
};

// A kept body's blocks: where they lie in the live DAT and where they go.
struct BodyMove {
  uint32_t from = 0, to = 0, count = 0;
};

// A kept reply, by its slot in the staged files, whose parent comes later in
// the file (or nowhere).
struct KeptReply {
  uint32_t stagedSlot = 0;
  int32_t msgNumber = 0, org = 0;
};

// The live files' fingerprints as the integrity snapshot took them.
using Expected = std::array<FileFingerprint, kFileKindCount>;

// One build of one conference. Every handle and buffer is owned here, so
// they are all closed and released before the caller removes the staged
// files of a failed build.
class StagedBuild {
 public:
  StagedBuild(Os& os, const ConferencePlan& plan, const Expected& expected)
      : os_(os), plan_(plan), expected_(expected), purging_(plan.scan.deletedCount > 0) {}

  bool Run() {
    return OpenLive() && CreateStaged() && Prepare() && WriteRecords() && ClearPurgedParents() &&
           WriteDat() && MatchesProjection() && FlushStaged() && CloseStaged();
  }

 private:
  bool OpenLive() {
    for (FileKind kind : kFileKinds) {
      live_[kind] = os_.OpenSharedRead(plan_.files[kind].live);
      if (!live_[kind]) return false;
    }
    return true;
  }

  // Each staged file takes its live twin's owner, group and mode at once, so
  // the board's own programs can still use the conference after the commit.
  bool CreateStaged() {
    for (FileKind kind : kFileKinds) {
      staged_[kind] = os_.CreateNew(plan_.files[kind].staged);
      if (!staged_[kind] || !staged_[kind]->CopyOwnerAndMode(plan_.files[kind].live)) return false;
    }
    return true;
  }

  bool Prepare() {
    buffer_ = std::make_unique<uint8_t[]>(kTransferBufferSize);
    const uint32_t capacity = 2 * plan_.scan.ptrRecords + 1;
    return !purging_ || (purged_.Allocate(capacity) && kept_.Allocate(capacity));
  }

  // The one pass over PTR and IDX: every kept record repaired, renumbered
  // and written; the numbers of the purged ones remembered.
  bool WriteRecords() {
    BufferedReader ptrIn(*live_[kPtrFile]), idxIn(*live_[kIdxFile]);
    BufferedWriter ptrOut(*staged_[kPtrFile]), idxOut(*staged_[kIdxFile]);
    FingerprintHasher ptrHash, idxHash;
    PtrRecord ptr;
    IdxRecord idx;
    for (uint32_t slot = 0; slot < plan_.scan.ptrRecords; ++slot) {
      if (!ptrIn.ReadExact(ptr.bytes.data(), kPtrRecordSize) ||
          !idxIn.ReadExact(idx.bytes.data(), kIdxRecordSize)) {
        return false;
      }
      ptrHash.Update(ptr.bytes.data(), kPtrRecordSize);
      idxHash.Update(idx.bytes.data(), kIdxRecordSize);
      if (ptr.deleted() != 0) {
        purged_.Insert(static_cast<uint32_t>(ptr.msgNumber()));
        continue;
      }
      KeepRecord(&ptr);
      if (!ptrOut.Write(ptr.bytes.data(), kPtrRecordSize)) return false;
      idx.setMsgNumber(ptr.msgNumber());
      idx.setOrg(ptr.org());
      if (!idxOut.Write(idx.bytes.data(), kIdxRecordSize)) return false;
    }
    return ptrHash.Result() == expected_[kPtrFile] && idxHash.Result() == expected_[kIdxFile] &&
           ptrOut.Drain() && idxOut.Drain();
  }

  // A DANGER record points at itself and is detached keeping its Org. A
  // reply whose parent went earlier in the file is detached here; one whose
  // parent is not seen yet waits for ClearPurgedParents.
  void KeepRecord(PtrRecord* ptr) {
    if (ptr->isDanger()) {
      ptr->setTM(0);
      ptr->setTS(1);
    } else if (purging_ && ptr->isReply()) {
      const auto org = static_cast<uint32_t>(ptr->org());
      if (purged_.Contains(org)) {
        ptr->setTM(0);
        ptr->setTS(1);
        ptr->setOrg(ptr->msgNumber());
      } else if (!kept_.Contains(org)) {
        laterParents_.push_back({keptCount_, ptr->msgNumber(), ptr->org()});
      }
    }
    ++keptCount_;
    if (purging_) {
      kept_.Insert(static_cast<uint32_t>(ptr->msgNumber()));
      Renumber(ptr);
    }
  }

  // Bodies are packed in record order. A bodyless record takes the counter,
  // or the last Where there is when every block before it is kept: the
  // counter reaches 65,536 only then, as the scan allows no overlap and no
  // DAT past that size, and bytes that differ from the scanned ones fail
  // the build at the end of the pass.
  void Renumber(PtrRecord* ptr) {
    const uint32_t count = ptr->records();
    if (count == 0) {
      ptr->setWhere(static_cast<uint16_t>(std::min(blockCounter_, kMaxWhere)));
      return;
    }
    if (!moves_.empty() && moves_.back().from + moves_.back().count == ptr->where()) {
      moves_.back().count += count;
    } else {
      moves_.push_back({ptr->where(), blockCounter_, count});
    }
    ptr->setWhere(static_cast<uint16_t>(blockCounter_));
    blockCounter_ += count;
  }

  // Only a link to a purged parent is cleared. A reply whose parent never
  // was in the conference is the operator's to judge and stays as it is.
  bool ClearPurgedParents() {
    for (const KeptReply& reply : laterParents_) {
      if (purged_.Contains(static_cast<uint32_t>(reply.org)) && !Detach(reply)) return false;
    }
    return true;
  }
  bool Detach(const KeptReply& reply) {
    uint8_t flags[2] = {0, 1};  // TM, TS
    uint8_t org[4];
    Store32(org, static_cast<uint32_t>(reply.msgNumber));
    const uint64_t ptrAt = uint64_t{reply.stagedSlot} * kPtrRecordSize;
    const uint64_t idxAt = uint64_t{reply.stagedSlot} * kIdxRecordSize;
    OsFile& ptrOut = *staged_[kPtrFile];
    OsFile& idxOut = *staged_[kIdxFile];
    return ptrOut.Seek(ptrAt + PtrRecord::kTM) && WriteExact(ptrOut, flags, 2) &&
           ptrOut.Seek(ptrAt + PtrRecord::kOrg) && WriteExact(ptrOut, org, 4) &&
           idxOut.Seek(idxAt + IdxRecord::kOrg) && WriteExact(idxOut, org, 4);
  }

  // The live DAT is read once in file order; each kept body is written to
  // its packed place, which may lie anywhere in the staged DAT. With nothing
  // purged the DAT goes across whole and every Where stays valid.
  bool WriteDat() {
    ProvenReader dat(*live_[kDatFile], buffer_.get());
    OsFile* datOut = staged_[kDatFile].get();
    if (purging_) {
      std::sort(moves_.begin(), moves_.end(),
                [](const BodyMove& a, const BodyMove& b) { return a.from < b.from; });
      for (const BodyMove& move : moves_) {
        const uint64_t from = uint64_t{move.from} * kDatBlockSize;
        if (from < dat.position() || !dat.Move(from - dat.position(), nullptr)) return false;
        if (!datOut->Seek(uint64_t{move.to} * kDatBlockSize) ||
            !dat.Move(uint64_t{move.count} * kDatBlockSize, datOut)) {
          return false;
        }
      }
    }
    finalBlocks_ = purging_ ? blockCounter_ : plan_.scan.datRecords;
    return dat.MoveToEnd(purging_ ? nullptr : datOut) && dat.fingerprint() == expected_[kDatFile];
  }

  // The files written hold exactly the counts the report promised.
  bool MatchesProjection() const {
    return keptCount_ == plan_.scan.projectedPtrRecords &&
           finalBlocks_ == plan_.scan.projectedDatRecords;
  }

  bool FlushStaged() {
    return std::all_of(staged_.begin(), staged_.end(),
                       [](const auto& file) { return file->Flush(); });
  }

  // A staged file whose close the system refused does not count as written;
  // every file is closed all the same.
  bool CloseStaged() {
    bool closed = true;
    for (const std::unique_ptr<OsFile>& file : staged_) closed = file->Close() && closed;
    return closed;
  }

  Os& os_;
  const ConferencePlan& plan_;
  const Expected& expected_;
  const bool purging_;
  std::array<std::unique_ptr<OsFile>, kFileKindCount> live_, staged_;
  std::unique_ptr<uint8_t[]> buffer_;
  MessageNumberSet purged_, kept_;
  std::vector<KeptReply> laterParents_;
  std::vector<BodyMove> moves_;
  uint32_t keptCount_ = 0;
  uint32_t blockCounter_ = 0;
  uint32_t finalBlocks_ = 0;
};

// A leftover .NEW file may be the only copy of an earlier interrupted write.
bool StagedFileExists(Os& os, const ConferencePlan& plan) {
  for (const PlannedFile& file : plan.files) {
    if (os.GetPathKind(file.staged) == PathKind::kFile) return true;
  }
  return false;
}

// Any other name left there (a link that leads nowhere, say) holds nothing
// to recover: the name itself goes, never what it may point at.
void RemoveStaleNames(Os& os, const ConferencePlan& plan) {
  for (const PlannedFile& file : plan.files) {
    FileIdentity identity;
    if (os.GetPathKind(file.staged) == PathKind::kMissing &&
        os.PathIdentity(file.staged, &identity)) {
      os.DeleteFile(file.staged);  // should it stay, creating the staged file fails
    }
  }
}

bool RunBuild(Os& os, const ConferencePlan& plan, const IntegrityList& snapshot) {
  Expected expected;
  for (FileKind kind : kFileKinds) {
    const FileFingerprint* original = SnapshotFingerprint(snapshot, plan.files[kind].live);
    if (original == nullptr) return false;
    expected[kind] = *original;
  }
  try {
    StagedBuild build(os, plan, expected);
    return build.Run();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

bool BuildStagedFiles(Os& os, ReportOutput& out, ConferencePlan* plan,
                      const IntegrityList& snapshot) {
  if (!plan->writeWanted) return true;
  if (StagedFileExists(os, *plan)) {
    out.Line("WRITE ERROR: stale .NEW file exists for CONF" + Decimal(plan->conferenceNumber) +
             ". Remove it only after confirming no earlier write is recoverable.");
    return false;
  }
  RemoveStaleNames(os, *plan);
  if (RunBuild(os, *plan, snapshot)) return true;
  RemoveStagedFiles(os, plan);
  return false;
}

}  // namespace twtrim
