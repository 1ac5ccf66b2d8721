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

bool parse_after_sanitize(std::string_view sanitized, Arena& arena, std::vector<Diagnostic>&& diagnostics,
                          ParseResult& out, std::string& refusal) {
  ArenaVec<lex::Token> tokens;
  if (!lex::build_tokens(sanitized, arena, tokens, refusal)) return false;

  // The tokens are read once, here: their storage becomes the event array.
  Paired paired = pair_brackets_in_place(tokens, arena, diagnostics);
  assemble(sanitized, paired, arena, std::move(diagnostics), out);
  out.sanitized = sanitized;
  out.sanitized_len = static_cast<uint32_t>(sanitized.size());
  return true;
}

}  // namespace

bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal) {
  Arena& arena = *doc.arena;
  // No result survives a call, so the previous parse's memory is reused rather than kept.
  arena.reset();
  out = ParseResult{};

  std::vector<Diagnostic> diagnostics;
  // Phase 0 and the copy into the arena in one: a text that Phase 0 changes is written there
  // directly rather than built aside and copied.
  const std::string_view sanitized = lex::sanitize_into(doc.source, arena, diagnostics);
  return parse_after_sanitize(sanitized, arena, std::move(diagnostics), out, refusal);
}

bool parse_sanitized(std::string_view sanitized, Arena& arena, ParseResult& out, std::string& refusal) {
  arena.reset();
  out = ParseResult{};
  return parse_after_sanitize(sanitized, arena, {}, out, refusal);
}

}  // namespace yomika
