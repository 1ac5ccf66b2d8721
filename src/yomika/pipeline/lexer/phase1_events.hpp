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

// The message of a text that does not fit 32-bit offsets.
std::string too_long(std::size_t bytes);

// Builds the token stream in the arena. Returns false and fills `refusal` with
// "source too long for u32 span offsets ({} bytes)" when the text does not fit 32-bit offsets.
bool build_tokens(std::string_view text, Arena& arena, ArenaVec<Token>& out, std::string& refusal);

// The same tokens a piece at a time, in order, so that the stages after this one can take each
// piece while its text is still in the cache. The text must fit 32-bit offsets.
class TokenStream {
 public:
  // Room enough for the tokens of one 64-byte block of text and the last text token.
  static constexpr std::size_t kMinRoom = 2 * 64 + 1;

  explicit TokenStream(std::string_view text) : text_(text) {}

  // Writes the next tokens to `out`, which has room for `room` (at least kMinRoom) of them, and
  // returns how many; 0 once every token has been handed out.
  std::size_t next(Token* out, std::size_t room);

 private:
  static constexpr std::size_t kChunkBlocks = 64;  // masks fetched per scan: 4 KiB of text
  std::string_view text_;
  std::size_t next_chunk_ = 0;  // offset of the first block not yet scanned
  std::size_t base_ = 0;        // offset of the loaded chunk
  std::size_t blocks_ = 0;      // its blocks
  std::size_t k_ = 0;           // its next block
  uint32_t cursor_ = 0;         // end of the last token handed out
  bool done_ = false;
  uint64_t trig_[kChunkBlocks];
  uint64_t feeds_[kChunkBlocks];
};

}  // namespace yomika::lex
