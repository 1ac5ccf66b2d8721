// The HTML renderer: walks the normalized text, turns line feeds into paragraphs and line breaks,
// escapes the text between sentinels and writes one element per construct.
#include "yomika/render/html.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__) || defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define YOMIKA_WIDE_SSE2 1
#else
#define YOMIKA_WIDE_SSE2 0
#endif

#include "yomika/alloc/fatal.hpp"
#include "yomika/alloc/pages.hpp"
#include "yomika/model/decimal.hpp"
#include "yomika/model/sentinel.hpp"
#include "yomika/render/walk.hpp"
#include "yomika/syntax/phrase.hpp"
#include "yomika/syntax/vocabulary.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/model/span.hpp"

namespace yomika::render {

namespace {

// Every fixed piece of HTML the renderer writes, its class names taken from the vocabulary. A
// value in between two pieces (a number, a name, a text) is filled in by the code that writes them.
namespace frag {
constexpr std::string_view kParagraphOpen = "<p>";
constexpr std::string_view kParagraphClose = "</p>\n";
constexpr std::string_view kLineBreak = "<br />\n";
constexpr std::string_view kNewline = "\n";
constexpr std::string_view kDivClose = "</div>";
constexpr std::string_view kSpanClose = "</span>";
constexpr std::string_view kAttrEnd = "\">";
constexpr std::string_view kEmptySpanEnd = "\"></span>";
constexpr std::string_view kEmptyDivEnd = "\"></div>";
constexpr std::string_view kSpanClass = "<span class=\"";
constexpr std::string_view kDivClass = "<div class=\"";
constexpr std::string_view kDataAmount = "\" data-amount=\"";
constexpr std::string_view kDataOffset = "\" data-offset=\"";
constexpr std::string_view kCommentOpen = "<!-- ";
constexpr std::string_view kCommentClose = " -->";

using vocab::css_class;
constexpr std::string_view css(NodeKind k) { return vocab::node_kind(k).css; }
constexpr std::string_view css(ContainerKind k) { return vocab::container(k).css; }

constexpr std::string_view kRubyOpen = "<ruby>";
constexpr std::string_view kRubyReading = "<rp>(</rp><rt>";
constexpr std::string_view kRubyClose = "</rt><rp>)</rp></ruby>";
// Each followed by the class suffix of the kind, and of the position.
constexpr Phrase kBoutenOpen{"<em class=\"", css_class(css(NodeKind::Bouten)), " ",
                             css_class(css(NodeKind::Bouten), "")};
constexpr Phrase kBoutenPosition{" ", css_class(css(NodeKind::Bouten), "")};
constexpr std::string_view kBoutenClose = "</em>";
constexpr Phrase kTcyOpen{kSpanClass, css_class(css(NodeKind::TateChuYoko)), kAttrEnd};
constexpr Phrase kIndentOpen{kSpanClass, css_class(css(NodeKind::Indent)), " ", css_class(css(NodeKind::Indent), "")};
constexpr Phrase kAlignEndFlush{kSpanClass, css_class(css(NodeKind::AlignEnd)), kDataOffset, "0", kEmptySpanEnd};
constexpr Phrase kAlignEndOpen{kSpanClass, css_class(css(NodeKind::AlignEnd)), " ",
                               css_class(css(NodeKind::AlignEnd), "")};
constexpr Phrase kPageBreak{kDivClass, css_class(css(NodeKind::PageBreak)), kEmptyDivEnd};
constexpr Phrase kSectionBreakOpen{kDivClass, css_class(css(NodeKind::SectionBreak)), " ",
                                   css_class(css(NodeKind::SectionBreak), "")};
constexpr Phrase kKaeritenOpen{"<sup class=\"", css_class(css(NodeKind::Kaeriten)), kAttrEnd};
constexpr std::string_view kKaeritenClose = "</sup>";
constexpr Phrase kWarichuOpen{kSpanClass, css_class(css(NodeKind::Warichu)), kAttrEnd};
constexpr Phrase kAnnotationOpen{kSpanClass, css_class(css(NodeKind::Annotation)), "\" hidden>"};
constexpr Phrase kDoubleRubyOpen{kSpanClass, css_class(css(NodeKind::DoubleRuby)), kAttrEnd, "\xE2\x89\xAA"};  // ≪
constexpr Phrase kDoubleRubyClose{"\xE2\x89\xAB", kSpanClose};                                      // ≫
constexpr Phrase kGaijiCodepoints{kSpanClass, css_class(css(NodeKind::Gaiji)), "\" data-codepoint=\""};
constexpr Phrase kGaijiDescription{kSpanClass, css_class(css(NodeKind::Gaiji)), "\" data-description=\""};

// A block's div: its classes, the kind's, and for an indent one more that its amount completes.
constexpr Phrase container_div(ContainerKind k) {
  return Phrase{kDivClass, css_class(css(NodeKind::Container)), " ", css_class(css(NodeKind::Container), css(k))};
}
constexpr Phrase kContainerIndent{container_div(ContainerKind::Indent), " ",
                                  css_class(css(NodeKind::Container), css(ContainerKind::Indent)), "-"};
constexpr Phrase kContainerWarichu{container_div(ContainerKind::Warichu), kAttrEnd};
constexpr Phrase kContainerKeigakomi{container_div(ContainerKind::Keigakomi), kAttrEnd};
constexpr Phrase kContainerAlignEnd{container_div(ContainerKind::AlignEnd), kDataOffset};
}  // namespace frag

// ---- Escaping: the one table the three escaping paths derive their bytes from -------------------

struct Entity {
  char c;
  std::string_view text;
};
constexpr Entity kEntities[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#x27;"}};

// The entity of each byte, empty for a byte written as it is.
constexpr auto kEntityOf = [] {
  std::array<std::string_view, 256> t{};
  for (const Entity& e : kEntities) t[static_cast<unsigned char>(e.c)] = e.text;
  return t;
}();

// Whether each byte is escaped: the short texts' test, a byte per entry.
constexpr auto kNeedsEscape = [] {
  std::array<bool, 256> t{};
  for (std::size_t b = 0; b < t.size(); ++b) t[b] = !kEntityOf[b].empty();
  return t;
}();

// The escaped bytes, for the block searches of long texts.
constexpr auto kEscaped = [] {
  std::array<char, std::size(kEntities)> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = kEntities[i].c;
  return t;
}();

// The bytes the walk of the normalized text stops at: a line feed, the lead byte of a sentinel,
// and the bytes that the pending text escapes.
constexpr auto kWalkStops = [] {
  std::array<char, 2 + kEscaped.size()> t{'\n', sentinel::kLead};
  for (std::size_t i = 0; i < kEscaped.size(); ++i) t[2 + i] = kEscaped[i];
  return t;
}();
static_assert(kWalkStops.size() <= 8, "the byte searches take at most eight bytes");

// Short texts are tested a word at a time for a byte below 0x40 (see short_needs_escape), and the
// bytes of kana and kanji are all 0x80 or above.
constexpr bool escapes_only_bytes_below_0x40() {
  for (const Entity& e : kEntities) {
    if (static_cast<unsigned char>(e.c) >= 0x40) return false;
  }
  return true;
}
static_assert(escapes_only_bytes_below_0x40());

// PERF NOTES. The output goes through a staging buffer on the stack: markup fragments, entities
// and node strings are copied there with inline copies of a few bytes, and the buffer goes to the
// string in one append when full. Appending each fragment to the std::string was a call into the
// library per fragment (a dozen per ruby). Runs of text longer than a fragment go to the string
// directly, so the text itself is still copied once. Together with the walk's single pass
// (Stops) and the registry cursor this took the renderer from 0.4 to 0.9 GB/s on a text dense
// with constructs, and from 3.6 to 5 GB/s on the corpus.
class Out {
 public:
  explicit Out(std::string& s) : s_(s) {}
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  ~Out() { flush(); }

  // Inlined, so that a fragment of known length is copied with a few moves.
  __attribute__((always_inline)) void put(const char* p, std::size_t k) {
    if (k <= kDirect && k <= kStage - n_) [[likely]] {
      copy_short(buf_ + n_, p, k);
      n_ += k;
      return;
    }
    put_slow(p, k);
  }
  void put(std::string_view v) { put(v.data(), v.size()); }
  void put(char c) {
    if (n_ == kStage) flush();
    buf_[n_++] = c;
  }
  void flush() {
    s_.append(buf_, n_);
    n_ = 0;
  }

  // k ASCII bytes (k at most kDirect) that `write` writes in place: formatted into a buffer of
  // their own, numbers and code points would be copied with the general copy, which reads up to
  // 16 bytes.
  template <class F>
  void put_ascii(std::size_t k, F&& write) {
    if (k > kStage - n_) flush();
    write(buf_ + n_);
    n_ += k;
  }

 private:
  __attribute__((noinline)) void put_slow(const char* p, std::size_t k) {
    flush();
    if (k > kDirect) {
      s_.append(p, k);
      return;
    }
    std::memcpy(buf_, p, k);
    n_ = k;
  }

  // Up to 16 bytes (a node string, most fragments) with two overlapping moves and no call; the
  // rest through memcpy. Both ends of the source are read within [p, p + k).
  static void copy_short(char* d, const char* p, std::size_t k) {
    if (__builtin_constant_p(k) || k > 16) {
      std::memcpy(d, p, k);
    } else if (k >= 8) {
      uint64_t a, b;
      std::memcpy(&a, p, 8);
      std::memcpy(&b, p + k - 8, 8);
      std::memcpy(d, &a, 8);
      std::memcpy(d + k - 8, &b, 8);
    } else if (k >= 4) {
      uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + k - 4, 4);
      std::memcpy(d, &a, 4);
      std::memcpy(d + k - 4, &b, 4);
    } else {
      for (std::size_t i = 0; i < k; ++i) d[i] = p[i];
    }
  }

  static constexpr std::size_t kStage = 4096;
  static constexpr std::size_t kDirect = 64;
  std::string& s_;
  std::size_t n_ = 0;
  char buf_[kStage];
};

#if YOMIKA_WIDE_SSE2
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
  const __m128i shape_mask = _mm_setr_epi8(-16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, -16, -64, -64, 0);
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
__attribute__((target("ssse3"))) const uint8_t* widen_three_byte_runs(const uint8_t* s, const uint8_t* e,
                                                                     uint16_t*& out) {
  uint16_t* d = out;
  unsigned n;
  while (e - s >= 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), three_byte_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), n));
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
#endif

// The same output as UTF-16, written straight into the caller's storage: the Python face returns
// the HTML as a str, which holds its characters in two bytes (or four, widened from this). Decoding a UTF-8 rendering afterwards was a fifth of parse_to_html on a book: markup and short
// runs of kana and kanji alternate every few bytes there, and a decoder that does not know where
// each run ends guesses wrong at every change. Here each piece is decoded as it is put, with its
// ends known: markup is ASCII and is widened whole, and a piece of the text is mostly three-byte
// characters.
class WideOut {
 public:
  WideOut(Utf16Buffer& buffer, std::size_t units) : buffer_(buffer) { make_room(units); }
  WideOut(const WideOut&) = delete;
  WideOut& operator=(const WideOut&) = delete;

  // A piece of k bytes writes at most k units, and may store up to kSpare units past those.
  __attribute__((always_inline)) void put(const char* p, std::size_t k) {
    if (k + kSpare > static_cast<std::size_t>(end_ - w_)) [[unlikely]] make_room(k + kSpare);
    if (k <= 16 && widen_short(p, k)) return;
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

  Utf16Html finish() const { return Utf16Html{static_cast<std::size_t>(w_ - base_), astral_, !wide_}; }

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
#if YOMIKA_WIDE_SSE2
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(v)), _mm_setzero_si128()));
#else
    for (int i = 0; i < 8; ++i) d[i] = static_cast<uint16_t>((v >> (8 * i)) & 0xFF);
#endif
  }
  static void widen4(uint16_t* d, uint32_t v) {
#if YOMIKA_WIDE_SSE2
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d),
                     _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128()));
#else
    for (int i = 0; i < 4; ++i) d[i] = static_cast<uint16_t>((v >> (8 * i)) & 0xFF);
#endif
  }

  // A piece of at most 16 bytes that is all ASCII (a fragment of markup, a number), with two
  // overlapping moves; false, with nothing written, when it holds any other byte.
  bool widen_short(const char* p, std::size_t k) {
    uint16_t* d = w_;
    if (k >= 8) {
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
#if YOMIKA_WIDE_SSE2
        if (kHaveSsse3) {
          const uint8_t* const after = widen_three_byte_runs(s, e, d);
          if (after != s) {
            s = after;
            continue;
          }
        }
#endif
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

template <class O>
void put_decimal(uint32_t v, O& out) {
  const unsigned n = decimal_length(v);
  out.put_ascii(n, [&](char* d) { write_decimal(v, d, n); });
}

// An element that carries its amount twice, in a class that `open` ends with and in the data
// attribute that `attribute` opens.
template <class O>
void put_amount_element(std::string_view open, uint32_t amount, std::string_view attribute, std::string_view end,
                        O& out) {
  out.put(open);
  put_decimal(amount, out);
  out.put(attribute);
  put_decimal(amount, out);
  out.put(end);
}

// "U+" and at least four upper-case hex digits.
template <class O>
void put_codepoint(uint32_t cp, O& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const unsigned bits = static_cast<unsigned>(std::bit_width(cp));
  const unsigned digits = bits > 16 ? (bits + 3) / 4 : 4;
  out.put_ascii(2 + digits, [&](char* d) {
    d[0] = 'U';
    d[1] = '+';
    for (unsigned i = 2 + digits; i-- > 2; cp >>= 4) d[i] = kHex[cp & 0xF];
  });
}

template <class O>
void put_entity(char c, O& out) {
  const std::string_view entity = kEntityOf[static_cast<unsigned char>(c)];
  if (entity.empty()) fatal("internal error: entered unreachable code: escape iterator yielded non-needle byte");
  out.put(entity);
}

// Writes text[a, b) escaped; `text` is searched from a for the characters to escape.
template <class O>
void write_escaped(const char* p, std::size_t a, std::size_t b, O& out) {
  while (a < b) {
    const std::size_t m = scan::find_any(p, b, a, kEscaped.data(), kEscaped.size());
    out.put(p + a, m - a);
    if (m >= b) return;
    put_entity(p[m], out);
    a = m + 1;
  }
}

// Whether any of the n (at most 64) bytes at p needs escaping. Every such character is below
// 0x40, and the bytes of kana and kanji are all 0x80 or above: a text with no byte below 0x40
// needs no look at its bytes.
//
// PERF: the bytes are read as whole words, the last word overlapping the one before it. Copying
// a short remainder into a word byte by byte and reading the word back stalled every time (a
// load wider than the stores it must wait for), which was half the time of this function.
inline bool short_needs_escape(const char* p, std::size_t n) {
  constexpr uint64_t kOnes = ~uint64_t{0} / 255;
  auto below_0x40 = [](uint64_t w) { return ((w - kOnes * 0x40) & ~w & (kOnes * 0x80)) != 0; };
  bool low;
  if (n >= 8) {
    uint64_t w;
    low = false;
    for (std::size_t i = 0; i + 8 < n && !low; i += 8) {
      std::memcpy(&w, p + i, 8);
      low = below_0x40(w);
    }
    std::memcpy(&w, p + n - 8, 8);
    low = low || below_0x40(w);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    low = below_0x40(a | (uint64_t{b} << 32));
  } else {
    low = false;
    for (std::size_t i = 0; i < n; ++i) low = low || static_cast<unsigned char>(p[i]) < 0x40;
  }
  if (!low) return false;
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) any |= kNeedsEscape[static_cast<unsigned char>(p[i])];
  return any;
}

template <class O>
void escape_into(std::string_view text, O& out) {
  // PERF: node strings (readings, bases, marks) are a few characters long; a test per eight bytes
  // settles them with one copy, where a block search costs a call and a set-up whatever the
  // length.
  if (text.size() <= 64 && !short_needs_escape(text.data(), text.size())) {
    out.put(text);
    return;
  }
  write_escaped(text.data(), 0, text.size(), out);
}

// Open warichu spans of the element being written. A document may mark a warichu end without a
// start or a start without an end; the fragment still nests: an end with nothing open writes
// nothing, and spans still open are closed where their paragraph or content ends. Null means a
// node written on its own, exactly as it is (no balancing).
struct WarichuBalance {
  uint32_t open = 0;
  template <class O>
  void close_all(O& out) {
    for (; open > 0; --open) out.put(frag::kSpanClose);
  }
};

// Whether notes kept verbatim are written, as hidden spans, or left out (the reader's page).
enum class Notes : uint8_t { Hidden, Omitted };

template <class O>
void render_content(const Content& c, O& out, Notes notes);
template <class O>
void render_node_in(const YomikaNode& node, O& out, WarichuBalance* balance, Notes notes = Notes::Hidden);

template <class O>
void render_gaiji(const GaijiRec& g, O& out) {
  using State = GaijiResolution::State;
  if (g.resolved.state == State::Unresolved) {
    out.put(frag::kGaijiDescription);
    escape_into(g.description, out);
    out.put(frag::kAttrEnd);
    escape_into(g.description, out);
    out.put(frag::kSpanClose);
    return;
  }
  char buf[4];
  std::string_view resolved;
  if (g.resolved.state == State::Char) {
    resolved = std::string_view(buf, encode_utf8(g.resolved.ch, buf));
  } else {
    resolved = g.resolved.text;
  }
  out.put(frag::kGaijiCodepoints);
  for (std::size_t i = 0; i < resolved.size();) {
    unsigned len;
    uint32_t cp = decode_utf8(resolved, i, len);
    if (i != 0) out.put(' ');
    put_codepoint(cp, out);
    i += len;
  }
  out.put(frag::kAttrEnd);
  escape_into(resolved, out);
  out.put(frag::kSpanClose);
}

template <class O>
void render_annotation(const AnnotationRec& a, O& out, WarichuBalance* balance, Notes notes) {
  switch (a.kind) {
    case AnnotationKind::WarichuOpen:
      out.put(frag::kWarichuOpen);
      if (balance) ++balance->open;
      return;
    case AnnotationKind::WarichuClose:
      if (balance) {
        if (balance->open == 0) return;
        --balance->open;
      }
      out.put(frag::kSpanClose);
      return;
    default:
      // Verbatim, and the codes no classifier produces, show the annotation as written.
      if (notes == Notes::Omitted) return;
      out.put(frag::kAnnotationOpen);
      escape_into(a.raw, out);
      out.put(frag::kSpanClose);
      return;
  }
}

template <class O>
void render_content(const Content& c, O& out, Notes notes) {
  if (c.form == Content::Form::Plain) {
    escape_into(c.text(), out);
    return;
  }
  if (c.form != Content::Form::Segments) return;
  WarichuBalance balance;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Segment& s = c.segments()[i];
    switch (s.code) {
      case SegmentCode::Text: escape_into(s.text, out); break;
      case SegmentCode::Gaiji: render_gaiji(*s.gaiji, out); break;
      case SegmentCode::Annotation: render_annotation(*s.annotation, out, &balance, notes); break;
    }
  }
  balance.close_all(out);
}

template <class O>
void comment(std::string_view name, O& out) {
  out.put(frag::kCommentOpen);
  out.put(name);
  out.put(frag::kCommentClose);
}

template <class O>
void render_container_open(ContainerKind kind, uint8_t amount, O& out) {
  switch (kind) {
    case ContainerKind::Indent:
      put_amount_element(frag::kContainerIndent, amount, frag::kDataAmount, frag::kAttrEnd, out);
      return;
    case ContainerKind::Warichu:
      out.put(frag::kContainerWarichu);
      return;
    case ContainerKind::Keigakomi:
      out.put(frag::kContainerKeigakomi);
      return;
    case ContainerKind::AlignEnd:
      out.put(frag::kContainerAlignEnd);
      put_decimal(amount, out);
      out.put(frag::kAttrEnd);
      return;
  }
}

// The stops of the walk in ascending order, from bit masks of 64-byte blocks made a chunk at a
// time.
//
// PERF: one pass finds every byte that matters, so the text is read once, and the next stop is
// a count of trailing zeros. Separate searches for line feeds and sentinels and for each
// character to escape read the text four times; one search per stop still cost a call and a
// set-up per line and per construct.
class Stops {
 public:
  explicit Stops(std::string_view text) : p_(text.data()), n_(text.size()) {}

  // The first stop at or after from, or n.
  std::size_t next(std::size_t from) {
    while (from < n_) {
      const std::size_t block = from / 64;
      if (block < first_ || block >= first_ + kChunk) load(block);
      const uint64_t m = masks_[block - first_] & (~uint64_t{0} << (from % 64));
      if (m) return block * 64 + static_cast<std::size_t>(__builtin_ctzll(m));
      from = (block + 1) * 64;
    }
    return n_;
  }

 private:
  static constexpr std::size_t kChunk = 64;
  void load(std::size_t block) {
    first_ = block;
    const std::size_t left = (n_ - block * 64 + 63) / 64;
    scan::any_masks(p_, n_, block * 64, kWalkStops.data(), kWalkStops.size(), left < kChunk ? left : kChunk, masks_);
  }
  const char* p_;
  std::size_t n_;
  std::size_t first_ = SIZE_MAX / 2;  // no chunk loaded
  uint64_t masks_[kChunk];
};

template <class O>
class Walker {
 public:
  Walker(const ParseResult& r, O& out)
      : text_(r.normalized), entries_(r), out_(out), stops_(r.normalized) {}

  void run() {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    std::size_t from = 0;
    for (;;) {
      std::size_t h = stops_.next(from);
      if (h >= n) break;
      const char c = p[h];
      if (c == '\n') {
        write_pending_text(h);
        line_feed(h);
        pos_ = h + 1;
      } else if (c == sentinel::kLead) {
        EntryKind kind = sentinel::kind_at(text_, h);
        if (kind == EntryKind::Absent) {
          // Another private-use character: it stays in the pending text.
          from = h + 1;
          continue;
        }
        write_pending_text(h);
        on_sentinel(h, kind);
        pos_ = h + sentinel::kLength;
      } else {
        // A character to escape, inside the pending text.
        open_paragraph();
        out_.put(p + pos_, h - pos_);
        put_entity(c, out_);
        pos_ = h + 1;
      }
      from = pos_;
    }
    write_pending_text(n);
    if (in_paragraph_) close_paragraph();
    // Blocks still open where the text ends are closed there, so the fragment can stand inside a
    // page without leaving the page's own elements open.
    for (; containers_ > 0; --containers_) {
      if (pending_newline_) out_.put(frag::kNewline);
      out_.put(frag::kDivClose);
      pending_newline_ = true;
    }
  }

 private:
  void open_paragraph() {
    if (in_paragraph_) return;
    if (pending_newline_) out_.put(frag::kNewline);
    out_.put(frag::kParagraphOpen);
    pending_newline_ = false;
    in_paragraph_ = true;
  }

  void close_paragraph() {
    warichu_.close_all(out_);
    out_.put(frag::kParagraphClose);
    in_paragraph_ = false;
  }

  // The pending text [pos_, h) holds nothing to escape: the walk stopped at each such character.
  void write_pending_text(std::size_t h) {
    if (pos_ >= h) return;
    open_paragraph();
    out_.put(text_.data() + pos_, h - pos_);
  }

  // One line feed is a line break, a blank line ends the paragraph, further empty lines and a
  // final line feed add nothing.
  void line_feed(std::size_t h) {
    if (h + 1 == text_.size()) return;
    if (text_[h + 1] != '\n') {
      if (in_paragraph_) out_.put(frag::kLineBreak);
    } else if (in_paragraph_) {
      close_paragraph();
      pending_newline_ = false;
    }
  }

  void on_sentinel(std::size_t h, EntryKind kind) {
    RegistryEntry e = entries_.matched(h, kind);
    if (e.kind == EntryKind::Absent) return;  // no entry, or one of another kind: nothing shown
    if (kind == EntryKind::Inline) {
      open_paragraph();
      render_node_in(e.node, out_, &warichu_);
      return;
    }
    if (kind == EntryKind::ContainerClose && containers_ == 0) {
      // A block end with no block open closes nothing: writing </div> would close an element of
      // whatever page holds the fragment.
      if (in_paragraph_) {
        close_paragraph();
        pending_newline_ = false;
      }
      return;
    }
    if (in_paragraph_) {
      close_paragraph();
    } else if (pending_newline_) {
      out_.put(frag::kNewline);
    }
    switch (kind) {
      case EntryKind::Block: render_node_in(e.node, out_, nullptr); break;
      case EntryKind::ContainerOpen:
        render_container_open(e.container, e.amount, out_);
        ++containers_;
        break;
      default:
        // Closes the innermost block, whatever kind it is.
        out_.put(frag::kDivClose);
        --containers_;
        break;
    }
    pending_newline_ = true;
    in_paragraph_ = false;
  }

  std::string_view text_;
  RegistryCursor entries_;
  O& out_;
  Stops stops_;
  std::size_t pos_ = 0;
  bool in_paragraph_ = false;
  bool pending_newline_ = false;
  WarichuBalance warichu_;  // warichu spans open in the current paragraph
  std::size_t containers_ = 0;  // container divs open
};

}  // namespace

void escape_text(std::string_view text, std::string& out) {
  Out o(out);
  escape_into(text, o);
}

void render_node(const YomikaNode& node, std::string& out) {
  Out o(out);
  render_node_in(node, o, nullptr);
}

void render_node_for_reader(const YomikaNode& node, std::string& out) {
  Out o(out);
  render_node_in(node, o, nullptr, Notes::Omitted);
}


namespace {

template <class O>
void render_node_in(const YomikaNode& node, O& out, WarichuBalance* balance, Notes notes) {
  switch (node.kind) {
    case NodeKind::Ruby: {
      const RubyRec& r = node.ruby();
      out.put(frag::kRubyOpen);
      render_content(r.base, out, notes);
      out.put(frag::kRubyReading);
      render_content(r.reading, out, notes);
      out.put(frag::kRubyClose);
      return;
    }
    case NodeKind::Bouten: {
      const BoutenRec& b = node.bouten();
      out.put(frag::kBoutenOpen);
      out.put(vocab::bouten(b.kind).css);
      out.put(frag::kBoutenPosition);
      out.put(vocab::position(b.position).css);
      out.put(frag::kAttrEnd);
      render_content(b.target, out, notes);
      out.put(frag::kBoutenClose);
      return;
    }
    case NodeKind::TateChuYoko:
      out.put(frag::kTcyOpen);
      render_content(node.tcy().text, out, notes);
      out.put(frag::kSpanClose);
      return;
    case NodeKind::Gaiji:
      render_gaiji(node.gaiji(), out);
      return;
    case NodeKind::Indent:
      put_amount_element(frag::kIndentOpen, node.a, frag::kDataAmount, frag::kEmptySpanEnd, out);
      return;
    case NodeKind::AlignEnd:
      if (node.a == 0) {
        out.put(frag::kAlignEndFlush);
        return;
      }
      put_amount_element(frag::kAlignEndOpen, node.a, frag::kDataOffset, frag::kEmptySpanEnd, out);
      return;
    case NodeKind::Warichu:
    case NodeKind::Keigakomi:
      comment(vocab::node_kind(node.kind).marker, out);
      return;
    case NodeKind::PageBreak:
      out.put(frag::kPageBreak);
      return;
    case NodeKind::SectionBreak:
      out.put(frag::kSectionBreakOpen);
      out.put(vocab::section_break(static_cast<SectionBreakKind>(node.a)).css);
      out.put(frag::kEmptyDivEnd);
      return;
    case NodeKind::Heading:
    case NodeKind::HeadingHint:
    case NodeKind::Sashie:
      comment(vocab::node_kind(node.kind).marker, out);
      return;
    case NodeKind::Kaeriten:
      out.put(frag::kKaeritenOpen);
      escape_into(node.kaeriten().mark, out);
      out.put(frag::kKaeritenClose);
      return;
    case NodeKind::Annotation:
      render_annotation(node.annotation(), out, balance, notes);
      return;
    case NodeKind::DoubleRuby:
      out.put(frag::kDoubleRubyOpen);
      render_content(node.double_ruby().content, out, notes);
      out.put(frag::kDoubleRubyClose);
      return;
    case NodeKind::Container:
      render_container_open(static_cast<ContainerKind>(node.a), node.b, out);
      return;
  }
}

}  // namespace

std::string render_result_html(const ParseResult& result) {
  std::string out;
  render_result_html(result, out);
  return out;
}

void render_result_html(const ParseResult& result, std::string& out) {
  out.clear();
  // Escapes rarely double the text, and a node's markup takes some 55 to 60 bytes on real books
  // (more than the text's own size in the densest), so one allocation covers nearly every
  // document: growing the string copies all of it written so far.
  const std::size_t n = result.normalized.size();
  const std::size_t want = std::max(n * 2, n + result.node_count * 80);
  if (out.capacity() < want) {
    out.reserve(want);
    advise_huge_pages(out.data(), out.capacity());
  }
  Out o(out);
  Walker(result, o).run();
}

Utf16Html render_result_html_utf16(const ParseResult& result, Utf16Buffer& buffer) {
  // Kana and kanji take a unit for three bytes; half a unit per byte leaves room for the line
  // markup, and each node's markup takes some 40 to 60 units. Past that the storage grows.
  const std::size_t n = result.normalized.size();
  WideOut o(buffer, n / 2 + result.node_count * 64 + 64);
  Walker(result, o).run();
  return o.finish();
}

bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal) {
  ParseResult r;
  if (!parse_document(doc, r, refusal)) return false;
  render_result_html(r, out);
  return true;
}

}  // namespace yomika::render
