// Byte searches a block at a time: SSE2 compares over 16-byte lanes, a bit mask per block.
#include "yomika/scan/byte_search.hpp"

#if defined(__SSE2__) || defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
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

// PERF: the three columns are three unaligned loads of the same block at +0, +1 and +2, so a
// candidate is confirmed in the registers and the scalar code only runs at a real match. On the
// corpus this runs at about memory speed, where memmem (which must handle any needle) managed
// under 1 GB/s and was the largest single cost of Phase 0.
std::size_t find_seq3(const char* p, std::size_t n, std::size_t from, char a, char b, char c) {
  if (n < 3 || from > n - 3) return n;
  std::size_t i = from;
#ifdef YOMIKA_HAVE_SSE2
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
  auto lane = [&](std::size_t at) {
    return _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(load16(p + at), va), _mm_cmpeq_epi8(load16(p + at + 1), vb)),
                         _mm_cmpeq_epi8(load16(p + at + 2), vc));
  };
  // A lane at i reads up to p[i + 17]; every position it reports starts a whole match.
  while (i + 64 + 2 <= n) {
    __m128i m0 = lane(i), m1 = lane(i + 16), m2 = lane(i + 32), m3 = lane(i + 48);
    if (bits16(_mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3)))) {
      uint64_t m = bits16(m0) | (uint64_t{bits16(m1)} << 16) | (uint64_t{bits16(m2)} << 32) |
                   (uint64_t{bits16(m3)} << 48);
      return i + ctz64(m);
    }
    i += 64;
  }
  while (i + 16 + 2 <= n) {
    if (uint32_t m = bits16(lane(i))) return i + ctz64(m);
    i += 16;
  }
#endif
  for (; i + 3 <= n; ++i)
    if (p[i] == a && p[i + 1] == b && p[i + 2] == c) return i;
  return n;
}

#ifdef YOMIKA_HAVE_SSE2
namespace {

// Unused slots repeat the first byte, so every lane compares against all eight.
struct Set8 {
  char b[8];
  Set8(const char* set, std::size_t count) {
    for (std::size_t i = 0; i < 8; ++i) b[i] = set[i < count ? i : 0];
  }
};

std::size_t find_any_sse2(const char* p, std::size_t n, std::size_t from, const Set8& s) {
  __m128i v[8];
  for (int i = 0; i < 8; ++i) v[i] = _mm_set1_epi8(s.b[i]);
  return find_first(p, n, from, [&](__m128i x) {
    __m128i a = _mm_or_si128(_mm_cmpeq_epi8(x, v[0]), _mm_cmpeq_epi8(x, v[1]));
    __m128i b = _mm_or_si128(_mm_cmpeq_epi8(x, v[2]), _mm_cmpeq_epi8(x, v[3]));
    __m128i c = _mm_or_si128(_mm_cmpeq_epi8(x, v[4]), _mm_cmpeq_epi8(x, v[5]));
    __m128i d = _mm_or_si128(_mm_cmpeq_epi8(x, v[6]), _mm_cmpeq_epi8(x, v[7]));
    return _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
  });
}

struct Set8Avx {
  __m256i v[8];
};

__attribute__((target("avx2"), always_inline)) inline uint32_t match_avx2(const Set8Avx& v, const char* at) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  __m256i a = _mm256_or_si256(_mm256_cmpeq_epi8(x, v.v[0]), _mm256_cmpeq_epi8(x, v.v[1]));
  __m256i b = _mm256_or_si256(_mm256_cmpeq_epi8(x, v.v[2]), _mm256_cmpeq_epi8(x, v.v[3]));
  __m256i c = _mm256_or_si256(_mm256_cmpeq_epi8(x, v.v[4]), _mm256_cmpeq_epi8(x, v.v[5]));
  __m256i d = _mm256_or_si256(_mm256_cmpeq_epi8(x, v.v[6]), _mm256_cmpeq_epi8(x, v.v[7]));
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d))));
}

// PERF: 32-byte lanes halve the compares per byte; the renderer runs this over its whole text.
__attribute__((target("avx2"))) std::size_t find_any_avx2(const char* p, std::size_t n, std::size_t from,
                                                          const Set8& s) {
  Set8Avx v;
  for (int i = 0; i < 8; ++i) v.v[i] = _mm256_set1_epi8(s.b[i]);
  auto match = [&v](const char* at) __attribute__((target("avx2"))) { return match_avx2(v, at); };
  std::size_t i = from;
  while (i + 64 <= n) {
    const uint64_t m = match(p + i) | (uint64_t{match(p + i + 32)} << 32);
    if (m) return i + ctz64(m);
    i += 64;
  }
  while (i + 32 <= n) {
    if (uint32_t m = match(p + i)) return i + ctz64(m);
    i += 32;
  }
  if (i == n) return n;
  if (n - from >= 32) {
    // One last overlapping lane ending at n; the bytes before i were already misses.
    const std::size_t at = n - 32;
    const uint32_t m = match(p + at) >> (i - at);
    return m ? i + ctz64(m) : n;
  }
  return find_any_sse2(p, n, i, s);  // 16 to 31 bytes from `from`: the 16-byte lanes cover them
}

__attribute__((target("avx2"))) void any_masks_avx2(const char* p, std::size_t n, std::size_t from, const Set8& s,
                                                    std::size_t blocks, uint64_t* masks) {
  Set8Avx v;
  for (int i = 0; i < 8; ++i) v.v[i] = _mm256_set1_epi8(s.b[i]);
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::size_t i = from + 64 * k;
    if (i + 64 <= n) {
      masks[k] = match_avx2(v, p + i) | (uint64_t{match_avx2(v, p + i + 32)} << 32);
      continue;
    }
    // The last, partial block runs on a copy; bits past the end are cleared.
    alignas(32) char tail[64];
    const std::size_t rest = i < n ? n - i : 0;
    std::memcpy(tail, p + (i < n ? i : n), rest);
    std::memset(tail + rest, 0, 64 - rest);
    const uint64_t m = match_avx2(v, tail) | (uint64_t{match_avx2(v, tail + 32)} << 32);
    masks[k] = rest == 0 ? 0 : m & (~uint64_t{0} >> (64 - rest));
  }
}

void any_masks_sse2(const char* p, std::size_t n, std::size_t from, const Set8& s, std::size_t blocks,
                    uint64_t* masks) {
  __m128i v[8];
  for (int i = 0; i < 8; ++i) v[i] = _mm_set1_epi8(s.b[i]);
  auto lane = [&](const char* at) {
    const __m128i x = load16(at);
    __m128i a = _mm_or_si128(_mm_cmpeq_epi8(x, v[0]), _mm_cmpeq_epi8(x, v[1]));
    __m128i b = _mm_or_si128(_mm_cmpeq_epi8(x, v[2]), _mm_cmpeq_epi8(x, v[3]));
    __m128i c = _mm_or_si128(_mm_cmpeq_epi8(x, v[4]), _mm_cmpeq_epi8(x, v[5]));
    __m128i d = _mm_or_si128(_mm_cmpeq_epi8(x, v[6]), _mm_cmpeq_epi8(x, v[7]));
    return uint64_t{bits16(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)))};
  };
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::size_t i = from + 64 * k;
    const char* at = p + i;
    alignas(16) char tail[64];
    std::size_t rest = 64;
    if (i + 64 > n) {
      rest = i < n ? n - i : 0;
      std::memcpy(tail, p + (i < n ? i : n), rest);
      std::memset(tail + rest, 0, 64 - rest);
      at = tail;
    }
    const uint64_t m = lane(at) | (lane(at + 16) << 16) | (lane(at + 32) << 32) | (lane(at + 48) << 48);
    masks[k] = rest == 64 ? m : rest == 0 ? 0 : m & (~uint64_t{0} >> (64 - rest));
  }
}

bool cpu_has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace
#endif

std::size_t find_any(const char* p, std::size_t n, std::size_t from, const char* set, std::size_t count) {
  if (from >= n) return n;
#ifdef YOMIKA_HAVE_SSE2
  if (n - from >= 16) {
    static const bool avx2 = cpu_has_avx2();
    const Set8 s(set, count);
    return avx2 ? find_any_avx2(p, n, from, s) : find_any_sse2(p, n, from, s);
  }
#endif
  for (std::size_t i = from; i < n; ++i)
    for (std::size_t k = 0; k < count; ++k)
      if (p[i] == set[k]) return i;
  return n;
}

void any_masks(const char* p, std::size_t n, std::size_t from, const char* set, std::size_t count,
               std::size_t blocks, uint64_t* masks) {
#ifdef YOMIKA_HAVE_SSE2
  static const bool avx2 = cpu_has_avx2();
  const Set8 s(set, count);
  if (avx2) {
    any_masks_avx2(p, n, from, s, blocks, masks);
  } else {
    any_masks_sse2(p, n, from, s, blocks, masks);
  }
#else
  for (std::size_t k = 0; k < blocks; ++k) {
    uint64_t m = 0;
    for (std::size_t j = 0; j < 64; ++j) {
      const std::size_t i = from + 64 * k + j;
      if (i >= n) break;
      for (std::size_t c = 0; c < count; ++c)
        if (p[i] == set[c]) m |= uint64_t{1} << j;
    }
    masks[k] = m;
  }
#endif
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
