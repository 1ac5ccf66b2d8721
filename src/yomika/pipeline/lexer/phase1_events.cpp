// Phase 1: merges the trigger offsets and the line-feed offsets into one token stream, with the
// text between them as text tokens and adjacent 《《 / 》》 merged into double ruby brackets.
#include "yomika/pipeline/lexer/phase1_events.hpp"

#include <cstdint>

#include "yomika/scan/byte_search.hpp"

namespace yomika::lex {

bool build_tokens(std::string_view text, Arena& arena, ArenaVec<Token>& out, std::string& refusal) {
  out = ArenaVec<Token>{};
  // Every offset from here on is 32 bits wide; a text that does not fit is refused whole.
  if (text.size() > UINT32_MAX) {
    refusal = "source too long for u32 span offsets (" + std::to_string(text.size()) + " bytes)";
    return false;
  }
  const auto n = static_cast<uint32_t>(text.size());

  ArenaVec<uint32_t> triggers = scan::scan_triggers(text, arena);
  ArenaVec<uint32_t> feeds;
  // One line feed per 64 bytes is a fair guess for prose; the array grows past it by doubling.
  if (n >= 64) feeds.reserve(arena, n / 64);
  scan::collect_byte(text, '\n', arena, feeds);

  // Worst case: a text token before every trigger and every line feed, and one at the end. With
  // the exact bound reserved, the merge below writes without capacity checks.
  const std::size_t bound = 2 * (feeds.size + triggers.size) + 1;
  out.reserve(arena, bound);

  Token* w = out.data;
  uint32_t cursor = 0;
  std::size_t ti = 0, fi = 0;
  const std::size_t tn = triggers.size, fn = feeds.size;
  // Offsets never reach UINT32_MAX (the last byte of the longest text is at UINT32_MAX - 1), so
  // it marks an exhausted list; trigger and line-feed offsets are never equal.
  constexpr uint32_t kDone = UINT32_MAX;
  while (ti < tn || fi < fn) {
    const uint32_t t = ti < tn ? triggers[ti] : kDone;
    const uint32_t f = fi < fn ? feeds[fi] : kDone;
    // PERF: whether a gap precedes a token is a coin toss in prose, so the text token is always
    // written and kept only when non-empty; the next write overwrites it otherwise.
    if (f < t) {
      *w = Token{TokenTag::Text, scan::TriggerKind::Bar, cursor, f};
      w += cursor < f;
      *w++ = Token{TokenTag::LineFeed, scan::TriggerKind::Bar, f, f + 1};
      cursor = f + 1;
      ++fi;
      continue;
    }
    scan::TriggerKind kind = scan::classify_trigger(text, t);
    uint32_t end = t + 3;
    ++ti;
    // Greedy from the left: the first two of three adjacent 《 merge, the third stays single.
    if ((kind == scan::TriggerKind::RubyOpen || kind == scan::TriggerKind::RubyClose) && ti < tn &&
        triggers[ti] == end && scan::classify_trigger(text, end) == kind) {
      kind = kind == scan::TriggerKind::RubyOpen ? scan::TriggerKind::DoubleRubyOpen
                                                 : scan::TriggerKind::DoubleRubyClose;
      end += 3;
      ++ti;
    }
    *w = Token{TokenTag::Text, scan::TriggerKind::Bar, cursor, t};
    w += cursor < t;
    *w++ = Token{TokenTag::Trigger, kind, t, end};
    cursor = end;
  }
  if (cursor < n) *w++ = Token{TokenTag::Text, scan::TriggerKind::Bar, cursor, n};
  out.size = static_cast<std::size_t>(w - out.data);

  // The offset lists are dead now; the arena only takes back its latest allocation, which is
  // the token stream, so these are kept until the document goes.
  feeds.give_back(arena);
  triggers.give_back(arena);
  return true;
}

}  // namespace yomika::lex
