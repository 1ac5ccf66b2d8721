// The written forms of the notation that the serializer puts out whole, made from the vocabulary
// at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "yomika/syntax/phrase.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::render::notation {

using vocab::kComma;
using vocab::kGaijiMark;
using vocab::kNoteClose;
using vocab::kNoteOpen;
using vocab::kRubyBar;

inline constexpr std::string_view kRubyOpen = vocab::bracket(PairKind::Ruby).open;
inline constexpr std::string_view kRubyClose = vocab::bracket(PairKind::Ruby).close;
inline constexpr std::string_view kDoubleRubyOpen = vocab::bracket(PairKind::DoubleRuby).open;
inline constexpr std::string_view kDoubleRubyClose = vocab::bracket(PairKind::DoubleRuby).close;
inline constexpr std::string_view kQuoteOpen = vocab::bracket(PairKind::Quote).open;
inline constexpr std::string_view kQuoteClose = vocab::bracket(PairKind::Quote).close;
inline constexpr Phrase kNoteOpenQuote{kNoteOpen, kQuoteOpen};

// A note of one word: ［＃word］.
constexpr Phrase note(std::string_view word) { return Phrase{kNoteOpen, word, kNoteClose}; }

inline constexpr Phrase kPageBreak = note(vocab::kPageBreak);
inline constexpr Phrase kIndentOne = note(vocab::kIndentUnit);  // an indent of 1 writes no amount
inline constexpr Phrase kAlignEndFlush = note(vocab::kAlignEndFlush);
inline constexpr Phrase kAlignEndFrom{kNoteOpen, vocab::kAlignEndFrom};
inline constexpr Phrase kIndentUnitEnd{vocab::kIndentUnit, kNoteClose};
inline constexpr Phrase kRaiseUnitEnd{vocab::kRaiseUnit, kNoteClose};
inline constexpr Phrase kTateChuYokoEnd{kQuoteClose, vocab::kTateChuYoko, kNoteClose};
inline constexpr Phrase kSashieOpen{kNoteOpen, vocab::kSashieOpen};
inline constexpr Phrase kSashieClose{vocab::kParenClose, vocab::kSashieEnd, kNoteClose};

// Block boundaries by ContainerKind code: the opener with its plain amount, what goes before and
// after any other amount, and the closer.
struct ContainerNotes {
  Phrase open, numbered_from, numbered_end, close;
};
inline constexpr auto kContainerNotes = [] {
  std::array<ContainerNotes, std::size(vocab::kContainers)> t{};
  for (std::size_t k = 0; k < t.size(); ++k) {
    const vocab::ContainerRow& c = vocab::kContainers[k];
    t[k] = ContainerNotes{note(c.opener), Phrase{kNoteOpen, c.numbered_from}, Phrase{c.unit, kNoteClose},
                          note(c.closer)};
  }
  return t;
}();

// Heading hints by row of vocab::kHeadings: what follows the quoted target.
inline constexpr auto kHeadingEnds = [] {
  std::array<Phrase, std::size(vocab::kHeadings)> t{};
  for (std::size_t k = 0; k < t.size(); ++k) t[k] = Phrase{kQuoteClose, vocab::kHeadings[k].word, kNoteClose};
  return t;
}();

// Variants without a notation form are written as this comment around their marker.
inline constexpr std::string_view kMarkerOpen = "<!-- unsupported-yomika: ";
inline constexpr std::string_view kMarkerClose = " -->";

}  // namespace yomika::render::notation
