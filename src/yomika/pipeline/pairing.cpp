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

// Nesting in real texts is shallow: eight entries live inline, deeper nesting spills to the heap.
class OpenStack {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  const OpenEntry& top() const { return size_ <= kInline ? inline_[size_ - 1] : spill_.back(); }
  void push(const OpenEntry& e) {
    if (size_ < kInline) {
      inline_[size_] = e;
    } else {
      spill_.push_back(e);
    }
    ++size_;
  }
  void pop() {
    if (size_ > kInline) spill_.pop_back();
    --size_;
  }

 private:
  static constexpr std::size_t kInline = 8;
  OpenEntry inline_[kInline];
  std::vector<OpenEntry> spill_;
  std::size_t size_ = 0;
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

// The pass itself. `in` and `out` may be the same storage: each token's fields are read before its
// event's are written, and both go through memcpy of single fields, so the two types never alias
// one object.
//
// PERF: over its own token an event is written field by field, from registers, and only the
// fields that differ (tag and kind, and a line feed's end). Building a PairedEvent on the stack
// and copying it whole through memcpy made every event a store-forwarding stall (a 12-byte load
// over three smaller stores), which cost more than the rest of the pass.
template <bool kInPlace>
void pair_into(const void* in, std::size_t count, PairedEvent* out, std::size_t events_cap, Arena& arena,
               std::vector<Diagnostic>& diagnostics, Paired& result) {
  result.pairs.reserve(arena, count / 4 > 4 ? count / 4 : 4);

  OpenStack stack;
  const auto* src = static_cast<const unsigned char*>(in);
  auto* dst = reinterpret_cast<unsigned char*>(out);
  for (std::size_t i = 0; i < count; ++i, src += sizeof(lex::Token), dst += sizeof(PairedEvent)) {
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
          stack.push(OpenEntry{r.pair, start, end});
          etag = EventTag::PairOpen;
        } else if (!stack.empty() && stack.top().kind == r.pair) {
          const OpenEntry open = stack.top();
          stack.pop();
          result.pairs.push_back(arena, BracketPair{open.start, open.end, start, end, r.pair});
          etag = EventTag::PairClose;
        } else {
          diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnmatchedClose, r.pair, start, end));
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
      out[i] = PairedEvent{etag, ekind, start, end};
    }
  }
  PairedEvent* w = out + count;
  result.events.data = out;
  result.events.size = static_cast<std::size_t>(w - out);
  result.events.cap = events_cap;

  // Room for every Unclosed event at once: doubling an array as large as the token stream for a
  // handful of open brackets would cost as much arena again.
  result.events.reserve(arena, result.events.size + stack.size());
  // Innermost first: the stack unwinds in the reverse of opening order.
  while (!stack.empty()) {
    const OpenEntry open = stack.top();
    stack.pop();
    diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnclosedBracket, open.kind, open.start, open.end));
    result.events.push_back(arena,
                            PairedEvent{EventTag::Unclosed, static_cast<uint8_t>(open.kind), open.start, open.end});
  }
}

}  // namespace

Paired pair_brackets(const ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics) {
  Paired out;
  // Every token becomes exactly one event; only the Unclosed events at the end can go past this.
  ArenaVec<PairedEvent> events;
  events.reserve(arena, tokens.size + 4);
  pair_into<false>(tokens.data, tokens.size, events.data, events.cap, arena, diagnostics, out);
  return out;
}

// PERF: a separate event array is as large as the token stream (twelve bytes per token); on the
// corpus that is 0.7 bytes per source byte, and with it a parse no longer fits the arena's first
// block: the overflow block is a fresh mapping every parse, whose page faults cost more than the
// pairing pass itself. Writing over the tokens keeps the arena at one block. The token stream
// keeps a little room past its end (build_tokens) for the Unclosed events; more of them than
// that move the events to a larger array, as a separate array would have to grow too.
Paired pair_brackets_in_place(ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics) {
  Paired out;
  ArenaVec<lex::Token> mine = tokens;
  tokens = ArenaVec<lex::Token>{};
  if (mine.cap < mine.size + 4) mine.reserve(arena, mine.size + 4);
  pair_into<true>(mine.data, mine.size, reinterpret_cast<PairedEvent*>(static_cast<void*>(mine.data)), mine.cap, arena,
            diagnostics, out);
  return out;
}

}  // namespace yomika
