// The diagnostic model: every problem the system reports about a text, with its fixed catalogue.
#pragma once

#include <cstdint>
#include <string_view>

#include "yomika/model/span.hpp"

namespace yomika {

enum class DiagnosticKind : uint8_t {
  SourceContainsPua = 0,
  UnclosedBracket = 1,
  UnmatchedClose = 2,
  Internal = 3,
};

// Reserved internal consistency codes; no stage produces them, the wire format can write them.
enum class InternalCode : uint8_t {
  ResidualAnnotationMarker = 0,
  UnregisteredSentinel = 1,
  RegistryOutOfOrder = 2,
  RegistryPositionMismatch = 3,
};

struct Diagnostic {
  DiagnosticKind kind;
  uint8_t detail;      // PairKind for bracket problems, InternalCode for Internal
  uint32_t codepoint;  // SourceContainsPua only
  Span span;
};

// Full code, e.g. "yomika::lex::unclosed_bracket".
std::string_view diagnostic_code(const Diagnostic& d);
// "warning" or "error".
std::string_view diagnostic_severity(const Diagnostic& d);
// "source" or "internal".
std::string_view diagnostic_source(const Diagnostic& d);

}  // namespace yomika
