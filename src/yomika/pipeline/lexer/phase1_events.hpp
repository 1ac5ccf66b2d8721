// Phase 1: cuts the sanitized source into text, trigger and line-feed tokens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "yomika/alloc/arena.hpp"
#include "yomika/scan/triggers.hpp"

namespace yomika::lex {

enum class TokenTag : uint8_t { Text = 0, Trigger = 1, LineFeed = 2 };

struct Token {
  TokenTag tag;
  scan::TriggerKind kind;  // trigger tokens only
  uint32_t start;
  uint32_t end;  // a line feed covers [start, start + 1)
};

// Builds the token stream in the arena. Returns false and fills `refusal` with
// "source too long for u32 span offsets ({} bytes)" when the text does not fit 32-bit offsets.
bool build_tokens(std::string_view text, Arena& arena, ArenaVec<Token>& out, std::string& refusal);

}  // namespace yomika::lex
