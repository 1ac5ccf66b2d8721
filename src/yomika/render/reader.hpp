// The reader's renderer: a book as people read it, for the converter's pages and e-books. It
// walks the same normalized text as the fragment renderer, but line by line: every line is a block
// of its own, headings, figures and the notes beyond the parser's nodes are drawn, and the markup
// is well-formed XHTML (every element closed, attributes quoted) so that an e-book can use it as
// it is. The module's own outputs never come from here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/reader_notes.hpp"

namespace yomika::render::reader {

// Where a picture comes from: its `src` (a data: URI, a path inside an e-book), or nothing when
// the converter has no such file.
using PictureSource = std::function<std::optional<std::string>(std::string_view file)>;

// How one part of a book begins: what ends the part before it.
enum class Break : uint8_t { None, Page, Choho, Dan, Spread, Heading };

struct Section {
  std::string html;
  Break starts_with = Break::None;
  bool centered = false;  // ［＃ページの左右中央］: the part is set in the middle of its page
};

struct Heading {
  uint8_t level = 1;  // 1 large, 2 medium, 3 small
  HeadingForm form = HeadingForm::Line;
  std::string id;     // unique in the book, the same for the same text
  std::string text;   // as a contents list shows it
  std::size_t section = 0;
};

// A block the page shows and the text leaves unbalanced. Offsets are into the whole sanitized text.
struct PageWarning {
  enum class Kind : uint8_t { BlockLeftOpen, CloseWithoutOpen };
  Kind kind;
  uint32_t offset;
  std::string note;  // the note as written
};

// The amounts and steps a book uses, for the page's rules: one rule per amount in use.
class Amounts {
 public:
  enum Kind : uint32_t { LineIndent, LineEnd, BlockIndent, BlockEnd, Hanging, Larger, Smaller };
  void add(Kind kind, uint32_t amount);  // Hanging: first << 8 | rest
  std::string css() const;

 private:
  std::vector<uint32_t> used_;  // kind << 16 | amount, ascending, each once
};

struct Body {
  std::vector<Section> sections;
  std::vector<Heading> headings;
  std::map<std::string, std::size_t> undrawn;  // keyword -> notes the page cannot draw
  std::vector<PageWarning> warnings;
  Amounts amounts;
};

struct BodyOptions {
  PictureSource picture;
  uint32_t offset = 0;  // where the rendered text starts in the whole sanitized text
  bool split = true;    // false: one section whatever breaks the text holds (title, colophon)
  bool inline_only = false;  // the lines' content alone, one after another (a title's line)
};

// Renders a parse result into `out`, adding to what `out` already holds (headings are numbered
// on from those there).
void render_body(const ParseResult& result, const BodyOptions& options, Body& out);

// The text a reader sees in a parse result, without markup: bases without their readings,
// special characters as themselves. For titles and metadata.
std::string plain_text(const ParseResult& result);

}  // namespace yomika::render::reader
