// Phase 1: cuts the text at its triggers and line feeds into one token stream, with the text
// between them as text tokens and adjacent 《《 / 》》 merged into double ruby brackets.
#include "yomika/pipeline/lexer/phase1_events.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "yomika/scan/triggers.hpp"

namespace yomika::lex {

// PERF NOTES. The trigger scan and the line-feed search are one pass: the scanner's kernel hands
// over, per 64-byte block, the mask of trigger starts and the mask of line feeds, and the tokens
// are written straight from their union, lowest bit first. The two offset arrays that a separate
// scan and search would fill (and a merge would read back) are never built: on the corpus that
// saves a tenth of the source's size in arena, which is what lets a parse fit the arena's first
// block, and the phase runs at 2.9 GB/s where scan, search and merge took it to 2.5 (plain text:
// 7.9 against 5.2 GB/s).
namespace {

constexpr std::size_t kBlock = 64;
// A block yields at most two tokens per set bit (a text token before each trigger or line feed).
constexpr std::size_t kMaxTokensPerBlock = 2 * kBlock;
static_assert(TokenStream::kMinRoom >= kMaxTokensPerBlock + 1);

inline bool same_character(const char* a, const char* b) { return std::memcmp(a, b, 3) == 0; }

}  // namespace

std::string too_long(std::size_t bytes) {
  return "source too long for u32 span offsets (" + std::to_string(bytes) + " bytes)";
}

std::size_t TokenStream::next(Token* out, std::size_t room) {
  const auto n = static_cast<uint32_t>(text_.size());
  const char* p = text_.data();
  Token* w = out;
  Token* const room_end = out + room;
  uint32_t cursor = cursor_;
  while (!done_) {
    if (k_ == blocks_) {
      if (next_chunk_ >= n) {
        if (cursor < n) {
          if (w == room_end) break;
          *w++ = Token{TokenTag::Text, scan::TriggerKind::Bar, cursor, n};
          cursor = n;
        }
        done_ = true;
        break;
      }
      base_ = next_chunk_;
      blocks_ = std::min<std::size_t>(kChunkBlocks, (n - base_ + kBlock - 1) / kBlock);
      scan::block_masks(text_, base_, blocks_, '\n', trig_, feeds_);
      next_chunk_ = base_ + kBlock * kChunkBlocks;
      k_ = 0;
    }
    if (static_cast<std::size_t>(room_end - w) < kMaxTokensPerBlock) break;
    const uint64_t lf = feeds_[k_];
    uint64_t all = trig_[k_] | lf;
    const auto b = static_cast<uint32_t>(base_ + k_ * kBlock);
    ++k_;
    while (all) {
      const uint64_t bit = all & (0 - all);
      all ^= bit;
      const uint32_t at = b + static_cast<uint32_t>(__builtin_ctzll(bit));
      // PERF: whether a gap precedes a token is a coin toss in prose, so the text token is
      // always written and kept only when non-empty; the next write overwrites it otherwise.
      if (lf & bit) {
        *w = Token{TokenTag::Text, scan::TriggerKind::Bar, cursor, at};
        w += cursor < at;
        *w++ = Token{TokenTag::LineFeed, scan::TriggerKind::Bar, at, at + 1};
        cursor = at + 1;
        continue;
      }
      if (at < cursor) continue;  // the second half of a doubled bracket, already taken
      scan::TriggerKind kind = scan::classify_trigger(text_, at);
      uint32_t end = at + 3;
      // Greedy from the left: the first two of three adjacent 《 merge, the third stays single.
      // The next trigger starts right here exactly when the same character follows.
      if ((kind == scan::TriggerKind::RubyOpen || kind == scan::TriggerKind::RubyClose) && end + 3 <= n &&
          same_character(p + at, p + end)) {
        kind = kind == scan::TriggerKind::RubyOpen ? scan::TriggerKind::DoubleRubyOpen
                                                   : scan::TriggerKind::DoubleRubyClose;
        end += 3;
      }
      *w = Token{TokenTag::Text, scan::TriggerKind::Bar, cursor, at};
      w += cursor < at;
      *w++ = Token{TokenTag::Trigger, kind, at, end};
      cursor = end;
    }
  }
  cursor_ = cursor;
  return static_cast<std::size_t>(w - out);
}

bool build_tokens(std::string_view text, Arena& arena, ArenaVec<Token>& out, std::string& refusal) {
  out = ArenaVec<Token>{};
  // Every offset from here on is 32 bits wide; a text that does not fit is refused whole.
  if (text.size() > UINT32_MAX) {
    refusal = too_long(text.size());
    return false;
  }
  const auto n = static_cast<uint32_t>(text.size());

  // One token per twelve bytes (the size of a token) is more than prose needs; the stream is the
  // arena's latest allocation throughout, so growing past the guess extends it in place, and
  // the unused rest is given back at the end.
  out.reserve(arena, n / 12 + TokenStream::kMinRoom + 8);
  TokenStream stream(text);
  for (;;) {
    if (out.cap - out.size < TokenStream::kMinRoom) {
      // Past the guess: extrapolate from the density so far, with an eighth to spare, rather
      // than doubling, which on a dense text overshoots the arena's block by half the stream.
      const std::size_t done = out.size ? out.data[out.size - 1].end : 1;
      const std::size_t want =
          static_cast<std::size_t>(static_cast<double>(out.size) * (static_cast<double>(n) / done) * 1.125);
      out.reserve(arena, std::max(want, out.size + 16 * TokenStream::kMinRoom));
    }
    const std::size_t got = stream.next(out.data + out.size, out.cap - out.size);
    if (got == 0) break;
    out.size += got;
  }

  // Pairing writes its events over the tokens and appends one event per bracket left open, which
  // must fit here: the pair list is allocated right after the stream, so the stream cannot grow
  // any more, and moving it would cost as much arena again. A few per cent of room covers real
  // texts (the concatenated corpus leaves a handful open); the rest goes back to the arena.
  const std::size_t keep = out.size + 8 + out.size / 32;
  if (keep < out.cap && arena.grow_last(out.data, out.cap * sizeof(Token), keep * sizeof(Token))) out.cap = keep;
  return true;
}

}  // namespace yomika::lex
