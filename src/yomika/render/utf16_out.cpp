// The UTF-16 writer's block step for runs of three-byte characters (SSSE3 where the processor has
// it).
#include "yomika/render/utf16_out.hpp"

#if YOMIKA_UTF16_SSE2
#include <array>

#include <immintrin.h>
#endif

namespace yomika::render {

#if YOMIKA_UTF16_SSE2
namespace {

// Shuffles that gather a piece of r bytes (3 < r < 16) from two overlapping loads into the low
// bytes of a register, zeros after it: from two eight-byte loads (r of 8 to 15) and from two
// four-byte loads (r of 4 to 7).
struct alignas(16) ShortShuffle {
  int8_t lane[16];
};
template <int kHalf>
constexpr std::array<ShortShuffle, kHalf> short_shuffles() {
  std::array<ShortShuffle, kHalf> t{};
  for (int r = kHalf; r < 2 * kHalf; ++r) {
    for (int i = 0; i < 16; ++i) {
      t[r - kHalf].lane[i] = static_cast<int8_t>(i < kHalf ? i : i < r ? 2 * kHalf + i - r : -1);
    }
  }
  return t;
}
constexpr auto kShortFrom8 = short_shuffles<8>();
constexpr auto kShortFrom4 = short_shuffles<4>();

// The r bytes at s (3 <= r < 16), zeros after them, read without a byte outside the piece.
__attribute__((target("ssse3"))) inline __m128i load_short(const uint8_t* s, std::ptrdiff_t r) {
  if (r >= 8) {
    uint64_t lo, hi;
    std::memcpy(&lo, s, 8);
    std::memcpy(&hi, s + r - 8, 8);
    return _mm_shuffle_epi8(_mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)),
                            _mm_load_si128(reinterpret_cast<const __m128i*>(kShortFrom8[r - 8].lane)));
  }
  if (r >= 4) {
    uint32_t lo, hi;
    std::memcpy(&lo, s, 4);
    std::memcpy(&hi, s + r - 4, 4);
    return _mm_shuffle_epi8(_mm_set_epi32(0, 0, static_cast<int>(hi), static_cast<int>(lo)),
                            _mm_load_si128(reinterpret_cast<const __m128i*>(kShortFrom4[r - 4].lane)));
  }
  return _mm_cvtsi32_si128(s[0] | s[1] << 8 | s[2] << 16);
}

// The characters of up to five three-byte characters at the start of v, as 16-bit lanes, and in
// `n` how many of them are well-formed from the first on.
__attribute__((target("ssse3"))) inline __m128i three_byte_lanes(__m128i v, unsigned& n) {
  const __m128i shape_mask =
      _mm_setr_epi8(-16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, 0);
  const __m128i shape =
      _mm_setr_epi8(-32, -128, -128, -32, -128, -128, -32, -128, -128, -32, -128, -128, -32, -128, -128, 0);
  // Lanes of (lead << 8 | middle), and of the last byte.
  const __m128i lead_middle = _mm_setr_epi8(1, 0, 4, 3, 7, 6, 10, 9, 13, 12, -1, -1, -1, -1, -1, -1);
  const __m128i last = _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1);
  // Bytes in the place of a lead or continuation byte, from the first; the sixteenth is none.
  const auto formed = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, shape_mask), shape)));
  n = static_cast<unsigned>(__builtin_ctz(~formed | 0x8000)) / 3;
  const __m128i lm = _mm_shuffle_epi8(v, lead_middle);
  const __m128i c = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(lm, _mm_set1_epi16(0x0F00)), 4),
                                 _mm_slli_epi16(_mm_and_si128(lm, _mm_set1_epi16(0x003F)), 6));
  return _mm_or_si128(c, _mm_and_si128(_mm_shuffle_epi8(v, last), _mm_set1_epi16(0x3F)));
}

// Widens the run of three-byte characters at s, five a step, the last step (and a short run's
// only one) read with load_short. Returns where the characters left start: s itself when none
// starts there. Up to eight units are stored, so eight must be free past the run's own.
//
// PERF: a step of five whole characters advances by a constant, so that the next load does not
// wait for this step's checks (an advance computed from them made every step wait for the one
// before: three times slower on a book's paragraphs).
__attribute__((target("ssse3"))) const uint8_t* widen_runs_ssse3(const uint8_t* s, const uint8_t* e, uint16_t*& out) {
  uint16_t* d = out;
  unsigned n;
  while (e - s >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), three_byte_lanes(v, n));
    if (n == 5) {
      d += 5;
      s += 15;
      continue;
    }
    d += n;
    out = d;
    return s + 3 * n;
  }
  if (e - s >= 3) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), three_byte_lanes(load_short(s, e - s), n));
    d += n;
    s += 3 * n;
  }
  out = d;
  return s;
}

bool detect_ssse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}
const bool kHaveSsse3 = detect_ssse3();

}  // namespace
#endif

const uint8_t* widen_three_byte_runs(const uint8_t* s, const uint8_t* e, uint16_t*& out) {
#if YOMIKA_UTF16_SSE2
  if (kHaveSsse3) return widen_runs_ssse3(s, e, out);
#endif
  (void)e;
  (void)out;
  return s;
}

}  // namespace yomika::render
