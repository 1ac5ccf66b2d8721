// Phase 0: byte-order marks, line endings, rule lines, accents and reserved sentinel characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/model/diagnostic.hpp"

namespace yomika::lex {

struct Sanitized {
  std::string_view text;  // the input itself when nothing changed, otherwise `owned`
  std::string owned;
  bool copied = false;
};

// Runs the five steps; appends one SourceContainsPua warning per reserved character, ascending.
void sanitize(std::string_view source, Sanitized& out, Diagnostics& warnings);

// The same, with the result copied into the arena as one allocation of exactly its length: the
// driver's copy. The steps that change the text write straight into that allocation, so the text
// is copied once however many of them apply.
std::string_view sanitize_into(std::string_view source, Arena& arena, Diagnostics& warnings);

// Where the bytes of the sanitized text came from, for reporting positions in the file as its
// reader has it. Only the steps that change lengths leave an anchor: a removed byte-order mark, a
// CR LF made LF, a line feed put before a rule line, an accent key whose letter is not as long as
// the key. From an anchor up to the next one, sanitized offset s came from source offset
// `source + (s - sanitized)`; before the first, offsets are equal. A text without CR LF, rule
// lines under text, accents or a byte-order mark has no anchors at all.
struct SourceMap {
  struct Anchor {
    std::size_t sanitized, source;
  };
  std::vector<Anchor> anchors;  // ascending in both offsets
  std::size_t sanitized_size = 0, source_size = 0;

  // For the start of a character of the sanitized text: the start of the character of the source
  // it came from (an inserted line feed comes from the start of its rule line, a CR LF's line feed
  // from the CR, an accented letter from its key). Offsets up to sanitized_size.
  std::size_t to_source(std::size_t sanitized_offset) const;
};

// The map of what sanitize does to `source`. It plans the same edits without writing the text, and
// only when asked: sanitize and sanitize_into, which the parser runs, keep no map.
SourceMap source_map(std::string_view source);

// Rule-line separation on its own (also used by the serializer on its output).
bool has_rule_line(std::string_view text);
std::string separate_rule_lines(std::string_view text);
// The same in place for a text whose rule lines are known: they start at `rule_lines`
// (ascending, every one of them), and only the lines in front of them are read.
void separate_rule_lines_at(std::string& text, const std::vector<std::size_t>& rule_lines);
// Whether `line` (without its line feed) is a rule line.
bool is_rule_line(std::string_view line);

}  // namespace yomika::lex
