// Quoted-target resolution: "does this text occur before the note?" answered once per distinct
// target, by substring search while that stays cheap and by a suffix-array index after that.
//
// PERF NOTES. A novel has a few hundred quoted targets, most of them standing right before their
// note (answered without any search) or occurring early in the text, so a memo of what is known
// per target plus memmem costs next to nothing. A hostile text can instead hold tens of thousands
// of distinct targets that never occur: each of them would cost a scan of everything before its
// note, which is quadratic. The scans are therefore metered. Once they have read twice the text
// (plus 256 KiB), a table of the first positions of byte trigrams rejects almost every missing
// target in a few reads; once the targets it lets through have read eight times the text more
// (plus 1 MiB), the resolver builds a suffix array of the source's characters (SA-IS, linear
// time) with a range-minimum structure over it, after which a target costs O(m log n): two
// binary searches for the suffixes that start with it and one minimum over their positions give
// its first occurrence.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string.h>  // memmem
#include <string_view>
#include <unordered_map>
#include <vector>

#include "yomika/pipeline/lexer/phase3_classify.hpp"

namespace yomika::classify {

namespace {

constexpr uint32_t kEmpty = 0xFFFFFFFFu;

// Suffix array of s[0, n) over the alphabet [0, upper] by induced sorting. sa receives n entries.
template <class Sym>
void suffix_array(const Sym* s, uint32_t n, uint32_t upper, uint32_t* sa) {
  if (n == 0) return;
  if (n < 16) {
    // Too small for induced sorting to pay off; compare suffixes directly.
    for (uint32_t i = 0; i < n; ++i) sa[i] = i;
    std::sort(sa, sa + n, [&](uint32_t a, uint32_t b) {
      while (a < n && b < n) {
        if (s[a] != s[b]) return s[a] < s[b];
        ++a;
        ++b;
      }
      return a == n;  // the shorter suffix (reached the end first) sorts first
    });
    return;
  }

  // S-type (smaller than the suffix after it) or L-type; the last suffix is L-type against the
  // virtual end marker.
  std::vector<uint8_t> is_s(n, 0);
  for (uint32_t i = n - 1; i-- > 0;) is_s[i] = s[i] == s[i + 1] ? is_s[i + 1] : (s[i] < s[i + 1]);

  // Bucket c spans [l_start[c], l_start[c + 1]); its L-type suffixes come first, from l_start[c],
  // and its S-type suffixes start at s_start[c].
  std::vector<uint32_t> l_start(upper + 2, 0), s_start(upper + 2, 0);
  for (uint32_t i = 0; i < n; ++i) {
    if (is_s[i]) {
      ++l_start[s[i] + 1];
    } else {
      ++s_start[s[i]];
    }
  }
  for (uint32_t c = 0; c <= upper; ++c) {
    s_start[c] += l_start[c];
    l_start[c + 1] += s_start[c];
  }

  std::vector<uint32_t> cursor(upper + 2);
  auto induce = [&](const std::vector<uint32_t>& lms) {
    std::fill(sa, sa + n, kEmpty);
    std::copy(s_start.begin(), s_start.end(), cursor.begin());
    for (uint32_t d : lms) sa[cursor[s[d]]++] = d;
    std::copy(l_start.begin(), l_start.end(), cursor.begin());
    sa[cursor[s[n - 1]]++] = n - 1;
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t v = sa[i];
      if (v != kEmpty && v >= 1 && !is_s[v - 1]) sa[cursor[s[v - 1]]++] = v - 1;
    }
    std::copy(l_start.begin(), l_start.end(), cursor.begin());
    for (uint32_t i = n; i-- > 0;) {
      uint32_t v = sa[i];
      if (v != kEmpty && v >= 1 && is_s[v - 1]) sa[--cursor[s[v - 1] + 1]] = v - 1;
    }
  };

  // Leftmost S-type positions (an S right after an L) and their rank in text order.
  std::vector<uint32_t> lms_rank(n, kEmpty);
  std::vector<uint32_t> lms;
  for (uint32_t i = 1; i < n; ++i) {
    if (!is_s[i - 1] && is_s[i]) {
      lms_rank[i] = static_cast<uint32_t>(lms.size());
      lms.push_back(i);
    }
  }
  const uint32_t m = static_cast<uint32_t>(lms.size());
  induce(lms);
  if (m == 0) return;

  // Name the LMS substrings in their induced order; equal substrings share a name. When names
  // repeat, the order of the LMS suffixes comes from the suffix array of the names.
  std::vector<uint32_t> sorted;
  sorted.reserve(m);
  for (uint32_t i = 0; i < n; ++i) {
    if (sa[i] != kEmpty && lms_rank[sa[i]] != kEmpty) sorted.push_back(sa[i]);
  }
  std::vector<uint32_t> names(m);
  uint32_t name = 0;
  names[lms_rank[sorted[0]]] = 0;
  for (uint32_t k = 1; k < m; ++k) {
    uint32_t a = sorted[k - 1], b = sorted[k];
    uint32_t end_a = lms_rank[a] + 1 < m ? lms[lms_rank[a] + 1] : n;
    uint32_t end_b = lms_rank[b] + 1 < m ? lms[lms_rank[b] + 1] : n;
    bool same = end_a - a == end_b - b;
    if (same) {
      while (a < end_a && s[a] == s[b]) {
        ++a;
        ++b;
      }
      if (a == n || b == n || s[a] != s[b]) same = false;
    }
    if (!same) ++name;
    names[lms_rank[sorted[k]]] = name;
  }
  lms_rank = {};
  std::vector<uint32_t> sub(m);
  if (name + 1 == m) {
    for (uint32_t k = 0; k < m; ++k) sub[names[k]] = k;  // all distinct: the names are the order
  } else {
    suffix_array(names.data(), m, name, sub.data());
  }
  for (uint32_t k = 0; k < m; ++k) sorted[k] = lms[sub[k]];
  induce(sorted);
}

// The index: the suffix array of the source's characters, holding byte offsets, and a
// range-minimum structure over it (block minima of 64 entries and a sparse table over the blocks).
//
// A target that begins a character can only occur at a character boundary of valid UTF-8, so only
// those suffixes are indexed: a third of the bytes for Japanese text, and three times less work.
// The characters are sorted by code point, which is also the order of their UTF-8 bytes, so the
// array is in byte order and a target is looked up by comparing bytes.
struct SuffixIndex {
  static constexpr uint32_t kBlock = 64;
  std::string_view text;
  std::vector<uint32_t> sa;
  std::vector<std::vector<uint32_t>> levels;  // levels[k][b] = min of blocks [b, b + 2^k)

  explicit SuffixIndex(std::string_view t) : text(t) {
    const auto n = static_cast<uint32_t>(t.size());
    std::vector<uint32_t> offset, symbol;
    offset.reserve(n / 2 + 1);
    symbol.reserve(n / 2 + 1);
    for (uint32_t i = 0; i < n;) {
      unsigned len = 1;
      auto lead = static_cast<uint8_t>(t[i]);
      uint32_t cp = lead;
      const unsigned want = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      if (want > 1 && want <= n - i) cp = decode_utf8(t, i, len);
      offset.push_back(i);
      symbol.push_back(cp);
      i += len;
    }
    // Dense ranks keep the bucket arrays of the sort small (a few thousand kanji and kana). The
    // rank table reaches only to the largest code point present: 64 Ki entries for Japanese text
    // rather than the 1.1 Mi of the whole code space, which would cost more than the sort itself
    // on a short text.
    uint32_t top = 0;
    for (uint32_t cp : symbol) top = std::max(top, cp);
    std::vector<uint32_t> rank(std::size_t{top} + 1, 0);
    for (uint32_t cp : symbol) rank[cp] = 1;
    uint32_t distinct = 0;
    for (uint32_t& r : rank) {
      uint32_t present = r;
      r = distinct;
      distinct += present;
    }
    for (uint32_t& cp : symbol) cp = rank[cp];
    rank = {};

    const auto m = static_cast<uint32_t>(symbol.size());
    sa.resize(m);
    suffix_array(symbol.data(), m, distinct ? distinct - 1 : 0, sa.data());
    for (uint32_t& e : sa) e = offset[e];

    const uint32_t blocks = (m + kBlock - 1) / kBlock;
    std::vector<uint32_t> base(blocks, kEmpty);
    for (uint32_t i = 0; i < m; ++i) base[i / kBlock] = std::min(base[i / kBlock], sa[i]);
    levels.push_back(std::move(base));
    for (uint32_t w = 1; 2 * w <= blocks; w *= 2) {
      const std::vector<uint32_t>& prev = levels.back();
      std::vector<uint32_t> next(blocks - 2 * w + 1);
      for (uint32_t b = 0; b < next.size(); ++b) next[b] = std::min(prev[b], prev[b + w]);
      levels.push_back(std::move(next));
    }
  }

  uint32_t min_entry(uint32_t lo, uint32_t hi) const {
    uint32_t best = kEmpty;
    const uint32_t first_block = (lo + kBlock - 1) / kBlock, last_block = hi / kBlock;
    if (first_block >= last_block) {
      for (uint32_t i = lo; i < hi; ++i) best = std::min(best, sa[i]);
      return best;
    }
    for (uint32_t i = lo; i < first_block * kBlock; ++i) best = std::min(best, sa[i]);
    for (uint32_t i = last_block * kBlock; i < hi; ++i) best = std::min(best, sa[i]);
    const uint32_t span = last_block - first_block;
    const unsigned k = 31 - static_cast<unsigned>(__builtin_clz(span));
    best = std::min(best, levels[k][first_block]);
    best = std::min(best, levels[k][last_block - (1u << k)]);
    return best;
  }

  // Start of the first occurrence of t, or kEmpty.
  uint32_t first_occurrence(std::string_view t) const {
    auto prefix = [&](uint32_t p) { return text.substr(p, t.size()); };
    auto lo = std::lower_bound(sa.begin(), sa.end(), t, [&](uint32_t p, std::string_view x) { return prefix(p) < x; });
    auto hi = std::upper_bound(lo, sa.end(), t, [&](std::string_view x, uint32_t p) { return x < prefix(p); });
    if (lo == hi) return kEmpty;
    return min_entry(static_cast<uint32_t>(lo - sa.begin()), static_cast<uint32_t>(hi - sa.begin()));
  }
};

// First positions of byte trigrams, hashed: first[h] is at most the start of the first occurrence
// of every trigram with hash h. A target can only occur at p if each of its trigrams occurs at
// p + j, so a trigram whose first position is too late proves, in a few table reads, that the
// target does not occur before a bracket. Collisions only lower the stored positions, so the test
// never rejects a target that occurs; it only saves searches.
//
// PERF NOTES. Most missing targets hold a trigram that first appears in their own note, so this
// filter, built in one pass when the first scanning budget is spent, answers them without any
// search; the suffix array comes only once the targets that pass it have spent a second budget.
// On 1 MB of numbered missing targets (無0, 無1, ...) the resolver took 84 ms through the suffix
// array alone and takes 29 ms with the filter in front. Six-byte grams would reject numbered
// targets such as 無1100, whose trigrams all occur earlier, but a table of them is either too
// full of collisions to reject or too large to fill quickly: 58 to 90 ms, so they are not used.
struct TrigramFirsts {
  static constexpr unsigned kBits = 16;  // 256 KiB: stays in the second-level cache
  std::vector<uint32_t> first;

  static uint32_t hash(const char* p) {
    uint32_t v = 0;
    std::memcpy(&v, p, 3);
    return (v * 0x9E3779B1u) >> (32 - kBits);
  }

  // Only trigrams that start a character are kept (targets start characters, so their trigrams
  // that start one are met at character starts of the text): a third of the stores for Japanese.
  static bool starts_char(char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; }

  explicit TrigramFirsts(std::string_view t) : first(std::size_t{1} << kBits, kEmpty) {
    for (std::size_t i = 0; i + 3 <= t.size(); ++i) {
      if (!starts_char(t[i])) continue;
      uint32_t& slot = first[hash(t.data() + i)];
      if (slot == kEmpty) slot = static_cast<uint32_t>(i);
    }
  }

  // False only when t cannot end at or before `before`.
  bool may_occur_before(std::string_view t, uint32_t before) const {
    const std::size_t m = t.size();
    if (m < 3) return true;
    const std::size_t last_start = before - m;  // the caller guarantees m <= before
    for (std::size_t j = 0; j + 3 <= m; ++j) {
      if (!starts_char(t[j])) continue;
      uint32_t f = first[hash(t.data() + j)];
      if (f == kEmpty || f > last_start + j) return false;
    }
    return true;
  }
};

}  // namespace

struct QuoteResolver::Impl {
  // What is known of one target: no occurrence ends at or before `clear_until`, and the first
  // occurrence ends at or before `first_end` (kEmpty: none found yet). Once an occurrence has been
  // found by a search from clear_until, the two meet and the answer is settled for every bracket.
  struct Known {
    uint32_t clear_until = 0;
    uint32_t first_end = kEmpty;
  };

  std::string_view src;
  std::unordered_map<std::string_view, Known> memo;
  uint64_t scanned = 0;  // bytes handed to memmem so far
  uint64_t budget;
  std::unique_ptr<SuffixIndex> index;
  std::unique_ptr<TrigramFirsts> trigrams;  // built when the first scanning budget is spent

  uint64_t second_budget;  // more scanning allowed, after the filter, before the suffix index
  Impl(std::string_view s, uint64_t first, uint64_t second) : src(s), budget(first), second_budget(second) {}
};

// The trigram table costs one pass and 1 MiB, so it comes after twice the text of plain search;
// the suffix index, dearer, after eight times more.
QuoteResolver::QuoteResolver(std::string_view source)
    : impl_(std::make_unique<Impl>(source, 2 * static_cast<uint64_t>(source.size()) + (256u << 10),
                                   8 * static_cast<uint64_t>(source.size()) + (1u << 20))) {}
QuoteResolver::QuoteResolver(std::string_view source, uint64_t scan_budget)
    : impl_(std::make_unique<Impl>(source, scan_budget, scan_budget)) {}
QuoteResolver::~QuoteResolver() = default;

bool QuoteResolver::occurs_before(std::string_view target, uint32_t before) {
  Impl& s = *impl_;
  const std::size_t m = target.size();
  if (before > s.src.size()) before = static_cast<uint32_t>(s.src.size());
  if (m == 0) return true;
  if (m > before) return false;

  Impl::Known& k = s.memo[target];
  if (k.first_end != kEmpty && before >= k.first_end) return true;
  if (before <= k.clear_until) return false;

  // Occurrences ending after clear_until start at or after from.
  const uint32_t from = k.clear_until >= m - 1 ? static_cast<uint32_t>(k.clear_until - (m - 1)) : 0;
  // A target that starts inside a character (never one the parser hands in) is not in the index.
  const bool indexable = (static_cast<uint8_t>(target[0]) & 0xC0) != 0x80;
  if (indexable && !s.index && s.scanned + (before - from) > s.budget) {
    // First the cheap trigram filter, with a second budget of scans for what it lets through;
    // the suffix array only when that is spent too.
    if (!s.trigrams) {
      s.trigrams = std::make_unique<TrigramFirsts>(s.src);
      s.budget = s.scanned + s.second_budget;
    } else {
      s.index = std::make_unique<SuffixIndex>(s.src);
    }
  }
  if (indexable && s.trigrams && !s.trigrams->may_occur_before(target, before)) {
    k.clear_until = std::max(k.clear_until, before);
    return false;
  }
  if (indexable && s.index) {
    uint32_t p = s.index->first_occurrence(target);
    if (p == kEmpty) {
      k.clear_until = static_cast<uint32_t>(s.src.size());
      return false;
    }
    k.first_end = static_cast<uint32_t>(p + m);
    k.clear_until = k.first_end - 1;
    return before >= k.first_end;
  }

  s.scanned += before - from;
  const void* hit = memmem(s.src.data() + from, before - from, target.data(), m);
  if (!hit) {
    k.clear_until = before;
    return false;
  }
  k.first_end = static_cast<uint32_t>(static_cast<const char*>(hit) - s.src.data() + m);
  k.clear_until = k.first_end - 1;
  return true;
}

}  // namespace yomika::classify
