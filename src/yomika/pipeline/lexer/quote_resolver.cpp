// Quoted-target resolution: "does this text occur before the note?" answered once per distinct
// target, by substring search while that stays cheap and by a suffix-array index after that.
//
// PERF NOTES. A novel has a few hundred quoted targets, most of them standing right before their
// note (answered without any search) or occurring early in the text, so a memo of what is known
// per target plus memmem costs next to nothing. A hostile text can instead hold tens of thousands
// of distinct targets that never occur: each of them would cost a scan of everything before its
// note, which is quadratic. The scans are therefore metered. Once they have read twice the text
// (plus 256 KiB), tables of the first positions of characters and of runs of characters reject
// almost every missing target in a few reads (GramFirsts, quote_grams); once the targets they let
// through have read eight times the text more (plus 1 MiB), the resolver builds a suffix array of
// the source's characters (SA-IS, linear time) with a range-minimum structure over it
// (SuffixIndex, quote_index), after which a target costs O(m log n): a binary search for the
// suffixes that start with it and one minimum over their positions give its first occurrence.
// The memo (quote_memo) keeps what each target's searches found.
//
// Memory is metered too. The memo and the filter's tables stay within twice the text plus 8 MiB:
// a table that would not fit is not built (the filter works without it), and a target the memo
// has no room for is searched without being remembered, its answer still that of a plain search.
// The index replaces them: they are given back before it is built, since it answers every
// target by itself, and it takes at most 4.2 bytes per byte of text while it is built, whatever
// the text (see quote_index). So the resolver never holds more than about four times the text,
// where it once could take thirty to sixty (a text of gigabytes of notes ran out of memory here),
// and the index, the end of every hostile road, keeps the time near linear.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string.h>  // memmem
#include <string_view>

#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/pipeline/lexer/quote_grams.hpp"
#include "yomika/pipeline/lexer/quote_index.hpp"
#include "yomika/pipeline/lexer/quote_memo.hpp"

namespace yomika::classify {

using quote::GramFirsts;
using quote::kEmpty;
using quote::Memo;
using quote::RunFirsts;
using quote::SuffixIndex;

struct QuoteResolver::Impl {
  using Known = Memo::Known;

  std::string_view src;
  Memo memo;
  uint64_t scanned = 0;  // bytes handed to memmem so far
  uint64_t budget;
  std::unique_ptr<SuffixIndex> index;
  std::unique_ptr<GramFirsts> grams;  // built when the first scanning budget is spent

  // The memory limit of the memo and the filter's tables, and what the tables keep (the memo's
  // own table is asked for its size). The index comes on top: it is always affordable.
  uint64_t memory_limit;
  uint64_t kept = 0;
  uint64_t room() const {
    const uint64_t used = kept + memo.bytes();
    return used < memory_limit ? memory_limit - used : 0;
  }
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
      : src(s), budget(first), memory_limit(2 * static_cast<uint64_t>(s.size()) + (8u << 20)),
        second_budget(second), refine_budget(refine) {}
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

void QuoteResolver::release() { impl_.reset(); }

bool QuoteResolver::occurs_before(std::string_view target, uint32_t before) {
  Impl& s = *impl_;
  const std::size_t m = target.size();
  if (before > s.src.size()) before = static_cast<uint32_t>(s.src.size());
  if (m == 0) return true;
  if (m > before) return false;

  // A target that starts inside a character (never one the parser hands in) is not in the index.
  const bool indexable = (static_cast<uint8_t>(target[0]) & 0xC0) != 0x80;
  auto by_index = [&] {
    const uint32_t p = s.index->first_occurrence(target);
    return p != kEmpty && before >= p + m;
  };
  if (indexable && s.index) return by_index();
  // Once the filter exists it settles most missing targets in a few reads, before the memo: they
  // take no memo entry, which would cost more than the filter.
  std::size_t chars = 0;
  if (indexable && s.grams) {
    if (!s.grams->may_occur_before(target, before, chars)) return false;
    if (chars <= RunFirsts::kMaxLength) ++s.passed[chars];
  }

  // The memo's table grows only within the memory limit (less what it already holds, which
  // room() counts); a target it has no room for is searched afresh each time.
  Impl::Known unkept;
  Impl::Known* kp = s.memo.find_or_add(target, s.room() + s.memo.bytes());
  Impl::Known& k = kp ? *kp : unkept;
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
      if (after > s.budget && s.room() > GramFirsts::kBaseBytes) {
        s.grams = std::make_unique<GramFirsts>(s.src, s.room() - GramFirsts::kBaseBytes);
        s.kept += GramFirsts::kBaseBytes + s.grams->run_bytes();
        s.budget = s.scanned + s.second_budget;
        refined = true;
      }
    } else if (after > s.budget) {
      // The index answers every target at once: the filter and the memo go before it is built,
      // so that their memory and its own are never held together.
      const std::size_t text_chars = s.grams->chars(), distinct = s.grams->distinct();
      const bool astral = s.grams->astral();
      s.grams.reset();
      s.memo = Memo{};
      s.kept = 0;
      s.index = std::make_unique<SuffixIndex>(s.src, text_chars, distinct, astral);
      return by_index();
    } else if (const unsigned length = after > s.refine_at ? s.run_length_worth_adding() : 0) {
      s.kept += s.grams->add_runs(length, s.room());
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
