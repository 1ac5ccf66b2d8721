// The diagnostic model: every problem the system reports about a text, with its fixed catalogue.
#pragma once

#include <cstdint>
#include <string_view>

#include "yomika/alloc/pages.hpp"
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

// Twelve bytes: a hostile text can have a report for every three of its bytes.
struct Diagnostic {
  Diagnostic() : kind(DiagnosticKind::SourceContainsPua), detail(0), codepoint(0) {}
  Diagnostic(DiagnosticKind k, uint8_t d, uint32_t cp, Span s)
      : kind(k), detail(d & kDetailMask), codepoint(cp & kCodepointMask), span(s) {}

  static constexpr uint32_t kDetailMask = 0x7;
  static constexpr uint32_t kCodepointMask = 0x1FFFFF;  // every code point, and a few beyond

  DiagnosticKind kind;
  uint32_t detail : 3;      // PairKind for bracket problems, InternalCode for Internal
  uint32_t codepoint : 21;  // SourceContainsPua only
  Span span;
};
static_assert(sizeof(Diagnostic) == 12, "the kind, detail and code point share one word");

// A text's reports, in the order they were made. Grown without copying: a hostile text can have
// a report for every three of its bytes.
using Diagnostics = GrowArray<Diagnostic>;

// Full code, e.g. "yomika::lex::unclosed_bracket".
std::string_view diagnostic_code(const Diagnostic& d);
// "warning" or "error".
std::string_view diagnostic_severity(const Diagnostic& d);
// "source" or "internal".
std::string_view diagnostic_source(const Diagnostic& d);

}  // namespace yomika
