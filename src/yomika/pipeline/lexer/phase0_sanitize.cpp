// STUB: replaced by the Phase 0 implementation.
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"

namespace yomika::lex {
void sanitize(std::string_view source, Sanitized& out, std::vector<Diagnostic>&) { out.text = source; }
bool has_rule_line(std::string_view) { return false; }
std::string separate_rule_lines(std::string_view text) { return std::string(text); }
}  // namespace yomika::lex
