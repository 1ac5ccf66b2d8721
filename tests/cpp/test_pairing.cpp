// Bracket pairing: events, pairs and diagnostics for the edge cases of the strict stack, deep
// nesting past the inline stack, and the order of diagnostics after earlier warnings.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/pairing.hpp"

using yomika::Arena;
using yomika::ArenaVec;
using yomika::Diagnostic;
using yomika::Diagnostics;
using yomika::DiagnosticKind;
using yomika::EventTag;
using yomika::PairedEvent;

namespace {

const char* const kPairNames[] = {"bracket", "ruby", "doubleRuby", "tortoise", "quote"};

std::string span(uint32_t s, uint32_t e) { return std::to_string(s) + "-" + std::to_string(e); }

struct Outcome {
  std::string events, pairs, diagnostics;
  std::size_t tokens = 0, event_count = 0;
};

// Events as "Text0-3 Open:quote0-3 ..."; pairs as "quote0-3/4-7"; diagnostics as
// "unmatched:quote4-7 unclosed:ruby0-3".
Outcome run(std::string_view text, Diagnostics diags = {}) {
  Arena a;
  ArenaVec<yomika::lex::Token> toks;
  std::string refusal;
  yomika::lex::build_tokens(text, a, toks, refusal);
  yomika::Paired p = yomika::pair_brackets(toks, a, diags);
  Outcome o;
  o.tokens = toks.size;
  o.event_count = p.events.size;
  auto add = [](std::string& s, const std::string& item) { s += (s.empty() ? "" : " ") + item; };
  for (const PairedEvent& e : p.events) {
    switch (e.tag) {
      case EventTag::Text: add(o.events, "Text" + span(e.start, e.end)); break;
      case EventTag::Trigger: add(o.events, "Trig" + std::to_string(e.kind) + ":" + span(e.start, e.end)); break;
      case EventTag::PairOpen: add(o.events, std::string("Open:") + kPairNames[e.kind] + span(e.start, e.end)); break;
      case EventTag::PairClose: add(o.events, std::string("Close:") + kPairNames[e.kind] + span(e.start, e.end)); break;
      case EventTag::Unclosed: add(o.events, std::string("Unclosed:") + kPairNames[e.kind] + span(e.start, e.end)); break;
      case EventTag::StrayClose: add(o.events, std::string("Stray:") + kPairNames[e.kind] + span(e.start, e.end)); break;
      case EventTag::Newline: add(o.events, "NL" + std::to_string(e.start)); break;
    }
  }
  for (const auto& bp : p.pairs)
    add(o.pairs, kPairNames[static_cast<int>(bp.kind)] + span(bp.open_start, bp.open_end) + "/" +
                     span(bp.close_start, bp.close_end));
  for (const Diagnostic& d : diags) {
    const char* what = d.kind == DiagnosticKind::UnclosedBracket  ? "unclosed:"
                       : d.kind == DiagnosticKind::UnmatchedClose ? "unmatched:"
                                                                  : "other:";
    add(o.diagnostics, std::string(what) + (d.kind == DiagnosticKind::SourceContainsPua ? "" : kPairNames[d.detail]) +
                           span(d.span.start, d.span.end));
  }
  return o;
}

}  // namespace

TEST(pairing_table) {
  struct Row {
    const char* text;
    const char* events;
    const char* pairs;
    const char* diagnostics;
  };
  const Row rows[] = {
      {"", "", "", ""},
      {"」", "Stray:quote0-3", "", "unmatched:quote0-3"},
      {"「《", "Open:quote0-3 Open:ruby3-6 Unclosed:ruby3-6 Unclosed:quote0-3", "",
       "unclosed:ruby3-6 unclosed:quote0-3"},
      {"《あ」", "Open:ruby0-3 Text3-6 Stray:quote6-9 Unclosed:ruby0-3", "", "unmatched:quote6-9 unclosed:ruby0-3"},
      {"「《」》", "Open:quote0-3 Open:ruby3-6 Stray:quote6-9 Close:ruby9-12 Unclosed:quote0-3", "ruby3-6/9-12",
       "unmatched:quote6-9 unclosed:quote0-3"},
      {"「a」", "Open:quote0-3 Text3-4 Close:quote4-7", "quote0-3/4-7", ""},
      {"「「a」」", "Open:quote0-3 Open:quote3-6 Text6-7 Close:quote7-10 Close:quote10-13",
       "quote3-6/7-10 quote0-3/10-13", ""},
      {"《《a》》", "Open:doubleRuby0-6 Text6-7 Close:doubleRuby7-13", "doubleRuby0-6/7-13", ""},
      // A doubled closer does not close a single opener, nor the reverse.
      {"《a》》", "Open:ruby0-3 Text3-4 Stray:doubleRuby4-10 Unclosed:ruby0-3", "",
       "unmatched:doubleRuby4-10 unclosed:ruby0-3"},
      {"《《《a》》》", "Open:doubleRuby0-6 Open:ruby6-9 Text9-10 Stray:doubleRuby10-16 Close:ruby16-19 Unclosed:doubleRuby0-6",
       "ruby6-9/16-19", "unmatched:doubleRuby10-16 unclosed:doubleRuby0-6"},
      {"［＃a］", "Open:bracket0-3 Trig7:3-6 Text6-7 Close:bracket7-10", "bracket0-3/7-10", ""},
      {"〔e'〕", "Open:tortoise0-3 Text3-5 Close:tortoise5-8", "tortoise0-3/5-8", ""},
      {"※｜", "Trig8:0-3 Trig0:3-6", "", ""},
      {"「\n」", "Open:quote0-3 NL3 Close:quote4-7", "quote0-3/4-7", ""},
      // ［, 《, 《《 and 〔 end with their line: reported there, with everything opened after them.
      {"［あ\nい］", "Open:bracket0-3 Text3-6 Unclosed:bracket0-3 NL6 Text7-10 Stray:bracket10-13", "",
       "unclosed:bracket0-3 unmatched:bracket10-13"},
      {"「《\n」", "Open:quote0-3 Open:ruby3-6 Unclosed:ruby3-6 NL6 Close:quote7-10", "quote0-3/7-10",
       "unclosed:ruby3-6"},
      {"《「\n」", "Open:ruby0-3 Open:quote3-6 Unclosed:quote3-6 Unclosed:ruby0-3 NL6 Stray:quote7-10", "",
       "unclosed:quote3-6 unclosed:ruby0-3 unmatched:quote7-10"},
      {"〔《《a\n\n", "Open:tortoise0-3 Open:doubleRuby3-9 Text9-10 Unclosed:doubleRuby3-9 Unclosed:tortoise0-3 NL10 NL11",
       "", "unclosed:doubleRuby3-9 unclosed:tortoise0-3"},
      // Unmatched closers come first in text order, then the unclosed ones innermost first.
      {"［〕「」》〔", "Open:bracket0-3 Stray:tortoise3-6 Open:quote6-9 Close:quote9-12 Stray:ruby12-15 "
                     "Open:tortoise15-18 Unclosed:tortoise15-18 Unclosed:bracket0-3",
       "quote6-9/9-12", "unmatched:tortoise3-6 unmatched:ruby12-15 unclosed:tortoise15-18 unclosed:bracket0-3"},
  };
  for (const Row& r : rows) {
    Outcome o = run(r.text);
    CHECK_EQ(o.events, std::string(r.events));
    CHECK_EQ(o.pairs, std::string(r.pairs));
    CHECK_EQ(o.diagnostics, std::string(r.diagnostics));
  }
}

TEST(pairing_appends_after_earlier_warnings) {
  Diagnostics earlier = {Diagnostic{DiagnosticKind::SourceContainsPua, 0, 0xE001, {9, 12}}};
  Outcome o = run("」「", earlier);
  CHECK_EQ(o.diagnostics, std::string("other:9-12 unmatched:quote0-3 unclosed:quote3-6"));
}

// Nesting deeper than the inline stack: pairs close innermost first, and what is left open is
// reported innermost first, across the inline/heap boundary.
TEST(pairing_deep_nesting) {
  for (int depth : {7, 8, 9, 17, 1000}) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += i % 2 ? "《" : "「";
    std::string closed = s;
    for (int i = depth - 1; i >= 0; --i) closed += i % 2 ? "》" : "」";
    Outcome o = run(closed);
    CHECK_EQ(o.diagnostics, std::string());
    // The first pair closed is the innermost; the last is the outermost.
    std::string inner = std::string(depth % 2 == 0 ? "ruby" : "quote") + span(3 * (depth - 1), 3 * depth);
    CHECK_EQ(o.pairs.substr(0, inner.size() + 1), inner + "/");
    const std::string outer = "quote0-3/" + span(6 * depth - 3, 6 * depth);
    CHECK(o.pairs.size() > outer.size() && o.pairs.compare(o.pairs.size() - outer.size(), outer.size(), outer) == 0);

    Outcome open = run(s);
    std::string want;
    for (int i = depth - 1; i >= 0; --i) {
      if (!want.empty()) want += ' ';
      want += std::string("unclosed:") + (i % 2 ? "ruby" : "quote") + span(3 * i, 3 * i + 3);
    }
    CHECK_EQ(open.diagnostics, want);
    CHECK_EQ(open.event_count, open.tokens + static_cast<std::size_t>(depth));
  }
}

// On random bracket soup: every token becomes one event plus one Unclosed per open bracket left;
// pairs have matching kinds and nest without crossing; only 「」 pairs span a line feed.
TEST(pairing_random_invariants) {
  std::mt19937 rng(4242);
  const char* const pieces[] = {"《", "》", "［", "］", "〔", "〕", "「", "」", "a", "\n", "｜"};
  int bad = 0;
  for (int round = 0; round < 2000 && bad == 0; ++round) {
    std::string s;
    for (std::size_t k = rng() % 40; k > 0; --k) s += pieces[rng() % 11];
    Arena a;
    ArenaVec<yomika::lex::Token> toks;
    std::string refusal;
    yomika::lex::build_tokens(s, a, toks, refusal);
    Diagnostics diags;
    yomika::Paired p = yomika::pair_brackets(toks, a, diags);
    std::size_t unclosed = 0, opens = 0, closes = 0, strays = 0;
    for (const PairedEvent& e : p.events) {
      unclosed += e.tag == EventTag::Unclosed;
      opens += e.tag == EventTag::PairOpen;
      closes += e.tag == EventTag::PairClose;
      strays += e.tag == EventTag::StrayClose;
    }
    if (p.events.size != toks.size + unclosed) ++bad;
    if (opens != closes + unclosed || closes != p.pairs.size || diags.size() != strays + unclosed) ++bad;
    for (std::size_t i = 0; i < p.pairs.size; ++i) {
      const auto& x = p.pairs[i];
      if (x.open_end > x.close_start) ++bad;
      if (x.kind != yomika::PairKind::Quote && s.find('\n', x.open_end) < x.close_start) ++bad;
      for (std::size_t j = 0; j < i; ++j) {  // an earlier-closed pair lies inside or wholly before
        const auto& y = p.pairs[j];
        bool inside = y.open_start > x.open_start && y.close_end <= x.close_start;
        bool before = y.close_end <= x.open_start;
        if (!inside && !before) ++bad;
      }
    }
  }
  CHECK_EQ(bad, 0);
}
