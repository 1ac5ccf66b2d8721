// Bracket pairing: one pass over the tokens with a strict stack of open brackets. A closer
// pops only a matching top; anything else is stray and leaves the stack alone.
#include "yomika/pipeline/pairing.hpp"

#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "yomika/alloc/pages.hpp"

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

// Eight bytes: a hostile line of nothing but openers keeps one of these per three bytes of text.
struct OpenEntry {
  uint32_t start;
  PairKind kind;
  uint8_t width;  // the opener's bytes
  uint32_t end() const { return start + width; }
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
    // A stack unwound at the end of a hostile line gives its memory back as its reports grow.
    if (size_ > kInline) spill_.pop_back_and_trim();
    --size_;
  }

 private:
  static constexpr std::size_t kInline = 8;
  OpenEntry inline_[kInline];
  GrowArray<OpenEntry> spill_;
  std::size_t size_ = 0;
  std::size_t bounded_ = 0;
};

Diagnostic bracket_diagnostic(DiagnosticKind kind, PairKind pair, uint32_t start, uint32_t end) {
  return Diagnostic{kind, static_cast<uint8_t>(pair), 0, Span{start, end}};
}

}  // namespace

struct PairingStream::State {
  Diagnostics& diagnostics;
  GrowArray<BracketPair> pairs;
  OpenStack stack;

  // Pops the stack down to and including its deepest line-bounded entry, reporting each entry as
  // unclosed, innermost first; the Unclosed events go to `emit` in the same order.
  template <class Emit>
  void unwind_line(Emit&& emit) {
    while (stack.line_bounded() != 0) unclose_top(emit);
  }

  // Openers still open when the tokens end, innermost first, at most `most` of them; true once
  // none is left.
  template <class Emit>
  bool unwind_all(Emit&& emit, std::size_t most = SIZE_MAX) {
    for (; most != 0 && !stack.empty(); --most) unclose_top(emit);
    return stack.empty();
  }

  // The innermost opener, reported unclosed and taken off the stack.
  template <class Emit>
  void unclose_top(Emit& emit) {
    const OpenEntry open = stack.top();
    stack.pop();
    diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnclosedBracket, open.kind, open.start, open.end()));
    emit(PairedEvent{EventTag::Unclosed, static_cast<uint8_t>(open.kind), open.start, open.end()});
  }

  // One token's events, in order, to `emit`.
  template <class Emit>
  void text(uint32_t s, uint32_t e, Emit& emit) {
    emit(PairedEvent{EventTag::Text, 0, s, e});
  }
  template <class Emit>
  void line_feed(uint32_t at, Emit& emit) {
    if (stack.line_bounded() != 0) unwind_line(emit);
    emit(PairedEvent{EventTag::Newline, 0, at, at + 1});
  }
  template <class Emit>
  void trigger(TriggerKind kind, uint32_t s, uint32_t e, Emit& emit) {
    const TriggerRole r = kRoles[static_cast<uint8_t>(kind)];
    if (r.role == Role::Plain) {
      emit(PairedEvent{EventTag::Trigger, static_cast<uint8_t>(kind), s, e});
    } else if (r.role == Role::Open) {
      stack.push(OpenEntry{s, r.pair, static_cast<uint8_t>(e - s)});
      emit(PairedEvent{EventTag::PairOpen, static_cast<uint8_t>(r.pair), s, e});
    } else if (!stack.empty() && stack.top().kind == r.pair) {
      const OpenEntry open = stack.top();
      stack.pop();
      pairs.push_back(BracketPair{open.start, open.end(), s, e, r.pair});
      emit(PairedEvent{EventTag::PairClose, static_cast<uint8_t>(r.pair), s, e});
    } else {
      diagnostics.push_back(bracket_diagnostic(DiagnosticKind::UnmatchedClose, r.pair, s, e));
      emit(PairedEvent{EventTag::StrayClose, static_cast<uint8_t>(r.pair), s, e});
    }
  }

  // The pass itself over `count` tokens: every event goes to `emit`, in order.
  template <class Emit>
  void pair(const lex::Token* tokens, std::size_t count, Emit&& emit) {
    for (std::size_t i = 0; i < count; ++i) {
      const lex::Token& t = tokens[i];
      switch (t.tag) {
        case lex::TokenTag::Text: text(t.start, t.end, emit); break;
        case lex::TokenTag::LineFeed: line_feed(t.start, emit); break;
        default: trigger(t.kind, t.start, t.end, emit); break;
      }
    }
  }

  // The events of the fused pass, written in place; see pair_next. Not zeroed: every event read
  // was written first.
  std::unique_ptr<PairedEvent[]> cut;
  std::size_t cut_room = 0;
};

// Takes the token stream's tokens as it cuts them and writes their events straight into the
// stream's buffer, kept between calls. A block's tokens make at most two events per byte of it,
// but the line feeds in it may close any number of openers, so every write makes sure of its slot
// (a test that never fails but on a hostile line).
class PairingStream::EventSink {
 public:
  EventSink(State& st, std::size_t piece) : st_(st), w_(st.cut.get()), room_(st.cut_room), piece_(piece) {}

  bool take_block() const { return size_ < piece_; }
  bool take_one() const { return true; }
  // PERF: whether a gap precedes a token is a coin toss in prose, so the text event is always
  // written and kept only when non-empty, as the token stream does with its text tokens.
  void text(uint32_t s, uint32_t e) {
    if (size_ == room_) [[unlikely]] grow();
    w_[size_] = PairedEvent{EventTag::Text, 0, s, e};
    size_ += s < e;
  }
  void line_feed(uint32_t at) { st_.line_feed(at, *this); }
  void trigger(scan::TriggerKind kind, uint32_t s, uint32_t e) { st_.trigger(kind, s, e, *this); }
  void operator()(const PairedEvent& ev) {
    if (size_ == room_) [[unlikely]] grow();
    w_[size_++] = ev;
  }

  std::size_t size() const { return size_; }

 private:
  __attribute__((noinline)) void grow() {
    const std::size_t room = 2 * room_ + 64;
    std::unique_ptr<PairedEvent[]> more(new PairedEvent[room]);
    std::memcpy(static_cast<void*>(more.get()), w_, size_ * sizeof(PairedEvent));
    st_.cut = std::move(more);
    st_.cut_room = room_ = room;
    w_ = st_.cut.get();
  }
  State& st_;
  PairedEvent* w_;
  std::size_t room_;
  std::size_t size_ = 0;
  const std::size_t piece_;
};

PairingStream::PairingStream(Diagnostics& diagnostics) : st_(new State{diagnostics, {}, {}, {}, 0}) {}
PairingStream::~PairingStream() = default;

std::span<const PairedEvent> PairingStream::pair_next(lex::TokenStream& stream, std::size_t piece) {
  if (st_->cut_room < piece + 4 * 64) {
    st_->cut_room = piece + 4 * 64;
    st_->cut.reset(new PairedEvent[st_->cut_room]);
  }
  EventSink sink(*st_, piece);
  stream.drive(sink);
  // Nothing cut: the stream is done (a call goes on until it has a piece or the text ends).
  if (sink.size() == 0) st_->unwind_all(sink, piece);
  return {st_->cut.get(), sink.size()};
}

void PairingStream::pair(const lex::Token* tokens, std::size_t count) {
  st_->pair(tokens, count, [](const PairedEvent&) {});
}

void PairingStream::finish() {
  st_->unwind_all([](const PairedEvent&) {});
}

const GrowArray<BracketPair>& PairingStream::pairs() const { return st_->pairs; }
GrowArray<BracketPair> PairingStream::take_pairs() { return std::move(st_->pairs); }

Paired pair_brackets(const ArenaVec<lex::Token>& tokens, Arena& arena, Diagnostics& diagnostics) {
  Paired out;
  // Every token becomes exactly one event; only Unclosed events can go past this.
  out.events.reserve(arena, tokens.size + 4);
  PairingStream::State st{diagnostics, {}, {}, {}, 0};
  auto emit = [&](const PairedEvent& e) { out.events.push_back(arena, e); };
  st.pair(tokens.data, tokens.size, emit);
  st.unwind_all(emit);
  out.pairs.reserve(arena, st.pairs.size() > 4 ? st.pairs.size() : 4);
  if (!st.pairs.empty()) std::memcpy(static_cast<void*>(out.pairs.data), st.pairs.data(), st.pairs.size() * sizeof(BracketPair));
  out.pairs.size = st.pairs.size();
  return out;
}

}  // namespace yomika
