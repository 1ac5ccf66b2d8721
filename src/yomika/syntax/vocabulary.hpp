// The notation's vocabulary: every word that the classifiers and the reader's page read, the
// serializer writes back and the renderers and the JSON writer name, one row per kind of
// construct. Adding a construct, or a form of one, means adding its row here; the checks at the end
// keep each table in step with its enumeration and the note keywords in step with the families
// they name. Words made of other words are joined from them (Phrase), so each is kept once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "yomika/syntax/node.hpp"
#include "yomika/syntax/phrase.hpp"

namespace yomika::vocab {

// ---- Brackets, by PairKind ---------------------------------------------------------------------

struct BracketRow {
  PairKind kind;
  std::string_view open, close;
  std::string_view wire;  // the kind's name in pairs()
};
inline constexpr BracketRow kBrackets[] = {
    {PairKind::Bracket, "［", "］", "bracket"},
    {PairKind::Ruby, "《", "》", "ruby"},
    {PairKind::DoubleRuby, "《《", "》》", "doubleRuby"},
    {PairKind::Tortoise, "〔", "〕", "tortoise"},
    {PairKind::Quote, "「", "」", "quote"},
};

// The other marks of the notation.
inline constexpr std::string_view kRubyBar = "｜";    // in front of an explicit ruby base
inline constexpr std::string_view kNoteMark = "＃";   // right after ［, makes the bracket a note
inline constexpr std::string_view kGaijiMark = "※";   // in front of the note that names a character
inline constexpr std::string_view kComma = "、";      // joins quoted targets; ends a character's name
inline constexpr Phrase kNoteOpen{kBrackets[0].open, kNoteMark};
inline constexpr std::string_view kNoteClose = kBrackets[0].close;

// The words that frame notes.
inline constexpr std::string_view kIs = "は";            // 「…」は…: what the quoted target is
inline constexpr std::string_view kFromHere = "ここから";  // opens a block of lines
inline constexpr std::string_view kUpToHere = "ここで";    // closes it, with kEnd
inline constexpr std::string_view kEnd = "終わり";         // closes a range or a block

// ---- Emphasis marks and side lines, by BoutenKind ------------------------------------------------

struct BoutenRow {
  BoutenKind kind;
  std::string_view word;  // read after the particle, and written back
  std::string_view css;   // the class suffix after yomika-bouten-
};
inline constexpr BoutenRow kBouten[] = {
    {BoutenKind::Goma, "傍点", "goma"},
    {BoutenKind::WhiteSesame, "白ゴマ傍点", "white-sesame"},
    {BoutenKind::Circle, "丸傍点", "circle"},
    {BoutenKind::WhiteCircle, "白丸傍点", "white-circle"},
    {BoutenKind::DoubleCircle, "二重丸傍点", "double-circle"},
    {BoutenKind::Janome, "蛇の目傍点", "janome"},
    {BoutenKind::Cross, "ばつ傍点", "cross"},
    {BoutenKind::WhiteTriangle, "白三角傍点", "white-triangle"},
    {BoutenKind::WavyLine, "波線", "wavy-line"},
    {BoutenKind::UnderLine, "傍線", "under-line"},
    {BoutenKind::DoubleUnderLine, "二重傍線", "double-under-line"},
};

inline constexpr std::string_view kLeftSide = "左に";

struct PositionRow {
  BoutenPosition position;
  Phrase particle;         // between the quoted targets and the word
  std::string_view range;  // before the word of a range of emphasis (the reader's page)
  std::string_view css;
};
inline constexpr PositionRow kBoutenPositions[] = {
    {BoutenPosition::Right, Phrase{"に"}, {}, "right"},
    {BoutenPosition::Left, Phrase{"の", kLeftSide}, kLeftSide, "left"},
};

// ---- Other quoted-reference notes ---------------------------------------------------------------

// 「…」は縦中横; also a style of the reader's page.
inline constexpr std::string_view kTateChuYoko = "縦中横";

// Heading hints 「…」は大見出し, and the reader's headings of those levels.
struct HeadingRow {
  uint8_t level;  // any level but 1 and 2 is written as the last row
  std::string_view word;
};
inline constexpr HeadingRow kHeadings[] = {{1, "大見出し"}, {2, "中見出し"}, {3, "小見出し"}};
inline constexpr std::string_view kRunInHeading = "同行";   // before a heading word: one that runs into its paragraph
inline constexpr std::string_view kWindowHeading = "窓";    // one set into the text

// ---- Layout -------------------------------------------------------------------------------------

inline constexpr std::string_view kIndentUnit = "字下げ";  // after an amount: indented by it
inline constexpr std::string_view kRaiseUnit = "字上げ";   // after an amount: ends that far short
inline constexpr std::string_view kAlignEndFrom = "地から";  // before an amount of kRaiseUnit
inline constexpr std::string_view kAlignEndFlush = "地付き";
inline constexpr std::string_view kPageBreak = "改ページ";

struct SectionBreakRow {
  SectionBreakKind kind;
  std::string_view word;
  std::string_view css;  // the class suffix after yomika-section-break-
};
inline constexpr SectionBreakRow kSectionBreaks[] = {
    {SectionBreakKind::Choho, "改丁", "choho"},
    {SectionBreakKind::Dan, "改段", "dan"},
    {SectionBreakKind::Spread, "改見開き", "spread"},
};

inline constexpr std::string_view kWarichu = "割り注";
inline constexpr std::string_view kKeigakomi = "罫囲み";  // a ruled box; also a style of the reader's page

struct ContainerRow {
  ContainerKind kind;
  Phrase opener, closer;
  uint8_t plain_amount;  // the amount that `opener`, which writes none, stands for
  Phrase numbered_from;  // an opener with an amount: this, the amount, then `unit`
  std::string_view unit;  // (both empty: the block has no amount)
  std::string_view css;   // the class suffix after yomika-container-
};
inline constexpr ContainerRow kContainers[] = {
    {ContainerKind::Indent, Phrase{kFromHere, kIndentUnit}, Phrase{kUpToHere, kIndentUnit, kEnd}, 1,
     Phrase{kFromHere}, kIndentUnit, "indent"},
    {ContainerKind::Warichu, Phrase{kWarichu}, Phrase{kWarichu, kEnd}, 0, Phrase{}, {}, "warichu"},
    {ContainerKind::Keigakomi, Phrase{kKeigakomi}, Phrase{kKeigakomi, kEnd}, 0, Phrase{}, {}, "keigakomi"},
    {ContainerKind::AlignEnd, Phrase{kFromHere, kAlignEndFlush}, Phrase{kUpToHere, kAlignEndFlush, kEnd}, 0,
     Phrase{kFromHere, kAlignEndFrom}, kRaiseUnit, "align-end"},
};

// ---- Illustrations: 挿絵（path）入る ---------------------------------------------------------------

inline constexpr std::string_view kParenOpen = "（";
inline constexpr std::string_view kParenClose = "）";
inline constexpr std::string_view kSashieWord = "挿絵";
inline constexpr std::string_view kSashieEnd = "入る";  // ends every figure note
inline constexpr Phrase kSashieOpen{kSashieWord, kParenOpen};

// ---- Special characters: ※［＃「name」、mention］ ----------------------------------------------------

inline constexpr std::string_view kCodePointPrefix = "U+";  // U+ and hex digits
inline constexpr std::string_view kLevelMark = "第";        // 第3水準1-85-8: level, plane, row, cell
inline constexpr std::string_view kLevelWord = "水準";
inline constexpr Phrase kLevel3{kLevelMark, "3", kLevelWord};
inline constexpr Phrase kLevel4{kLevelMark, "4", kLevelWord};

// ---- Node kinds, by NodeKind ----------------------------------------------------------------------

struct NodeKindRow {
  NodeKind kind;
  std::string_view wire;    // the kind's name in nodes()
  std::string_view css;     // the class of the element that shows it (empty: none)
  std::string_view marker;  // the comment that stands for it where it has no other form (empty: none)
};
inline constexpr NodeKindRow kNodeKinds[] = {
    {NodeKind::Ruby, "ruby", {}, {}},
    {NodeKind::Bouten, "bouten", "bouten", {}},
    {NodeKind::TateChuYoko, "tateChuYoko", "tcy", {}},
    {NodeKind::Gaiji, "gaiji", "gaiji", {}},
    {NodeKind::Indent, "indent", "indent", {}},
    {NodeKind::AlignEnd, "alignEnd", "align-end", {}},
    {NodeKind::Warichu, "warichu", "warichu", "yomika_warichu"},
    {NodeKind::Keigakomi, "keigakomi", {}, "yomika_keigakomi"},
    {NodeKind::PageBreak, "pageBreak", "page-break", {}},
    {NodeKind::SectionBreak, "sectionBreak", "section-break", {}},
    {NodeKind::Heading, "heading", {}, "yomika_heading"},
    {NodeKind::HeadingHint, "headingHint", {}, "yomika_heading_hint"},
    {NodeKind::Sashie, "sashie", {}, "yomika_sashie"},
    {NodeKind::Kaeriten, "kaeriten", "kaeriten", {}},
    {NodeKind::Annotation, "annotation", "annotation", {}},
    {NodeKind::DoubleRuby, "doubleRuby", "double-ruby", {}},
    {NodeKind::Container, "container", "container", "yomika_container"},
};

// Container boundaries are items of their own in nodes().
inline constexpr std::string_view kContainerOpenWire = "containerOpen";
inline constexpr std::string_view kContainerCloseWire = "containerClose";

// Every class the renderers write starts with this: yomika-{css}, and yomika-{css}-{suffix} for a
// kind (yomika-bouten-goma) or an amount (yomika-indent-3).
inline constexpr std::string_view kCssPrefix = "yomika-";
constexpr Phrase css_class(std::string_view css) { return Phrase{kCssPrefix, css}; }
constexpr Phrase css_class(std::string_view css, std::string_view suffix) {
  return Phrase{kCssPrefix, css, "-", suffix};
}

// ---- Styles of the reader's page, by TextStyle ---------------------------------------------------

// How a run or block that a note styles is set on the reader's page (the parser keeps those notes
// whole): 「…」は太字, ［＃太字］…［＃太字終わり］, ［＃ここから太字］…［＃ここで太字終わり］.
enum class TextStyle : uint8_t {
  None = 0,
  Bold = 1,
  Italic = 2,
  Larger = 3,       // amount: steps
  Smaller = 4,      // amount: steps
  Bouten = 5,       // amount: BoutenKind, side: BoutenPosition; its words are those of kBouten
  TateChuYoko = 6,  // a short horizontal run upright in vertical text
  Yokogumi = 7,     // horizontal setting inside vertical text
  Superscript = 8,
  Subscript = 9,
  Keigakomi = 10,   // a ruled box
};

struct StyleRow {
  TextStyle style;
  std::string_view word;  // empty: none of its own
  bool stepped;           // the word follows a number of steps: ２段階大きな文字
  std::string_view css;   // its class suffix; a stepped style also has one with the steps
};
inline constexpr std::string_view kSteps = "段階";
inline constexpr StyleRow kStyles[] = {
    {TextStyle::None, {}, false, "style"},
    {TextStyle::Bold, "太字", false, "bold"},
    {TextStyle::Italic, "斜体", false, "italic"},
    {TextStyle::Larger, "大きな文字", true, "larger"},
    {TextStyle::Smaller, "小さな文字", true, "smaller"},
    {TextStyle::Bouten, {}, false, kNodeKinds[static_cast<std::size_t>(NodeKind::Bouten)].css},
    {TextStyle::TateChuYoko, kTateChuYoko, false, kNodeKinds[static_cast<std::size_t>(NodeKind::TateChuYoko)].css},
    {TextStyle::Yokogumi, "横組み", false, "yokogumi"},
    {TextStyle::Superscript, "上付き小文字", false, "sup"},
    {TextStyle::Subscript, "下付き小文字", false, "sub"},
    {TextStyle::Keigakomi, kKeigakomi, false, "keigakomi"},
};

// ---- Other notes the reader's page reads --------------------------------------------------------

inline constexpr std::string_view kCaption = "キャプション";  // ［＃キャプション］…［＃キャプション終わり］
// 「…」の左に「…」のルビ: a reading on the left; 「…」に「…」の注記: a note set like a reading.
inline constexpr std::string_view kRubyNote = "のルビ";
inline constexpr std::string_view kSideNote = "の注記";
// Remarks about the printed source or a reading, not part of the text: 「…」は底本では…, 「…」はママ,
// ルビの…
inline constexpr std::string_view kAsPrinted = "底本では";
inline constexpr std::string_view kSic = "ママ";
inline constexpr std::string_view kOfReading = "ルビの";
inline constexpr std::string_view kCenterPage = "ページの左右中央";
// ここから３字下げ、折り返して５字下げ (or ここから改行天付き、折り返して…): a hanging indent.
inline constexpr std::string_view kFlushFirstLine = "改行天付き";
inline constexpr std::string_view kWrapped = "折り返して";
// Figures: 説明（file、横W×縦H）入る, or 「…」のキャプション付きの図（file）入る.
inline constexpr std::string_view kCaptionedFigure = "のキャプション付きの図";
inline constexpr std::string_view kFigureWidth = "横";
inline constexpr std::string_view kFigureBy = "×";
inline constexpr std::string_view kFigureHeight = "縦";

// ---- Note keywords ------------------------------------------------------------------------------

// What a note whose body starts with a keyword becomes. The rules of the first group need the
// keyword to be the whole body; the others read what follows it.
enum class NoteRule : uint8_t {
  PageBreak,
  SectionBreak,    // `kind`: the SectionBreakKind
  AlignEndFlush,
  ContainerOpen,   // `kind`: the ContainerKind, with its plain amount
  ContainerClose,  // `kind`: the ContainerKind
  WarichuOpen,     // the warichu block's words, read as markers
  WarichuClose,
  Kaeriten,
  AlignEndFrom,    // then an amount of at least 1, then kRaiseUnit
  Illustration,    // then the path, then kParenClose and kSashieEnd
  ContainerOpenNumbered,  // `kind`: the ContainerKind; then an amount of 0 to 255 and its unit
  ParenMark,       // a kaeriten of kana or kanji in parentheses
  IndentN,         // the keyword is the amount's first digit; then kIndentUnit
  IndentOne,       // the unit alone: an indent of 1, as an indent of 1 is written back
};

struct NoteKeyword {
  std::string_view word;
  NoteRule rule;
  uint8_t kind = 0;
};

namespace detail {
constexpr NoteKeyword opens(ContainerKind k) {
  return {kContainers[static_cast<std::size_t>(k)].opener, NoteRule::ContainerOpen, static_cast<uint8_t>(k)};
}
constexpr NoteKeyword opens_numbered(ContainerKind k) {
  return {kContainers[static_cast<std::size_t>(k)].numbered_from, NoteRule::ContainerOpenNumbered,
          static_cast<uint8_t>(k)};
}
constexpr NoteKeyword closes(ContainerKind k) {
  return {kContainers[static_cast<std::size_t>(k)].closer, NoteRule::ContainerClose, static_cast<uint8_t>(k)};
}
constexpr NoteKeyword breaks(SectionBreakKind k) {
  return {kSectionBreaks[static_cast<std::size_t>(k)].word, NoteRule::SectionBreak, static_cast<uint8_t>(k)};
}
constexpr std::size_t kWarichu = static_cast<std::size_t>(ContainerKind::Warichu);
}  // namespace detail

// The keywords in their fixed order. The matcher takes the longest one that begins the body
// (ここから字下げ over ここから, 罫囲み終わり over 罫囲み, 一レ over 一).
inline constexpr NoteKeyword kNoteKeywords[] = {
    detail::opens(ContainerKind::Indent),
    detail::opens(ContainerKind::AlignEnd),
    detail::opens_numbered(ContainerKind::AlignEnd),
    detail::opens_numbered(ContainerKind::Indent),
    detail::closes(ContainerKind::Indent),
    detail::closes(ContainerKind::AlignEnd),
    {kPageBreak, NoteRule::PageBreak},
    detail::breaks(SectionBreakKind::Choho),
    detail::breaks(SectionBreakKind::Dan),
    detail::breaks(SectionBreakKind::Spread),
    {kAlignEndFrom, NoteRule::AlignEndFrom},
    {kAlignEndFlush, NoteRule::AlignEndFlush},
    {kSashieOpen, NoteRule::Illustration},
    detail::closes(ContainerKind::Keigakomi),
    detail::opens(ContainerKind::Keigakomi),
    {kContainers[detail::kWarichu].closer, NoteRule::WarichuClose},
    {kContainers[detail::kWarichu].opener, NoteRule::WarichuOpen},
    {kParenOpen, NoteRule::ParenMark},
    {"一レ", NoteRule::Kaeriten},
    {"上レ", NoteRule::Kaeriten},
    {"下レ", NoteRule::Kaeriten},
    {"中レ", NoteRule::Kaeriten},
    {"二レ", NoteRule::Kaeriten},
    {"三レ", NoteRule::Kaeriten},
    {"一", NoteRule::Kaeriten},
    {"丁", NoteRule::Kaeriten},
    {"三", NoteRule::Kaeriten},
    {"上", NoteRule::Kaeriten},
    {"下", NoteRule::Kaeriten},
    {"中", NoteRule::Kaeriten},
    {"丙", NoteRule::Kaeriten},
    {"乙", NoteRule::Kaeriten},
    {"二", NoteRule::Kaeriten},
    {"四", NoteRule::Kaeriten},
    {"甲", NoteRule::Kaeriten},
    {"レ", NoteRule::Kaeriten},
    {"0", NoteRule::IndentN},
    {"1", NoteRule::IndentN},
    {"2", NoteRule::IndentN},
    {"3", NoteRule::IndentN},
    {"4", NoteRule::IndentN},
    {"5", NoteRule::IndentN},
    {"6", NoteRule::IndentN},
    {"7", NoteRule::IndentN},
    {"8", NoteRule::IndentN},
    {"9", NoteRule::IndentN},
    {kIndentUnit, NoteRule::IndentOne},
    {"０", NoteRule::IndentN},
    {"１", NoteRule::IndentN},
    {"２", NoteRule::IndentN},
    {"３", NoteRule::IndentN},
    {"４", NoteRule::IndentN},
    {"５", NoteRule::IndentN},
    {"６", NoteRule::IndentN},
    {"７", NoteRule::IndentN},
    {"８", NoteRule::IndentN},
    {"９", NoteRule::IndentN},
};

// ---- Lookups ------------------------------------------------------------------------------------

namespace detail {
template <class Row>
inline constexpr Row kNoRow{};

// The row of code `code` in a table whose rows follow the codes (checked below); an empty row for
// a code past the table, which no parse produces.
template <class Row, std::size_t N>
constexpr const Row& row_at(const Row (&table)[N], std::size_t code) {
  return code < N ? table[code] : kNoRow<Row>;
}
}  // namespace detail

constexpr const BracketRow& bracket(PairKind k) { return detail::row_at(kBrackets, static_cast<std::size_t>(k)); }
constexpr const BoutenRow& bouten(BoutenKind k) { return detail::row_at(kBouten, static_cast<std::size_t>(k)); }
constexpr const PositionRow& position(BoutenPosition p) {
  return detail::row_at(kBoutenPositions, static_cast<std::size_t>(p));
}
constexpr const SectionBreakRow& section_break(SectionBreakKind k) {
  return detail::row_at(kSectionBreaks, static_cast<std::size_t>(k));
}
constexpr const ContainerRow& container(ContainerKind k) {
  return detail::row_at(kContainers, static_cast<std::size_t>(k));
}
constexpr const NodeKindRow& node_kind(NodeKind k) { return detail::row_at(kNodeKinds, static_cast<std::size_t>(k)); }
constexpr const StyleRow& style(TextStyle s) { return detail::row_at(kStyles, static_cast<std::size_t>(s)); }
// The row of kHeadings a heading hint of `level` is written with.
constexpr std::size_t heading_row(uint8_t level) { return level == 1 ? 0 : level == 2 ? 1 : 2; }

// ---- Checks -------------------------------------------------------------------------------------

namespace detail {
template <class Row, std::size_t N, class Key>
constexpr bool rows_follow_codes(const Row (&table)[N], Key Row::*key) {
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::size_t>(table[i].*key) != i) return false;
  }
  return true;
}

constexpr bool has_keyword(std::string_view word, NoteRule rule, uint8_t kind) {
  for (const NoteKeyword& k : kNoteKeywords) {
    if (k.word == word && k.rule == rule && k.kind == kind) return true;
  }
  return false;
}

constexpr bool keywords_cover_families() {
  for (const SectionBreakRow& s : kSectionBreaks) {
    if (!has_keyword(s.word, NoteRule::SectionBreak, static_cast<uint8_t>(s.kind))) return false;
  }
  for (const ContainerRow& c : kContainers) {
    const auto k = static_cast<uint8_t>(c.kind);
    if (c.kind == ContainerKind::Warichu) {
      if (!has_keyword(c.opener, NoteRule::WarichuOpen, 0) || !has_keyword(c.closer, NoteRule::WarichuClose, 0))
        return false;
    } else if (!has_keyword(c.opener, NoteRule::ContainerOpen, k) ||
               !has_keyword(c.closer, NoteRule::ContainerClose, k)) {
      return false;
    }
    if (c.numbered_from.empty() != c.unit.empty()) return false;
    if (!c.numbered_from.empty() && !has_keyword(c.numbered_from, NoteRule::ContainerOpenNumbered, k)) return false;
  }
  return true;
}

constexpr bool particles_distinct() {
  for (const PositionRow& a : kBoutenPositions) {
    for (const PositionRow& b : kBoutenPositions) {
      if (&a != &b && b.particle.view().starts_with(a.particle.view())) return false;
    }
  }
  return true;
}

constexpr bool keywords_distinct() {
  for (std::size_t i = 0; i < std::size(kNoteKeywords); ++i) {
    if (kNoteKeywords[i].word.empty()) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (kNoteKeywords[i].word == kNoteKeywords[j].word) return false;
    }
  }
  return true;
}
}  // namespace detail

static_assert(detail::rows_follow_codes(kBrackets, &BracketRow::kind));
static_assert(detail::rows_follow_codes(kBouten, &BoutenRow::kind));
static_assert(detail::rows_follow_codes(kBoutenPositions, &PositionRow::position));
static_assert(detail::rows_follow_codes(kSectionBreaks, &SectionBreakRow::kind));
static_assert(detail::rows_follow_codes(kContainers, &ContainerRow::kind));
static_assert(detail::rows_follow_codes(kNodeKinds, &NodeKindRow::kind));
static_assert(detail::rows_follow_codes(kStyles, &StyleRow::style));
static_assert(detail::keywords_cover_families(), "every section break and block has its note keywords");
static_assert(detail::keywords_distinct(), "a keyword stands for one rule");
static_assert(detail::particles_distinct(), "the classifier takes the one particle that begins the remainder");
static_assert(std::size(kHeadings) == 3 && kHeadings[0].level == 1 && kHeadings[1].level == 2);
static_assert(std::size(kNoteKeywords) == 57);

}  // namespace yomika::vocab
