// The pipeline driver: Phase 0, the arena copy, Phase 1, pairing and assembly, in that order.
#include "yomika/pipeline/pipeline.hpp"

#include <cstddef>

#include "yomika/pipeline/borrowed.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/pairing.hpp"

namespace yomika {

SentinelRegistry registry_of(const ParseResult& result) {
  if (result.positions == nullptr) return result.registry;
  static_assert(offsetof(SourceNode, entry) == 0, "a source node begins with its registry entry");
  return build_registry(result.positions, result.node_count, result.nodes, sizeof(SourceNode));
}

bool reserve_arena(Arena& arena, uint64_t source_len) {
  constexpr uint64_t kPerSourceByte = 4;
  const uint64_t want = source_len > kMaxSourceBytes ? kPerSourceByte * kMaxSourceBytes : kPerSourceByte * source_len;
  return want <= SIZE_MAX && arena.try_reserve(static_cast<std::size_t>(want));
}

namespace {

constexpr std::size_t kPiece = 512;  // events (or tokens): 6 KiB

// A parse starts over in the document's arena: no result survives a call, so the previous
// parse's memory is reused rather than kept.
void start_over(Arena& arena, ParseResult& out) {
  arena.reset();
  out = ParseResult{};
}

// Every offset from the sanitized text on is 32 bits wide; a text that does not fit is refused.
bool fits_offsets(std::string_view sanitized, std::string& refusal) {
  if (sanitized.size() <= UINT32_MAX) return true;
  refusal = lex::too_long(sanitized.size());
  return false;
}

void keep_sanitized(std::string_view sanitized, ParseResult& out) {
  out.sanitized = sanitized;
  out.sanitized_len = static_cast<uint32_t>(sanitized.size());
}

// PERF NOTES. Tokens, pairing and assembly run a piece of the text at a time: the events of a
// few kilobytes are assembled before the next piece is cut, so that the text and its events are
// read back from the first-level cache, and no array of tokens or events as long as the document
// is ever built (on the corpus that array was 0.7 bytes per source byte, and with it a parse
// outgrew the arena's first block). The tokens are paired as they are cut, never stored: a
// token array between the two stages, written and read back with its kind tested again, was 3
// to 4 % of a parse of a book.
bool parse_after_sanitize(std::string_view sanitized, Arena& arena, Diagnostics&& diagnostics,
                          ParseResult& out, std::string& refusal) {
  if (!fits_offsets(sanitized, refusal)) return false;
  PairingStream pairing(diagnostics);
  Assembly assembly(sanitized, arena);
  lex::TokenStream stream(sanitized);
  for (;;) {
    const std::span<const PairedEvent> piece = pairing.pair_next(stream, kPiece);
    if (piece.empty()) break;
    assembly.feed(piece.data(), piece.size());
  }
  assembly.finish(std::move(diagnostics), pairing.take_pairs(), out);
  keep_sanitized(sanitized, out);
  return true;
}

}  // namespace

bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal) {
  return parse_document(doc, out, refusal, {});
}

bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal, const std::function<void()>& copied) {
  Arena& arena = *doc.arena;
  start_over(arena, out);
  Diagnostics diagnostics;
  // Phase 0 and the copy into the arena in one: a text that Phase 0 changes is written there
  // directly rather than built aside and copied. Nothing reads the source after it.
  const std::string_view sanitized = lex::sanitize_into(doc.source, arena, diagnostics);
  if (copied) copied();
  return parse_after_sanitize(sanitized, arena, std::move(diagnostics), out, refusal);
}

bool pair_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal) {
  start_over(*doc.arena, out);
  Diagnostics diagnostics;
  const std::string_view sanitized = lex::sanitize_into(doc.source, *doc.arena, diagnostics);
  if (!fits_offsets(sanitized, refusal)) return false;
  lex::Token tokens[kPiece];
  PairingStream pairing(diagnostics);
  lex::TokenStream stream(sanitized);
  while (const std::size_t count = stream.next(tokens, kPiece)) pairing.pair(tokens, count);
  pairing.finish();
  out.pair_table = pairing.take_pairs();
  out.pairs = out.pair_table.data();
  out.pair_count = out.pair_table.size();
  out.diagnostics = std::move(diagnostics);
  keep_sanitized(sanitized, out);
  return true;
}

bool parse_sanitized(std::string_view sanitized, Arena& arena, ParseResult& out, std::string& refusal) {
  start_over(arena, out);
  return parse_after_sanitize(sanitized, arena, {}, out, refusal);
}

}  // namespace yomika
