// Trigger scanner: finds the eleven full-width trigger characters of the notation.
#pragma once

#include <cstdint>
#include <string_view>

#include "yomika/alloc/arena.hpp"

namespace yomika::scan {

enum class TriggerKind : uint8_t {
  Bar = 0,              // ｜
  RubyOpen = 1,         // 《
  RubyClose = 2,        // 》
  DoubleRubyOpen = 3,   // 《《
  DoubleRubyClose = 4,  // 》》
  BracketOpen = 5,      // ［
  BracketClose = 6,     // ］
  Hash = 7,             // ＃
  RefMark = 8,          // ※
  TortoiseOpen = 9,     // 〔
  TortoiseClose = 10,   // 〕
  QuoteOpen = 11,       // 「
  QuoteClose = 12,      // 」
};

// Offsets (ascending, each the first byte of a trigger) of every trigger in text.
// text.size() must fit 32 bits. The result lives in the arena.
ArenaVec<uint32_t> scan_triggers(std::string_view text, Arena& arena);

// A reference for tests and benchmarks: the plain byte-at-a-time scanner the block scanner must equal.
ArenaVec<uint32_t> scan_triggers_scalar(std::string_view text, Arena& arena);

// The scanner's bit masks for `count` 64-byte blocks from `from`, for callers that walk the
// triggers together with another byte: bit j of trig[k] is set when a trigger starts at
// from + 64k + j, and bit j of bytes[k] when the byte there equals `byte`. Positions at or past
// text.size() are never set. text.size() must fit 32 bits.
void block_masks(std::string_view text, std::size_t from, std::size_t count, char byte, uint64_t* trig,
                 uint64_t* bytes);

// Kind of the single trigger character at pos (pos comes from scan_triggers).
TriggerKind classify_trigger(std::string_view text, uint32_t pos);

}  // namespace yomika::scan
