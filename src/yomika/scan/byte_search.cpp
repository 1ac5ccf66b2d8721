// STUB: replaced by the block byte searches.
#include "yomika/scan/byte_search.hpp"

namespace yomika::scan {
std::size_t find_byte2(const char* p, std::size_t n, std::size_t from, char a, char b) {
  for (std::size_t i = from; i < n; ++i) if (p[i] == a || p[i] == b) return i;
  return n;
}
std::size_t find_byte3(const char* p, std::size_t n, std::size_t from, char a, char b, char c) {
  for (std::size_t i = from; i < n; ++i) if (p[i] == a || p[i] == b || p[i] == c) return i;
  return n;
}
}  // namespace yomika::scan
