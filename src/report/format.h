// Text forms of numbers and times shared by every report line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace twtrim {

std::string Decimal(uint64_t value);        // plain, no separators: "0", "4294967295"
std::string SignedDecimal(int32_t value);   // "-5", "-2147483648"
std::string Hex32(uint32_t value);          // exactly 8 upper-case digits
std::string PadLabel(std::string_view label);  // padded with spaces to 20 columns
std::string Timestamp(const LocalTime& t);  // 2026-01-09 07:05:03
// Appends label + value, only when the value is not 0: the findings lines
// name just what was found.
void AppendIfAny(std::string* line, std::string_view label, uint64_t value);
// Argument vector as echoed in the report header.
std::string CommandLineEcho(const std::vector<std::string>& arguments);

}  // namespace twtrim
