// The notes a reader's page draws beyond those the parser builds nodes for: what a ［＃…］ kept
// verbatim says (bold, sizes, headings, captions, figures, hanging indents, left and annotation
// ruby, ranges of emphasis), read from its text alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "yomika/syntax/vocabulary.hpp"

namespace yomika::render::reader {

// How a styled run or block is set; its words and classes are the vocabulary's rows.
using Style = vocab::TextStyle;

enum class NoteKind : uint8_t {
  Unknown,     // a note the page cannot draw (counted in the notes report)
  Hidden,      // an editor's remark about the printed source, not part of the text
  Style,       // a style over the quoted target, over a range of a line, or over a block of lines
  Heading,     // amount: level 1 (大) to 3 (小)
  Caption,     // the caption of the figure before it
  Figure,      // a picture: file, size and what it shows (text) or its caption (target)
  LeftRuby,    // target, reading (text) set on the left side
  NoteRuby,    // target, note (text) set beside it like a reading
  Hanging,     // a block whose first lines start at `amount` and whose wrapped rows start at `side`
  CenterPage,  // the page's content centered
};

// Where a note applies.
enum class Form : uint8_t {
  Single,      // the note alone (figures, centering, hidden remarks)
  Quoted,      // the quoted target before the note: ［＃「…」は太字］
  Open,        // from here on the same line: ［＃太字］
  Close,       // ［＃太字終わり］
  BlockOpen,   // the lines from here: ［＃ここから太字］
  BlockClose,  // ［＃ここで太字終わり］
};

enum class HeadingForm : uint8_t {
  Line,    // the heading's line is the heading
  RunIn,   // 同行見出し: a heading at the start of a paragraph whose text runs on after it
  Window,  // 窓見出し: a small heading set into the text
};

struct ReaderNote {
  NoteKind kind = NoteKind::Unknown;
  Form form = Form::Single;
  Style style = Style::None;
  HeadingForm heading = HeadingForm::Line;
  uint8_t amount = 0;
  uint8_t side = 0;
  std::string_view target;  // quoted forms
  std::string_view text;    // a reading, a note, a figure's description
  std::string_view file;    // figures
  uint32_t width = 0, height = 0;  // figures: the size the note gives, 0 when it gives none

  // Whether a closing note ends what this opening note began.
  bool closes(const ReaderNote& open) const;
  // Whether two opening notes set the same thing (bold and bold; sizes of any steps), so that
  // the second inside the first adds nothing.
  bool closes_same(const ReaderNote& other) const;
};

// What the note ［＃…］ says; `raw` is the note as written, brackets included.
ReaderNote read_note(std::string_view raw);

// The note's keyword for the notes report: its text with each quoted part written 「…」 and
// each run of digits N, as 「…」は同行大見出し or ここからN字下げ、折り返してN字下げ.
std::string note_keyword(std::string_view raw);

}  // namespace yomika::render::reader
