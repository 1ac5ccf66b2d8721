// Phase 1: cuts the text at its triggers and line feeds into one token stream, with the text
// between them as text tokens and adjacent 《《 / 》》 merged into double ruby brackets.
#include "yomika/pipeline/lexer/phase1_events.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "yomika/scan/triggers.hpp"

namespace yomika::lex {

namespace {

// A block yields at most two tokens per set bit (a text token before each trigger or line feed).
constexpr std::size_t kMaxTokensPerBlock = 2 * 64;
static_assert(TokenStream::kMinRoom >= kMaxTokensPerBlock + 1);

// Tokens into an array with room for a given number.
struct TokenSink {
  Token* w;
  Token* const end;
  bool take_block() const { return static_cast<std::size_t>(end - w) >= kMaxTokensPerBlock; }
  bool take_one() const { return w != end; }
  // PERF: whether a gap precedes a token is a coin toss in prose, so the text token is always
  // written and kept only when non-empty; the next write overwrites it otherwise.
  void text(uint32_t s, uint32_t e) {
    *w = Token{TokenTag::Text, scan::TriggerKind::Bar, s, e};
    w += s < e;
  }
  void line_feed(uint32_t at) { *w++ = Token{TokenTag::LineFeed, scan::TriggerKind::Bar, at, at + 1}; }
  void trigger(scan::TriggerKind kind, uint32_t s, uint32_t e) { *w++ = Token{TokenTag::Trigger, kind, s, e}; }
};

}  // namespace

std::string too_long(std::size_t bytes) {
  return "source too long for u32 span offsets (" + std::to_string(bytes) + " bytes)";
}

std::size_t TokenStream::next(Token* out, std::size_t room) {
  TokenSink sink{out, out + room};
  drive(sink);
  return static_cast<std::size_t>(sink.w - out);
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
