// Bracket pairing: a strict stack over the five bracket kinds, producing paired events.
#pragma once

#include <cstdint>
#include <vector>

#include "yomika/alloc/arena.hpp"
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
Paired pair_brackets(const ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics);

// The same, writing each event over its own token: a token and an event have the same size, and
// the token stream, read once, is dead after pairing. The stream's storage (and capacity) becomes
// the event array; `tokens` is left empty.
Paired pair_brackets_in_place(ArenaVec<lex::Token>& tokens, Arena& arena, std::vector<Diagnostic>& diagnostics);

}  // namespace yomika
