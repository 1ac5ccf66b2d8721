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
inline constexpr Phrase kTateChuYokoEnd{kQuoteClose, vocab::kIs, vocab::kTateChuYoko, kNoteClose};
inline constexpr Phrase kSashieOpen{kNoteOpen, vocab::kSashieOpen};
inline constexpr Phrase kSashieClose{vocab::kParenClose, vocab::kSashieEnd, kNoteClose};

// A note with an amount: `plain` stands for `plain_amount`, any other amount is written between
// `from` and `to` (a note without them is always plain).
struct AmountNote {
  Phrase plain;
  uint8_t plain_amount;
  Phrase from, to;
};
inline constexpr AmountNote kIndentNote{note(vocab::kIndentUnit), 1, Phrase{kNoteOpen},
                                        Phrase{vocab::kIndentUnit, kNoteClose}};
inline constexpr AmountNote kAlignEndNote{note(vocab::kAlignEndFlush), 0, Phrase{kNoteOpen, vocab::kAlignEndFrom},
                                          Phrase{vocab::kRaiseUnit, kNoteClose}};

// Block boundaries by ContainerKind code.
struct ContainerNotes {
  AmountNote open;
  Phrase close;
};
inline constexpr auto kContainerNotes = [] {
  std::array<ContainerNotes, std::size(vocab::kContainers)> t{};
  for (std::size_t k = 0; k < t.size(); ++k) {
    const vocab::ContainerRow& c = vocab::kContainers[k];
    AmountNote open{note(c.opener), c.plain_amount, Phrase{}, Phrase{}};
    if (!c.numbered_from.empty()) {
      open.from = Phrase{kNoteOpen, c.numbered_from};
      open.to = Phrase{c.unit, kNoteClose};
    }
    t[k] = ContainerNotes{open, note(c.closer)};
  }
  return t;
}();

// Heading hints by row of vocab::kHeadings: what follows the quoted target.
inline constexpr auto kHeadingEnds = [] {
  std::array<Phrase, std::size(vocab::kHeadings)> t{};
  for (std::size_t k = 0; k < t.size(); ++k) {
    t[k] = Phrase{kQuoteClose, vocab::kIs, vocab::kHeadings[k].word, kNoteClose};
  }
  return t;
}();

// Variants without a notation form are written as this comment around their marker.
inline constexpr std::string_view kMarkerOpen = "<!-- unsupported-yomika: ";
inline constexpr std::string_view kMarkerClose = " -->";

}  // namespace yomika::render::notation
