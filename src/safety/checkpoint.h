// The guard run at each of the eight checkpoints: callers in TWWHOSON.DAT,
// the tosser's busy marker VIZIZE.BSY, and a running VIZIZE32.EXE.
#pragma once

#include <string>
#include <string_view>

#include "platform/os.h"
#include "report/report_output.h"

namespace twtrim {

inline constexpr std::string_view kInitialPreflight = "initial preflight";
inline constexpr std::string_view kBeforeScan = "immediately before scan";
inline constexpr std::string_view kAfterScan = "immediately after scan";
inline constexpr std::string_view kScanVerification = "scan verification";
inline constexpr std::string_view kBeforeBackup = "before backup";
inline constexpr std::string_view kBeforeCommit = "immediately before commit";
inline constexpr std::string_view kAfterCommit = "after commit";
inline constexpr std::string_view kFinalWriteVerification = "final write verification";

// True when every sign is clear; otherwise it has reported why not.
bool RunSafetyCheck(Os& os, ReportOutput& out, const std::string& homeDir,
                    const std::string& messageDir, std::string_view label);

}  // namespace twtrim
