// Shared set-up for the write-pipeline tests: a board in a scratch directory,
// the real Os wrapped in a FaultOs (which captures the report), and plans
// built the way the run sequence builds them for a write.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "board/board_builder.h"
#include "msgbase/records.h"
#include "platform/os.h"
#include "report/report_output.h"
#include "safety/integrity.h"
#include "scan/conference_plan.h"
#include "support/fault_os.h"
#include "support/report_lines.h"
#include "support/temp_dir.h"

namespace twtrim {

// What a scan projects for a conference that may be written: deleted records
// go, and with them their blocks; with nothing deleted the DAT stays whole.
inline ConferenceScan ProjectedScan(const board::ConferenceFiles& files) {
  ConferenceScan scan;
  uint32_t kept = 0, keptBlocks = 0;
  for (const PtrRecord& record : files.ptr) {
    if (record.deleted() != 0) continue;
    ++kept;
    keptBlocks += record.records();
  }
  scan.ptrRecords = scan.idxRecords = static_cast<uint32_t>(files.ptr.size());
  scan.datRecords = files.datBlocks();
  scan.deletedCount = scan.ptrRecords - kept;
  scan.projectedPtrRecords = scan.projectedIdxRecords = kept;
  scan.projectedDatRecords = scan.deletedCount > 0 ? keptBlocks : scan.datRecords;
  scan.needsAction = true;
  return scan;
}

inline std::string AsString(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The DAT image holding the builder's blocks `indices`, in that order.
inline std::string Blocks(const std::vector<uint32_t>& indices) {
  std::string dat;
  for (uint32_t index : indices) dat += AsString(board::BlockPattern(index));
  return dat;
}

// The file image of PTR or IDX records.
template <typename Record>
std::string RecordImage(const std::vector<Record>& records) {
  std::string bytes;
  for (const Record& r : records) bytes.append(r.bytes.begin(), r.bytes.end());
  return bytes;
}
inline std::string Image(const std::vector<PtrRecord>& r) { return RecordImage(r); }
inline std::string Image(const std::vector<IdxRecord>& r) { return RecordImage(r); }

class WriteTest : public ::testing::Test {
 protected:
  WriteTest()
      : home_(dir_.Path("home")), real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {
    board::Board board;
    EXPECT_TRUE(board::CreateBoard(home_, {"General"}, &board));
    os_.SetNow({2026, 3, 7, 9, 5, 4});
  }

  std::string MessageDir() const { return home_ + "/MESSAGE"; }
  std::string ConfPath(uint32_t n, const std::string& extension) const {
    return board::ConferencePath(MessageDir(), n, extension);
  }

  // Writes the conference's live files and builds its plan for a write.
  ConferencePlan PlanFor(uint32_t n, const board::ConferenceFiles& files) {
    EXPECT_TRUE(board::WriteConference(MessageDir(), n, files));
    ConferencePlan plan;
    EXPECT_TRUE(BuildConferencePlan(&plan, MessageDir(), n, ProjectedScan(files)));
    EXPECT_TRUE(plan.writeWanted);
    return plan;
  }

  // The integrity snapshot of the plan's live files as they are now.
  IntegrityList Snapshot(const ConferencePlan& plan) {
    IntegrityList list;
    for (const std::string* path : {&plan.livePtrPath, &plan.liveIdxPath, &plan.liveDatPath}) {
      IntegrityEntry entry{*path, {}};
      EXPECT_TRUE(FingerprintFile(*real_, *path, &entry.fingerprint));
      list.entries.push_back(entry);
    }
    return list;
  }

  std::string Read(const std::string& path) const {
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : std::string("<unreadable>");
  }
  bool Write(const std::string& path, const std::string& bytes) const {
    return WriteWholeFile(path, bytes);
  }
  PathKind Kind(const std::string& path) { return real_->GetPathKind(path); }

  // The three live files as bytes, to prove they were not touched.
  std::vector<std::string> LiveBytes(const ConferencePlan& plan) const {
    return {Read(plan.livePtrPath), Read(plan.liveIdxPath), Read(plan.liveDatPath)};
  }
  bool NoStagedFile(const ConferencePlan& plan) {
    return Kind(plan.stagedPtrPath) == PathKind::kMissing &&
           Kind(plan.stagedIdxPath) == PathKind::kMissing &&
           Kind(plan.stagedDatPath) == PathKind::kMissing;
  }

  test::Lines Report() const { return test::ReportLines(os_.stdoutText()); }

  TempDir dir_;
  std::string home_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

}  // namespace twtrim
