// Bracket pairing: a strict stack over the five bracket kinds, producing paired events.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/alloc/pages.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/model/diagnostic.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika {

enum class EventTag : uint8_t {
  Text = 0,
  Trigger = 1,  // kind: TriggerKind (Bar, Hash or RefMark)
  PairOpen = 2,
  PairClose = 3,
  Unclosed = 4,
  StrayClose = 5,
  Newline = 6,  // start: offset of the line feed
};

struct PairedEvent {
  EventTag tag;
  uint8_t kind;  // TriggerKind for Trigger, PairKind for the pair events
  uint32_t start;
  uint32_t end;
};

struct BracketPair {
  uint32_t open_start, open_end, close_start, close_end;
  PairKind kind;
};

struct Paired {
  ArenaVec<PairedEvent> events;
  ArenaVec<BracketPair> pairs;
};

// Pairs the brackets of the token stream and appends its diagnostics, in text order. ［, 《, 《《
// and 〔 close at the end of their line at the latest: an opener of these kinds still open at a
// line feed is reported unclosed there, with every entry above it on the stack, and their
// Unclosed events (innermost first) come just before that line feed's Newline event. Openers
// still open when the tokens end (「 spans lines) follow all other events, innermost first.
Paired pair_brackets(const ArenaVec<lex::Token>& tokens, Arena& arena, Diagnostics& diagnostics);

// The same a piece of the token stream at a time, for a driver that hands each piece's events on
// before it takes the next piece: the events, pairs and diagnostics come out exactly as
// pair_brackets writes them for the whole stream.
class PairingStream {
 public:
  explicit PairingStream(Diagnostics& diagnostics);
  ~PairingStream();
  PairingStream(const PairingStream&) = delete;
  PairingStream& operator=(const PairingStream&) = delete;

  // Pairs the next `count` tokens, for a caller that needs only the pairs and the diagnostics.
  void pair(const lex::Token* tokens, std::size_t count);
  // Cuts and pairs the next piece of `stream` in one pass, no token stored between the two: about
  // `piece` events (more by a block's worth at most), valid until the next call. Once the stream
  // is done, the Unclosed events of the openers still open, at most `piece` a call (a hostile
  // text leaves one per three bytes); none once those are out too.
  std::span<const PairedEvent> pair_next(lex::TokenStream& stream, std::size_t piece);
  // Reports the openers still open when the tokens end, for a caller of pair() that needs only
  // the pairs and the diagnostics.
  void finish();
  // The pairs so far, in closing order; take_pairs hands them over.
  const GrowArray<BracketPair>& pairs() const;
  GrowArray<BracketPair> take_pairs();

 private:
  friend Paired pair_brackets(const ArenaVec<lex::Token>&, Arena&, Diagnostics&);
  struct State;
  class EventSink;
  std::unique_ptr<State> st_;
};

}  // namespace yomika
