// Shared set-up for the safety tests: a scratch directory, the real Os
// wrapped in a FaultOs (which captures standard output), and a report
// writer on top of it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "report/paths.h"
#include "report/report_output.h"
#include "safety/fingerprint.h"
#include "support/fault_os.h"
#include "support/temp_dir.h"

namespace twtrim {

inline uint32_t ReferenceCrcByte(uint32_t crc, uint8_t byte) {
  crc ^= byte;
  for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  return crc;
}

// The fingerprint computed the slow, obvious way (the CRC bit by bit, FNV-1a
// byte by byte), sharing nothing with the program's code.
inline FileFingerprint ReferenceFingerprint(std::string_view bytes) {
  uint32_t fnv = 0x811C9DC5u;
  uint32_t crc = 0xFFFFFFFFu;
  for (char c : bytes) {
    const uint8_t b = static_cast<uint8_t>(c);
    fnv = (fnv ^ b) * 0x01000193u;
    crc = ReferenceCrcByte(crc, b);
  }
  return {bytes.size(), fnv, ~crc};
}

class SafetyTest : public ::testing::Test {
 protected:
  SafetyTest() : real_(CreateSystemOs(0, nullptr)), os_(*real_), out_(os_) {}

  // The report as lines; fails the test if any line lacks its CR LF.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string& text = os_.stdoutText();
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "report ends without CR LF: " << text.substr(start);
        lines.push_back(text.substr(start));
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // `relative` under the scratch directory as the program joins it: with
  // the platform's separator after the directory and between components.
  std::string Joined(std::string_view relative) const {
    std::string path = dir_.path();
    path += kPathSeparator;
    for (char c : relative) path += c == '/' ? kPathSeparator : c;
    return path;
  }

  TempDir dir_;
  std::unique_ptr<Os> real_;
  FaultOs os_;
  ReportOutput out_;
};

}  // namespace twtrim
