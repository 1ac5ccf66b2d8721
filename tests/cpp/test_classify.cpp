// Classification rules as tables: annotation keywords, quoted references, ruby, double ruby, the
// content of readings, and the quoted-target resolver against a plain substring search.
#include <algorithm>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "testing.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/pipeline/lexer/quote_common.hpp"
#include "yomika/pipeline/lexer/quote_index.hpp"
#include "yomika/pipeline/lexer/quoted_reference.hpp"
#include "yomika/pipeline/pairing.hpp"
#include "yomika/scan/triggers.hpp"

using namespace yomika;
using namespace yomika::classify;

namespace {

// One source run through the real front end, with a classification context over it.
struct Doc {
  std::string src;
  Arena arena;
  Paired paired;
  Interner in;
  QuoteResolver resolver;
  Context cx;

  explicit Doc(std::string s) : src(std::move(s)), in(arena, src.size()), resolver(src), cx{src, in, resolver} {
    ArenaVec<lex::Token> tokens;
    std::string refusal;
    lex::build_tokens(src, arena, tokens, refusal);
    Diagnostics diags;
    paired = pair_brackets(tokens, arena, diags);
  }

  // Index of the last PairOpen of `kind` (the construct under test is the last one written).
  uint32_t last_open(PairKind kind) const {
    uint32_t at = kNoLink;
    for (uint32_t i = 0; i < paired.events.size; ++i) {
      if (paired.events[i].tag == EventTag::PairOpen && paired.events[i].kind == uint8_t(kind)) at = i;
    }
    return at;
  }
};

// A frame body as assembly collects it: `prefix` events first, then the events from `open` until
// its frame closes, with links found through an open stack searched from the top down.
struct Frame {
  std::vector<PairedEvent> ev;
  std::vector<uint32_t> link;
  Body body() const { return Body{ev.data(), link.data(), uint32_t(ev.size())}; }
};

Frame collect(const Doc& d, uint32_t open, std::vector<PairedEvent> prefix = {}) {
  Frame f;
  f.ev = std::move(prefix);
  f.link.assign(f.ev.size(), kNoLink);
  std::vector<std::pair<uint8_t, uint32_t>> stack;
  for (uint32_t i = open; i < d.paired.events.size; ++i) {
    const PairedEvent& e = d.paired.events[i];
    uint32_t at = uint32_t(f.ev.size());
    f.ev.push_back(e);
    f.link.push_back(kNoLink);
    if (e.tag == EventTag::PairOpen) {
      stack.push_back({e.kind, at});
    } else if (e.tag == EventTag::PairClose) {
      for (std::size_t k = stack.size(); k-- > 0;) {
        if (stack[k].first == e.kind) {
          f.link[at] = stack[k].second;
          f.link[stack[k].second] = at;
          stack.erase(stack.begin() + long(k));
          break;
        }
      }
      if (stack.empty()) break;
    }
  }
  return f;
}

std::string describe(const Content& c) {
  if (c.form == Content::Form::Plain) return std::string(c.text());
  std::string out;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Segment& s = c.segments()[i];
    if (s.code == SegmentCode::Text) out += "[T:" + std::string(s.text) + "]";
    if (s.code == SegmentCode::Gaiji) out += "[G:" + std::string(s.gaiji->description) + "]";
    if (s.code == SegmentCode::Annotation) {
      out += "[A" + std::to_string(int(s.annotation->kind)) + ":" + std::string(s.annotation->raw) + "]";
    }
  }
  return "{" + out + "}";
}

std::string describe(const YomikaNode& n) {
  switch (n.kind) {
    case NodeKind::PageBreak: return "pageBreak";
    case NodeKind::SectionBreak: return "sectionBreak:" + std::to_string(n.a);
    case NodeKind::AlignEnd: return "alignEnd:" + std::to_string(n.a);
    case NodeKind::Indent: return "indent:" + std::to_string(n.a);
    case NodeKind::Kaeriten: return "kaeriten:" + std::string(n.kaeriten().mark);
    case NodeKind::Sashie: return "sashie:" + std::string(n.sashie().file);
    case NodeKind::Annotation:
      return "annotation" + std::to_string(int(n.annotation().kind)) + ":" + std::string(n.annotation().raw);
    case NodeKind::Bouten: {
      const BoutenRec& b = n.bouten();
      return "bouten:" + describe(b.target) + ":" + std::to_string(int(b.kind)) + ":" +
             (b.position == BoutenPosition::Left ? "left" : "right") + (b.target_adjacent ? ":adj" : "");
    }
    case NodeKind::TateChuYoko:
      return "tcy:" + describe(n.tcy().text) + (n.tcy().target_adjacent ? ":adj" : "");
    case NodeKind::HeadingHint:
      return "heading:" + std::string(n.heading_hint().target) + ":" + std::to_string(n.heading_hint().level);
    case NodeKind::Ruby:
      return "ruby:" + describe(n.ruby().base) + "|" + describe(n.ruby().reading) + (n.ruby().explicit_ ? "|explicit" : "");
    case NodeKind::DoubleRuby: return "doubleRuby:" + describe(n.double_ruby().content);
    default: return "node" + std::to_string(int(n.kind));
  }
}

// "none", "open:kind:amount", "close:kind" or the node, then "@start-end" of the span.
std::string classify_last_bracket(const std::string& src) {
  Doc d(src);
  uint32_t open = d.last_open(PairKind::Bracket);
  if (open == kNoLink) return "no bracket";
  Frame f = collect(d, open);
  Classification c = classify_annotation(d.cx, f.body(), 0, uint32_t(f.ev.size() - 1));
  std::string what;
  switch (c.result) {
    case Classification::Result::None: return "none";
    case Classification::Result::ContainerOpen:
      what = "open:" + std::to_string(int(c.container)) + ":" + std::to_string(c.amount);
      break;
    case Classification::Result::ContainerClose: what = "close:" + std::to_string(int(c.container)); break;
    case Classification::Result::Node: what = describe(c.node); break;
  }
  return what + "@" + std::to_string(c.span.start) + "-" + std::to_string(c.span.end);
}

// Ruby over the last 《: the pending text is the whole line before it, cut after the last ｜.
std::string classify_last_ruby(const std::string& src) {
  Doc d(src);
  uint32_t open = d.last_open(PairKind::Ruby);
  uint32_t o = d.paired.events[open].start;
  uint32_t t = uint32_t(src.rfind('\n', o) == std::string::npos ? 0 : src.rfind('\n', o) + 1);
  std::vector<PairedEvent> prefix;
  std::size_t bar = src.substr(t, o - t).rfind("｜");
  if (bar != std::string::npos) {
    uint32_t b = uint32_t(t + bar);
    prefix.push_back(PairedEvent{EventTag::Trigger, uint8_t(scan::TriggerKind::Bar), b, b + 3});
    t = b + 3;
  }
  prefix.push_back(PairedEvent{EventTag::Text, 0, t, o});
  uint32_t at = uint32_t(prefix.size());
  Frame f = collect(d, open, prefix);
  Hit h = classify_ruby(d.cx, f.body(), at);
  if (!h.ok) return "none";
  return describe(h.node) + "@" + std::to_string(h.span.start) + "-" + std::to_string(h.span.end);
}

std::string classify_last_double_ruby(const std::string& src) {
  Doc d(src);
  Frame f = collect(d, d.last_open(PairKind::DoubleRuby));
  Hit h = classify_double_ruby(d.cx, f.body(), 0);
  if (!h.ok) return "none";
  return describe(h.node) + "@" + std::to_string(h.span.start) + "-" + std::to_string(h.span.end);
}

struct Row {
  const char* name;
  const char* src;
  const char* want;
};

void run_rows(const std::vector<Row>& rows, std::string (*fn)(const std::string&)) {
  for (const Row& r : rows) {
    std::string got = fn(r.src);
    if (testing::check_fails(got != r.want)) ::testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + got + ", want " + r.want);
  }
}

}  // namespace

TEST(classify_keyword_whole_body_rules) {
  run_rows(
      {
          {"page break", "［＃改ページ］", "pageBreak@0-21"},
          {"page break trimmed", "［＃　改ページ　］", "pageBreak@0-27"},
          {"ascii white space trimmed", "［＃ \t改ページ\f ］", "pageBreak@0-25"},
          {"space inside keyword", "［＃改　ページ］", "annotation0:［＃改　ページ］@0-24"},
          {"text after keyword", "［＃改ページです］", "annotation0:［＃改ページです］@0-27"},
          {"choho", "［＃改丁］", "sectionBreak:0@0-15"},
          {"dan", "［＃改段］", "sectionBreak:1@0-15"},
          {"spread", "［＃改見開き］", "sectionBreak:2@0-21"},
          {"align end flush", "［＃地付き］", "alignEnd:0@0-18"},
          {"keigakomi open", "［＃罫囲み］", "open:2:0@0-18"},
          {"keigakomi close", "［＃罫囲み終わり］", "close:2@0-27"},
          {"indent block", "［＃ここから字下げ］", "open:0:1@0-30"},
          {"align end block", "［＃ここから地付き］", "open:3:0@0-30"},
          {"indent block end", "［＃ここで字下げ終わり］", "close:0@0-36"},
          {"align end block end", "［＃ここで地付き終わり］", "close:3@0-36"},
          {"longest keyword wins, then must be whole", "［＃ここから字下げ終わり］",
           "annotation0:［＃ここから字下げ終わり］@0-39"},
          {"warichu open", "［＃割り注］", "annotation4:［＃割り注］@0-18"},
          {"warichu open spaced keeps canonical raw", "［＃ 割り注 ］", "annotation4:［＃割り注］@0-20"},
          {"warichu close", "［＃割り注終わり］", "annotation5:［＃割り注終わり］@0-27"},
          {"kaeriten single", "［＃レ］", "kaeriten:レ@0-12"},
          {"kaeriten compound", "［＃一レ］", "kaeriten:一レ@0-15"},
          {"kaeriten kou", "［＃甲］", "kaeriten:甲@0-12"},
          {"kaeriten with word", "［＃レ点］", "annotation0:［＃レ点］@0-15"},
          {"kaeriten not a mark", "［＃四レ］", "annotation0:［＃四レ］@0-15"},
          {"empty body", "［＃］", "annotation0:［＃］@0-9"},
          {"blank body", "［＃　］", "annotation0:［＃　］@0-12"},
          {"no hash", "［ほげ］", "none"},
          {"space before hash", "［　＃ほげ］", "none"},
          {"other text kept whole", "前［＃ルビ注記］後", "annotation0:［＃ルビ注記］@3-24"},
      },
      classify_last_bracket);
}

TEST(classify_keyword_number_rules) {
  run_rows(
      {
          {"indent full-width", "［＃３字下げ］", "indent:3@0-21"},
          {"indent two digits", "［＃１２字下げ］", "indent:12@0-24"},
          {"indent mixed digits", "［＃1２字下げ］", "indent:12@0-22"},
          {"indent ascii", "［＃10字下げ］", "indent:10@0-20"},
          {"indent 255", "［＃255字下げ］", "indent:255@0-21"},
          {"indent 0 rejected", "［＃0字下げ］", "annotation0:［＃0字下げ］@0-19"},
          {"indent 256 rejected", "［＃256字下げ］", "annotation0:［＃256字下げ］@0-21"},
          {"indent of one as written back", "［＃字下げ］", "indent:1@0-18"},
          {"indent unit with words", "［＃字下げです］", "annotation0:［＃字下げです］@0-24"},
          {"indent saturating number", "［＃99999999999999字下げ］", "annotation0:［＃99999999999999字下げ］@0-32"},
          {"kanji numeral", "［＃二字下げ］", "annotation0:［＃二字下げ］@0-21"},
          {"indent wrong unit", "［＃３字上げ］", "annotation0:［＃３字上げ］@0-21"},
          {"indent trailing text", "［＃３字下げる］", "annotation0:［＃３字下げる］@0-24"},
          {"align end from", "［＃地から２字上げ］", "alignEnd:2@0-30"},
          {"align end from 0", "［＃地から0字上げ］", "annotation0:［＃地から0字上げ］@0-28"},
          {"align end from no number", "［＃地から字上げ］", "annotation0:［＃地から字上げ］@0-27"},
          {"indent block amount", "［＃ここから２字下げ］", "open:0:2@0-33"},
          {"indent block zero", "［＃ここから０字下げ］", "open:0:0@0-33"},
          {"indent block 256", "［＃ここから256字下げ］", "annotation0:［＃ここから256字下げ］@0-33"},
          {"indent block space before number", "［＃ここから　２字下げ］", "annotation0:［＃ここから　２字下げ］@0-36"},
          {"align end block amount", "［＃ここから地から１字上げ］", "open:3:1@0-42"},
          {"align end block zero", "［＃ここから地から0字上げ］", "open:3:0@0-40"},
          {"align end block wrong unit", "［＃ここから地から１字下げ］", "annotation0:［＃ここから地から１字下げ］@0-42"},
      },
      classify_last_bracket);
}

TEST(classify_keyword_illustration_and_paren_marks) {
  run_rows(
      {
          {"illustration", "［＃挿絵（fig01.png）入る］", "sashie:fig01.png@0-36"},
          {"illustration empty path", "［＃挿絵（）入る］", "annotation0:［＃挿絵（）入る］@0-27"},
          {"illustration without 入る", "［＃挿絵（a.png）］", "annotation0:［＃挿絵（a.png）］@0-26"},
          {"illustration path with paren", "［＃挿絵（a）b）入る］", "annotation0:［＃挿絵（a）b）入る］@0-32"},
          {"illustration keyword only", "［＃挿絵（］", "annotation0:［＃挿絵（］@0-18"},
          {"paren mark kana", "［＃（ヲ）］", "kaeriten:（ヲ）@0-18"},
          {"paren mark five", "［＃（一二三四五）］", "kaeriten:（一二三四五）@0-30"},
          {"paren mark six", "［＃（一二三四五六）］", "annotation0:［＃（一二三四五六）］@0-33"},
          {"paren mark empty", "［＃（）］", "annotation0:［＃（）］@0-15"},
          {"paren mark half-width kana", "［＃（ｦ）］", "kaeriten:（ｦ）@0-18"},
          {"paren mark latin", "［＃（a）］", "annotation0:［＃（a）］@0-16"},
          {"paren then text", "［＃（注）と同じ］", "annotation0:［＃（注）と同じ］@0-27"},
      },
      classify_last_bracket);
}

TEST(classify_quoted_reference_rules) {
  run_rows(
      {
          {"bouten adjacent", "猫［＃「猫」に傍点］", "bouten:猫:0:right:adj@0-30"},
          {"bouten not adjacent", "猫が鳴いた［＃「猫」に傍点］", "bouten:猫:0:right@15-42"},
          {"bouten left", "傍線［＃「傍線」の左に傍線］", "bouten:傍線:9:left:adj@0-42"},
          {"bouten every word", "あ［＃「あ」に白ゴマ傍点］", "bouten:あ:1:right:adj@0-39"},
          {"bouten double under line", "あ［＃「あ」に二重傍線］", "bouten:あ:10:right:adj@0-36"},
          {"bouten target never before", "猫［＃「犬」に傍点］", "annotation0:［＃「犬」に傍点］@3-30"},
          {"bouten target only after", "［＃「犬」に傍点］犬", "annotation0:［＃「犬」に傍点］@0-27"},
          {"bouten unknown word", "猫［＃「猫」に点］", "annotation0:［＃「猫」に点］@3-27"},
          {"bouten word then text", "猫［＃「猫」に傍点です］", "annotation0:［＃「猫」に傍点です］@3-36"},
          {"bouten two targets", "春と秋［＃「春」「秋」に白丸傍点］", "bouten:春、秋:3:right@9-51"},
          {"bouten two targets one missing", "春［＃「春」「秋」に傍点］", "annotation0:［＃「春」「秋」に傍点］@3-39"},
          {"bouten remainder trimmed", "猫［＃「猫」　に傍点　］", "bouten:猫:0:right:adj@0-36"},
          {"comma between quotes", "春秋［＃「春」、「秋」に傍点］", "annotation0:［＃「春」、「秋」に傍点］@6-45"},
          {"empty quote", "［＃「」に傍点］", "annotation0:［＃「」に傍点］@0-24"},
          {"empty quote skipped", "猫［＃「」「猫」に傍点］", "bouten:猫:0:right:adj@0-36"},
          {"space before quote", "猫［＃ 「猫」に傍点］", "annotation0:［＃ 「猫」に傍点］@3-31"},
          {"target in earlier line", "猫\n次［＃「猫」に傍点］", "bouten:猫:0:right@7-34"},
          {"tcy adjacent", "AB［＃「AB」は縦中横］", "tcy:AB:adj@0-31"},
          {"tcy first target only", "ABC［＃「AB」「C」は縦中横］", "tcy:AB@3-39"},
          {"tcy first target missing", "C［＃「AB」「C」は縦中横］", "annotation0:［＃「AB」「C」は縦中横］@1-37"},
          {"heading hint", "見出し［＃「見出し」は大見出し］", "heading:見出し:1@9-48"},
          {"heading hint medium", "章［＃「章」は中見出し］", "heading:章:2@3-36"},
          {"heading hint joined", "第一章［＃「第一」「章」は小見出し］", "heading:第一章:3@9-54"},
          {"heading hint missing", "［＃「見出し」は大見出し］", "annotation0:［＃「見出し」は大見出し］@0-39"},
          {"nested quote target", "「猫」［＃「「猫」」に傍点］", "bouten:「猫」:0:right:adj@0-42"},
          {"keyword rules ignore quotes", "猫［＃「猫」］", "annotation0:［＃「猫」］@3-21"},
      },
      classify_last_bracket);
}

TEST(classify_ruby_rules) {
  run_rows(
      {
          {"implicit", "東京《とうきょう》", "ruby:東京|とうきょう@0-27"},
          {"implicit after kana", "カタカナ漢字《かんじ》", "ruby:漢字|かんじ@12-33"},
          {"explicit", "｜カタカナ《かたかな》", "ruby:カタカナ|かたかな|explicit@0-33"},
          {"explicit after text", "前の｜語《ご》", "ruby:語|ご|explicit@6-21"},
          {"kana base", "かな《よみ》", "none"},
          {"empty reading", "漢字《》", "none"},
          {"no pending text", "《かな》", "none"},
          {"bar right before", "漢｜《よみ》", "none"},
          {"iteration marks", "人々《ひとびと》", "ruby:人々|ひとびと@0-24"},
          {"shime", "〆《しめ》", "ruby:〆|しめ@0-15"},
          {"zero sign not a base", "〇〇年《ねん》", "ruby:年|ねん@6-21"},
          {"ke not a base", "ヶ《か》", "none"},
          {"latin not a base", "abc《えー》", "none"},
          {"astral ideograph", "𠀋《じょう》", "ruby:𠀋|じょう@0-19"},
          {"compat ideograph", "﨑《さき》", "ruby:﨑|さき@0-15"},
          {"nested annotation", "漢《かん［＃ルビ注記］》", "ruby:漢|{[T:かん][A0:［＃ルビ注記］]}@0-36"},
          {"nested page break becomes verbatim segment", "漢《［＃改ページ］》", "ruby:漢|{[A0:［＃改ページ］]}@0-30"},
          {"nested warichu keeps its record", "漢《か［＃割り注］》", "ruby:漢|{[T:か][A4:［＃割り注］]}@0-30"},
          {"nested bracket without hash stays text", "漢《か［い］》", "ruby:漢|か［い］@0-21"},
          {"nested quote stays text", "漢《「か」》", "ruby:漢|「か」@0-18"},
          {"annotation then text", "漢《［＃ほげ］か》", "ruby:漢|{[A0:［＃ほげ］][T:か]}@0-27"},
      },
      classify_last_ruby);
}

// A quoted-reference note inside a reading whose target stands right before it: the target's
// characters must stay in the reading as text, before the annotation segment.
TEST(classify_reading_keeps_adjacent_target) {
  run_rows(
      {
          {"adjacent target in reading", "漢《ねこ猫［＃「猫」に傍点］》", "ruby:漢|{[T:ねこ猫][A0:［＃「猫」に傍点］]}@0-45"},
          {"target is whole reading start", "漢《猫［＃「猫」に傍点］》", "ruby:漢|{[T:猫][A0:［＃「猫」に傍点］]}@0-39"},
          {"target before the ruby", "猫漢《ね［＃「猫」に傍点］》", "ruby:猫漢|{[T:ね][A0:［＃「猫」に傍点］]}@0-42"},
      },
      classify_last_ruby);
}

TEST(classify_double_ruby_rules) {
  run_rows(
      {
          {"plain", "《《強調》》", "doubleRuby:強調@0-18"},
          {"empty", "《《》》", "none"},
          {"nested annotation", "《《強［＃注］》》", "doubleRuby:{[T:強][A0:［＃注］]}@0-27"},
          {"nested adjacent target", "《《猫［＃「猫」に傍点］》》", "doubleRuby:{[T:猫][A0:［＃「猫」に傍点］]}@0-42"},
          {"only an annotation", "《《［＃注］》》", "doubleRuby:{[A0:［＃注］]}@0-24"},
      },
      classify_last_double_ruby);
}

TEST(classify_build_content_plain_and_empty) {
  Doc d("《《ab》》");
  Frame f = collect(d, 0);
  Content empty = build_content(d.cx, f.body(), 1, 1, 6, 6);
  CHECK(empty.form == Content::Form::Segments);
  CHECK_EQ(empty.count, 0u);
  Content plain = build_content(d.cx, f.body(), 1, 2, 6, 8);
  CHECK(plain.form == Content::Form::Plain);
  CHECK_EQ(plain.text(), std::string_view("ab"));
}

TEST(classify_quoted_reference_spill) {
  // Six targets: two more than fit inline.
  Doc d("abcdef［＃「a」「b」「c」「d」「e」「f」に傍点］");
  Frame f = collect(d, d.last_open(PairKind::Bracket));
  QuotedReference ref;
  CHECK(parse_quoted_reference(d.cx, f.body(), 0, uint32_t(f.ev.size() - 1), ref));
  CHECK_EQ(ref.size(), 6u);
  std::string joined;
  for (uint32_t i = 0; i < ref.size(); ++i) joined += d.src.substr(ref.target(i).start, 1);
  CHECK_EQ(joined, std::string("abcdef"));
  CHECK_EQ(ref.remainder, std::string_view("に傍点"));
  Hit h = classify_bouten(d.cx, ref);
  CHECK(h.ok);
  CHECK_EQ(describe(h.node), std::string("bouten:a、b、c、d、e、f:0:right"));
}

// The resolver must give the answer of a plain search over [0, before), first through the memo
// and memmem and then, once the scanning budget is spent, through the suffix index.
TEST(classify_quote_resolver_matches_plain_search) {
  std::mt19937 rng(12345);
  auto texts = std::vector<std::string>{};
  {
    std::string s;
    for (int i = 0; i < 3000; ++i) s += "ab"[rng() % 2];
    texts.push_back(s);
  }
  texts.push_back(std::string(2500, 'a'));
  {
    std::string s;
    for (int i = 0; i < 800; ++i) s += "aab";
    texts.push_back(s);
  }
  {
    const char* chars[] = {"猫", "犬", "a", "b", "\n", "あ", "𠀋"};
    std::string s;
    for (int i = 0; i < 900; ++i) s += chars[rng() % 7];
    texts.push_back(s);
  }
  for (const std::string& text : texts) {
    for (bool default_budget : {true, false}) {
      // The default budget passes through memmem, the filter and the index in turn; no budget
      // answers through the filter and the index from the first question.
      auto resolver = default_budget ? std::make_unique<QuoteResolver>(text) : std::make_unique<QuoteResolver>(text, 0);
      QuoteResolver& r = *resolver;
      std::deque<std::string> kept;  // the resolver keeps views of its targets
      int mismatches = 0;
      // Enough questions to spend both scanning budgets (2n + 256 KiB, then 8n + 1 MiB).
      for (int q = 0; q < 6000; ++q) {
        std::size_t len = 1 + rng() % 12;
        std::string target;
        if (rng() % 2) {
          std::size_t at = rng() % text.size();
          target = text.substr(at, len);
        } else {
          for (std::size_t i = 0; i < len; ++i) target += "abc"[rng() % 3];
        }
        uint32_t before = uint32_t(rng() % (text.size() + 1));
        bool want = std::string_view(text).substr(0, before).find(target) != std::string_view::npos;
        kept.push_back(target);
        if (r.occurs_before(kept.back(), before) != want) ++mismatches;
      }
      CHECK_EQ(mismatches, 0);
    }
  }
}

// The suffix sort against sorting the suffixes one by one, on the texts that stress it:
// periodic ones (long equal LMS substrings, deep recursion), one symbol repeated, runs of one
// symbol between others, descending, and random over small and large alphabets.
TEST(classify_suffix_sort_matches_direct_sort) {
  std::mt19937 rng(2024);
  std::vector<std::vector<uint32_t>> texts;
  for (uint32_t n : {1u, 2u, 3u, 17u, 100u, 1000u}) texts.push_back(std::vector<uint32_t>(n, 0));
  for (uint32_t period : {2u, 3u, 7u}) {
    std::vector<uint32_t> t;
    for (uint32_t i = 0; i < 900; ++i) t.push_back(i % period == 0 ? 1 : 0);
    texts.push_back(t);
  }
  {
    std::vector<uint32_t> t;
    for (uint32_t i = 0; i < 500; ++i) t.push_back(499 - i);
    texts.push_back(t);
  }
  for (uint32_t k : {2u, 3u, 40u, 1000u}) {
    for (int round = 0; round < 20; ++round) {
      std::vector<uint32_t> t(1 + rng() % 700);
      for (uint32_t& c : t) c = rng() % k;
      if (round % 4 == 0)
        for (std::size_t i = 0; i + 1 < t.size(); i += 3) t[i + 1] = t[i];
      texts.push_back(t);
    }
  }
  int wrong = 0;
  for (const std::vector<uint32_t>& t : texts) {
    const auto n = static_cast<uint32_t>(t.size());
    const uint32_t k = *std::max_element(t.begin(), t.end()) + 1;
    std::vector<uint32_t> sa(n), want(n);
    quote::suffix_array(t.data(), n, k, sa.data());
    for (uint32_t i = 0; i < n; ++i) want[i] = i;
    std::sort(want.begin(), want.end(), [&](uint32_t a, uint32_t b) {
      return std::lexicographical_compare(t.begin() + a, t.end(), t.begin() + b, t.end());
    });
    if (sa != want) ++wrong;
  }
  CHECK_EQ(wrong, 0);
}

// The index of a text by its characters and by its bytes gives the first occurrence a plain
// search finds, over texts of one-, two-, three- and four-byte characters, periodic or not.
TEST(classify_suffix_index_by_characters_and_by_bytes_match_plain_search) {
  std::mt19937 rng(77);
  const char* pieces[] = {"a", "b", "é", "猫", "犬", "の", "𠀋", "\n"};
  int wrong = 0;
  for (int round = 0; round < 44; ++round) {
    std::string text;
    const std::size_t alphabet = 2 + round % 7;
    // The last rounds are long enough for the minima of whole blocks and of whole superblocks.
    const std::size_t size = round < 40 ? 1500 : 40000;
    if (round % 5 == 0) {
      std::string unit;
      for (int i = 0; i < 5; ++i) unit += pieces[rng() % alphabet];
      while (text.size() < size) text += unit;
    } else {
      while (text.size() < size) text += pieces[rng() % alphabet];
    }
    std::size_t chars = 0;
    for (char c : text) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    for (auto unit : {quote::SuffixIndex::Unit::Characters, quote::SuffixIndex::Unit::Bytes}) {
      quote::SuffixIndex index(text, chars, 8, true, unit);
      for (int q = 0; q < 200; ++q) {
        std::size_t at = rng() % text.size();
        while ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
        std::string target = text.substr(at, 1 + rng() % 10);
        if (q % 3 == 0) target += pieces[rng() % 8];
        if ((static_cast<unsigned char>(target.back()) & 0xC0) == 0x80 && q % 2) target.pop_back();
        const std::size_t found = text.find(target);
        const uint32_t want = found == std::string::npos ? quote::kEmpty : static_cast<uint32_t>(found);
        if (index.first_occurrence(target) != want) ++wrong;
      }
    }
  }
  // A run of one letter: its suffixes sort longest first, so a target of that letter has its
  // first occurrence at the very front of a range of three superblocks and a little more.
  const std::string run = std::string(3 * 64 * 64 + 100, 'a') + "b";
  for (auto unit : {quote::SuffixIndex::Unit::Characters, quote::SuffixIndex::Unit::Bytes}) {
    quote::SuffixIndex index(run, run.size(), 2, false, unit);
    for (const char* target : {"a", "aa", "aaa", "ab", "b", "ba"}) {
      const std::size_t found = run.find(target);
      const uint32_t want = found == std::string::npos ? quote::kEmpty : static_cast<uint32_t>(found);
      if (index.first_occurrence(target) != want) ++wrong;
    }
  }
  CHECK_EQ(wrong, 0);
}

// Numbered targets (無1, 無10, 無11, ...) are what the filter's tables of runs are for: every
// character and most short runs of one occur earlier, so missing ones pass the first tables and
// make the resolver add tables of their own length before it falls back to the suffix index. The
// questions are the ones notes ask (each note's own target, missing) mixed with targets that do
// occur earlier, which no table may reject. A small budget takes a short text through every stage.
TEST(classify_quote_resolver_numbered_targets_match_plain_search) {
  auto numbered = [](unsigned i, unsigned base) {
    std::string digits;
    do {
      digits.insert(digits.begin(), "0123456789abcdef"[i % base]);
      i /= base;
    } while (i != 0);
    return "無" + digits;
  };
  for (unsigned base : {2u, 10u, 16u}) {
    for (uint64_t budget : {uint64_t{0}, uint64_t{2048}, uint64_t{1} << 20}) {
      std::string text;
      std::vector<std::pair<std::string, uint32_t>> questions;
      for (unsigned i = 0; i < 900; ++i) {
        if (i % 50 == 49) text += "本文に" + numbered(i / 3, base) + "とある。";
        const auto bracket = static_cast<uint32_t>(text.size());
        text += "［＃「" + numbered(i + 1000, base) + "」に傍点］";
        questions.emplace_back(numbered(i + 1000, base), bracket);  // missing
        questions.emplace_back(numbered(i / 3, base), bracket);     // occurs when i/3 was written
        questions.emplace_back(numbered(1000 + i / 2, base), bracket);  // an earlier note's target
        questions.emplace_back("」に傍点］［＃「" + numbered(1000 + i / 2, base).substr(0, 4), bracket);
      }
      QuoteResolver r(text, budget);
      int hits = 0, misses = 0, mismatches = 0;
      for (const auto& [target, before] : questions) {
        const bool want = std::string_view(text).substr(0, before).find(target) != std::string_view::npos;
        (want ? hits : misses) += 1;
        if (r.occurs_before(target, before) != want) ++mismatches;
      }
      CHECK(hits > 1000);
      CHECK(misses > 1000);
      CHECK_EQ(mismatches, 0);
    }
  }
}
