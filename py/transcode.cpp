// Conversions between fixed-width string storage and UTF-8 for the Python boundary.
//
// PERF NOTES. The boundary converts every byte twice (source in, result out), so these loops
// decide how close a call gets to the pipeline's own speed. Japanese text is the common case:
// two-byte storage whose characters become three UTF-8 bytes each, broken every few dozen
// characters by an ASCII line feed or markup. The loops therefore take 8 (encoding) or 4
// (decoding) three-byte characters per step with one shuffle (SSSE3, chosen at run time), whole
// 8- or 16-character blocks of ASCII with one pack or unpack, and anything else one character at
// a time. Sizes and shapes are counted in a separate pass of plain SSE2 compares: it reads the
// input at memory speed and lets every buffer be allocated once at its exact size.
#include "transcode.hpp"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define YOMIKA_TRANSCODE_X86 1
#else
#define YOMIKA_TRANSCODE_X86 0
#endif

namespace yomika_py::transcode {

namespace {

// ---------------------------------------------------------------------------------------------
// One character at a time

inline char* put_utf8(uint32_t c, char* o) {
  if (c < 0x80) {
    *o++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *o++ = static_cast<char>(0xC0 | (c >> 6));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (c >> 12));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (c >> 18));
    *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return o;
}

// Reads one character at p < end, accepting exactly the well-formed UTF-8 sequences (no
// overlong forms, no surrogates, nothing past U+10FFFF).
inline bool take_utf8(const uint8_t*& p, const uint8_t* end, uint32_t& c) {
  uint32_t b0 = p[0];
  if (b0 < 0x80) {
    c = b0;
    p += 1;
    return true;
  }
  std::ptrdiff_t left = end - p;
  if (b0 < 0xC2) return false;  // a continuation byte, or an overlong two-byte lead
  if (b0 < 0xE0) {
    if (left < 2 || (p[1] & 0xC0) != 0x80) return false;
    c = ((b0 & 0x1F) << 6) | (p[1] & 0x3F);
    p += 2;
    return true;
  }
  if (b0 < 0xF0) {
    if (left < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) return false;
    c = ((b0 & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F);
    if (c < 0x800 || (c & 0xF800) == 0xD800) return false;
    p += 3;
    return true;
  }
  if (b0 < 0xF5) {
    if (left < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80 || (p[3] & 0xC0) != 0x80) return false;
    c = ((b0 & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F);
    if (c < 0x10000 || c > 0x10FFFF) return false;
    p += 4;
    return true;
  }
  return false;
}

// Decodes the rest of a text one character at a time.
template <class Unit>
bool decode_tail(const uint8_t* p, const uint8_t* end, Unit* o, Unit* oend, uint32_t max_char) {
  while (p < end) {
    uint32_t c;
    if (o == oend || !take_utf8(p, end, c) || c > max_char) return false;
    *o++ = static_cast<Unit>(c);
  }
  return o == oend;
}

#if YOMIKA_TRANSCODE_X86

inline __m128i load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store16(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline void store8(void* p, __m128i v) { _mm_storel_epi64(static_cast<__m128i*>(p), v); }
inline unsigned ctz(unsigned m) { return static_cast<unsigned>(__builtin_ctz(m)); }

// The sum of the 16 byte lanes of a per-lane counter.
inline uint64_t sum_bytes(__m128i acc) {
  __m128i s = _mm_sad_epu8(acc, _mm_setzero_si128());
  return static_cast<uint64_t>(_mm_cvtsi128_si64(s)) + static_cast<uint64_t>(_mm_extract_epi16(s, 4));
}

// The sum of the 8 16-bit lanes of a per-lane counter (each lane below 32768).
inline uint64_t sum_words(__m128i acc) {
  __m128i s = _mm_madd_epi16(acc, _mm_set1_epi16(1));
  s = _mm_add_epi32(s, _mm_srli_si128(s, 8));
  s = _mm_add_epi32(s, _mm_srli_si128(s, 4));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(s));
}

bool detect_ssse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

const bool kHaveSsse3 = detect_ssse3();

// Eight characters of U+0800..U+FFFF (no surrogates) as 24 bytes of UTF-8: the three bytes of
// every character are computed in 16-bit lanes, packed into two vectors and interleaved with one
// shuffle per output vector.
__attribute__((target("ssse3"))) inline void put_three_byte_8(__m128i v, char* out) {
  const __m128i low6 = _mm_set1_epi16(0x3F);
  const __m128i cont = _mm_set1_epi16(0x80);
  __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 12), _mm_set1_epi16(0xE0));
  __m128i mid = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 6), low6), cont);
  __m128i last = _mm_or_si128(_mm_and_si128(v, low6), cont);
  __m128i x = _mm_packus_epi16(lead, mid);   // lead 0..7, mid 0..7
  __m128i y = _mm_packus_epi16(last, last);  // last 0..7 (twice)
  const __m128i x0 = _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
  const __m128i y0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m128i x1 = _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i y1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  store16(out, _mm_or_si128(_mm_shuffle_epi8(x, x0), _mm_shuffle_epi8(y, y0)));
  store8(out + 16, _mm_or_si128(_mm_shuffle_epi8(x, x1), _mm_shuffle_epi8(y, y1)));
}

// Up to eight characters of two-byte storage (v; s points at the first of them in the string) as
// UTF-8 at `out`. Returns how many characters were taken, at least one. `kShuffle` selects the
// three-byte block path (SSSE3).
template <bool kShuffle, class Unit>
__attribute__((always_inline)) inline unsigned encode_block8(__m128i v, const Unit* s, char*& out, char* out_end) {
  const __m128i zero = _mm_setzero_si128();
  unsigned ascii = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), zero)));
  if (ascii & 1) {
    // At least eight output bytes remain, since each of the eight characters takes one or more.
    store8(out, _mm_packus_epi16(v, v));
    unsigned k = ascii == 0xFFFF ? 8 : ctz(~ascii) / 2;
    out += k;
    return k;
  }
  if constexpr (kShuffle) {
    unsigned narrow = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800))), zero)));
    // The leading characters that take three bytes; all 24 bytes are written, so a block that
    // ends early needs that much room left.
    unsigned k = narrow == 0 ? 8 : ctz(narrow) / 2;
    if (k == 8 || (k > 0 && out_end - out >= 24)) {
      put_three_byte_8(v, out);
      out += 3 * k;
      return k;
    }
  }
  out = put_utf8(s[0], out);
  return 1;
}

// Four-byte storage: eight characters below U+10000 are narrowed to 16-bit lanes and take the
// two-byte path; the few astral characters go one at a time.
template <bool kShuffle>
__attribute__((always_inline)) inline void encode_ucs4_loop(const uint32_t* s, std::size_t n, char* out,
                                                            char* out_end) {
  const __m128i bias32 = _mm_set1_epi32(0x8000);
  const __m128i bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i astral = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
  std::size_t i = 0;
  while (i + 8 <= n) {
    __m128i a = load16(s + i), b = load16(s + i + 4);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(_mm_or_si128(a, b), astral), _mm_setzero_si128())) != 0xFFFF) {
      out = put_utf8(s[i++], out);
      continue;
    }
    // Signed saturation would clip values from 0x8000 up; shifting the range keeps them intact.
    __m128i v = _mm_add_epi16(_mm_packs_epi32(_mm_sub_epi32(a, bias32), _mm_sub_epi32(b, bias32)), bias16);
    i += encode_block8<kShuffle>(v, s + i, out, out_end);
  }
  for (; i < n; ++i) out = put_utf8(s[i], out);
}

// Two-byte storage into [out, out_end), watching for surrogates (a string that holds one has no
// UTF-8 form, and the output is then unusable). Returns the end of the output.
template <bool kShuffle>
__attribute__((always_inline)) inline char* encode_ucs2_loop(const uint16_t* s, std::size_t n, char* out,
                                                             char* out_end, bool& surrogate) {
  const __m128i top = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogates = _mm_set1_epi16(static_cast<short>(0xD800));
  __m128i seen = _mm_setzero_si128();
  std::size_t i = 0;
  while (i + 8 <= n) {
    const __m128i v = load16(s + i);
    seen = _mm_or_si128(seen, _mm_cmpeq_epi16(_mm_and_si128(v, top), surrogates));
    i += encode_block8<kShuffle>(v, s + i, out, out_end);
  }
  bool any = _mm_movemask_epi8(seen) != 0;
  for (; i < n; ++i) {
    any |= (s[i] & 0xF800) == 0xD800;
    out = put_utf8(s[i], out);
  }
  surrogate = any;
  return out;
}

__attribute__((target("ssse3"))) char* encode_ucs2_ssse3(const uint16_t* s, std::size_t n, char* out, char* end,
                                                         bool& surrogate) {
  return encode_ucs2_loop<true>(s, n, out, end, surrogate);
}
char* encode_ucs2_sse2(const uint16_t* s, std::size_t n, char* out, char* end, bool& surrogate) {
  return encode_ucs2_loop<false>(s, n, out, end, surrogate);
}
__attribute__((target("ssse3"))) void encode_ucs4_ssse3(const uint32_t* s, std::size_t n, char* out, char* end) {
  encode_ucs4_loop<true>(s, n, out, end);
}
void encode_ucs4_sse2(const uint32_t* s, std::size_t n, char* out, char* end) {
  encode_ucs4_loop<false>(s, n, out, end);
}

// The three-byte sequences at the start of v, up to four, decoded into the low 16-bit lanes of
// `c`. Bit i of the result is set when the bytes of lane i form a well-formed sequence; the run of
// set bits from bit 0 is what may be taken, so that a run of Japanese text ending inside the block
// is taken in the same step as the characters before it.
__attribute__((target("ssse3"))) inline unsigned take_three_byte_4(__m128i v, __m128i& c) {
  const __m128i shape_mask = _mm_setr_epi8(-16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, 0, 0, 0, 0);
  const __m128i shape = _mm_setr_epi8(-32, -128, -128, -32, -128, -128, -32, -128, -128, -32, -128, -128, 0, 0, 0, 0);
  unsigned match = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, shape_mask), shape)));
  // Lanes of (lead << 8 | middle) and of the last byte.
  __m128i lead_mid = _mm_shuffle_epi8(v, _mm_setr_epi8(1, 0, 4, 3, 7, 6, 10, 9, -1, -1, -1, -1, -1, -1, -1, -1));
  __m128i last = _mm_shuffle_epi8(v, _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  c = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(lead_mid, _mm_set1_epi16(0x0F00)), 4),
                   _mm_slli_epi16(_mm_and_si128(lead_mid, _mm_set1_epi16(0x003F)), 6));
  c = _mm_or_si128(c, _mm_and_si128(last, _mm_set1_epi16(0x3F)));
  // Overlong forms come out below U+0800; surrogates must not appear. Bit 2i: lane i is neither.
  __m128i wide_enough = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_set1_epi16(0x800), c), _mm_setzero_si128());
  __m128i surrogate = _mm_cmpeq_epi16(_mm_and_si128(c, _mm_set1_epi16(static_cast<short>(0xF800))),
                                      _mm_set1_epi16(static_cast<short>(0xD800)));
  unsigned valid = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(surrogate, wide_enough)));
  if (match == 0xFFFF && (valid & 0xFF) == 0xFF) return 0xF;
  // Bit 3i: the three bytes of character i have the shape lead, continuation, continuation.
  unsigned formed = match & (match >> 1) & (match >> 2);
  unsigned good = (formed & valid & 1) | ((formed >> 3) & (valid >> 2) & 1) << 1 |
                  ((formed >> 6) & (valid >> 4) & 1) << 2 | ((formed >> 9) & (valid >> 6) & 1) << 3;
  return good;
}

// Stores sixteen ASCII bytes widened to units, and four 16-bit lanes widened to units.
inline void put_ascii16(uint16_t* o, __m128i v) {
  const __m128i zero = _mm_setzero_si128();
  store16(o, _mm_unpacklo_epi8(v, zero));
  store16(o + 8, _mm_unpackhi_epi8(v, zero));
}
inline void put_ascii16(uint32_t* o, __m128i v) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
  store16(o, _mm_unpacklo_epi16(lo, zero));
  store16(o + 4, _mm_unpackhi_epi16(lo, zero));
  store16(o + 8, _mm_unpacklo_epi16(hi, zero));
  store16(o + 12, _mm_unpackhi_epi16(hi, zero));
}
inline void put_units4(uint16_t* o, __m128i c) { store8(o, c); }
inline void put_units4(uint32_t* o, __m128i c) { store16(o, _mm_unpacklo_epi16(c, _mm_setzero_si128())); }

// UTF-8 into two- or four-byte units.
template <bool kShuffle, class Unit>
__attribute__((always_inline)) inline bool decode_wide_loop(const uint8_t* p, const uint8_t* end, Unit* o,
                                                            Unit* oend) {
  constexpr uint32_t kMaxChar = sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
  while (end - p >= 16) {
    __m128i v = load16(p);
    unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
    if ((high & 1) == 0) {
      // A run of ASCII: widen all sixteen bytes, keep those before the first other byte.
      if (oend - o < 16) break;
      put_ascii16(o, v);
      unsigned k = high ? ctz(high) : 16;
      p += k;
      o += k;
      continue;
    }
    if constexpr (kShuffle) {
      __m128i c;
      unsigned good;
      // All four lanes are stored; those past the run are overwritten by what follows.
      if (oend - o >= 4 && ((good = take_three_byte_4(v, c)) & 1)) {
        put_units4(o, c);
        // The whole block is the common case and takes a constant step: the next load then does
        // not wait for this block's checks, which a step computed from them would make it do.
        if (good == 0xF) {
          p += 12;
          o += 4;
        } else {
          unsigned k = ctz(~good);
          p += 3 * k;
          o += k;
        }
        continue;
      }
    }
    uint32_t c;
    if (o == oend || !take_utf8(p, end, c) || c > kMaxChar) return false;
    *o++ = static_cast<Unit>(c);
  }
  return decode_tail(p, end, o, oend, kMaxChar);
}

template <class Unit>
__attribute__((target("ssse3"))) bool decode_wide_ssse3(const uint8_t* p, const uint8_t* end, Unit* o, Unit* oend) {
  return decode_wide_loop<true>(p, end, o, oend);
}
template <class Unit>
bool decode_wide_sse2(const uint8_t* p, const uint8_t* end, Unit* o, Unit* oend) {
  return decode_wide_loop<false>(p, end, o, oend);
}

#endif  // YOMIKA_TRANSCODE_X86

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sizes

EncodedSize utf8_size(const uint8_t* s, std::size_t n) {
  uint64_t high = 0;
  std::size_t i = 0;
#if YOMIKA_TRANSCODE_X86
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    // Byte-lane counters hold 255 steps.
    __m128i acc = zero;
    std::size_t stop = std::min(n, i + 255 * 16);
    for (; i + 16 <= stop; i += 16) acc = _mm_sub_epi8(acc, _mm_cmplt_epi8(load16(s + i), zero));
    high += sum_bytes(acc);
  }
#endif
  for (; i < n; ++i) high += s[i] >> 7;
  return {n + high, false};
}

EncodedSize utf8_size(const uint16_t* s, std::size_t n) {
  uint64_t extra = 0;
  bool surrogate = false;
  std::size_t i = 0;
#if YOMIKA_TRANSCODE_X86
  const __m128i zero = _mm_setzero_si128();
  const __m128i not_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i not_narrow = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogates = _mm_set1_epi16(static_cast<short>(0xD800));
  const __m128i two = _mm_set1_epi16(2);
  __m128i seen = zero;
  while (i + 8 <= n) {
    // Each step adds at most 2 to a lane: 8192 steps stay below 32768.
    __m128i acc = zero;
    std::size_t stop = std::min(n, i + 8 * 8192);
    for (; i + 8 <= stop; i += 8) {
      __m128i v = load16(s + i);
      __m128i top = _mm_and_si128(v, not_narrow);
      // Extra bytes per character: 2, less one for each of "below U+0080" and "below U+0800".
      __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, not_ascii), zero);
      __m128i narrow = _mm_cmpeq_epi16(top, zero);
      acc = _mm_add_epi16(acc, _mm_add_epi16(two, _mm_add_epi16(ascii, narrow)));
      seen = _mm_or_si128(seen, _mm_cmpeq_epi16(top, surrogates));
    }
    extra += sum_words(acc);
  }
  surrogate = _mm_movemask_epi8(seen) != 0;
#endif
  for (; i < n; ++i) {
    uint32_t c = s[i];
    extra += (c >= 0x80) + (c >= 0x800);
    surrogate |= (c & 0xF800) == 0xD800;
  }
  return {n + extra, surrogate};
}

EncodedSize utf8_size(const uint32_t* s, std::size_t n) {
  uint64_t bytes = 0;
  bool surrogate = false;
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    bytes += 1 + (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
    surrogate |= (c & 0xFFFFF800) == 0xD800;
  }
  return {bytes, surrogate};
}

// ---------------------------------------------------------------------------------------------
// Encoding

void encode_utf8(const uint8_t* s, std::size_t n, char* out, std::size_t) {
  std::size_t i = 0;
#if YOMIKA_TRANSCODE_X86
  while (i + 16 <= n) {
    __m128i v = load16(s + i);
    unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
    store16(out, v);  // the output left is at least as long as the input left
    if (high == 0) {
      i += 16;
      out += 16;
      continue;
    }
    unsigned k = ctz(high);
    i += k;
    out += k;
    out = put_utf8(s[i++], out);
  }
#endif
  for (; i < n; ++i) out = put_utf8(s[i], out);
}

namespace {

// Two-byte storage into [out, end); returns the end of the output.
char* encode_ucs2(const uint16_t* s, std::size_t n, char* out, char* end, bool& surrogate) {
#if YOMIKA_TRANSCODE_X86
  return kHaveSsse3 ? encode_ucs2_ssse3(s, n, out, end, surrogate) : encode_ucs2_sse2(s, n, out, end, surrogate);
#else
  (void)end;
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    any |= (s[i] & 0xF800) == 0xD800;
    out = put_utf8(s[i], out);
  }
  surrogate = any;
  return out;
#endif
}

}  // namespace

void encode_utf8(const uint16_t* s, std::size_t n, char* out, std::size_t bytes) {
  bool surrogate = false;  // none: the caller sized the string
  encode_ucs2(s, n, out, out + bytes, surrogate);
}

std::size_t encode_utf8_within(const uint16_t* s, std::size_t n, char* out, bool& surrogate) {
  return static_cast<std::size_t>(encode_ucs2(s, n, out, out + 3 * n, surrogate) - out);
}

void encode_utf8(const uint32_t* s, std::size_t n, char* out, std::size_t bytes) {
#if YOMIKA_TRANSCODE_X86
  char* end = out + bytes;
  if (kHaveSsse3) {
    encode_ucs4_ssse3(s, n, out, end);
  } else {
    encode_ucs4_sse2(s, n, out, end);
  }
#else
  (void)bytes;
  for (std::size_t i = 0; i < n; ++i) out = put_utf8(s[i], out);
#endif
}

// ---------------------------------------------------------------------------------------------
// Decoding

DecodedShape utf8_shape(const char* text, std::size_t n) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint64_t continuation = 0;
  uint32_t top = 0;
  std::size_t i = 0;
#if YOMIKA_TRANSCODE_X86
  // Continuation bytes are 0x80..0xBF: as signed bytes, exactly those below -64.
  const __m128i below = _mm_set1_epi8(-64);
  __m128i max = _mm_setzero_si128();
  while (i + 16 <= n) {
    __m128i acc = _mm_setzero_si128();
    std::size_t stop = std::min(n, i + 255 * 16);
    for (; i + 16 <= stop; i += 16) {
      __m128i v = load16(p + i);
      max = _mm_max_epu8(max, v);
      acc = _mm_sub_epi8(acc, _mm_cmplt_epi8(v, below));
    }
    continuation += sum_bytes(acc);
  }
  max = _mm_max_epu8(max, _mm_srli_si128(max, 8));
  max = _mm_max_epu8(max, _mm_srli_si128(max, 4));
  max = _mm_max_epu8(max, _mm_srli_si128(max, 2));
  max = _mm_max_epu8(max, _mm_srli_si128(max, 1));
  top = static_cast<uint32_t>(_mm_cvtsi128_si32(max)) & 0xFF;
#endif
  for (; i < n; ++i) {
    top = std::max<uint32_t>(top, p[i]);
    continuation += (p[i] & 0xC0) == 0x80;
  }
  // In valid UTF-8 the largest byte is the lead of the largest character: C2..C3 lead
  // U+0080..U+00FF, C4..EF lead up to U+FFFF, F0..F4 the rest.
  uint32_t max_char = top < 0x80 ? 0x7F : top < 0xC4 ? 0xFF : top < 0xF0 ? 0xFFFF : 0x10FFFF;
  return {n - continuation, max_char};
}

bool decode_utf8(const char* text, std::size_t n, uint8_t* out, std::size_t chars) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  const uint8_t* end = p + n;
  uint8_t* oend = out + chars;
#if YOMIKA_TRANSCODE_X86
  while (end - p >= 16 && oend - out >= 16) {
    __m128i v = load16(p);
    unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
    store16(out, v);
    if (high == 0) {
      p += 16;
      out += 16;
      continue;
    }
    unsigned k = ctz(high);
    p += k;
    out += k;
    uint32_t c;
    if (!take_utf8(p, end, c) || c > 0xFF) return false;
    *out++ = static_cast<uint8_t>(c);
  }
#endif
  return decode_tail(p, end, out, oend, 0xFF);
}

bool decode_utf8(const char* text, std::size_t n, uint16_t* out, std::size_t chars) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
#if YOMIKA_TRANSCODE_X86
  if (kHaveSsse3) return decode_wide_ssse3(p, p + n, out, out + chars);
  return decode_wide_sse2(p, p + n, out, out + chars);
#else
  return decode_tail(p, p + n, out, out + chars, 0xFFFF);
#endif
}

bool decode_utf8(const char* text, std::size_t n, uint32_t* out, std::size_t chars) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
#if YOMIKA_TRANSCODE_X86
  if (kHaveSsse3) return decode_wide_ssse3(p, p + n, out, out + chars);
  return decode_wide_sse2(p, p + n, out, out + chars);
#else
  return decode_tail(p, p + n, out, out + chars, 0x10FFFF);
#endif
}

// ---------------------------------------------------------------------------------------------
// UTF-16 to four-byte characters

void utf16_to_ucs4(const uint16_t* units, std::size_t n, uint32_t* out) {
  std::size_t i = 0;
  auto one = [&] {
    const uint32_t u = units[i];
    if ((u & 0xFC00) == 0xD800 && i + 1 < n) {
      *out++ = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      i += 2;
    } else {
      *out++ = u;
      ++i;
    }
  };
#if YOMIKA_TRANSCODE_X86
  const __m128i zero = _mm_setzero_si128();
  const __m128i top = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogates = _mm_set1_epi16(static_cast<short>(0xD800));
  while (i + 8 <= n) {
    __m128i v = load16(units + i);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, top), surrogates)) != 0) {
      one();
      continue;
    }
    store16(out, _mm_unpacklo_epi16(v, zero));
    store16(out + 4, _mm_unpackhi_epi16(v, zero));
    out += 8;
    i += 8;
  }
#endif
  while (i < n) one();
}

}  // namespace yomika_py::transcode
