// Copies of a few bytes without a library call, for the writers that put many short pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace yomika::render {

// The n bytes at p (sizeof(Word) <= n <= 2 * sizeof(Word)) as two words that overlap in the
// middle.
template <class Word>
inline void copy_both_ends(char* d, const char* p, std::size_t n) {
  Word first, last;
  std::memcpy(&first, p, sizeof first);
  std::memcpy(&last, p + n - sizeof last, sizeof last);
  std::memcpy(d, &first, sizeof first);
  std::memcpy(d + n - sizeof last, &last, sizeof last);
}

// Up to 16 bytes (a node string, most fragments of markup) with two overlapping moves and no
// call; the rest, and a length known when compiled, through memcpy. Both ends of the source are
// read within [p, p + n).
inline void copy_short(char* d, const char* p, std::size_t n) {
  if (__builtin_constant_p(n) || n > 16) {
    std::memcpy(d, p, n);
  } else if (n >= 8) {
    copy_both_ends<uint64_t>(d, p, n);
  } else if (n >= 4) {
    copy_both_ends<uint32_t>(d, p, n);
  } else {
    for (std::size_t i = 0; i < n; ++i) d[i] = p[i];
  }
}

}  // namespace yomika::render
