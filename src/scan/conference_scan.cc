#include "scan/conference_scan.h"

#include "msgbase/records.h"
#include "report/format.h"
#include "scan/diagnostics.h"
#include "scan/scan_steps.h"

namespace twtrim {

namespace scan_steps {

namespace {

// Probes, opens and sizes one file. Returns the open file, or null when it is
// missing or cannot be opened; a size that cannot be learned leaves it open.
std::unique_ptr<OsFile> ProbeFile(Os& os, ReportOutput& out, const std::string& path,
                                  std::string_view kind, uint64_t* bytes,
                                  uint32_t* validationErrors) {
  // An empty path is one that could not be formed: never probe a partial one.
  if (path.empty() || os.GetPathKind(path) != PathKind::kFile) {
    out.Line("  ERROR: missing " + path);
    ++*validationErrors;
    return nullptr;
  }
  std::unique_ptr<OsFile> file = os.OpenSharedRead(path);
  if (!file) {
    out.Line("  ERROR: cannot open " + std::string(kind) + ".");
    ++*validationErrors;
    return nullptr;
  }
  if (!file->Size(bytes)) {
    *bytes = 0;
    out.Line("  ERROR: cannot determine " + std::string(kind) + " size.");
    ++*validationErrors;
  }
  return file;
}

// The record count of a file whose size must be a multiple of `recordSize`
// below 4 GiB; 0 (and an error) otherwise.
uint32_t CountRecords(ReportOutput& out, uint64_t bytes, uint32_t recordSize,
                      std::string_view message, uint32_t* validationErrors) {
  if (bytes % recordSize != 0 || bytes >= kFourGiB) {
    out.Line(message);
    ++*validationErrors;
    return 0;
  }
  return static_cast<uint32_t>(bytes / recordSize);
}

std::string FilePath(const std::string& messageDir, uint32_t conference,
                     std::string_view extension) {
  std::string path;
  if (!ConferenceFilePath(&path, messageDir, conference, extension)) path.clear();
  return path;
}

}  // namespace

bool OpenScanFiles(Os& os, ReportOutput& out, const std::string& messageDir, uint32_t conference,
                   ScanFiles* files, ConferenceScan* scan) {
  const std::string ptrPath = FilePath(messageDir, conference, "PTR");
  const std::string idxPath = FilePath(messageDir, conference, "IDX");
  const std::string datPath = FilePath(messageDir, conference, "DAT");
  uint32_t* errors = &scan->validationErrors;
  files->ptr = ProbeFile(os, out, ptrPath, "PTR", &scan->ptrBytes, errors);
  files->idx = ProbeFile(os, out, idxPath, "IDX", &scan->idxBytes, errors);
  files->dat = ProbeFile(os, out, datPath, "DAT", &scan->datBytes, errors);
  return files->ptr && files->idx && files->dat;
}

void CheckSizes(ReportOutput& out, ConferenceScan* scan) {
  uint32_t* errors = &scan->validationErrors;
  scan->ptrRecords =
      CountRecords(out, scan->ptrBytes, kPtrRecordSize,
                   "  ERROR: PTR size is not a supported multiple of 256 bytes.", errors);
  scan->idxRecords =
      CountRecords(out, scan->idxBytes, kIdxRecordSize,
                   "  ERROR: IDX size is not a supported multiple of 16 bytes.", errors);
  scan->datRecords =
      CountRecords(out, scan->datBytes, kDatBlockSize,
                   "  ERROR: DAT size is not a supported multiple of 128 bytes.", errors);
  if (out.verbose()) {
    WriteFileSizeLine(out, "PTR", scan->ptrBytes, scan->ptrRecords, kPtrRecordSize);
    WriteFileSizeLine(out, "IDX", scan->idxBytes, scan->idxRecords, kIdxRecordSize);
    WriteFileSizeLine(out, "DAT", scan->datBytes, scan->datRecords, kDatBlockSize);
  }
  if (scan->ptrRecords != scan->idxRecords) {
    out.Line("  ERROR: PTR/IDX record-count mismatch (" + Decimal(scan->ptrRecords) + " vs " +
             Decimal(scan->idxRecords) + ").");
    ++*errors;
  }
  if (scan->datRecords > kMaxDatBlocks) {
    out.Line(
        "  ERROR: DAT exceeds 65,536 records and cannot be addressed safely by the 16-bit PTR "
        "Where field.");
    ++*errors;
  }
}

}  // namespace scan_steps

void ScanConference(Os& os, ReportOutput& out, const std::string& messageDir, uint32_t conference,
                    const std::string& name, bool write, ConferenceScan* scan,
                    std::string_view interruptedCommit) {
  *scan = ConferenceScan{};
  out.Line("");
  std::string heading = "CONF ";
  if (conference <= 9) heading += "0";
  heading += Decimal(conference);
  if (!name.empty()) heading += " - " + name;
  out.Line(heading);

  scan_steps::ScanFiles files;
  const bool opened = scan_steps::OpenScanFiles(os, out, messageDir, conference, &files, scan);
  if (opened) {
    scan_steps::CheckSizes(out, scan);
    if (scan->validationErrors == 0) {
      if (scan->ptrRecords > kMaxScanRecords) {
        out.Line("  ERROR: PTR has more than 2,000,000 records; scan safety limit reached.");
        ++scan->validationErrors;
      } else {
        scan_steps::AnalyseRecords(out, *files.ptr, *files.idx, write, scan);
      }
    }
  }
  // A commit that never finished makes the files unfit to judge or write,
  // whatever they look like.
  if (!interruptedCommit.empty()) {
    out.Line(std::string(interruptedCommit));
    ++scan->validationErrors;
  }
  if (opened) scan_steps::PrintScanReport(out, *scan, write);
}

}  // namespace twtrim
