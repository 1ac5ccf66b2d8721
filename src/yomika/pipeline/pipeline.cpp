// The pipeline driver: Phase 0, the arena copy, Phase 1, pairing and assembly, in that order.
#include "yomika/pipeline/pipeline.hpp"

#include "yomika/pipeline/borrowed.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/pairing.hpp"

namespace yomika {

bool reserve_arena(Arena& arena, uint64_t source_len) {
  constexpr uint64_t kPerSourceByte = 4;
  const uint64_t want = source_len > kMaxSourceBytes ? kPerSourceByte * kMaxSourceBytes : kPerSourceByte * source_len;
  return want <= SIZE_MAX && arena.try_reserve(static_cast<std::size_t>(want));
}

namespace {

// PERF NOTES. Tokens, pairing and assembly run a piece of the text at a time: the tokens of a
// few kilobytes are paired and their events assembled before the next piece is cut, so that the
// text, its tokens and its events are read back from the first-level cache, and no array of
// tokens or events as long as the document is ever built (on the corpus that array was 0.7
// bytes per source byte, and with it a parse outgrew the arena's first block).
bool parse_after_sanitize(std::string_view sanitized, Arena& arena, std::vector<Diagnostic>&& diagnostics,
                          ParseResult& out, std::string& refusal) {
  // Every offset from here on is 32 bits wide; a text that does not fit is refused whole.
  if (sanitized.size() > UINT32_MAX) {
    refusal = lex::too_long(sanitized.size());
    return false;
  }
  constexpr std::size_t kPiece = 512;  // tokens: 6 KiB, their events as much again
  lex::Token tokens[kPiece];
  std::vector<PairedEvent> events;
  events.reserve(kPiece + 16);
  PairingStream pairing(diagnostics);
  Assembly assembly(sanitized, arena);
  lex::TokenStream stream(sanitized);
  while (const std::size_t count = stream.next(tokens, kPiece)) {
    events.clear();
    pairing.pair(tokens, count, events);
    assembly.feed(events.data(), events.size());
  }
  events.clear();
  pairing.finish(events);
  assembly.feed(events.data(), events.size());
  assembly.finish(std::move(diagnostics), pairing.take_pairs(), out);
  out.sanitized = sanitized;
  out.sanitized_len = static_cast<uint32_t>(sanitized.size());
  return true;
}

}  // namespace

bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal) {
  return parse_document(doc, out, refusal, {});
}

bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal, const std::function<void()>& copied) {
  Arena& arena = *doc.arena;
  // No result survives a call, so the previous parse's memory is reused rather than kept.
  arena.reset();
  out = ParseResult{};

  std::vector<Diagnostic> diagnostics;
  // Phase 0 and the copy into the arena in one: a text that Phase 0 changes is written there
  // directly rather than built aside and copied. Nothing reads the source after it.
  const std::string_view sanitized = lex::sanitize_into(doc.source, arena, diagnostics);
  if (copied) copied();
  return parse_after_sanitize(sanitized, arena, std::move(diagnostics), out, refusal);
}

bool pair_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal) {
  Arena& arena = *doc.arena;
  arena.reset();
  out = ParseResult{};
  std::vector<Diagnostic> diagnostics;
  const std::string_view sanitized = lex::sanitize_into(doc.source, arena, diagnostics);
  if (sanitized.size() > UINT32_MAX) {
    refusal = lex::too_long(sanitized.size());
    return false;
  }
  constexpr std::size_t kPiece = 512;
  lex::Token tokens[kPiece];
  PairingStream pairing(diagnostics);
  lex::TokenStream stream(sanitized);
  while (const std::size_t count = stream.next(tokens, kPiece)) pairing.pair(tokens, count);
  std::vector<PairedEvent> unclosed;
  pairing.finish(unclosed);
  out.pair_table = pairing.take_pairs();
  out.pairs = out.pair_table.data();
  out.pair_count = out.pair_table.size();
  out.diagnostics = std::move(diagnostics);
  out.sanitized = sanitized;
  out.sanitized_len = static_cast<uint32_t>(sanitized.size());
  return true;
}

bool parse_sanitized(std::string_view sanitized, Arena& arena, ParseResult& out, std::string& refusal) {
  arena.reset();
  out = ParseResult{};
  return parse_after_sanitize(sanitized, arena, {}, out, refusal);
}

}  // namespace yomika
