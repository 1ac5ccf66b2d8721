// Bracket pairing: one pass over the tokens with a strict stack of open brackets. A closer
// pops only a matching top; anything else is stray and leaves the stack alone.
#include "yomika/pipeline/pairing.hpp"

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

}  // namespace

Paired pair_brackets(const ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics) {
  Paired out;
  // Every token becomes exactly one event; only the Unclosed events at the end can go past this.
  out.events.reserve(arena, tokens.size + 4);
  out.pairs.reserve(arena, tokens.size / 4 > 4 ? tokens.size / 4 : 4);

  OpenStack stack;
  PairedEvent* w = out.events.data;
  for (const lex::Token& t : tokens) {
    switch (t.tag) {
      case lex::TokenTag::Text:
        *w++ = PairedEvent{EventTag::Text, 0, t.start, t.end};
        break;
      case lex::TokenTag::LineFeed:
        *w++ = PairedEvent{EventTag::Newline, 0, t.start, t.start + 1};
        break;
      case lex::TokenTag::Trigger: {
        const TriggerRole r = kRoles[static_cast<uint8_t>(t.kind)];
        const auto pk = static_cast<uint8_t>(r.pair);
        if (r.role == Role::Plain) {
          *w++ = PairedEvent{EventTag::Trigger, static_cast<uint8_t>(t.kind), t.start, t.end};
        } else if (r.role == Role::Open) {
          stack.push(OpenEntry{r.pair, t.start, t.end});
          *w++ = PairedEvent{EventTag::PairOpen, pk, t.start, t.end};
        } else if (!stack.empty() && stack.top().kind == r.pair) {
          const OpenEntry open = stack.top();
          stack.pop();
          out.pairs.push_back(arena, BracketPair{open.start, open.end, t.start, t.end, r.pair});
          *w++ = PairedEvent{EventTag::PairClose, pk, t.start, t.end};
        } else {
          diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnmatchedClose, r.pair, t.start, t.end));
          *w++ = PairedEvent{EventTag::StrayClose, pk, t.start, t.end};
        }
        break;
      }
    }
  }
  out.events.size = static_cast<std::size_t>(w - out.events.data);

  // Room for every Unclosed event at once: doubling an array as large as the token stream for a
  // handful of open brackets would cost as much arena again.
  out.events.reserve(arena, out.events.size + stack.size());
  // Innermost first: the stack unwinds in the reverse of opening order.
  while (!stack.empty()) {
    const OpenEntry open = stack.top();
    stack.pop();
    diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnclosedBracket, open.kind, open.start, open.end));
    out.events.push_back(arena, PairedEvent{EventTag::Unclosed, static_cast<uint8_t>(open.kind), open.start, open.end});
  }
  return out;
}

}  // namespace yomika
