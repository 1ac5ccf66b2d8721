// The pipeline driver: Phase 0, Phase 1, pairing and assembly over one document.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/alloc/pages.hpp"
#include "yomika/pipeline/pairing.hpp"
#include "yomika/model/diagnostic.hpp"
#include "yomika/veb/eytzinger.hpp"

namespace yomika {

// The owned document: the caller's UTF-8 source and the arena every parse allocates in.
struct YomikaDoc {
  std::string_view source;  // owned by whoever built the document
  Arena* arena;
};

// One record per registry entry, in ascending normalized position, with its source span.
struct SourceNode {
  RegistryEntry entry;
  Span span;
};

struct ParseResult {
  // The entries in search order, for a result built by hand. A parse leaves it empty: its entries
  // are the node table's, in position order, which is how the renderers walk them (registry_of
  // builds the search order from them where a search is wanted).
  SentinelRegistry registry;             // heap
  Diagnostics diagnostics;               // heap, in catalogue order
  std::string_view sanitized;            // arena
  std::string_view normalized;           // arena
  const BracketPair* pairs = nullptr;    // in closing order
  std::size_t pair_count = 0;
  const SourceNode* nodes = nullptr;
  std::size_t node_count = 0;
  const uint32_t* positions = nullptr;   // the registry's keys in ascending order, one per node
                                         // (nodes[k] is the entry at positions[k])
  uint32_t sanitized_len = 0;

  // Where a parse keeps the pairs, the nodes and their positions (heap): the tables it grew as it
  // went, handed over whole rather than copied into the arena, where the copy would stand beside
  // them at the end of the parse. A result built by hand may point elsewhere.
  GrowArray<BracketPair> pair_table;
  GrowArray<SourceNode> node_table;
  GrowArray<uint32_t> position_table;

  ParseResult() = default;
  ParseResult(ParseResult&&) = default;
  ParseResult& operator=(ParseResult&&) = default;
  // A copy would point into the tables of the original.
  ParseResult(const ParseResult&) = delete;
  ParseResult& operator=(const ParseResult&) = delete;
};

// The registry of a result in search order: the one it holds, or that of its node table.
SentinelRegistry registry_of(const ParseResult& result);

// The longest source a parse accepts: every span of the sanitized text is a pair of 32-bit offsets.
inline constexpr uint64_t kMaxSourceBytes = UINT32_MAX;

// Reserves the first block of a document's arena for a source of `source_len` bytes: four times
// the source, the expected use of one parse. A source past kMaxSourceBytes is refused by the parse,
// so its reservation is capped at that of the longest accepted source; anything larger would only
// take memory from the copy that precedes the refusal. False, with nothing reserved, when the
// memory cannot be had, so that the caller can report it rather than abort.
bool reserve_arena(Arena& arena, uint64_t source_len);

// Runs the whole pipeline. Returns false with `refusal` set to
// "source too long for u32 span offsets ({} bytes)" when the sanitized source is too long.
// The arena is reset first: no earlier parse of the document survives the call.
bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal);

// The same for a caller that lets go of the source once it is copied: `copied` is called as soon
// as the sanitized text is in the arena, before the rest of the pipeline runs, so that the
// source's memory can be given back while the parse's own grows.
bool parse_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal, const std::function<void()>& copied);

// The brackets alone: Phase 0, Phase 1 and pairing, without assembly. Fills the sanitized text,
// the pairs and the diagnostics of `out` (no nodes, no normalized text, no registry): all that
// the pairs and diagnostics reports read, since only Phase 0 and pairing report problems.
// Refuses as parse_document does.
bool pair_document(const YomikaDoc& doc, ParseResult& out, std::string& refusal);

// The pipeline after Phase 0, over a text that is already sanitized (a part of a sanitized text,
// which the caller keeps alive). The arena is reset first, as for parse_document.
bool parse_sanitized(std::string_view sanitized, Arena& arena, ParseResult& out, std::string& refusal);

}  // namespace yomika
