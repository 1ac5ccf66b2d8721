// The suffix index of the quoted-target resolver: SA-IS over the text's characters, and block
// minima with a sparse table over the blocks for the first occurrence among a range of suffixes.
#include "yomika/pipeline/lexer/quote_index.hpp"

#include <algorithm>

#include "yomika/model/span.hpp"
#include "yomika/pipeline/lexer/quote_common.hpp"

namespace yomika::classify::quote {

namespace {

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

}  // namespace

SuffixIndex::SuffixIndex(std::string_view t) : text(t) {
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

uint32_t SuffixIndex::min_entry(uint32_t lo, uint32_t hi) const {
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

uint32_t SuffixIndex::first_occurrence(std::string_view t) const {
  auto prefix = [&](uint32_t p) { return text.substr(p, t.size()); };
  auto lo = std::lower_bound(sa.begin(), sa.end(), t, [&](uint32_t p, std::string_view x) { return prefix(p) < x; });
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
  hi = std::upper_bound(hi, std::min(hi + step, sa.end()), t, [&](std::string_view x, uint32_t p) { return x < prefix(p); });
  return min_entry(static_cast<uint32_t>(lo - sa.begin()), static_cast<uint32_t>(hi - sa.begin()));
}

}  // namespace yomika::classify::quote
