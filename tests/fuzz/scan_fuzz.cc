// Feeds arbitrary PTR, IDX and DAT contents to the conference scan, in all
// four combinations of report detail and mode, and checks what must hold
// whatever the input: no crash or out-of-bounds access, the same counts in
// every combination, CR LF on every line, and a verdict consistent with the
// counts.
//
// Input layout: a 4-byte header, then PTR bytes, then IDX bytes.
//   [0] flags: 1 fix the IDX name CRCs, 2 fix the IDX identity fields,
//       4 PTR size off by (header[3] & 15) bytes, 8 one IDX record short,
//       16 a file missing (header[3] % 3), 32 reads fail from a call on,
//       64 one read comes up short, 128 seeks fail
//   [1] number of records (mod 40)
//   [2] DAT blocks
//   [3] fault and size details (bits 5 and 6: DAT near the 65,536-block limit)
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "msgbase/name_crc.h"
#include "msgbase/records.h"
#include "report/report_output.h"
#include "scan/conference_plan.h"
#include "scan/conference_scan.h"
#include "scan/run_totals.h"
#include "support/fault_os.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

const char kDir[] = "M";

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // `count` bytes from the input, zero-padded when it runs out.
  std::vector<uint8_t> Take(size_t count) {
    std::vector<uint8_t> bytes(count, 0);
    const size_t n = std::min(count, size_ - at_);
    if (n > 0) std::memcpy(bytes.data(), data_ + at_, n);
    at_ += n;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void FixIdx(std::vector<uint8_t>* ptr, std::vector<uint8_t>* idx, uint32_t records, bool crcs,
            bool identity) {
  for (uint32_t i = 0; i < records; ++i) {
    PtrRecord p;
    std::memcpy(p.bytes.data(), ptr->data() + i * kPtrRecordSize, kPtrRecordSize);
    IdxRecord x;
    std::memcpy(x.bytes.data(), idx->data() + i * kIdxRecordSize, kIdxRecordSize);
    if (crcs) {
      const uint32_t from =
          NameCrc(&p.bytes[PtrRecord::kFrom], std::min<uint32_t>(p.fromLength(), kFromLimit));
      const uint32_t to =
          NameCrc(&p.bytes[PtrRecord::kTo], std::min<uint32_t>(p.toLength(), kToLimit));
      x.setFromCrc(x.bytes[0] & 1 ? ~from : from);
      x.setToCrc(x.bytes[4] & 1 ? ~to : to);
    }
    if (identity) {
      x.setMsgNumber(p.msgNumber());
      x.setOrg(p.org());
    }
    std::memcpy(idx->data() + i * kIdxRecordSize, x.bytes.data(), kIdxRecordSize);
  }
}

std::string Path(const char* extension) {
  std::string path;
  ConferenceFilePath(&path, kDir, 1, extension);
  return path;
}

void CheckLines(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n', "CR without LF");
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r', "LF without CR");
  }
  Check(!text.empty() && text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0,
        "report does not end with CR LF");
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void CheckVerdict(const ConferenceScan& s) {
  Check(s.datOverlapBlocks + uint64_t{s.unreferencedDat} <= s.datRecords,
        "overlapping and unreferenced blocks exceed the DAT");
  if (s.blocked) {
    Check(s.needsAction && s.deletedCount > 0, "blocked without a deletion");
    Check(s.reclaimBytes == 0, "a blocked conference reclaims bytes");
    Check(s.datOverlapBlocks + s.unreferencedDat + s.orphanReplies > 0, "blocked without reason");
  }
  if (s.validationErrors == 0 && !s.blocked) {
    Check(s.projectedPtrRecords <= s.ptrRecords, "projected PTR grows");
    Check(s.projectedIdxRecords <= s.idxRecords, "projected IDX grows");
    Check(s.projectedDatRecords <= s.datRecords, "projected DAT grows");
    if (s.deletedCount > 0) {
      const uint64_t expected = uint64_t{s.deletedCount} * (kPtrRecordSize + kIdxRecordSize) +
                                uint64_t{s.datRecords - s.liveDatRecords} * kDatBlockSize;
      Check(s.reclaimBytes == expected, "reclaim differs from its formula");
    } else {
      Check(s.reclaimBytes == 0, "reclaim without deletion");
    }
  }
  Check(s.needsAction == (s.deletedCount > 0 || s.dangerFixes > 0 || s.replyLinksCleared > 0),
        "needsAction disagrees with the counts");
  ConferencePlan plan;
  Check(BuildConferencePlan(&plan, kDir, 1, s), "plan paths");
  if (plan.writeWanted) {
    Check(s.validationErrors == 0 && !s.blocked && s.needsAction, "writeWanted without grounds");
  }
}

}  // namespace
}  // namespace twtrim

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  Reader in(data, size);
  const uint8_t flags = in.Byte();
  const uint32_t records = in.Byte() % 40;
  const uint32_t blocks = in.Byte();
  const uint8_t detail = in.Byte();

  std::vector<uint8_t> ptr = in.Take(records * kPtrRecordSize);
  std::vector<uint8_t> idx = in.Take(records * kIdxRecordSize);
  FixIdx(&ptr, &idx, records, flags & 1, flags & 2);
  if (flags & 4) ptr.resize(ptr.size() + (detail & 15));
  if ((flags & 8) && !idx.empty()) idx.resize(idx.size() - kIdxRecordSize);

  MemoryOs memory;
  const std::string datPath = Path("DAT");
  memory.WriteFile(Path("PTR"), std::string(ptr.begin(), ptr.end()));
  memory.WriteFile(Path("IDX"), std::string(idx.begin(), idx.end()));
  memory.WriteFile(datPath, "");  // never read: only its size matters
  const uint32_t datBlocks = (detail & 0x60) == 0x60 ? 65282 + blocks : blocks;
  memory.FakeSize(datPath, uint64_t{datBlocks} * kDatBlockSize + ((flags & 4) ? detail >> 7 : 0));
  bool allPresent = true;
  if (flags & 16) {
    static const char* const kExtensions[] = {"PTR", "IDX", "DAT"};
    memory.DeleteFile(Path(kExtensions[detail % 3]));
    allPresent = false;
  }

  ConferenceScan first;
  RunTotals totals;
  for (int run = 0; run < 4; ++run) {
    const bool verbose = run & 1, write = run & 2;
    FaultOs os(memory);
    if (flags & 32) os.AddFault({{OsCall::kRead, "", 1u + detail % 8}, FaultEffect::kFail, true});
    if (flags & 64) os.ShortNthCall(OsCall::kRead, 1 + (detail >> 3) % 8);
    if (flags & 128) os.AddFault({{OsCall::kSeek, "", 0}, FaultEffect::kFail, false});
    ReportOutput out(os);
    out.SetVerbose(verbose);
    ConferenceScan scan;
    ScanConference(os, out, kDir, 1, "Fuzz", write, &scan);
    CheckLines(os.stdoutText());
    if (run == 0) {
      first = scan;
      CheckVerdict(scan);
      Check(Count(os.stdoutText(), "\n  RESULT: ") == (allPresent ? 1u : 0u),
            "one RESULT line exactly when the files open");
    } else {
      Check(scan == first, "detail or mode changed the counts");
    }
    if (verbose && allPresent && scan.validationErrors == 0) {
      Check(Count(os.stdoutText(), "\n    RESULT: ") == 1, "verbose plan without its RESULT");
    }
    AddScanToTotals(&totals, scan);
    PrintSummary(out, totals, 0, 0, write);
  }
  Check(totals.conferencesScanned == 4, "totals");
  return 0;
}
