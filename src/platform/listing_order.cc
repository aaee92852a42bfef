#include "platform/listing_order.h"

#include <algorithm>

#include "platform/bytes.h"

namespace twtrim {

bool ListedBefore(std::string_view a, std::string_view b) {
  const auto fold = [](char c) { return static_cast<unsigned char>(FoldCase(c)); };
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace twtrim
