// Feeds arbitrary PTR, IDX and DAT files and faults to the conference scan in
// all four combinations of detail and mode: no crash, whole CR LF lines, the
// same counts every time, and a verdict that fits the input.
// Input: [0] flags: 4 PTR, DAT sizes off by [3] & 15, [3] >> 7 bytes, 8 an IDX
//   record short, 16 file [3] % 3 missing, 32 reads fail from a call on, 64 a
//   short read, 128 seeks fail; [1] records (mod 40); [2] DAT blocks (65,282 more
//   if [3] & 0x60 is 0x60); PTR bytes; IDX bytes (the seeds' name CRCs match).
#include <algorithm>

#include "fuzz_check.h"
#include "msgbase/records.h"
#include "scan/conference_scan.h"
#include "scan/run_totals.h"
#include "write/conference_plan.h"

using namespace twtrim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  in.resize(std::max<size_t>(size, 4));
  const uint8_t flags = in[0], detail = in[3];
  const uint32_t records = static_cast<uint8_t>(in[1]) % 40;
  const uint32_t blocks = ((detail & 0x60) == 0x60 ? 65282u : 0u) + static_cast<uint8_t>(in[2]);
  in.resize(4 + records * (kPtrRecordSize + kIdxRecordSize));
  std::string ptr = in.substr(4, records * kPtrRecordSize), idx = in.substr(4 + ptr.size());
  if (flags & 4) ptr.resize(ptr.size() + (detail & 15));
  if ((flags & 8) && records > 0) idx.resize(idx.size() - kIdxRecordSize);
  const std::string kFiles[] = {"M/TWMSG01.PTR", "M/TWMSG01.IDX", "M/TWMSG01.DAT"};
  MemoryOs memory;
  memory.WriteFile(kFiles[0], ptr);
  memory.WriteFile(kFiles[1], idx);
  memory.WriteFile(kFiles[2], "");  // only its size is ever read
  memory.FakeSize(kFiles[2], uint64_t{blocks} * kDatBlockSize + ((flags & 4) ? detail >> 7 : 0));
  if (flags & 16) memory.DeleteFile(kFiles[detail % 3]);
  ConferenceScan s;  // the counts of the first run
  RunTotals totals;
  for (int run = 0; run < 4; ++run) {
    FaultOs os(memory);
    if (flags & 32) os.AddFault({{OsCall::kRead, "", 1u + detail % 8}, FaultEffect::kFail, true});
    if (flags & 64) os.ShortNthCall(OsCall::kRead, 1 + (detail >> 3) % 8);
    if (flags & 128) os.AddFault({{OsCall::kSeek, "", 0}, FaultEffect::kFail, false});
    ReportOutput out(os);
    out.SetVerbose(run & 1);
    ConferenceScan scan;
    ScanConference(os, out, "M", 1, "Fuzz", run & 2, &scan);
    AddScanToTotals(&totals, scan);
    PrintTotals(out, totals, 0, 0, run & 2);
    CheckLines(os.stdoutText());
    if (run == 0) s = scan;
    Check(scan == s, "report detail or mode changed the counts");
  }
  const bool broken = (flags & 16) || ((flags & 4) && (detail & 0x8f)) ||  // missing, odd sizes
                      ((flags & 8) && records > 0) || blocks > kMaxDatBlocks;
  Check(!broken || s.validationErrors > 0, "a plainly broken conference passed validation");
  Check(!s.blocked || (s.deletedCount > 0 && s.reclaimBytes == 0), "blocked, yet reclaiming");
  Check(s.validationErrors > 0 || s.blocked ||
            (s.projectedPtrRecords <= s.ptrRecords && s.projectedIdxRecords <= s.idxRecords &&
             s.projectedDatRecords <= s.datRecords),
        "packing would grow a file");
  ConferencePlan plan;
  Check(BuildConferencePlan(&plan, "M", 1, s) &&
            (!plan.writeWanted || (s.validationErrors == 0 && !s.blocked && s.needsAction)),
        "a write planned without grounds");
  return 0;
}
