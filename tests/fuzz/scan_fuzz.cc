// Feeds arbitrary PTR, IDX and DAT contents and faults to the conference scan
// in all four combinations of report detail and mode: no crash, whole CR LF
// lines, the same counts every time, and a verdict that fits the input.
//
// Input: [0] flags: 1 fix the IDX name CRCs, 2 fix the IDX identity fields,
//   4 PTR and DAT sizes off by [3] & 15 and [3] >> 7 bytes, 8 one IDX record
//   short, 16 file [3] % 3 (PTR, IDX, DAT) missing, 32 reads fail from a call
//   on, 64 one read comes up short, 128 seeks fail; [1] records (mod 40);
//   [2] DAT blocks; [3] details (bits 5 and 6: DAT past 65,281 blocks);
//   then the PTR bytes, then the IDX bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "msgbase/name_crc.h"
#include "msgbase/records.h"
#include "scan/conference_plan.h"
#include "scan/conference_scan.h"
#include "scan/run_totals.h"
#include "support/fault_os.h"
#include "support/memory_os.h"

namespace twtrim {
namespace {

const char kDir[] = "M";

std::string Path(const char* extension) {
  std::string path;
  ConferenceFilePath(&path, kDir, 1, extension);
  return path;
}

// Makes IDX records agree with their PTR records, so that inputs get past
// validation to the record and thread checks.
void FixIdx(const std::string& ptr, std::string* idx, uint32_t records, uint8_t flags) {
  for (uint32_t i = 0; i < records; ++i) {
    PtrRecord p;
    IdxRecord x;
    std::memcpy(p.bytes.data(), ptr.data() + i * kPtrRecordSize, kPtrRecordSize);
    std::memcpy(x.bytes.data(), idx->data() + i * kIdxRecordSize, kIdxRecordSize);
    if (flags & 1) {  // the low bit of each stored CRC keeps it wrong
      const uint32_t from = NameCrc(&p.bytes[PtrRecord::kFrom], std::min<uint32_t>(p.fromLength(), kFromLimit));
      const uint32_t to = NameCrc(&p.bytes[PtrRecord::kTo], std::min<uint32_t>(p.toLength(), kToLimit));
      x.setFromCrc(x.bytes[0] & 1 ? ~from : from);
      x.setToCrc(x.bytes[4] & 1 ? ~to : to);
    }
    if (flags & 2) {
      x.setMsgNumber(p.msgNumber());
      x.setOrg(p.org());
    }
    std::memcpy(idx->data() + i * kIdxRecordSize, x.bytes.data(), kIdxRecordSize);
  }
}

// `broken`: a file is missing or has a size no conference can have.
void CheckVerdict(const ConferenceScan& s, bool broken) {
  Check(!broken || s.validationErrors > 0, "a plainly broken conference passed validation");
  Check(!s.blocked || (s.deletedCount > 0 && s.reclaimBytes == 0), "blocked, yet it reclaims");
  if (s.validationErrors == 0 && !s.blocked) {
    Check(s.projectedPtrRecords <= s.ptrRecords && s.projectedIdxRecords <= s.idxRecords &&
              s.projectedDatRecords <= s.datRecords,
          "packing would grow a file");
  }
  ConferencePlan plan;
  Check(BuildConferencePlan(&plan, kDir, 1, s), "plan paths");
  Check(!plan.writeWanted || (s.validationErrors == 0 && !s.blocked && s.needsAction),
        "a write planned without grounds");
}

}  // namespace
}  // namespace twtrim

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace twtrim;
  std::string in(reinterpret_cast<const char*>(data), size);
  in.resize(std::max<size_t>(size, 4));
  const uint8_t flags = in[0], detail = in[3];
  const uint32_t records = static_cast<uint8_t>(in[1]) % 40;
  const uint32_t blocks = ((detail & 0x60) == 0x60 ? 65282u : 0u) + static_cast<uint8_t>(in[2]);
  in.resize(4 + records * (kPtrRecordSize + kIdxRecordSize));
  std::string ptr = in.substr(4, records * kPtrRecordSize), idx = in.substr(4 + ptr.size());
  FixIdx(ptr, &idx, records, flags);
  if (flags & 4) ptr.resize(ptr.size() + (detail & 15));
  if ((flags & 8) && records > 0) idx.resize(idx.size() - kIdxRecordSize);

  MemoryOs memory;
  memory.WriteFile(Path("PTR"), ptr);
  memory.WriteFile(Path("IDX"), idx);
  memory.WriteFile(Path("DAT"), "");  // only its size is ever read
  memory.FakeSize(Path("DAT"), uint64_t{blocks} * kDatBlockSize + ((flags & 4) ? detail >> 7 : 0));
  static const char* const kExtensions[] = {"PTR", "IDX", "DAT"};
  if (flags & 16) memory.DeleteFile(Path(kExtensions[detail % 3]));
  const bool broken = (flags & 16) || ((flags & 4) && (detail & 0x8f)) ||
                      ((flags & 8) && records > 0) || blocks > kMaxDatBlocks;

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
    AddPlanToTotals(&totals, scan);
    PrintSummary(out, totals, 0, 0, write);
    CheckLines(os.stdoutText());
    if (run == 0) first = scan;
    Check(scan == first, "report detail or mode changed the counts");
  }
  CheckVerdict(first, broken);
  return 0;
}
