// Bracket pairing: one pass over the tokens with a strict stack of open brackets. A closer
// pops only a matching top; anything else is stray and leaves the stack alone.
#include "yomika/pipeline/pairing.hpp"

#include <cstddef>
#include <cstring>
#include <vector>

namespace yomika {

namespace {

using scan::TriggerKind;

enum class Role : uint8_t { Plain, Open, Close };

struct TriggerRole {
  Role role;
  PairKind pair;
};

// Indexed by TriggerKind code.
constexpr TriggerRole kRoles[13] = {
    {Role::Plain, PairKind::Bracket},     // Bar
    {Role::Open, PairKind::Ruby},         // RubyOpen
    {Role::Close, PairKind::Ruby},        // RubyClose
    {Role::Open, PairKind::DoubleRuby},   // DoubleRubyOpen
    {Role::Close, PairKind::DoubleRuby},  // DoubleRubyClose
    {Role::Open, PairKind::Bracket},      // BracketOpen
    {Role::Close, PairKind::Bracket},     // BracketClose
    {Role::Plain, PairKind::Bracket},     // Hash
    {Role::Plain, PairKind::Bracket},     // RefMark
    {Role::Open, PairKind::Tortoise},     // TortoiseOpen
    {Role::Close, PairKind::Tortoise},    // TortoiseClose
    {Role::Open, PairKind::Quote},        // QuoteOpen
    {Role::Close, PairKind::Quote},       // QuoteClose
};

struct OpenEntry {
  PairKind kind;
  uint32_t start, end;
};

// ［, 《, 《《 and 〔 never span a line: a note, a reading, a double ruby or an accent is written on
// one line, so an opener of these kinds still open at a line feed is a typo, and it is closed
// there instead of taking the rest of the book with it. 「 spans lines: a speech runs over several
// paragraphs and closes once.
constexpr bool kLineBounded[5] = {true, true, true, true, false};  // indexed by PairKind

// Nesting in real texts is shallow: eight entries live inline, deeper nesting spills to the heap.
class OpenStack {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  // Entries of a line-bounded kind on the stack: a line feed has work to do only when this is
  // not zero.
  std::size_t line_bounded() const { return bounded_; }
  const OpenEntry& top() const { return size_ <= kInline ? inline_[size_ - 1] : spill_.back(); }
  void push(const OpenEntry& e) {
    if (size_ < kInline) {
      inline_[size_] = e;
    } else {
      spill_.push_back(e);
    }
    ++size_;
    bounded_ += kLineBounded[static_cast<uint8_t>(e.kind)];
  }
  void pop() {
    bounded_ -= kLineBounded[static_cast<uint8_t>(top().kind)];
    if (size_ > kInline) spill_.pop_back();
    --size_;
  }

 private:
  static constexpr std::size_t kInline = 8;
  OpenEntry inline_[kInline];
  std::vector<OpenEntry> spill_;
  std::size_t size_ = 0;
  std::size_t bounded_ = 0;
};

Diagnostic bracket_diagnostic(DiagnosticKind kind, PairKind pair, uint32_t start, uint32_t end) {
  return Diagnostic{kind, static_cast<uint8_t>(pair), 0, Span{start, end}};
}

static_assert(sizeof(lex::Token) == sizeof(PairedEvent) && alignof(lex::Token) == alignof(PairedEvent),
              "events are written over their tokens");
static_assert(offsetof(lex::Token, tag) == offsetof(PairedEvent, tag) &&
                  offsetof(lex::Token, kind) == offsetof(PairedEvent, kind) &&
                  offsetof(lex::Token, start) == offsetof(PairedEvent, start) &&
                  offsetof(lex::Token, end) == offsetof(PairedEvent, end),
              "a token and its event share their layout");

struct PairState {
  Arena& arena;
  std::vector<Diagnostic>& diagnostics;
  Paired& result;
  OpenStack stack;

  // Pops the stack down to and including its deepest line-bounded entry, reporting each entry as
  // unclosed, innermost first; the Unclosed events go to `events` in the same order.
  void unwind_line(ArenaVec<PairedEvent>& events) {
    while (stack.line_bounded() != 0) {
      const OpenEntry open = stack.top();
      stack.pop();
      diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnclosedBracket, open.kind, open.start, open.end));
      events.push_back(arena, PairedEvent{EventTag::Unclosed, static_cast<uint8_t>(open.kind), open.start, open.end});
    }
  }
};

// The pass itself, from token i on. Out of place, every event is appended to `events`. In place,
// the event of token i is written over token i (a token and an event have the same size), and the
// pass stops, returning the index of the token, at the first line feed that has openers to
// report: their Unclosed events have no token of their own to be written over, so the caller
// goes on out of place from there. Returns `count` when every token is paired.
//
// PERF: over its own token an event is written field by field, from registers, and only the
// fields that differ (tag and kind, and a line feed's end). Building a PairedEvent on the stack
// and copying it whole through memcpy made every event a store-forwarding stall (a 12-byte load
// over three smaller stores), which cost more than the rest of the pass. Fields are read and
// written through memcpy of single fields, so the two types never alias one object.
template <bool kInPlace>
std::size_t pair_from(const void* in, std::size_t i, std::size_t count, ArenaVec<PairedEvent>& events,
                      PairState& st) {
  const auto* src = static_cast<const unsigned char*>(in) + i * sizeof(lex::Token);
  auto* dst = reinterpret_cast<unsigned char*>(events.data) + i * sizeof(PairedEvent);
  for (; i < count; ++i, src += sizeof(lex::Token), dst += sizeof(PairedEvent)) {
    lex::TokenTag tag;
    scan::TriggerKind kind;
    uint32_t start, end;
    std::memcpy(&tag, src + offsetof(lex::Token, tag), sizeof tag);
    std::memcpy(&kind, src + offsetof(lex::Token, kind), sizeof kind);
    if constexpr (kInPlace) {
      // A text token (kind 0) already reads as its Text event: nothing to write. Prose is half
      // text tokens.
      static_assert(static_cast<uint8_t>(lex::TokenTag::Text) == static_cast<uint8_t>(EventTag::Text));
      if (tag == lex::TokenTag::Text && static_cast<uint8_t>(kind) == 0) continue;
    }
    std::memcpy(&start, src + offsetof(lex::Token, start), sizeof start);
    std::memcpy(&end, src + offsetof(lex::Token, end), sizeof end);
    EventTag etag;
    uint8_t ekind = 0;
    switch (tag) {
      case lex::TokenTag::Text:
        etag = EventTag::Text;
        break;
      case lex::TokenTag::LineFeed:
        if (st.stack.line_bounded() != 0) {
          if constexpr (kInPlace) return i;
          st.unwind_line(events);
        }
        etag = EventTag::Newline;
        end = start + 1;
        break;
      default: {
        const TriggerRole r = kRoles[static_cast<uint8_t>(kind)];
        if (r.role == Role::Plain) {
          etag = EventTag::Trigger;
          ekind = static_cast<uint8_t>(kind);
          break;
        }
        ekind = static_cast<uint8_t>(r.pair);
        if (r.role == Role::Open) {
          st.stack.push(OpenEntry{r.pair, start, end});
          etag = EventTag::PairOpen;
        } else if (!st.stack.empty() && st.stack.top().kind == r.pair) {
          const OpenEntry open = st.stack.top();
          st.stack.pop();
          st.result.pairs.push_back(st.arena, BracketPair{open.start, open.end, start, end, r.pair});
          etag = EventTag::PairClose;
        } else {
          st.diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnmatchedClose, r.pair, start, end));
          etag = EventTag::StrayClose;
        }
        break;
      }
    }
    if constexpr (kInPlace) {
      // Over its own token, an event keeps the token's offsets; only a line feed's end is set.
      std::memcpy(dst + offsetof(PairedEvent, tag), &etag, sizeof etag);
      std::memcpy(dst + offsetof(PairedEvent, kind), &ekind, sizeof ekind);
      if (tag == lex::TokenTag::LineFeed) std::memcpy(dst + offsetof(PairedEvent, end), &end, sizeof end);
    } else {
      events.push_back(st.arena, PairedEvent{etag, ekind, start, end});
    }
  }
  return count;
}

// Openers still open when the tokens end, innermost first.
void unwind_all(PairState& st, ArenaVec<PairedEvent>& events) {
  // Room for every Unclosed event at once: doubling an array as large as the token stream for a
  // handful of open brackets would cost as much arena again.
  events.reserve(st.arena, events.size + st.stack.size());
  while (!st.stack.empty()) {
    const OpenEntry open = st.stack.top();
    st.stack.pop();
    st.diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnclosedBracket, open.kind, open.start, open.end));
    events.push_back(st.arena, PairedEvent{EventTag::Unclosed, static_cast<uint8_t>(open.kind), open.start, open.end});
  }
}

}  // namespace

Paired pair_brackets(const ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics) {
  Paired out;
  out.pairs.reserve(arena, tokens.size / 4 > 4 ? tokens.size / 4 : 4);
  // Every token becomes exactly one event; only Unclosed events can go past this.
  out.events.reserve(arena, tokens.size + 4);
  PairState st{arena, diagnostics, out, {}};
  pair_from<false>(tokens.data, 0, tokens.size, out.events, st);
  unwind_all(st, out.events);
  return out;
}

// PERF: a separate event array is as large as the token stream (twelve bytes per token); on the
// corpus that is 0.7 bytes per source byte, and with it a parse no longer fits the arena's first
// block: the overflow block is a fresh mapping every parse, whose page faults cost more than the
// pairing pass itself. Writing over the tokens keeps the arena at one block. The token stream
// keeps a little room past its end (build_tokens) for the Unclosed events at the end; a line that
// leaves an opener unclosed moves the rest of the events to an array of their own, as a separate
// array would have to grow too.
Paired pair_brackets_in_place(ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics) {
  Paired out;
  ArenaVec<lex::Token> mine = tokens;
  tokens = ArenaVec<lex::Token>{};
  if (mine.cap < mine.size + 4) mine.reserve(arena, mine.size + 4);
  out.pairs.reserve(arena, mine.size / 4 > 4 ? mine.size / 4 : 4);
  PairState st{arena, diagnostics, out, {}};

  out.events.data = reinterpret_cast<PairedEvent*>(static_cast<void*>(mine.data));
  out.events.cap = mine.cap;
  const std::size_t stopped = pair_from<true>(mine.data, 0, mine.size, out.events, st);
  out.events.size = stopped;
  if (stopped < mine.size) {
    // The events so far stay where they are written; the rest go to a fresh array with room for
    // them and a few Unclosed events more.
    ArenaVec<PairedEvent> rest;
    rest.reserve(arena, mine.size + (mine.size - stopped) / 8 + 16);
    std::memcpy(static_cast<void*>(rest.data), out.events.data, stopped * sizeof(PairedEvent));
    rest.size = stopped;
    out.events = rest;
    pair_from<false>(mine.data, stopped, mine.size, out.events, st);
  }
  unwind_all(st, out.events);
  return out;
}

}  // namespace yomika
