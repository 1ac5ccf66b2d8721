// The quoted-target resolver's filters: the tables of first positions and the test of a target
// against them.
#include "yomika/pipeline/lexer/quote_grams.hpp"

#include <algorithm>

namespace yomika::classify::quote {

namespace {

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

}  // namespace

RunFirsts::RunFirsts(std::string_view t, unsigned length, uint64_t limit) : length_(length) {
  leaving_ = 1;
  for (unsigned k = 0; k < length; ++k) leaving_ *= kBase;
  salt_ = length * 0x9E3779B97F4A7C15ull;
  const auto* p = reinterpret_cast<const uint8_t*>(t.data());
  const std::size_t n = t.size();
  cap_ = 4096;
  if (cap_ * sizeof(Slot) > limit) return;
  slots_ = ZeroedTable<Slot>(cap_);

  // The table soon outgrows the caches, so every insertion is a miss: the slot of each run is
  // prefetched when its hash is known and the insertion made kAhead runs later, in text order
  // all the same (the first insertion of a run is its first position).
  constexpr unsigned kAhead = 16;
  uint32_t pending_check[kAhead];
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
      if (4 * (count_ + kAhead) > 3 * cap_ && !grow(limit)) {
        slots_ = ZeroedTable<Slot>();
        cap_ = 0;
        return;
      }
      const uint32_t check = check_of(key(h));
      __builtin_prefetch(&slots_[place(check)], 1);
      const unsigned r = runs % kAhead;
      if (runs >= kAhead) insert(pending_check[r], pending_pos[r]);
      pending_check[r] = check;
      pending_pos[r] = window_pos[(seen - length) % kMaxLength];
      ++runs;
    }
    i += len;
    while (i < n && continuation(p[i])) ++i;
  }
  for (std::size_t r = runs > kAhead ? runs - kAhead : 0; r < runs; ++r) {
    insert(pending_check[r % kAhead], pending_pos[r % kAhead]);
  }
  usable_ = true;
}

bool RunFirsts::grow(uint64_t limit) {
  const uint64_t cap = 2 * cap_;
  if ((cap + cap_) * sizeof(Slot) > limit) return false;
  ZeroedTable<Slot> old(cap);
  std::swap(old, slots_);
  const uint64_t old_cap = cap_;
  cap_ = cap;
  count_ = 0;
  for (uint64_t i = 0; i < old_cap; ++i) {
    if (old[i].check != 0) insert(old[i].check, old[i].first);
  }
  return true;
}

GramFirsts::GramFirsts(std::string_view t, uint64_t limit) : text_(t) {
  const auto* p = reinterpret_cast<const uint8_t*>(t.data());
  single_.reset(new uint32_t[std::size_t{1} << kSingleBits]);
  std::fill_n(single_.get(), std::size_t{1} << kSingleBits, kEmpty);
  std::size_t i = 0;
  while (i < t.size() && continuation(p[i])) ++i;
  while (i < t.size()) {
    uint32_t c;
    const unsigned len = cut(p + i, t.size() - i, c);
    uint32_t& slot = single_[mix(c) >> (64 - kSingleBits)];
    if (slot == kEmpty) {
      slot = static_cast<uint32_t>(i);
      ++distinct_;
    }
    astral_ = astral_ || len == 4;
    ++chars_;
    i += len;
    while (i < t.size() && continuation(p[i])) ++i;
  }
  add_runs(kFirstRunLength, limit);
}

uint64_t GramFirsts::add_runs(unsigned length, uint64_t limit) {
  tried_.push_back(length);
  RunFirsts runs(text_, length, limit);
  if (!runs.usable()) return 0;
  const uint64_t bytes = runs.bytes();
  runs_.push_back(std::move(runs));
  return bytes;
}

bool GramFirsts::may_occur_before(std::string_view t, uint32_t before, std::size_t& chars) const {
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

}  // namespace yomika::classify::quote
