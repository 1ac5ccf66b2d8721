// A book as the converter shows it: the parts a file in this notation is made of (title lines,
// the legend of the notation between two rules of hyphens, the body, the colophon from 底本：),
// each rendered by the reader's renderer, with a contents list of the body's headings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "yomika/render/reader.hpp"

namespace yomika::render::reader {

// Where the parts lie in the sanitized text. Without the two rules of the legend there is no title
// part: the whole text before a colophon is the body.
struct BookParts {
  bool has_title = false;
  std::size_t title_end = 0;                       // [0, title_end): the title lines
  std::size_t legend_start = 0, legend_end = 0;    // between the rules
  std::size_t body_start = 0, body_end = 0;
  std::size_t colophon_start = 0;                  // to the end; equal to the text's size when none
};

BookParts find_parts(std::string_view sanitized);

struct BookOptions {
  bool keep_legend = false;
  PictureSource picture;
};

struct Book {
  std::string title, subtitle, author;  // as plain text; the title is the first line without parts
  std::vector<std::string> contributors;  // lines after the author's (a translator, an editor)
  std::string title_block;              // the title page, empty without the parts
  std::string legend;                   // the legend as written, when kept
  std::string colophon;                 // empty when the text has none
  std::string contents;                 // the contents list, empty without headings
  std::string sanitized;                // the text every warning's offset indexes
  Body body;
};

// Sanitizes and renders a whole text. False with `refusal` set for a text beyond 32-bit offsets.
bool render_book(std::string_view source, const BookOptions& options, Book& out, std::string& refusal);

}  // namespace yomika::render::reader
