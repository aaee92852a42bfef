#include "scan/diagnostics.h"

#include <string>

#include "platform/bytes.h"
#include "platform/file_io.h"
#include "report/format.h"

namespace twtrim {

namespace {

// A name field as it would show on screen: cut at its field's limit, with
// every byte outside printable ASCII shown as '.'.
void AppendNameText(std::string* line, const PtrRecord& record, size_t lengthAt, size_t limit) {
  size_t length = record.bytes[lengthAt];
  if (length > limit) length = limit;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = record.bytes[lengthAt + 1 + i];
    line->push_back(IsPrintableAscii(c) ? static_cast<char>(c) : '.');
  }
}

}  // namespace

void WriteFileSizeLine(ReportOutput& out, std::string_view kind, uint64_t size, uint32_t count,
                       uint32_t recordSize) {
  std::string line = "  ";
  line += kind;
  line += ": " + Decimal(size) + " bytes / " + Decimal(count) + " records x " + Decimal(recordSize);
  out.Line(line);
}

void WriteProjectionLine(ReportOutput& out, std::string_view kind, uint32_t before, uint32_t after,
                         uint32_t recordSize) {
  std::string line = "    ";
  line += kind;
  line += ": " + Decimal(before) + " -> " + Decimal(after) + " records (" +
          Decimal(uint64_t{before} * recordSize) + " -> " + Decimal(uint64_t{after} * recordSize) +
          " bytes)";
  out.Line(line);
}

void DumpPtrRecord(ReportOutput& out, const PtrRecord& record, uint32_t slot,
                   std::string_view tag) {
  std::string line = "    ";
  line += tag;
  line += " slot " + Decimal(slot) + ": Msg=" + SignedDecimal(record.msgNumber()) +
          " Org=" + SignedDecimal(record.org()) + " TM=" + Decimal(record.tm()) +
          " TS=" + Decimal(record.ts()) + " Deleted=" + Decimal(record.deleted()) +
          " Where=" + Decimal(record.where()) + " Records=" + Decimal(record.records());
  out.Line(line);

  line = "      From=";
  AppendNameText(&line, record, PtrRecord::kFromLength, kFromLimit);
  line += "  To=";
  AppendNameText(&line, record, PtrRecord::kToLength, kToLimit);
  out.Line(line);

  line = "      Subject=";
  AppendNameText(&line, record, PtrRecord::kSubjectLength, kSubjectLimit);
  out.Line(line);
}

void DumpSlot(ReportOutput& out, OsFile& ptrFile, uint32_t slot, std::string_view tag) {
  PtrRecord record;
  const uint64_t offset = (uint64_t{slot} - 1) * kPtrRecordSize;
  if (slot != 0 && ptrFile.Seek(offset) &&
      ReadExact(ptrFile, record.bytes.data(), kPtrRecordSize)) {
    DumpPtrRecord(out, record, slot, tag);
    return;
  }
  std::string line = "    ";
  line += tag;
  line += " slot " + Decimal(slot) + ": unable to reread PTR identity";
  out.Line(line);
}

}  // namespace twtrim
