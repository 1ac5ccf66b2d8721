// Byte searches a block at a time: SSE2 compares over 16-byte lanes, a bit mask per block.
#include "yomika/scan/byte_search.hpp"

#if defined(__SSE2__) || defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define YOMIKA_HAVE_SSE2 1
#endif

namespace yomika::scan {

namespace {

inline unsigned ctz64(uint64_t m) { return static_cast<unsigned>(__builtin_ctzll(m)); }

// A 64-byte block can hold 64 hits; the output keeps room for one whole block so that the
// flattening loop writes without checks.
[[maybe_unused]] inline void ensure_block_room(ArenaVec<uint32_t>& out, Arena& arena) {
  if (out.cap - out.size < 64) {
    std::size_t want = out.cap * 2 > out.size + 64 ? out.cap * 2 : out.size + 64;
    out.reserve(arena, want);
  }
}

[[maybe_unused]] inline void flatten(uint64_t mask, std::size_t base, ArenaVec<uint32_t>& out) {
  uint32_t* w = out.data + out.size;
  const auto b = static_cast<uint32_t>(base);
  while (mask) {
    *w++ = b + ctz64(mask);
    mask &= mask - 1;
  }
  out.size = static_cast<std::size_t>(w - out.data);
}

#ifdef YOMIKA_HAVE_SSE2

inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline uint32_t bits16(__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }

// PERF: the 64-byte loop ORs the four lane compares and tests once, so a miss costs one
// branch per 64 bytes; the exact position is only worked out in the block that hits.
template <class Match>
inline std::size_t find_first(const char* p, std::size_t n, std::size_t from, Match match) {
  std::size_t i = from;
  while (i + 64 <= n) {
    __m128i m0 = match(load16(p + i)), m1 = match(load16(p + i + 16));
    __m128i m2 = match(load16(p + i + 32)), m3 = match(load16(p + i + 48));
    if (bits16(_mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3)))) {
      uint64_t m = bits16(m0) | (uint64_t{bits16(m1)} << 16) | (uint64_t{bits16(m2)} << 32) |
                   (uint64_t{bits16(m3)} << 48);
      return i + ctz64(m);
    }
    i += 64;
  }
  while (i + 16 <= n) {
    if (uint32_t m = bits16(match(load16(p + i)))) return i + ctz64(m);
    i += 16;
  }
  if (i == n) return n;
  if (n - from >= 16) {
    // One last overlapping lane ending at n; the bytes before i were already misses.
    std::size_t at = n - 16;
    uint32_t m = bits16(match(load16(p + at))) >> (i - at);
    return m ? i + ctz64(m) : n;
  }
  return n;  // short ranges are left to the caller's scalar loop
}

#endif

}  // namespace

std::size_t find_byte2(const char* p, std::size_t n, std::size_t from, char a, char b) {
  if (from >= n) return n;
#ifdef YOMIKA_HAVE_SSE2
  if (n - from >= 16) {
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
    return find_first(p, n, from, [&](__m128i v) { return _mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)); });
  }
#endif
  for (std::size_t i = from; i < n; ++i)
    if (p[i] == a || p[i] == b) return i;
  return n;
}

std::size_t find_byte3(const char* p, std::size_t n, std::size_t from, char a, char b, char c) {
  if (from >= n) return n;
#ifdef YOMIKA_HAVE_SSE2
  if (n - from >= 16) {
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
    return find_first(p, n, from, [&](__m128i v) {
      return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)), _mm_cmpeq_epi8(v, vc));
    });
  }
#endif
  for (std::size_t i = from; i < n; ++i)
    if (p[i] == a || p[i] == b || p[i] == c) return i;
  return n;
}

void collect_byte(std::string_view text, char a, Arena& arena, ArenaVec<uint32_t>& out) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
#ifdef YOMIKA_HAVE_SSE2
  const __m128i va = _mm_set1_epi8(a);
  for (; i + 64 <= n; i += 64) {
    uint64_t m = bits16(_mm_cmpeq_epi8(load16(p + i), va)) |
                 (uint64_t{bits16(_mm_cmpeq_epi8(load16(p + i + 16), va))} << 16) |
                 (uint64_t{bits16(_mm_cmpeq_epi8(load16(p + i + 32), va))} << 32) |
                 (uint64_t{bits16(_mm_cmpeq_epi8(load16(p + i + 48), va))} << 48);
    if (m) {
      ensure_block_room(out, arena);
      flatten(m, i, out);
    }
  }
#endif
  for (; i < n; ++i)
    if (p[i] == a) out.push_back(arena, static_cast<uint32_t>(i));
}

}  // namespace yomika::scan
