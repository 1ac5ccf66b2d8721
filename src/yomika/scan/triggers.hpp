// Trigger scanner: finds the eleven full-width trigger characters of the notation.
#pragma once

#include <cstdint>
#include <string_view>

#include "yomika/alloc/arena.hpp"
#include "yomika/alloc/fatal.hpp"

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

namespace detail {

// The eleven triggers are told apart by the low two bits of the lead byte and the low six bits
// of the third byte, with no two of them sharing a slot; a slot holds the kind and the full
// three bytes that must be there, so one load and one compare confirm the lookup.
struct ClassSlot {
  uint32_t bytes;  // b0 | b1 << 8 | b2 << 16; 0 for an empty slot
  TriggerKind kind;
};

constexpr unsigned class_index(unsigned b0, unsigned b2) { return ((b0 & 3u) << 6) | (b2 & 0x3Fu); }

struct ClassTable {
  ClassSlot slots[256] = {};
  constexpr ClassTable() {
    struct Def {
      unsigned b0, b1, b2;
      TriggerKind kind;
    };
    constexpr Def defs[] = {
        {0xEF, 0xBD, 0x9C, TriggerKind::Bar},          {0xE3, 0x80, 0x8A, TriggerKind::RubyOpen},
        {0xE3, 0x80, 0x8B, TriggerKind::RubyClose},    {0xEF, 0xBC, 0xBB, TriggerKind::BracketOpen},
        {0xEF, 0xBC, 0xBD, TriggerKind::BracketClose}, {0xEF, 0xBC, 0x83, TriggerKind::Hash},
        {0xE2, 0x80, 0xBB, TriggerKind::RefMark},      {0xE3, 0x80, 0x94, TriggerKind::TortoiseOpen},
        {0xE3, 0x80, 0x95, TriggerKind::TortoiseClose}, {0xE3, 0x80, 0x8C, TriggerKind::QuoteOpen},
        {0xE3, 0x80, 0x8D, TriggerKind::QuoteClose},
    };
    for (const Def& d : defs) slots[class_index(d.b0, d.b2)] = ClassSlot{d.b0 | d.b1 << 8 | d.b2 << 16, d.kind};
  }
};

constexpr ClassTable kClassTable;

constexpr bool class_table_is_collision_free() {
  int filled = 0;
  for (const ClassSlot& s : kClassTable.slots) filled += s.bytes != 0;
  return filled == 11;
}
static_assert(class_table_is_collision_free(), "every trigger has its own classification slot");

}  // namespace detail

// Kind of the single trigger character at pos (pos comes from scan_triggers). Inline: the token
// stream asks it for every trigger.
inline TriggerKind classify_trigger(std::string_view text, uint32_t pos) {
  if (std::size_t{pos} + 3 > text.size()) fatal("scanner only emits classified positions");
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  const uint32_t bytes = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  const detail::ClassSlot& slot = detail::kClassTable.slots[detail::class_index(p[0], p[2])];
  if (slot.bytes != bytes) fatal("scanner only emits classified positions");
  return slot.kind;
}

}  // namespace yomika::scan
