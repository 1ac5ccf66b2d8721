// The fixed pieces of notation that the serializer writes back, one table per family.
#pragma once

#include <string_view>

#include "yomika/syntax/node.hpp"

namespace yomika::render::notation {

inline constexpr std::string_view kRubyBar = "｜";
inline constexpr std::string_view kRubyOpen = "《";
inline constexpr std::string_view kRubyClose = "》";
inline constexpr std::string_view kQuoteOpen = "「";
inline constexpr std::string_view kQuoteClose = "」";
inline constexpr std::string_view kNoteOpen = "［＃";
inline constexpr std::string_view kNoteOpenQuote = "［＃「";
inline constexpr std::string_view kNoteClose = "］";
inline constexpr std::string_view kGaijiMark = "※";
inline constexpr std::string_view kComma = "、";

// Emphasis words by BoutenKind code.
inline constexpr std::string_view kBoutenWords[] = {
    "傍点", "白ゴマ傍点", "丸傍点", "白丸傍点", "二重丸傍点", "蛇の目傍点",
    "ばつ傍点", "白三角傍点", "波線", "傍線", "二重傍線",
};

// Position particles by BoutenPosition code.
inline constexpr std::string_view kBoutenParticles[] = {"に", "の左に"};

// Section words by SectionBreakKind code.
inline constexpr std::string_view kSectionWords[] = {"改丁", "改段", "改見開き"};

// Container boundaries by ContainerKind code; the openers for an indent of 1 and a flush end
// block, whose amounts go unwritten.
inline constexpr std::string_view kContainerOpeners[] = {
    "［＃ここから字下げ］", "［＃割り注］", "［＃罫囲み］", "［＃ここから地付き］",
};
inline constexpr std::string_view kContainerClosers[] = {
    "［＃ここで字下げ終わり］", "［＃割り注終わり］", "［＃罫囲み終わり］", "［＃ここで地付き終わり］",
};

// Heading-hint endings by level; any level other than 1 and 2 reads as small.
inline constexpr std::string_view kHeadingEnds[] = {"」は大見出し］", "」は中見出し］", "」は小見出し］"};

// Variants without a notation form are written as this comment around their name.
inline constexpr std::string_view kMarkerOpen = "<!-- unsupported-yomika: ";
inline constexpr std::string_view kMarkerClose = " -->";
inline constexpr std::string_view kMarkerWarichu = "yomika_warichu";
inline constexpr std::string_view kMarkerKeigakomi = "yomika_keigakomi";
inline constexpr std::string_view kMarkerHeading = "yomika_heading";
inline constexpr std::string_view kMarkerContainer = "yomika_container";

// Openers of indented and end-aligned blocks of other amounts: the amount, then the unit word.
inline constexpr std::string_view kIndentBlockFrom = "［＃ここから";
inline constexpr std::string_view kAlignEndBlockFrom = "［＃ここから地から";

// Words that frame the layout and other notes.
inline constexpr std::string_view kIndentOne = "［＃字下げ］";
inline constexpr std::string_view kIndentUnit = "字下げ］";
inline constexpr std::string_view kAlignEndFlush = "［＃地付き］";
inline constexpr std::string_view kAlignEndFrom = "［＃地から";
inline constexpr std::string_view kAlignEndUnit = "字上げ］";
inline constexpr std::string_view kPageBreak = "［＃改ページ］";
inline constexpr std::string_view kTateChuYokoEnd = "」は縦中横］";
inline constexpr std::string_view kSashieOpen = "［＃挿絵（";
inline constexpr std::string_view kSashieClose = "）入る］";
inline constexpr std::string_view kDoubleRubyOpen = "《《";
inline constexpr std::string_view kDoubleRubyClose = "》》";

}  // namespace yomika::render::notation
