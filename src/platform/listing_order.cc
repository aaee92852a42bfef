#include "platform/listing_order.h"

#include <algorithm>

namespace twtrim {

bool ListedBefore(std::string_view a, std::string_view b) {
  const auto fold = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
  };
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace twtrim
