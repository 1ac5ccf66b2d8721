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
void sanitize(std::string_view source, Sanitized& out, std::vector<Diagnostic>& warnings);

// The same, with the result copied into the arena as one allocation of exactly its length: the
// driver's copy. The steps that change the text write straight into that allocation, so the text
// is copied once however many of them apply.
std::string_view sanitize_into(std::string_view source, Arena& arena, std::vector<Diagnostic>& warnings);

// Rule-line separation on its own (also used by the serializer on its output).
bool has_rule_line(std::string_view text);
std::string separate_rule_lines(std::string_view text);

}  // namespace yomika::lex
