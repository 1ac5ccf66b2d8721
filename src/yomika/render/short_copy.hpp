// Copies of a few bytes without a library call, for the writers that put many short pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace yomika::render {

// Up to 16 bytes (a node string, most fragments of markup) with two overlapping moves and no
// call; the rest, and a length known when compiled, through memcpy. Both ends of the source are
// read within [p, p + n).
inline void copy_short(char* d, const char* p, std::size_t n) {
  if (__builtin_constant_p(n) || n > 16) {
    std::memcpy(d, p, n);
  } else if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) d[i] = p[i];
  }
}

}  // namespace yomika::render
