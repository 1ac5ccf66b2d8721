// Gaiji classification: parses ※［＃description、mention］ and resolves the character it names.
#include "yomika/pipeline/lexer/gaiji.hpp"

#include <string>

#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/syntax/alloc.hpp"
#include "yomika/syntax/gaiji_tables.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::classify {

namespace {

using vocab::kCodePointPrefix;
using vocab::kLevelMark;
using vocab::kLevelWord;
constexpr std::string_view kIdeographicComma = vocab::kComma;
constexpr std::string_view kQuoteOpen = vocab::bracket(PairKind::Quote).open;
constexpr std::string_view kQuoteClose = vocab::bracket(PairKind::Quote).close;
constexpr std::string_view kAnnotationOpen = vocab::kNoteOpen;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Non-empty, only ASCII digits and hyphens, at least one digit.
bool is_digits_and_hyphens(std::string_view s) {
  bool digit = false;
  for (char c : s) {
    if (is_ascii_digit(c)) digit = true;
    else if (c != '-') return false;
  }
  return digit;
}

// The mention shapes a plain (unquoted) reference accepts: U+ and 1 to 6 hex digits;
// 第, any ASCII digits, 水準 and a plane-row-cell rest (第3水準1-5-90); or a bare 1-2-22.
// Requiring a shape keeps ordinary annotations with a comma from being read as gaiji.
bool is_mention_shape(std::string_view m) {
  if (m.starts_with(kCodePointPrefix)) {
    std::string_view hex = m.substr(kCodePointPrefix.size());
    if (hex.empty() || hex.size() > 6) return false;
    for (char c : hex)
      if (hex_digit(c) < 0) return false;
    return true;
  }
  if (m.starts_with(kLevelMark)) {
    std::size_t pos = kLevelMark.size();
    while (pos < m.size() && is_ascii_digit(m[pos])) ++pos;
    if (!m.substr(pos).starts_with(kLevelWord)) return false;
    return is_digits_and_hyphens(m.substr(pos + kLevelWord.size()));
  }
  return is_digits_and_hyphens(m);
}

// A U+ mention of 3 to 8 bytes read as a Unicode scalar value. One leading + is allowed after the
// prefix (U++41 reads as 0x41), as the usual integer parsers accept a sign.
std::optional<uint32_t> code_point_of(std::string_view m) {
  if (m.size() < 3 || m.size() > 8 || !m.starts_with(kCodePointPrefix)) return std::nullopt;
  std::string_view hex = m.substr(kCodePointPrefix.size());
  if (hex.front() == '+') hex.remove_prefix(1);
  if (hex.empty()) return std::nullopt;
  uint32_t v = 0;  // at most six digits: cannot overflow
  for (char c : hex) {
    int d = hex_digit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return std::nullopt;
  return v;
}

// U+ and 1 to 6 hex digits directly followed by 、, as a mention that goes on with the page and
// line of the printed source writes it (U+5A2C、28-13): the code point, if it is a scalar value.
std::optional<uint32_t> leading_code_point(std::string_view m) {
  if (!m.starts_with(kCodePointPrefix)) return std::nullopt;
  std::size_t comma = m.find(kIdeographicComma);
  if (comma == std::string_view::npos || comma < 3 || comma > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : m.substr(kCodePointPrefix.size(), comma - kCodePointPrefix.size())) {
    int d = hex_digit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return std::nullopt;
  return v;
}

// A bare plane-row-cell (1-12-21, 2-3-69) as the level-3 or level-4 key it abbreviates; empty
// for any other mention (a page and line such as 56-1 has no plane).
std::string cell_key_of(std::string_view m) {
  if (m.size() < 5 || (m[0] != '1' && m[0] != '2') || m[1] != '-') return {};
  std::size_t hyphens = 0;
  for (char c : m) hyphens += c == '-';
  if (hyphens != 2 || !is_digits_and_hyphens(m)) return {};
  return std::string(m[0] == '1' ? vocab::kLevel3 : vocab::kLevel4) + std::string(m);
}

GaijiResolution char_resolution(uint32_t cp) { return GaijiResolution{GaijiResolution::State::Char, cp, {}}; }

std::string_view bytes(std::string_view src, uint32_t start, uint32_t end) { return src.substr(start, end - start); }

struct Parsed {
  std::string_view description;
  std::optional<std::string_view> mention;
};

// Quoted form ［＃「description」、mention］: the first quote pair right after ＃ gives the
// description (quotes inside it are part of it: a component named by substitution); text after
// its 」 is a mention when it begins with 、. A description written on with words, as in
// ［＃「田＋劵」の「力」に代えて「土」、第4水準2-3-69］, keeps its mention last, after a 、: that
// is taken when it has a mention's shape, and the words are ignored.
std::optional<Parsed> parse_quoted(std::string_view src, const Body& body, uint32_t quote, uint32_t close) {
  const PairedEvent& q = body.ev[quote];
  if (q.tag != EventTag::PairOpen || q.kind != static_cast<uint8_t>(PairKind::Quote)) return std::nullopt;
  uint32_t qclose = body.link[quote];
  if (qclose == kNoLink || qclose >= close || body.ev[qclose].tag != EventTag::PairClose) return std::nullopt;
  Parsed p;
  p.description = bytes(src, q.end, body.ev[qclose].start);
  if (p.description.empty()) return std::nullopt;
  std::string_view tail = trim_white_space(bytes(src, body.ev[qclose].end, body.ev[close].start));
  if (tail.starts_with(kIdeographicComma)) {
    p.mention = trim_white_space(tail.substr(kIdeographicComma.size()));
  } else if (std::size_t comma = tail.rfind(kIdeographicComma); comma != std::string_view::npos) {
    std::string_view last = trim_white_space(tail.substr(comma + kIdeographicComma.size()));
    if (is_mention_shape(last)) p.mention = last;
  }
  return p;
}

// Plain form ［＃description、mention］: split at the first 、; the mention must have a known shape.
std::optional<Parsed> parse_plain(std::string_view src, const Body& body, uint32_t hash, uint32_t close) {
  std::string_view inner = trim_white_space(bytes(src, body.ev[hash].end, body.ev[close].start));
  std::size_t comma = inner.find(kIdeographicComma);
  if (comma == std::string_view::npos) return std::nullopt;
  Parsed p;
  p.description = trim_white_space(inner.substr(0, comma));
  std::string_view mention = trim_white_space(inner.substr(comma + kIdeographicComma.size()));
  if (!is_mention_shape(mention)) return std::nullopt;
  p.mention = mention;
  return p;
}

// Whether every 「 in d has its 」 and every 」 its 「.
bool balanced_quotes(std::string_view d) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i + 3 <= d.size(); ++i) {
    std::string_view c = d.substr(i, 3);
    if (c == kQuoteOpen) {
      ++depth;
    } else if (c == kQuoteClose) {
      if (depth == 0) return false;
      --depth;
    }
  }
  return depth == 0;
}

// A description that holds an annotation opener, or stray quotes, is a fragment of some other
// construct, not the name of a character. A quoted description may quote the components it
// names, in pairs; a plain one holds no quotes.
bool acceptable_description(std::string_view d, bool quoted) {
  if (d.empty() || d.find(kAnnotationOpen) != std::string_view::npos) return false;
  if (quoted) return balanced_quotes(d);
  return d.find(kQuoteOpen) == std::string_view::npos && d.find(kQuoteClose) == std::string_view::npos;
}

}  // namespace

GaijiOutcome resolve_gaiji_with_rule(std::optional<std::string_view> mention, std::string_view description) {
  if (mention) {
    if (auto pair = syntax::gaiji::find_two_code_points(*mention))
      return {GaijiResolution{GaijiResolution::State::Text, 0, *pair}, GaijiRule::MentionPair};
    if (auto cp = syntax::gaiji::find_mention(*mention)) return {char_resolution(*cp), GaijiRule::Mention};
    if (auto cp = code_point_of(*mention)) return {char_resolution(*cp), GaijiRule::CodePoint};
  }
  // The description table is the largest; it is reached only when the mention gave nothing.
  if (auto cp = syntax::gaiji::find_description(description)) return {char_resolution(*cp), GaijiRule::Description};
  if (mention) {
    if (std::string key = cell_key_of(*mention); !key.empty()) {
      if (auto pair = syntax::gaiji::find_two_code_points(key))
        return {GaijiResolution{GaijiResolution::State::Text, 0, *pair}, GaijiRule::BareCell};
      if (auto cp = syntax::gaiji::find_mention(key)) return {char_resolution(*cp), GaijiRule::BareCell};
    }
    if (auto cp = leading_code_point(*mention)) return {char_resolution(*cp), GaijiRule::CodePointFirst};
  }
  if (!description.empty()) {
    unsigned len = 0;
    uint32_t cp = decode_utf8(description, 0, len);
    if (len == description.size()) return {char_resolution(cp), GaijiRule::SingleChar};
  }
  return {GaijiResolution{}, GaijiRule::Unresolved};
}

Hit classify_gaiji(Context& cx, const Body& body, uint32_t open) {
  if (open >= body.n) return {};
  const PairedEvent& o = body.ev[open];
  if (o.tag != EventTag::PairOpen || o.kind != static_cast<uint8_t>(PairKind::Bracket)) return {};
  uint32_t close = body.link[open];
  if (close == kNoLink || close >= body.n || close <= open || body.ev[close].tag != EventTag::PairClose) return {};
  uint32_t hash = open + 1;
  if (hash >= close || body.ev[hash].tag != EventTag::Trigger ||
      body.ev[hash].kind != static_cast<uint8_t>(scan::TriggerKind::Hash))
    return {};

  std::optional<Parsed> parsed;
  bool quoted = false;
  if (hash + 1 < close) parsed = parse_quoted(cx.src, body, hash + 1, close);
  if (parsed) {
    quoted = true;
  } else {
    parsed = parse_plain(cx.src, body, hash, close);
  }
  if (!parsed || !acceptable_description(parsed->description, quoted)) return {};

  GaijiResolution resolved = resolve_gaiji(parsed->mention, parsed->description);
  YomikaNode node = syntax::make_gaiji(cx.in, parsed->description, resolved, parsed->mention);
  return Hit{true, node, Span{o.start, body.ev[close].end}};
}

}  // namespace yomika::classify
