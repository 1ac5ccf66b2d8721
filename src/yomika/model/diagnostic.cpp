// The diagnostic catalogue: codes, severities and origins in one table.
#include "yomika/model/diagnostic.hpp"

namespace yomika {

namespace {
constexpr std::string_view kCodes[] = {
    "yomika::lex::source_contains_pua",
    "yomika::lex::unclosed_bracket",
    "yomika::lex::unmatched_close",
};
constexpr std::string_view kInternalCodes[] = {
    "yomika::lex::residual_annotation_marker",
    "yomika::lex::unregistered_sentinel",
    "yomika::lex::registry_out_of_order",
    "yomika::lex::registry_position_mismatch",
};
}  // namespace

std::string_view diagnostic_code(const Diagnostic& d) {
  if (d.kind == DiagnosticKind::Internal) return kInternalCodes[d.detail & 3];
  return kCodes[static_cast<uint8_t>(d.kind) % 3];
}

std::string_view diagnostic_severity(const Diagnostic& d) {
  return d.kind == DiagnosticKind::SourceContainsPua ? "warning" : "error";
}

std::string_view diagnostic_source(const Diagnostic& d) {
  return d.kind == DiagnosticKind::Internal ? "internal" : "source";
}

}  // namespace yomika
