// Phase 0: byte-order marks, line endings, rule lines, accents and reserved sentinel characters.
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"

#include <cstring>
#include <string.h>  // memmem

#include "yomika/scan/byte_search.hpp"
#include "yomika/syntax/accent.hpp"

namespace yomika::lex {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kTortoiseOpen = "\xE3\x80\x94";  // 〔
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";   // U+FFFD
constexpr std::size_t kMinRuleLength = 10;

inline unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }

// Byte length of the white-space character that starts at p, 0 if none starts there. Matches
// whole byte sequences with bounds checks, so a truncated sequence at the end is not white space.
std::size_t white_space_at(const char* p, const char* end) {
  std::size_t n = static_cast<std::size_t>(end - p);
  unsigned char b0 = byte_at(p);
  if (b0 == 0x20 || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
  if (b0 < 0xC2 || n < 2) return 0;
  unsigned char b1 = byte_at(p + 1);
  if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  if (n < 3) return 0;
  unsigned char b2 = byte_at(p + 2);
  switch (b0) {
    case 0xE1:  // U+1680
      return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
    case 0xE2:
      if (b1 == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
        return (b2 <= 0x8A && b2 >= 0x80) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
      }
      return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
    case 0xE3:  // U+3000, the ideographic space
      return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
    default:
      return 0;
  }
}

bool is_rule_byte(unsigned char b) { return b == '-' || b == '=' || b == '_'; }

const char* skip_white_space(const char* p, const char* end) {
  while (p < end) {
    std::size_t n = white_space_at(p, end);
    if (n == 0) break;
    p += n;
  }
  return p;
}

// A rule line trims to ten or more copies of one of "-", "=", "_". Equivalently: after the leading
// white space comes a run of one rule byte, at least ten long, and only white space after it.
// Most lines fail at their first non-blank byte, so the check costs little on ordinary text.
bool is_rule_line(const char* p, const char* end) {
  p = skip_white_space(p, end);
  if (p == end || !is_rule_byte(byte_at(p))) return false;
  const char* run = p;
  char c = *p;
  while (p < end && *p == c) ++p;
  if (static_cast<std::size_t>(p - run) < kMinRuleLength) return false;
  return skip_white_space(p, end) == end;
}

bool is_blank_line(const char* p, const char* end) { return skip_white_space(p, end) == end; }

const char* line_end(const char* p, const char* end) {
  if (p == end) return end;
  const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
  return lf ? static_cast<const char*>(lf) : end;
}

// CR LF and lone CR both become LF; the output is never longer than the input.
std::string normalize_line_endings(std::string_view text, std::size_t first_cr) {
  std::string out;
  out.reserve(text.size());
  const char* p = text.data();
  std::size_t n = text.size(), from = 0, cr = first_cr;
  while (cr < n) {
    out.append(p + from, cr - from);
    out.push_back('\n');
    from = (cr + 1 < n && p[cr + 1] == '\n') ? cr + 2 : cr + 1;
    cr = scan::find_byte(p, n, from, '\r');
  }
  out.append(p + from, n - from);
  return out;
}

bool contains_tortoise_open(std::string_view text) {
  return memmem(text.data(), text.size(), kTortoiseOpen.data(), kTortoiseOpen.size()) != nullptr;
}

// Calls f(offset, code point) for every U+E001..U+E004 in the text, in ascending order. 0xEE is
// rare in Japanese text (it leads only private-use characters), so the byte search mostly runs
// to the end without a hit.
template <class F>
void for_each_sentinel(std::string_view text, F&& f) {
  const char* p = text.data();
  std::size_t n = text.size();
  for (std::size_t i = scan::find_byte(p, n, 0, '\xEE'); i < n; i = scan::find_byte(p, n, i + 1, '\xEE')) {
    if (n - i < 3 || byte_at(p + i + 1) != 0x80) continue;
    unsigned char b2 = byte_at(p + i + 2);
    if (b2 >= 0x81 && b2 <= 0x84) f(i, 0xE001u + (b2 - 0x81u));
  }
}

// The text now owns its bytes in `out.owned`; later steps read from there.
void take(Sanitized& out, std::string&& next) {
  out.owned = std::move(next);
  out.text = out.owned;
  out.copied = true;
}

}  // namespace

bool has_rule_line(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (true) {
    const char* e = line_end(p, end);
    if (is_rule_line(p, e)) return true;
    if (e == end) return false;
    p = e + 1;
  }
}

std::string separate_rule_lines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  const char* p = text.data();
  const char* end = p + text.size();
  const char* copied = p;           // text before this is in `out` already
  const char* previous = nullptr;   // start of the preceding line, none for the first
  while (true) {
    const char* e = line_end(p, end);
    // Only rule lines need their predecessor looked at, so ordinary text costs one test a line
    // and is copied in a few large pieces.
    if (previous && is_rule_line(p, e) && !is_blank_line(previous, p - 1)) {
      out.append(copied, static_cast<std::size_t>(p - copied));
      out.push_back('\n');
      copied = p;
    }
    if (e == end) break;
    previous = p;
    p = e + 1;
  }
  out.append(copied, static_cast<std::size_t>(end - copied));
  return out;
}

void sanitize(std::string_view source, Sanitized& out, std::vector<Diagnostic>& warnings) {
  out.owned.clear();
  out.copied = false;

  // Step 1: every leading byte-order mark goes; a view needs no copy for that.
  while (source.size() >= kByteOrderMark.size() && source.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    source.remove_prefix(kByteOrderMark.size());
  }
  out.text = source;

  // Step 2: line endings.
  std::size_t cr = scan::find_byte(out.text.data(), out.text.size(), 0, '\r');
  if (cr < out.text.size()) take(out, normalize_line_endings(out.text, cr));

  // Step 3: a rule line directly under text gets a blank line before it.
  if (has_rule_line(out.text)) take(out, separate_rule_lines(out.text));

  // Step 4: 〔…〕 accent notation.
  if (contains_tortoise_open(out.text)) take(out, syntax::decompose_accents(out.text));

  // Step 5: the four sentinel characters are reserved for assembly; any in the source become
  // U+FFFD so that every sentinel in the normalized text is one that assembly wrote.
  std::size_t first_warning = warnings.size();
  for_each_sentinel(out.text, [&](std::size_t at, uint32_t cp) {
    // Offsets past 32 bits only occur in texts that Phase 1 refuses, so truncation never shows.
    auto start = static_cast<uint32_t>(at);
    warnings.push_back(Diagnostic{DiagnosticKind::SourceContainsPua, 0, cp, Span{start, start + 3}});
  });
  if (warnings.size() == first_warning) return;
  // The replacement has the same length, so the warnings' spans stay spans of the result, and a
  // buffer that an earlier step made can be patched in place.
  if (!out.copied) take(out, std::string(out.text));
  char* text = out.owned.data();
  for_each_sentinel(out.text, [&](std::size_t at, uint32_t) { std::memcpy(text + at, kReplacement.data(), 3); });
}

}  // namespace yomika::lex
