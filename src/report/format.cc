#include "report/format.h"

namespace twtrim {
namespace {

constexpr size_t kLabelWidth = 20;

// Two digits with a leading zero, as every field of the time stamp but the year.
void AppendTwoDigits(std::string* text, int value) {
  const unsigned two = static_cast<unsigned>(value) % 100;
  text->push_back(static_cast<char>('0' + two / 10));
  text->push_back(static_cast<char>('0' + two % 10));
}

bool HasBlank(const std::string& text) { return text.find_first_of(" \t") != std::string::npos; }

}  // namespace

std::string Decimal(uint64_t value) {
  char digits[20];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text;
  text.reserve(count);
  while (count > 0) text.push_back(digits[--count]);
  return text;
}

std::string SignedDecimal(int32_t value) {
  // Widen before negating: -2147483648 has no positive int32_t.
  const int64_t wide = value;
  if (wide >= 0) return Decimal(static_cast<uint64_t>(wide));
  std::string text = Decimal(static_cast<uint64_t>(-wide));
  text.insert(text.begin(), '-');  // not "-" + text: GCC 12 -O3 warns falsely (-Wrestrict) on that
  return text;
}

void AppendIfAny(std::string* line, std::string_view label, uint64_t value) {
  if (value == 0) return;
  *line += label;
  *line += Decimal(value);
}

std::string Hex32(uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return text;
}

std::string PadLabel(std::string_view label) {
  std::string text(label);
  if (text.size() < kLabelWidth) text.append(kLabelWidth - text.size(), ' ');
  return text;
}

std::string Timestamp(const LocalTime& t) {
  std::string text = SignedDecimal(t.year);
  text.push_back('-');
  AppendTwoDigits(&text, t.month);
  text.push_back('-');
  AppendTwoDigits(&text, t.day);
  text.push_back(' ');
  AppendTwoDigits(&text, t.hour);
  text.push_back(':');
  AppendTwoDigits(&text, t.minute);
  text.push_back(':');
  AppendTwoDigits(&text, t.second);
  return text;
}

std::string CommandLineEcho(const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) text.push_back(' ');
    if (HasBlank(arguments[i])) {
      text.push_back('"');
      text += arguments[i];
      text.push_back('"');
    } else {
      text += arguments[i];
    }
  }
  return text;
}

}  // namespace twtrim
