// The suffix index of the quoted-target resolver: SA-IS over the text's characters, and block
// minima with a sparse table over the blocks for the first occurrence among a range of suffixes.
#include "yomika/pipeline/lexer/quote_index.hpp"

#include <algorithm>
#include <cstddef>

#include "yomika/model/span.hpp"
#include "yomika/pipeline/lexer/quote_common.hpp"

namespace yomika::classify::quote {

namespace {

// Types of suffixes, a bit each: set for S-type (smaller than the suffix after it).
class Types {
 public:
  explicit Types(uint32_t n) : w_((std::size_t{n} + 63) / 64, 0) {}
  bool s(uint32_t i) const { return (w_[i >> 6] >> (i & 63)) & 1; }
  void set_s(uint32_t i) { w_[i >> 6] |= uint64_t{1} << (i & 63); }
  // A leftmost S-type position: S-type with an L-type before it.
  bool lms(uint32_t i) const { return i > 0 && s(i) && !s(i - 1); }

 private:
  std::vector<uint64_t> w_;
};

// Bucket c holds the suffixes that begin with symbol c: [start(c), end(c)).
struct Buckets {
  uint32_t* count;  // per symbol
  uint32_t* at;     // cursors
  uint32_t k;
  void starts() {
    uint32_t sum = 0;
    for (uint32_t c = 0; c < k; ++c) {
      at[c] = sum;
      sum += count[c];
    }
  }
  void ends() {
    uint32_t sum = 0;
    for (uint32_t c = 0; c < k; ++c) {
      sum += count[c];
      at[c] = sum;
    }
  }
};

// Induced sorting: L-type suffixes from the left, then S-type ones from the right. The last
// suffix is L-type against the virtual smallest symbol after it, and comes first.
template <class Sym>
void induce(const Sym* s, uint32_t n, const Types& t, Buckets& b, uint32_t* sa) {
  b.starts();
  sa[b.at[s[n - 1]]++] = n - 1;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t j = sa[i];
    if (j != kEmpty && j > 0 && !t.s(j - 1)) sa[b.at[s[j - 1]]++] = j - 1;
  }
  b.ends();
  for (uint32_t i = n; i-- > 0;) {
    const uint32_t j = sa[i];
    if (j != kEmpty && j > 0 && t.s(j - 1)) sa[--b.at[s[j - 1]]] = j - 1;
  }
}

// SA-IS over s[0, n), symbols in [0, k), with every intermediate array in sa: the sorted LMS
// substrings in sa[0, m), their names at sa[m + position / 2] (LMS positions are at least two
// apart, and m <= n / 2), then the reduced text in sa[n - m, n) and its suffix array, sorted
// recursively, in sa[0, m). `spare` (`spare_n` entries, not overlapping sa) may hold the buckets.
template <class Sym>
void sais(const Sym* s, uint32_t n, uint32_t k, uint32_t* sa, uint32_t* spare, std::size_t spare_n) {
  if (n == 0) return;
  if (n == 1) {
    sa[0] = 0;
    return;
  }
  Types t(n);
  for (uint32_t i = n - 1; i-- > 0;) {
    if (s[i] < s[i + 1] || (s[i] == s[i + 1] && t.s(i + 1))) t.set_s(i);
  }
  std::vector<uint32_t> own;
  if (spare_n < 2 * std::size_t{k}) {
    own.resize(2 * std::size_t{k});
    spare = own.data();
  }
  Buckets b{spare, spare + k, k};
  std::fill(b.count, b.count + k, 0);
  for (uint32_t i = 0; i < n; ++i) ++b.count[s[i]];

  // Sort the LMS substrings: LMS suffixes at their buckets' ends, then induced sorting.
  std::fill(sa, sa + n, kEmpty);
  b.ends();
  for (uint32_t i = n - 1; i > 0; --i) {
    if (t.lms(i)) sa[--b.at[s[i]]] = i;
  }
  induce(s, n, t, b, sa);
  uint32_t m = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (sa[i] != kEmpty && t.lms(sa[i])) sa[m++] = sa[i];
  }

  // Name them in sorted order; equal substrings (same symbols and types up to the next LMS
  // position) share a name. A substring that runs to the end is unique: the virtual symbol ends it.
  std::fill(sa + m, sa + n, kEmpty);
  uint32_t names = 0, prev = kEmpty;
  for (uint32_t i = 0; i < m; ++i) {
    const uint32_t pos = sa[i];
    bool differs = prev == kEmpty;
    for (uint32_t d = 0; !differs; ++d) {
      if (pos + d == n || prev + d == n || s[pos + d] != s[prev + d] || t.s(pos + d) != t.s(prev + d)) {
        differs = true;
      } else if (d > 0 && t.lms(pos + d)) {
        break;  // both substrings end here (their types agree up to here, so both are LMS)
      }
    }
    if (differs) {
      ++names;
      prev = pos;
    }
    sa[m + (pos >> 1)] = names - 1;
  }
  for (uint32_t i = n, j = n; i-- > m;) {
    if (sa[i] != kEmpty) sa[--j] = sa[i];
  }
  uint32_t* reduced = sa + n - m;

  // The order of the LMS suffixes: directly when every name differs, else from the reduced text.
  if (names < m) {
    // Between the reduced text's suffix array sa[0, m) and the text itself lies room for buckets.
    sais(reduced, m, names, sa, sa + m, n - 2 * m);
  } else {
    for (uint32_t i = 0; i < m; ++i) sa[reduced[i]] = i;
  }

  // The LMS positions in text order (over the reduced text, read for the last time), the sorted
  // LMS suffixes at their buckets' ends, largest first, and induced sorting once more.
  for (uint32_t i = 1, j = 0; i < n; ++i) {
    if (t.lms(i)) reduced[j++] = i;
  }
  for (uint32_t i = 0; i < m; ++i) sa[i] = reduced[sa[i]];
  std::fill(sa + m, sa + n, kEmpty);
  b.ends();
  for (uint32_t i = m; i-- > 0;) {
    const uint32_t j = sa[i];
    sa[i] = kEmpty;
    sa[--b.at[s[j]]] = j;
  }
  induce(s, n, t, b, sa);
}

// The character at byte i of t, cut as the index cuts it: a well-formed sequence is one
// character; anything else is one byte.
inline uint32_t cut(std::string_view t, uint32_t i, unsigned& len) {
  const auto lead = static_cast<uint8_t>(t[i]);
  len = 1;
  const unsigned want = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (want > 1 && want <= t.size() - i) return decode_utf8(t, i, len);
  return lead;
}

// Sorts the suffixes of the characters whose code points `sa` holds, replacing them: the ranks
// of the code points are the symbols.
template <class Sym>
void sort_characters(const std::vector<uint32_t>& rank, uint32_t distinct, std::vector<uint32_t>& sa) {
  const auto chars = static_cast<uint32_t>(sa.size());
  std::vector<Sym> symbols(chars);
  for (uint32_t c = 0; c < chars; ++c) symbols[c] = static_cast<Sym>(rank[sa[c]]);
  sais(symbols.data(), chars, distinct, sa.data(), nullptr, 0);
}

}  // namespace

void suffix_array(const uint32_t* s, uint32_t n, uint32_t k, uint32_t* sa) { sais(s, n, k, sa, nullptr, 0); }

namespace {

// The build's peak by characters: the array, the characters' ranks (two bytes each for up to
// 64 Ki distinct characters), the types, the starts and every 64th offset, the rank table (up to
// the largest code point: 64 Ki entries without four-byte characters, at most 2 Mi whatever the
// bytes) and the buckets; the recursive sorts work inside the array.
uint64_t build_bytes_by_chars(std::size_t bytes, std::size_t chars, std::size_t distinct, bool astral) {
  const uint64_t c = chars;
  return 4 * c + (distinct <= 0x10000 ? 2 : 4) * c + c / 8 + bytes / 8 + c / 16 +
         4 * (astral ? uint64_t{0x200000} : uint64_t{0x10000}) + 8 * uint64_t{distinct} + 4096;
}

// By bytes: the array and the types; the text is its own symbols.
uint64_t build_bytes_by_bytes(std::size_t bytes) { return 4 * uint64_t{bytes} + bytes / 8 + 4096; }

// The least entry of every block of SuffixIndex::kBlock entries of a (the last may be shorter).
std::vector<uint32_t> block_minima(const std::vector<uint32_t>& a) {
  constexpr uint32_t kBlock = SuffixIndex::kBlock;
  std::vector<uint32_t> out((a.size() + kBlock - 1) / kBlock, kEmpty);
  for (std::size_t i = 0; i < a.size(); ++i) out[i / kBlock] = std::min(out[i / kBlock], a[i]);
  return out;
}

}  // namespace

uint64_t SuffixIndex::build_bytes(std::size_t bytes, std::size_t chars, std::size_t distinct, bool astral) {
  return std::min(build_bytes_by_chars(bytes, chars, distinct, astral), build_bytes_by_bytes(bytes));
}

SuffixIndex::SuffixIndex(std::string_view t, std::size_t chars, std::size_t distinct, bool astral, Unit unit)
    : text(t) {
  const auto n = static_cast<uint32_t>(t.size());
  by_bytes = unit == Unit::Cheaper ? build_bytes_by_bytes(n) < build_bytes_by_chars(n, chars, distinct, astral)
                                   : unit == Unit::Bytes;
  if (by_bytes) {
    sa.resize(n);
    sais(reinterpret_cast<const uint8_t*>(t.data()), n, 256, sa.data(), nullptr, 0);
  } else {
    index_characters(chars);
  }
  // Character numbers are in the order of their offsets, so their minimum is the first one.
  block_min = block_minima(sa);
  levels.push_back(block_minima(block_min));
  const auto supers = static_cast<uint32_t>(levels.back().size());
  for (uint32_t w = 1; 2 * w <= supers; w *= 2) {
    const std::vector<uint32_t>& prev = levels.back();
    std::vector<uint32_t> next(supers - 2 * w + 1);
    for (uint32_t b = 0; b < next.size(); ++b) next[b] = std::min(prev[b], prev[b + w]);
    levels.push_back(std::move(next));
  }
}

void SuffixIndex::index_characters(std::size_t chars_hint) {
  // The text is decoded once: the code points go to the array, which the sort then overwrites.
  const auto n = static_cast<uint32_t>(text.size());
  starts.assign(std::size_t{n} / 64 + 1, 0);
  sa.reserve(chars_hint);
  uint32_t top = 0;
  for (uint32_t i = 0; i < n;) {
    unsigned len;
    const uint32_t cp = cut(text, i, len);
    starts[i >> 6] |= uint64_t{1} << (i & 63);
    if ((sa.size() & 63) == 0) every64.push_back(i);
    sa.push_back(cp);
    top = std::max(top, cp);
    i += len;
  }
  // Dense ranks keep the buckets small (a few thousand kanji and kana). The rank table reaches
  // only to the largest code point present: 64 Ki entries for Japanese text rather than the
  // 1.1 Mi of the whole code space.
  std::vector<uint32_t> rank(std::size_t{top} + 1, 0);
  for (uint32_t cp : sa) rank[cp] = 1;
  uint32_t distinct = 0;
  for (uint32_t& r : rank) {
    const uint32_t present = r;
    r = distinct;
    distinct += present;
  }
  if (distinct <= 0x10000) {
    sort_characters<uint16_t>(rank, distinct, sa);
  } else {
    sort_characters<uint32_t>(rank, distinct, sa);
  }
}

uint64_t SuffixIndex::bytes() const {
  uint64_t total = (sa.size() + every64.size() + block_min.size()) * sizeof(uint32_t) + starts.size() * sizeof(uint64_t);
  for (const std::vector<uint32_t>& level : levels) total += level.size() * sizeof(uint32_t);
  return total;
}

namespace {

// Set bits of w, counted in the word itself: a build for any x86-64 has no popcount instruction
// to call on, and the library's one is a function call.
inline uint32_t bits_set(uint64_t w) {
  w = w - ((w >> 1) & 0x5555555555555555ull);
  w = (w & 0x3333333333333333ull) + ((w >> 2) & 0x3333333333333333ull);
  w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<uint32_t>((w * 0x0101010101010101ull) >> 56);
}

}  // namespace

uint32_t SuffixIndex::offset(uint32_t c) const {
  if (by_bytes) return c;
  uint32_t p = every64[c >> 6];
  uint32_t r = c & 63;
  if (r == 0) return p;
  std::size_t w = p >> 6;
  uint64_t bits = starts[w] & (~uint64_t{1} << (p & 63));  // the starts after p
  for (;;) {
    const uint32_t here = bits_set(bits);
    if (r <= here) break;
    r -= here;
    bits = starts[++w];
  }
  while (--r) bits &= bits - 1;
  return static_cast<uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)));
}

namespace {

// The least entry of a[lo, hi) outside the whole blocks of kBlock entries it covers (all of them
// when it covers none), read one by one; [first, last) are those whole blocks, written to them
// (first >= last when there are none).
uint32_t min_over_blocks(const std::vector<uint32_t>& a, uint32_t lo, uint32_t hi, uint32_t& first, uint32_t& last) {
  constexpr uint32_t kBlock = SuffixIndex::kBlock;
  uint32_t best = kEmpty;
  first = (lo + kBlock - 1) / kBlock;
  last = hi / kBlock;
  if (first >= last) {
    for (uint32_t i = lo; i < hi; ++i) best = std::min(best, a[i]);
    return best;
  }
  for (uint32_t i = lo; i < first * kBlock; ++i) best = std::min(best, a[i]);
  for (uint32_t i = last * kBlock; i < hi; ++i) best = std::min(best, a[i]);
  return best;
}

}  // namespace

// Three levels: entries, minima of blocks of 64 entries, and a sparse table over minima of 64
// blocks. A sparse table over the blocks themselves took a word per block and level, as much as
// the array again for a text indexed by its bytes; over the superblocks it takes next to nothing,
// and a question reads at most 252 entries and minima besides its two table words.
uint32_t SuffixIndex::min_entry(uint32_t lo, uint32_t hi) const {
  uint32_t first_block, last_block;
  uint32_t best = min_over_blocks(sa, lo, hi, first_block, last_block);
  if (first_block >= last_block) return best;
  uint32_t first_super, last_super;
  best = std::min(best, min_over_blocks(block_min, first_block, last_block, first_super, last_super));
  if (first_super >= last_super) return best;
  const uint32_t span = last_super - first_super;
  const unsigned k = 31 - static_cast<unsigned>(__builtin_clz(span));
  best = std::min(best, levels[k][first_super]);
  best = std::min(best, levels[k][last_super - (1u << k)]);
  return best;
}

uint32_t SuffixIndex::first_occurrence(std::string_view t) const {
  auto prefix = [&](uint32_t c) { return text.substr(offset(c), t.size()); };
  auto lo = std::lower_bound(sa.begin(), sa.end(), t, [&](uint32_t c, std::string_view x) { return prefix(c) < x; });
  // A missing target (the common question) is settled by the suffix lower_bound lands on.
  if (lo == sa.end() || prefix(*lo) != t) return kEmpty;
  // The suffixes that start with t follow; most targets occur a few times, so gallop over them
  // before the binary search.
  std::size_t step = 1;
  auto hi = lo + 1;
  while (static_cast<std::size_t>(sa.end() - hi) > step && prefix(hi[step - 1]) == t) {
    hi += step;
    step *= 2;
  }
  hi = std::upper_bound(hi, std::min(hi + step, sa.end()), t, [&](std::string_view x, uint32_t c) { return x < prefix(c); });
  const uint32_t first = min_entry(static_cast<uint32_t>(lo - sa.begin()), static_cast<uint32_t>(hi - sa.begin()));
  return offset(first);
}

}  // namespace yomika::classify::quote
