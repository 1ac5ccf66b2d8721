// Quoted-target resolution: "does this text occur before the note?" answered once per distinct
// target, by substring search while that stays cheap and by a suffix-array index after that.
//
// PERF NOTES. A novel has a few hundred quoted targets, most of them standing right before their
// note (answered without any search) or occurring early in the text, so a memo of what is known
// per target plus memmem costs next to nothing. A hostile text can instead hold tens of thousands
// of distinct targets that never occur: each of them would cost a scan of everything before its
// note, which is quadratic. The scans are therefore metered. Once they have read twice the text
// (plus 256 KiB), tables of the first positions of characters and of runs of characters reject
// almost every missing target in a few reads (GramFirsts); once the targets they let through
// have read eight times the text more (plus 1 MiB), the resolver builds a suffix array of the
// source's characters (SA-IS, linear time) with a range-minimum structure over it, after which a
// target costs O(m log n): a binary search for the suffixes that start with it and one minimum
// over their positions give its first occurrence.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string.h>  // memmem
#include <string_view>
#include <vector>

#include "yomika/alloc/fatal.hpp"
#include "yomika/alloc/pages.hpp"
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
};

// Characters are cut the same way in the text and in a target: at a byte that is not a
// continuation byte, a character is the lead byte and the continuation bytes its value calls
// for, or that byte alone when they are not all there. A well-formed target that occurs at p is
// therefore cut into the same characters as the text from p, whatever the bytes around it.
inline bool continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Length of the character at p (n bytes available), its bytes packed into `value`.
[[gnu::always_inline]] inline unsigned cut(const uint8_t* p, std::size_t n, uint32_t& value) {
  const uint8_t lead = p[0];
  if (lead < 0x80) {
    value = lead;
    return 1;
  }
  const unsigned want = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 1;
  unsigned len = 1;
  if (want > 1 && want <= n) {
    len = want;
    for (unsigned k = 1; k < want; ++k) {
      if (!continuation(p[k])) {
        len = 1;
        break;
      }
    }
  }
  value = 0;
  for (unsigned k = 0; k < len; ++k) value |= uint32_t{p[k]} << (8 * k);
  return len;
}

inline uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

// First positions of the runs of `length` characters of a text: a table keyed by a 64-bit hash
// of the run (polynomial in its characters, so that it rolls along the text), found by linear
// probing with the top 32 bits of the hash kept as a check beside the first position (a check
// of 0 is an empty slot). Runs that share a hash only lower what is stored, so a run is never
// reported later than its first occurrence.
//
// Positions are exact and the checks wide: a missing target's new run usually first occurs in
// its own note, a few bytes after the bracket the question is about, so positions rounded down
// would let it through; and every target let through costs a scan, so even a small share of
// false matches (say one in two thousand, with 11 bits of check beside a 21-bit position) would
// spend the scanning budget on a text of a few megabytes of such notes.
class RunFirsts {
 public:
  static constexpr unsigned kMaxLength = 64;
  static constexpr uint64_t kBase = 0x100000001B3ull;

  // The hash of the run whose polynomial value is h.
  uint64_t key(uint64_t h) const { return mix(h + salt_); }
  // B^length: what the character leaving the window weighs.
  uint64_t leaving() const { return leaving_; }
  unsigned length() const { return length_; }

  RunFirsts(std::string_view t, std::size_t chars, unsigned length) : length_(length) {
    leaving_ = 1;
    for (unsigned k = 0; k < length; ++k) leaving_ *= kBase;
    salt_ = length * 0x9E3779B97F4A7C15ull;
    const auto* p = reinterpret_cast<const uint8_t*>(t.data());
    const std::size_t n = t.size();
    // At most one run per character: a third more slots keeps the table at most three quarters
    // full, so probes stay short whatever the text, at 11 to 21 bytes per character.
    std::size_t cap = 64;
    while (cap < chars + chars / 3) cap <<= 1;
    slots_ = ZeroedTable<Slot>(cap);
    mask_ = cap - 1;

    // The table is far larger than the caches, so every insertion is a miss: the slot of each
    // run is prefetched when its hash is known and the insertion made kAhead runs later, in
    // text order all the same (the first insertion of a run is its first position).
    constexpr unsigned kAhead = 16;
    uint64_t pending_key[kAhead];
    uint32_t pending_pos[kAhead];
    uint32_t window[kMaxLength], window_pos[kMaxLength];  // ring of the last characters
    std::size_t runs = 0, seen = 0;
    uint64_t h = 0;
    std::size_t i = 0;
    while (i < n && continuation(p[i])) ++i;
    while (i < n) {
      uint32_t c;
      const unsigned len = cut(p + i, n - i, c);
      const std::size_t slot = seen % kMaxLength;
      h = h * kBase + c;
      if (seen >= length) h -= window[(seen - length) % kMaxLength] * leaving_;
      window[slot] = c;
      window_pos[slot] = static_cast<uint32_t>(i);
      if (++seen >= length) {
        const uint64_t k = key(h);
        __builtin_prefetch(&slots_[k & mask_], 1);
        const unsigned r = runs % kAhead;
        if (runs >= kAhead) insert(pending_key[r], pending_pos[r]);
        pending_key[r] = k;
        pending_pos[r] = window_pos[(seen - length) % kMaxLength];
        ++runs;
      }
      i += len;
      while (i < n && continuation(p[i])) ++i;
    }
    for (std::size_t r = runs > kAhead ? runs - kAhead : 0; r < runs; ++r) {
      insert(pending_key[r % kAhead], pending_pos[r % kAhead]);
    }
  }

  // A position at or before the first occurrence of the run with hash k, or kEmpty when it
  // does not occur.
  uint32_t first(uint64_t k) const {
    const uint32_t check = check_of(k);
    for (uint64_t i = k & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.check == check) return slot.first;
      if (slot.check == 0) return kEmpty;
    }
  }

 private:
  struct Slot {
    uint32_t check;
    uint32_t first;
  };
  static uint32_t check_of(uint64_t k) {
    const auto check = static_cast<uint32_t>(k >> 32);
    return check != 0 ? check : 1;
  }

  // A different run that shares the slot and the check was met earlier in the text, so keeping
  // its position keeps a position no later than this run's.
  void insert(uint64_t k, uint32_t pos) {
    const uint32_t check = check_of(k);
    for (uint64_t i = k & mask_;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.check == check) return;
      if (slot.check == 0) {
        slot = Slot{check, pos};
        return;
      }
    }
  }

  unsigned length_;
  uint64_t leaving_ = 1, salt_ = 0;
  ZeroedTable<Slot> slots_;
  uint64_t mask_ = 0;
};

// First positions of character grams. A target can only occur at p if each of its grams occurs
// at p + (the gram's offset in it), so one gram whose first position is too late (or that is
// absent) proves that the target does not occur before a bracket; the test never rejects a
// target that occurs, it only saves searches. Single characters go to a small table of first
// positions by hash; runs of four characters, and of the one length that many targets turn out to
// have, to tables of RunFirsts.
//
// PERF NOTES. Most missing targets hold a character, or a run of four, that first appears in
// their own note, so this filter, built in one pass when the first scanning budget is spent,
// answers them in a few table reads; the suffix array comes only once the targets it lets
// through have spent a second budget. Runs of four catch numbered targets in hexadecimal
// (無1a2f after 無1a2, 無a2f, ...), whose characters and byte trigrams all occur earlier; in
// decimal (無12345 after 無1234, 無2345, ...) every run of four occurs earlier too, and what
// rejects them is a table for runs of their own length, six, which the resolver adds when the
// targets let through concentrate on one length. On 1 MB of notes with such targets the resolver
// took 25.7 ms (hexadecimal) and 26.4 ms (decimal) with a byte-trigram filter in front of the
// suffix array, and takes 5.3 and 8.5 ms with this one. In binary (無1011...) the lengths keep
// growing and no short run is new, so those still end in the suffix array, as before (36 ms).
// The checks make the tables nearly exact, so tables a quarter empty reject as well as full ones
// would; with first positions alone they would have to be several times larger.
class GramFirsts {
 public:
  static constexpr unsigned kFirstRunLength = 4;
  static constexpr unsigned kMaxRunTables = 2;  // the first and one added

  explicit GramFirsts(std::string_view t) : text_(t) {
    const auto* p = reinterpret_cast<const uint8_t*>(t.data());
    single_.reset(new uint32_t[std::size_t{1} << kSingleBits]);
    std::fill_n(single_.get(), std::size_t{1} << kSingleBits, kEmpty);
    std::size_t i = 0;
    while (i < t.size() && continuation(p[i])) ++i;
    while (i < t.size()) {
      uint32_t c;
      const unsigned len = cut(p + i, t.size() - i, c);
      uint32_t& slot = single_[mix(c) >> (64 - kSingleBits)];
      if (slot == kEmpty) slot = static_cast<uint32_t>(i);
      ++chars_;
      i += len;
      while (i < t.size() && continuation(p[i])) ++i;
    }
    add_runs(kFirstRunLength);
  }

  bool has_runs(unsigned length) const {
    for (const RunFirsts& r : runs_) {
      if (r.length() == length) return true;
    }
    return false;
  }
  bool can_add_runs() const { return runs_.size() < kMaxRunTables; }
  void add_runs(unsigned length) { runs_.emplace_back(text_, chars_, length); }

  // False only when t cannot end at or before `before`. `chars` receives the number of
  // characters of a well-formed t (0 otherwise).
  bool may_occur_before(std::string_view t, uint32_t before, std::size_t& chars) const {
    const auto* p = reinterpret_cast<const uint8_t*>(t.data());
    const std::size_t m = t.size();
    const std::size_t last_start = before - m;  // the caller guarantees m <= before
    // The grams of the first kMaxLength characters are enough for a test.
    uint32_t value[RunFirsts::kMaxLength], at[RunFirsts::kMaxLength];
    std::size_t kept = 0;
    chars = 0;
    for (std::size_t j = 0; j < m;) {
      // Only a well-formed target is cut as the text is around its occurrences.
      if (continuation(p[j])) return true;
      uint32_t c;
      const unsigned len = cut(p + j, m - j, c);
      if (len == 1 && p[j] >= 0xC0) return true;
      const uint32_t f = single_[mix(c) >> (64 - kSingleBits)];
      if (f == kEmpty || f > last_start + j) return false;
      if (kept < RunFirsts::kMaxLength) {
        value[kept] = c;
        at[kept] = static_cast<uint32_t>(j);
        ++kept;
      }
      ++chars;
      j += len;
    }
    // A table added for the targets the others let through goes first.
    for (auto it = runs_.rbegin(); it != runs_.rend(); ++it) {
      const RunFirsts& r = *it;
      const unsigned length = r.length();
      uint64_t h = 0;
      for (std::size_t k = 0; k < kept; ++k) {
        h = h * RunFirsts::kBase + value[k];
        if (k >= length) h -= value[k - length] * r.leaving();
        if (k + 1 < length) continue;
        const uint32_t f = r.first(r.key(h));
        if (f == kEmpty || f > last_start + at[k + 1 - length]) return false;
      }
    }
    return true;
  }

 private:
  static constexpr unsigned kSingleBits = 16;  // 256 KiB: stays in the second-level cache
  std::string_view text_;
  std::size_t chars_ = 0;
  std::unique_ptr<uint32_t[]> single_;  // first position by hash of one character
  std::vector<RunFirsts> runs_;
};

}  // namespace

// What is known of each target asked about, by its bytes: open addressing over views of the
// targets (the caller keeps them alive), at most half full.
class Memo {
 public:
  // What is known of one target: no occurrence ends at or before `clear_until`, and the first
  // occurrence ends at or before `first_end` (kEmpty: none found yet). Once an occurrence has
  // been found by a search from clear_until, the two meet and the answer is settled for every
  // bracket.
  struct Known {
    uint32_t clear_until = 0;
    uint32_t first_end = kEmpty;
  };

  Known& operator[](std::string_view key) {
    if (2 * (count_ + 1) > entries_.size()) grow();
    Entry* e = find(key, hash(key));
    if (e->key.data() == nullptr) {
      e->key = key.data() ? key : std::string_view("", 0);
      ++count_;
    }
    return e->known;
  }

 private:
  struct Entry {
    std::string_view key;  // no data: an empty entry
    uint64_t hash = 0;
    Known known;
  };

  static uint64_t hash(std::string_view key) {
    uint64_t h = key.size() * 0x9E3779B97F4A7C15ull;
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, key.data() + i, 8);
      h = (h ^ w) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    if (i < key.size()) {
      uint64_t w = 0;
      std::memcpy(&w, key.data() + i, key.size() - i);
      h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    }
    // The table takes the low bits, which the products above fill from low input bits only.
    return mix(h);
  }

  Entry* find(std::string_view key, uint64_t h) {
    const std::size_t mask = entries_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Entry& e = entries_[i];
      if (e.key.data() == nullptr) {
        e.hash = h;
        return &e;
      }
      if (e.hash == h && e.key == key) return &e;
    }
  }

  void grow() {
    std::vector<Entry> old(entries_.empty() ? 64 : 2 * entries_.size());
    old.swap(entries_);
    const std::size_t mask = entries_.size() - 1;
    for (const Entry& e : old) {
      if (e.key.data() == nullptr) continue;
      std::size_t i = e.hash & mask;
      while (entries_[i].key.data() != nullptr) i = (i + 1) & mask;
      entries_[i] = e;
    }
  }

  std::vector<Entry> entries_;
  std::size_t count_ = 0;
};

struct QuoteResolver::Impl {
  using Known = Memo::Known;

  std::string_view src;
  Memo memo;
  uint64_t scanned = 0;  // bytes handed to memmem so far
  uint64_t budget;
  std::unique_ptr<SuffixIndex> index;
  std::unique_ptr<GramFirsts> grams;  // built when the first scanning budget is spent
  // Targets the filter let through, by their number of characters.
  uint32_t passed[RunFirsts::kMaxLength + 1] = {};

  uint64_t second_budget;  // more scanning allowed after the filter
  uint64_t refine_budget;  // scanning after which a table of runs may be added
  uint64_t refine_at = 0;

  // The length of most targets the filter lets through, when a table of runs of that length
  // may still be added and would be worth its pass (at least kWorth targets); 0 otherwise.
  static constexpr uint32_t kWorth = 4;
  unsigned run_length_worth_adding() const {
    if (!grams->can_add_runs()) return 0;
    unsigned best = 0;
    for (unsigned length = 2; length <= RunFirsts::kMaxLength; ++length) {
      if (passed[length] >= kWorth && !grams->has_runs(length) && (best == 0 || passed[length] > passed[best])) {
        best = length;
      }
    }
    return best;
  }

  Impl(std::string_view s, uint64_t first, uint64_t second, uint64_t refine)
      : src(s), budget(first), second_budget(second), refine_budget(refine) {}
};

// The gram filter costs one pass and a table of a few bytes per character, so it comes after
// twice the text of plain search; a table of runs, as dear, after once the text more; the
// suffix index, dearer, after eight times more.
QuoteResolver::QuoteResolver(std::string_view source)
    : impl_(std::make_unique<Impl>(source, 2 * static_cast<uint64_t>(source.size()) + (256u << 10),
                                   8 * static_cast<uint64_t>(source.size()) + (1u << 20),
                                   static_cast<uint64_t>(source.size()) + (256u << 10))) {}
QuoteResolver::QuoteResolver(std::string_view source, uint64_t scan_budget)
    : impl_(std::make_unique<Impl>(source, scan_budget, 4 * scan_budget, scan_budget)) {}
QuoteResolver::~QuoteResolver() = default;

bool QuoteResolver::occurs_before(std::string_view target, uint32_t before) {
  Impl& s = *impl_;
  const std::size_t m = target.size();
  if (before > s.src.size()) before = static_cast<uint32_t>(s.src.size());
  if (m == 0) return true;
  if (m > before) return false;

  // A target that starts inside a character (never one the parser hands in) is not in the index.
  const bool indexable = (static_cast<uint8_t>(target[0]) & 0xC0) != 0x80;
  // Once the filter exists it settles most missing targets in a few reads, before the memo: they
  // take no memo entry, which would cost more than the filter.
  std::size_t chars = 0;
  if (indexable && s.grams) {
    if (!s.grams->may_occur_before(target, before, chars)) return false;
    if (chars <= RunFirsts::kMaxLength) ++s.passed[chars];
  }

  Impl::Known& k = s.memo[target];
  if (k.first_end != kEmpty && before >= k.first_end) return true;
  if (before <= k.clear_until) return false;

  // Occurrences ending after clear_until start at or after from.
  const uint32_t from = k.clear_until >= m - 1 ? static_cast<uint32_t>(k.clear_until - (m - 1)) : 0;
  if (indexable && !s.index) {
    // First the cheap gram filter; then, once the targets it lets through have read the
    // text again, a table of runs of the length most of them have (one such table at most);
    // the suffix array once they have read eight times the text since the filter was built.
    const uint64_t after = s.scanned + (before - from);
    bool refined = false;
    if (!s.grams) {
      if (after > s.budget) {
        s.grams = std::make_unique<GramFirsts>(s.src);
        s.budget = s.scanned + s.second_budget;
        refined = true;
      }
    } else if (after > s.budget) {
      s.index = std::make_unique<SuffixIndex>(s.src);
    } else if (const unsigned length = after > s.refine_at ? s.run_length_worth_adding() : 0) {
      s.grams->add_runs(length);
      refined = true;
    }
    if (refined) {
      s.refine_at = s.scanned + s.refine_budget;
      if (!s.grams->may_occur_before(target, before, chars)) {
        k.clear_until = std::max(k.clear_until, before);
        return false;
      }
    }
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
