// Phase 3 classification: what a bracket body is (annotation keywords, quoted references,
// ruby, double ruby, gaiji). Called by assembly with a frame's body and links.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "yomika/pipeline/pairing.hpp"
#include "yomika/model/span.hpp"
#include "yomika/syntax/intern.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika::classify {

inline constexpr uint32_t kNoLink = 0xFFFFFFFFu;

// A frame's body as assembly collected it: events, and for each the body index of its partner.
struct Body {
  const PairedEvent* ev;
  const uint32_t* link;
  uint32_t n;
};

// Answers "does this target occur in the source before `before`?" exactly as a plain substring
// search over [0, before) would, without rescanning the text for every question.
class QuoteResolver {
 public:
  explicit QuoteResolver(std::string_view source);
  // With an explicit scanning budget: bytes of plain search before the gram filter, as many
  // more before the table of runs it may add, and four times as many before the suffix index.
  // Tests and fuzzers pass 0 to reach the index at once, or a few KiB to pass through each stage
  // on a short text.
  QuoteResolver(std::string_view source, uint64_t scan_budget);
  ~QuoteResolver();
  QuoteResolver(const QuoteResolver&) = delete;
  QuoteResolver& operator=(const QuoteResolver&) = delete;
  bool occurs_before(std::string_view target, uint32_t before);
  // Gives the tables back; nothing may be asked after this.
  void release();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct Context {
  std::string_view src;  // sanitized source
  Interner& in;
  QuoteResolver& resolver;
};

struct Classification {
  enum class Result : uint8_t { None = 0, Node, ContainerOpen, ContainerClose };
  Result result = Result::None;
  YomikaNode node{};
  ContainerKind container = ContainerKind::Indent;
  uint8_t amount = 0;
  const AnnotationRec* nested = nullptr;  // warichu markers (others are verbatim inside a reading)
  Span span{};
};

// ［＃…］ at body indices open/close. None when it is not an annotation (no ＃ right after ［).
Classification classify_annotation(Context& cx, const Body& body, uint32_t open, uint32_t close);

struct Hit {
  bool ok = false;
  YomikaNode node{};
  Span span{};
};

// ※［＃…］: `open` is the bracket's PairOpen; span.start is left for the caller (the ※'s start).
Hit classify_gaiji(Context& cx, const Body& body, uint32_t open);

// Ruby: body = [Bar]? Text, then the frame's body from 《 (index `open`) to its 》.
Hit classify_ruby(Context& cx, const Body& body, uint32_t open);

// The text in front of a 《: from `start` to the 《, after the ｜ at `bar` when explicit_.
struct RubyText {
  uint32_t start;
  bool explicit_;
  uint32_t bar;
};

// The same over the frame's body alone (the 《 at `open`), with the text in front of it given as
// offsets: the road assembly takes, which needs no body built around the frame.
Hit classify_ruby_after(Context& cx, const Body& body, uint32_t open, RubyText text);

// Ruby over a base the caller settled (one that holds special characters): `open` is the 《 of
// the body; the reading is built as classify_ruby builds it.
Hit classify_ruby_on_base(Context& cx, const Body& body, uint32_t open, const std::vector<Segment>& base,
                          bool explicit_);

// Double ruby: `open` is the 《《 PairOpen.
Hit classify_double_ruby(Context& cx, const Body& body, uint32_t open);

// Content of events [first, last) covering bytes [start, end).
Content build_content(Context& cx, const Body& body, uint32_t first, uint32_t last, uint32_t start, uint32_t end);

// The kanji class of implicit ruby bases.
inline bool is_ruby_base_char(uint32_t cp) {
  return (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         cp == 0x3005 || cp == 0x3006 || (cp >= 0x20000 && cp <= 0x2FFFF);
}

// Where the character that ends at `to` begins, and whether it is a base character (text
// before `to` is assumed).
//
// PERF: the characters of a base are three bytes but for the rarest kanji, and every ruby reads
// its base back character by character: read as three bytes at once, without stepping back
// over continuation bytes one at a time and decoding by the lead byte's length.
inline bool base_char_before(std::string_view src, uint32_t to, uint32_t& start) {
  const auto* s = reinterpret_cast<const unsigned char*>(src.data());
  if (to >= 3 && (s[to - 3] & 0xF0) == 0xE0) {
    start = to - 3;
    return is_ruby_base_char(((s[to - 3] & 0x0Fu) << 12) | ((s[to - 2] & 0x3Fu) << 6) | (s[to - 1] & 0x3Fu));
  }
  const std::size_t prev = prev_char_start(src, to);
  unsigned len;
  start = static_cast<uint32_t>(prev);
  return is_ruby_base_char(decode_utf8(src, prev, len));
}

// Where the run of base characters that ends at `to` begins, reading back no further than `from`.
inline uint32_t ruby_base_start(std::string_view src, uint32_t from, uint32_t to) {
  uint32_t start;
  while (to > from && base_char_before(src, to, start) && start >= from) to = start;
  return to;
}

}  // namespace yomika::classify
