#include "report/report_output.h"

#include <algorithm>
#include <limits>

#include "platform/file_io.h"
#include "report/format.h"

namespace twtrim {

ReportOutput::ReportOutput(Os& os) : os_(os) {}

ReportOutput::~ReportOutput() { CloseReportLog(); }

void ReportOutput::Emit(std::string_view bytes) {
  if (bytes.empty()) return;
  os_.WriteStdout(bytes.data(), bytes.size());
  if (log_ != nullptr) {
    // One report line never nears 4 GiB.
    const size_t limit = std::numeric_limits<uint32_t>::max();
    const uint32_t size = static_cast<uint32_t>(std::min(bytes.size(), limit));
    const OsFailure before = os_.LastFailure();
    if (!WriteExact(*log_, bytes.data(), size)) LogFailed(before);
  }
}

void ReportOutput::LogFailed(const OsFailure& before) {
  if (!logFailed_) logFailure_ = os_.LastFailure();
  logFailed_ = true;
  os_.RememberFailure(before);
}

void ReportOutput::WriteText(std::string_view text) { Emit(text); }

void ReportOutput::WriteNewline() { Emit("\r\n"); }

void ReportOutput::Line(std::string_view text) {
  std::string bytes(text);
  bytes += "\r\n";
  Emit(bytes);
}

void ReportOutput::CauseLine(const OsFailure& failure) {
  if (!verbose_ || failure.call.empty()) return;
  std::string line = "  Cause: " + failure.call;
  if (!failure.path.empty()) line += " " + failure.path;
  line += ": " + failure.text;
  if (!failure.codeName.empty())
    line += " (" + failure.codeName + " " + Decimal(failure.code) + ")";
  Line(line);
}

void ReportOutput::LabelLine(std::string_view label, std::string_view value) {
  std::string bytes = PadLabel(label);
  bytes += value;
  bytes += "\r\n";
  Emit(bytes);
}

bool ReportOutput::OpenReportLog(const std::string& path) {
  CloseReportLog();
  std::unique_ptr<OsFile> file = os_.OpenForAppend(path);
  if (file == nullptr) return false;
  // Appending never truncates: every run's report follows the previous ones.
  if (!file->SeekToEnd()) {
    file->Close();
    return false;
  }
  log_ = std::move(file);
  return true;
}

void ReportOutput::FlushLog() {
  if (log_ == nullptr) return;
  const OsFailure before = os_.LastFailure();
  if (!log_->Flush()) LogFailed(before);
}

void ReportOutput::CloseReportLog() {
  if (log_ == nullptr) return;
  const OsFailure before = os_.LastFailure();
  if (!log_->Close()) LogFailed(before);
  log_.reset();
}

}  // namespace twtrim
