// The one writer through which every line of the program reaches the console
// and, while it is open, the report log. Bytes go to the system before each
// call returns, so the log holds everything up to the moment the process
// stops, however it stops. Write errors never stop a maintenance run (a full
// disk, a closed console), but a failed log write is remembered so the end of
// the run can say the report file is incomplete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace twtrim {

class ReportOutput {
 public:
  explicit ReportOutput(Os& os);
  ~ReportOutput();

  // Detail flag of /V: report-producing code asks it before printing detail.
  bool verbose() const { return verbose_; }
  void SetVerbose(bool verbose) { verbose_ = verbose; }

  void WriteText(std::string_view text);
  void WriteNewline();

  // `text` followed by CR LF, handed to the system as one write.
  void Line(std::string_view text);
  // Verbose mode only: "  Cause: " and the failed system call, as the line
  // under an error line that says why. Nothing when no call failed.
  void CauseLine(const OsFailure& failure);
  void CauseLine() { CauseLine(os_.LastFailure()); }
  // The label padded with spaces to 20 columns (none when 20 or longer), the
  // value and CR LF, as one write.
  void LabelLine(std::string_view label, std::string_view value);

  // Opens (creating when missing) the report log for appending.
  bool OpenReportLog(const std::string& path);
  // Forces the report log to disk, so that the lines a recovery reads as
  // proof survive a power cut. Called before the first live file changes and
  // at the end of the run.
  void FlushLog();
  void CloseReportLog();
  bool logOpen() const { return log_ != nullptr; }
  // A write, flush or close of the report log failed at some point: the file
  // lacks lines the console showed.
  bool logIncomplete() const { return logFailed_; }
  // Why the report log first failed.
  const OsFailure& logFailure() const { return logFailure_; }

 private:
  void Emit(std::string_view bytes);
  // Keeps the log's failure apart and gives the Os back `before`: the log's
  // trouble must not pass for the cause of the step being reported.
  void LogFailed(const OsFailure& before);

  Os& os_;
  std::unique_ptr<OsFile> log_;
  bool verbose_ = false;
  bool logFailed_ = false;
  OsFailure logFailure_;
};

}  // namespace twtrim
