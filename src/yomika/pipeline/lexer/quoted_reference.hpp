// Quoted references (［＃「…」…］): the parse of the quoted targets and the three rules that use them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "yomika/pipeline/lexer/phase3_classify.hpp"

namespace yomika::classify {

// The targets of one annotation and what follows them. Four targets fit inline, so an ordinary
// annotation allocates nothing; more spill to the heap.
struct QuotedReference {
  uint32_t bracket_start = 0;  // start of ［
  uint32_t bracket_end = 0;    // end of ］
  std::string_view remainder;  // after the last 」 up to ］, trimmed

  uint32_t size() const { return count_; }
  Span target(uint32_t i) const { return i < kInline ? inline_[i] : spill_[i - kInline]; }
  void push(Span s) {
    if (count_ < kInline) {
      inline_[count_] = s;
    } else {
      spill_.push_back(s);
    }
    ++count_;
  }

 private:
  static constexpr uint32_t kInline = 4;
  Span inline_[kInline];
  std::vector<Span> spill_;
  uint32_t count_ = 0;
};

// Parses the quotes that follow ＃ directly. False when there is no non-empty target, or when a
// quote is not closed inside the brackets.
bool parse_quoted_reference(Context& cx, const Body& body, uint32_t open, uint32_t close, QuotedReference& out);

// Emphasis marks and side lines: a particle, then the word of a kind (vocab::kBouten).
Hit classify_bouten(Context& cx, const QuotedReference& ref);
// Vertical-in-horizontal: 「…」は縦中横 (first target only).
Hit classify_tate_chu_yoko(Context& cx, const QuotedReference& ref);
// Heading hints: 「…」 and a heading word (vocab::kHeadings).
Hit classify_heading_hint(Context& cx, const QuotedReference& ref);

}  // namespace yomika::classify
