// The renderers' UTF-16 output: the storage a caller lends, and the writer that fills it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__) || defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define YOMIKA_UTF16_SSE2 1
#else
#define YOMIKA_UTF16_SSE2 0
#endif

namespace yomika::render {

// Storage for a text as UTF-16, owned by the caller (the Python face makes its strs of it).
class Utf16Buffer {
 public:
  // Storage for at least `units` units whose first `kept` units are those of the storage handed
  // out before. Throws std::bad_alloc when there is no memory.
  virtual std::span<uint16_t> grow(std::size_t kept, std::size_t units) = 0;

 protected:
  ~Utf16Buffer() = default;
};

struct Utf16Text {
  std::size_t units = 0;   // written
  std::size_t astral = 0;  // characters above U+FFFF, each written as a surrogate pair
  bool latin1 = false;     // every character is below U+0100
};

// Widens the run of three-byte characters at s, up to eight units past the run's own stored.
// Returns where the characters left start: s itself when the processor lacks the instructions or
// no well-formed character starts there.
const uint8_t* widen_three_byte_runs(const uint8_t* s, const uint8_t* e, uint16_t*& out);

// The renderers' output as UTF-16, written straight into the caller's storage: the Python face
// returns its texts as strs, which hold their characters in two bytes (or four, widened from
// this). Decoding a UTF-8 rendering afterwards was a fifth of parse_to_html on a book: markup and
// short runs of kana and kanji alternate every few bytes there, and a decoder that does not know
// where each run ends guesses wrong at every change. Here each piece is decoded as it is put,
// with its ends known: markup is ASCII and is widened whole, and a piece of the text is mostly
// three-byte characters. Everything put is well-formed UTF-8.
class Utf16Out {
 public:
  // Room for `units` units at first: a text of that many bytes fits without growing.
  Utf16Out(Utf16Buffer& buffer, std::size_t units) : buffer_(buffer) { make_room(units + kSpare); }
  Utf16Out(const Utf16Out&) = delete;
  Utf16Out& operator=(const Utf16Out&) = delete;

  // A piece of k bytes writes at most k units, and may store up to kSpare units past those.
  __attribute__((always_inline)) void put(const char* p, std::size_t k) {
    if (k + kSpare > static_cast<std::size_t>(end_ - w_)) [[unlikely]] make_room(k + kSpare);
    // Markup starts with an ASCII byte, a piece of kana and kanji with a lead byte.
    if (k != 0 && static_cast<unsigned char>(*p) < 0x80 && widen_ascii(p, k)) return;
    decode(p, k);
  }
  void put(std::string_view v) { put(v.data(), v.size()); }
  void put(char c) { put(&c, 1); }

  template <class F>
  void put_ascii(std::size_t k, F&& write) {
    char bytes[32];
    write(bytes);
    put(bytes, k);
  }

  Utf16Text finish() const { return Utf16Text{static_cast<std::size_t>(w_ - base_), astral_, !wide_}; }

 private:
  static constexpr uint64_t kHigh = ~uint64_t{0} / 255 * 0x80;
  static constexpr std::size_t kSpare = 8;

  __attribute__((noinline)) void make_room(std::size_t k) {
    const auto used = static_cast<std::size_t>(w_ - base_);
    const auto cap = static_cast<std::size_t>(end_ - base_);
    const std::span<uint16_t> s = buffer_.grow(used, std::max(used + k, cap + cap / 2));
    base_ = s.data();
    w_ = base_ + used;
    end_ = base_ + s.size();
  }

  // Eight and four bytes known to be ASCII, as as many units.
  static void widen8(uint16_t* d, uint64_t v) {
#if YOMIKA_UTF16_SSE2
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(v)), _mm_setzero_si128()));
#else
    for (int i = 0; i < 8; ++i) d[i] = static_cast<uint16_t>((v >> (8 * i)) & 0xFF);
#endif
  }
  static void widen4(uint16_t* d, uint32_t v) {
#if YOMIKA_UTF16_SSE2
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d),
                     _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128()));
#else
    for (int i = 0; i < 4; ++i) d[i] = static_cast<uint16_t>((v >> (8 * i)) & 0xFF);
#endif
  }

  // A piece that is all ASCII (a fragment of markup, a number) of at most 64 bytes, in moves of
  // eight bytes, the last overlapping the one before it; false, with nothing written, when it
  // holds any other byte or is longer.
  bool widen_ascii(const char* p, std::size_t k) {
    uint16_t* d = w_;
    if (k > 16) {
      if (k > 64) return false;
      uint64_t any = 0, w;
      for (std::size_t i = 0; i + 8 < k; i += 8) {
        std::memcpy(&w, p + i, 8);
        any |= w;
      }
      std::memcpy(&w, p + k - 8, 8);
      if ((any | w) & kHigh) return false;
      for (std::size_t i = 0; i + 8 < k; i += 8) {
        std::memcpy(&w, p + i, 8);
        widen8(d + i, w);
      }
      std::memcpy(&w, p + k - 8, 8);
      widen8(d + k - 8, w);
    } else if (k >= 8) {
      uint64_t a, b;
      std::memcpy(&a, p, 8);
      std::memcpy(&b, p + k - 8, 8);
      if ((a | b) & kHigh) return false;
      widen8(d, a);
      widen8(d + k - 8, b);
    } else if (k >= 4) {
      uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + k - 4, 4);
      if ((a | b) & static_cast<uint32_t>(kHigh)) return false;
      widen4(d, a);
      widen4(d + k - 4, b);
    } else {
      for (std::size_t i = 0; i < k; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
      }
      for (std::size_t i = 0; i < k; ++i) d[i] = static_cast<unsigned char>(p[i]);
    }
    w_ += k;
    return true;
  }

  // Any piece. Everything put is well-formed UTF-8; a byte that is not (which would be a fault
  // of the renderer) becomes U+FFFD rather than a read past the piece. A character above U+FFFF
  // (a special character's resolution may be one) is a surrogate pair.
  void decode(const char* text, std::size_t k) {
    const auto* s = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* const e = s + k;
    uint16_t* d = w_;
    bool wide = wide_;
    std::size_t astral = astral_;
    while (s < e) {
      if (e - s >= 3 && (s[0] & 0xF0) == 0xE0) {
        // Kana and kanji, the bulk of a book's text.
        wide = true;
        // PERF: a run shorter than one block step (a ruby's reading, a word between two
        // constructs) is cheaper one character at a time than through the block step's call.
        if (e - s >= 16) {
          if (const uint8_t* const after = widen_three_byte_runs(s, e, d); after != s) {
            s = after;
            continue;
          }
        }
        do {
          *d++ = static_cast<uint16_t>((s[0] & 0x0F) << 12 | (s[1] & 0x3F) << 6 | (s[2] & 0x3F));
          s += 3;
        } while (e - s >= 3 && (s[0] & 0xF0) == 0xE0);
        continue;
      }
      const unsigned b = s[0];
      if (b < 0x80) {
        if (e - s >= 8) {
          uint64_t v;
          std::memcpy(&v, s, 8);
          // At least the first byte is ASCII; the run ends at the first byte that is not.
          widen8(d, v);
          const uint64_t high = v & kHigh;
          const auto n = high ? static_cast<std::size_t>(__builtin_ctzll(high)) / 8 : 8;
          s += n;
          d += n;
        } else {
          *d++ = static_cast<uint16_t>(b);
          ++s;
        }
      } else if (b >= 0xC2 && b < 0xE0 && e - s >= 2) {
        const auto c = static_cast<uint16_t>((b & 0x1F) << 6 | (s[1] & 0x3F));
        wide = wide || c >= 0x100;
        *d++ = c;
        s += 2;
      } else if (b >= 0xF0 && b < 0xF5 && e - s >= 4) {
        const uint32_t c = (b & 0x07) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 | (s[3] & 0x3Fu);
        if (c < 0x10000 || c > 0x10FFFF) {
          wide = true;
          *d++ = 0xFFFD;
          ++s;
          continue;
        }
        *d++ = static_cast<uint16_t>(0xD800 + ((c - 0x10000) >> 10 & 0x3FF));
        *d++ = static_cast<uint16_t>(0xDC00 + (c & 0x3FF));
        ++astral;
        wide = true;
        s += 4;
      } else {
        wide = true;
        *d++ = 0xFFFD;
        ++s;
      }
    }
    w_ = d;
    wide_ = wide;
    astral_ = astral;
  }

  Utf16Buffer& buffer_;
  uint16_t* base_ = nullptr;
  uint16_t* w_ = nullptr;
  uint16_t* end_ = nullptr;
  bool wide_ = false;        // a unit of U+0100 or above was written
  std::size_t astral_ = 0;  // characters above U+FFFF written
};

}  // namespace yomika::render
