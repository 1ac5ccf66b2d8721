// Inline constructs: ruby and double ruby, the content of readings, and the quoted-reference
// notes (emphasis marks and side lines, vertical-in-horizontal, heading hints).
#include <cstdint>
#include <string_view>
#include <vector>

#include "yomika/alloc/fatal.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/pipeline/lexer/quoted_reference.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/syntax/alloc.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::classify {

namespace {

bool is_open(const PairedEvent& e, PairKind k) {
  return e.tag == EventTag::PairOpen && e.kind == static_cast<uint8_t>(k);
}
bool is_trigger(const PairedEvent& e, scan::TriggerKind k) {
  return e.tag == EventTag::Trigger && e.kind == static_cast<uint8_t>(k);
}

std::string_view bytes(const Context& cx, uint32_t start, uint32_t end) { return cx.src.substr(start, end - start); }

// A link from a PairOpen that lands on anything but a PairClose means the frame was built wrongly.
void expect_close(const Body& body, uint32_t j) {
  if (body.ev[j].tag != EventTag::PairClose) {
    fatal("internal error: entered unreachable code: PairOpen link must target a PairClose");
  }
}

// Partner of a PairOpen that closes before `limit`, or kNoLink.
uint32_t partner_before(const Body& body, uint32_t i, uint32_t limit) {
  uint32_t j = body.link[i];
  if (j == kNoLink || j >= limit) return kNoLink;
  expect_close(body, j);
  return j;
}

Segment text_segment(std::string_view s) { return Segment{SegmentCode::Text, s, nullptr, nullptr}; }

// Where a target sits relative to the note's ［.
struct Resolution {
  bool occurs = false;
  bool adjacent = false;
};

Resolution resolve(Context& cx, Span target, uint32_t bracket_start) {
  std::string_view t = bytes(cx, target.start, target.end);
  Resolution r;
  r.adjacent = t.size() <= bracket_start && cx.src.substr(bracket_start - t.size(), t.size()) == t;
  r.occurs = r.adjacent || cx.resolver.occurs_before(t, bracket_start);
  return r;
}

// The 》 partnering the ruby 《 at `open` when the two hold a reading between them; kNoLink
// otherwise.
uint32_t reading_close(const Body& body, uint32_t open) {
  if (open >= body.n || !is_open(body.ev[open], PairKind::Ruby)) return kNoLink;
  const uint32_t close = body.link[open];
  if (close == kNoLink || close <= open || close >= body.n) return kNoLink;
  expect_close(body, close);
  return body.ev[open].end < body.ev[close].start ? close : kNoLink;
}

}  // namespace

bool parse_quoted_reference(Context& cx, const Body& body, uint32_t open, uint32_t close, QuotedReference& out) {
  uint32_t i = open + 2;
  if (i >= body.n || close >= body.n) return false;
  uint32_t last_close = kNoLink;
  while (i < body.n && is_open(body.ev[i], PairKind::Quote)) {
    uint32_t j = body.link[i];
    if (j == kNoLink || j >= close || body.ev[j].tag != EventTag::PairClose) return false;
    if (body.ev[i].end < body.ev[j].start) out.push(Span{body.ev[i].end, body.ev[j].start});
    last_close = j;
    i = j + 1;
  }
  if (out.size() == 0) return false;
  const uint32_t rest = body.ev[last_close].end;
  out.remainder = trim_white_space(bytes(cx, rest, body.ev[close].start));
  out.bracket_start = body.ev[open].start;
  out.bracket_end = body.ev[close].end;
  return true;
}

Hit classify_bouten(Context& cx, const QuotedReference& ref) {
  // The remainder is a particle, then a word. No particle begins another, so one matches at most.
  const vocab::PositionRow* position = nullptr;
  for (const vocab::PositionRow& p : vocab::kBoutenPositions) {
    if (ref.remainder.starts_with(p.particle)) position = &p;
  }
  if (!position) return {};
  const std::string_view word = ref.remainder.substr(position->particle.size());
  const vocab::BoutenRow* found = nullptr;
  for (const vocab::BoutenRow& w : vocab::kBouten) {
    if (w.word == word) found = &w;
  }
  if (!found) return {};

  bool adjacent = false;
  for (uint32_t i = 0; i < ref.size(); ++i) {
    Resolution r = resolve(cx, ref.target(i), ref.bracket_start);
    if (!r.occurs) return {};
    adjacent = r.adjacent;
  }
  // Several targets are one emphasis over separate places: never adjacent, joined with 、.
  Content target;
  if (ref.size() == 1) {
    Span t = ref.target(0);
    target = Content::plain(cx.in.intern(bytes(cx, t.start, t.end)));
  } else {
    adjacent = false;
    std::vector<Segment> parts;
    parts.reserve(ref.size() * 2);
    for (uint32_t i = 0; i < ref.size(); ++i) {
      if (i > 0) parts.push_back(text_segment(vocab::kComma));
      Span t = ref.target(i);
      parts.push_back(text_segment(bytes(cx, t.start, t.end)));
    }
    target = syntax::content_from_segments(cx.in, parts);
  }
  Span t0 = ref.target(0);
  uint32_t start = adjacent ? ref.bracket_start - (t0.end - t0.start) : ref.bracket_start;
  return Hit{true, syntax::make_bouten(cx.in, target, found->kind, position->position, adjacent),
             Span{start, ref.bracket_end}};
}

Hit classify_tate_chu_yoko(Context& cx, const QuotedReference& ref) {
  static constexpr Phrase kIsTateChuYoko{vocab::kIs, vocab::kTateChuYoko};
  if (ref.remainder != kIsTateChuYoko.view()) return {};
  Span t = ref.target(0);
  Resolution r = resolve(cx, t, ref.bracket_start);
  if (!r.occurs) return {};
  uint32_t start = r.adjacent ? ref.bracket_start - (t.end - t.start) : ref.bracket_start;
  Content text = Content::plain(cx.in.intern(bytes(cx, t.start, t.end)));
  return Hit{true, syntax::make_tate_chu_yoko(cx.in, text, r.adjacent), Span{start, ref.bracket_end}};
}

Hit classify_heading_hint(Context& cx, const QuotedReference& ref) {
  uint8_t level = 0;
  if (ref.remainder.starts_with(vocab::kIs)) {
    const std::string_view word = ref.remainder.substr(vocab::kIs.size());
    for (const vocab::HeadingRow& w : vocab::kHeadings) {
      if (word == w.word) level = w.level;
    }
  }
  if (level == 0) return {};
  for (uint32_t i = 0; i < ref.size(); ++i) {
    if (!resolve(cx, ref.target(i), ref.bracket_start).occurs) return {};
  }
  // PERF: a hint names one target, a piece of the text the interner answers with itself; only
  // joined targets are made up elsewhere and need the interner's table (whose first use clears
  // half a byte per byte of the text: a hundredth of a parse of a book with one hint).
  if (ref.size() == 1) {
    const Span t = ref.target(0);
    if (t.start >= t.end) return {};
    return Hit{true, syntax::make_heading_hint(cx.in, bytes(cx, t.start, t.end), level),
               Span{ref.bracket_start, ref.bracket_end}};
  }
  std::string joined;
  for (uint32_t i = 0; i < ref.size(); ++i) {
    const Span t = ref.target(i);
    joined.append(bytes(cx, t.start, t.end));
  }
  if (joined.empty()) return {};
  return Hit{true, syntax::make_heading_hint(cx.in, joined, level), Span{ref.bracket_start, ref.bracket_end}};
}

Content build_content(Context& cx, const Body& body, uint32_t first, uint32_t last, uint32_t start, uint32_t end) {
  bool nested = false;
  for (uint32_t i = first; i < last && !nested; ++i) {
    nested = is_open(body.ev[i], PairKind::Bracket) || is_trigger(body.ev[i], scan::TriggerKind::RefMark);
  }
  if (!nested) {
    if (start >= end) return Content::segments_of(nullptr, 0);
    return Content::plain(cx.in.intern(bytes(cx, start, end)));
  }

  std::vector<Segment> parts;
  uint32_t p = start;  // start of the text not yet in a segment
  auto flush_to = [&](uint32_t s) {
    if (p < s) parts.push_back(text_segment(bytes(cx, p, s)));
  };
  for (uint32_t i = first; i < last; ++i) {
    const PairedEvent& e = body.ev[i];
    if (is_trigger(e, scan::TriggerKind::RefMark) && i + 1 < last && is_open(body.ev[i + 1], PairKind::Bracket)) {
      uint32_t close = partner_before(body, i + 1, last);
      if (close != kNoLink) {
        Hit g = classify_gaiji(cx, body, i + 1);
        if (g.ok) {
          flush_to(e.start);
          parts.push_back(Segment{SegmentCode::Gaiji, {}, static_cast<const GaijiRec*>(g.node.rec), nullptr});
          p = body.ev[close].end;
          i = close;
          continue;
        }
      }
      continue;  // the ※ stays in the pending text; the bracket is looked at next
    }
    if (is_open(e, PairKind::Bracket)) {
      uint32_t close = partner_before(body, i, last);
      if (close == kNoLink) continue;
      Classification c = classify_annotation(cx, body, i, close);
      if (c.result == Classification::Result::None) continue;
      // Cut at the ［ rather than at the classification's span: an adjacent quoted target lies
      // before the bracket and must stay text here, or its characters would be lost.
      flush_to(e.start);
      std::string_view raw = bytes(cx, e.start, body.ev[close].end);
      const AnnotationRec* rec = c.nested ? c.nested : syntax::make_annotation(cx.in, raw, AnnotationKind::Verbatim);
      parts.push_back(Segment{SegmentCode::Annotation, {}, nullptr, rec});
      p = body.ev[close].end;
      i = close;
    }
  }
  flush_to(end);
  return syntax::content_from_segments(cx.in, parts);
}

Hit classify_ruby(Context& cx, const Body& body, uint32_t open) {
  if (open == 0 || open >= body.n) return {};
  const PairedEvent& text = body.ev[open - 1];
  if (text.tag != EventTag::Text || text.end != body.ev[open].start) return {};
  const bool explicit_ = open >= 2 && is_trigger(body.ev[open - 2], scan::TriggerKind::Bar);
  return classify_ruby_after(cx, body, open, RubyText{text.start, explicit_, explicit_ ? body.ev[open - 2].start : 0});
}

Hit classify_ruby_after(Context& cx, const Body& body, uint32_t open, RubyText text) {
  const uint32_t close = reading_close(body, open);
  if (close == kNoLink) return {};
  const uint32_t r0 = body.ev[open].end, r1 = body.ev[close].start;

  // The base is settled before the reading is built, so a ruby without a base leaves nothing
  // behind in the arena.
  const uint32_t text_end = body.ev[open].start;
  uint32_t b = text_end;
  uint32_t span_start;
  if (text.explicit_) {
    b = text.start;
    span_start = text.bar;
  } else {
    b = ruby_base_start(cx.src, text.start, b);
    span_start = b;
  }
  if (b >= text_end) return {};

  Content reading = build_content(cx, body, open + 1, close, r0, r1);
  Content base = Content::plain(cx.in.intern(bytes(cx, b, text_end)));
  return Hit{true, syntax::make_ruby(cx.in, base, reading, text.explicit_), Span{span_start, body.ev[close].end}};
}

Hit classify_ruby_on_base(Context& cx, const Body& body, uint32_t open, const std::vector<Segment>& base,
                          bool explicit_) {
  const uint32_t close = reading_close(body, open);
  if (close == kNoLink || base.empty()) return {};
  Content reading = build_content(cx, body, open + 1, close, body.ev[open].end, body.ev[close].start);
  return Hit{true, syntax::make_ruby(cx.in, syntax::content_from_segments(cx.in, base), reading, explicit_), {}};
}

Hit classify_double_ruby(Context& cx, const Body& body, uint32_t open) {
  if (open >= body.n || !is_open(body.ev[open], PairKind::DoubleRuby)) return {};
  uint32_t close = body.link[open];
  if (close == kNoLink || close <= open || close >= body.n) return {};
  expect_close(body, close);
  Content content = build_content(cx, body, open + 1, close, body.ev[open].end, body.ev[close].start);
  if (content.empty()) return {};
  return Hit{true, syntax::make_double_ruby(cx.in, content), Span{body.ev[open].start, body.ev[close].end}};
}

}  // namespace yomika::classify
