// Phase 1: cuts the sanitized source into text, trigger and line-feed tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

  // The same tokens handed to `sink` as they are cut, for a stage that takes them one by one
  // without an array in between: sink.text(start, end) for the text in front of each line feed or
  // trigger and at the end (empty ones too, which the sink drops), sink.line_feed(at),
  // sink.trigger(kind, start, end). Before each 64-byte block (at most two tokens per byte of it)
  // it asks sink.take_block(), and before the last text token sink.take_one(); a false answer
  // ends the call, and the next call goes on from there.
  template <class Sink>
  void drive(Sink& sink);

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

// PERF NOTES. The trigger scan and the line-feed search are one pass: the scanner's kernel hands
// over, per 64-byte block, the mask of trigger starts and the mask of line feeds, and the tokens
// are cut straight from their union, lowest bit first. The two offset arrays that a separate
// scan and search would fill (and a merge would read back) are never built: on the corpus that
// saves a tenth of the source's size in arena, which is what lets a parse fit the arena's first
// block, and the phase runs at 2.9 GB/s where scan, search and merge took it to 2.5 (plain text:
// 7.9 against 5.2 GB/s).
template <class Sink>
void TokenStream::drive(Sink& sink) {
  constexpr std::size_t kBlock = 64;
  const auto n = static_cast<uint32_t>(text_.size());
  const char* p = text_.data();
  uint32_t cursor = cursor_;
  while (!done_) {
    if (k_ == blocks_) {
      if (next_chunk_ >= n) {
        if (cursor < n) {
          if (!sink.take_one()) break;
          sink.text(cursor, n);
          cursor = n;
        }
        done_ = true;
        break;
      }
      base_ = next_chunk_;
      blocks_ = (n - base_ + kBlock - 1) / kBlock;
      if (blocks_ > kChunkBlocks) blocks_ = kChunkBlocks;
      scan::block_masks(text_, base_, blocks_, '\n', trig_, feeds_);
      next_chunk_ = base_ + kBlock * kChunkBlocks;
      k_ = 0;
    }
    if (!sink.take_block()) break;
    const uint64_t lf = feeds_[k_];
    uint64_t all = trig_[k_] | lf;
    const auto b = static_cast<uint32_t>(base_ + k_ * kBlock);
    ++k_;
    while (all) {
      const uint64_t bit = all & (0 - all);
      all ^= bit;
      const uint32_t at = b + static_cast<uint32_t>(__builtin_ctzll(bit));
      if (lf & bit) {
        sink.text(cursor, at);
        sink.line_feed(at);
        cursor = at + 1;
        continue;
      }
      if (at < cursor) continue;  // the second half of a doubled bracket, already taken
      scan::TriggerKind kind = scan::classify_trigger(text_, at);
      uint32_t end = at + 3;
      // Greedy from the left: the first two of three adjacent 《 merge, the third stays single.
      // The next trigger starts right here exactly when the same character follows.
      if ((kind == scan::TriggerKind::RubyOpen || kind == scan::TriggerKind::RubyClose) && end + 3 <= n &&
          std::memcmp(p + at, p + end, 3) == 0) {
        kind = kind == scan::TriggerKind::RubyOpen ? scan::TriggerKind::DoubleRubyOpen
                                                   : scan::TriggerKind::DoubleRubyClose;
        end += 3;
      }
      sink.text(cursor, at);
      sink.trigger(kind, at, end);
      cursor = end;
    }
  }
  cursor_ = cursor;
}

}  // namespace yomika::lex
