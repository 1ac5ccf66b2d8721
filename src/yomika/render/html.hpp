// The HTML renderer: paragraphs, line breaks and one element per construct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "yomika/pipeline/pipeline.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika::render {

// Appends text with & < > " ' escaped, as the renderer escapes it (the reader's page uses it too).
void escape_text(std::string_view text, std::string& out);

// Appends the HTML of one node, written as it is, outside any paragraph (the reader's page writes
// block openers so).
void render_node(const YomikaNode& node, std::string& out);

// The same for the reader's page: notes kept verbatim inside the node are left out (the page
// draws what it can of them itself), so the markup is XHTML as well as HTML.
void render_node_for_reader(const YomikaNode& node, std::string& out);

// HTML of a parse result.
std::string render_result_html(const ParseResult& result);

// The same into `out`, which is cleared first and whose capacity is used: for a caller that keeps
// one buffer for many documents.
void render_result_html(const ParseResult& result, std::string& out);

// Storage for the HTML as UTF-16, owned by the caller (the Python face makes its str of it).
class Utf16Buffer {
 public:
  // Storage for at least `units` units whose first `kept` units are those of the storage handed
  // out before. Throws std::bad_alloc when there is no memory.
  virtual std::span<uint16_t> grow(std::size_t kept, std::size_t units) = 0;

 protected:
  ~Utf16Buffer() = default;
};

struct Utf16Html {
  std::size_t units = 0;   // written
  std::size_t astral = 0;  // characters above U+FFFF, each written as a surrogate pair
  bool latin1 = false;     // every character is below U+0100
};

// The HTML of a parse result, what render_result_html writes, as UTF-16 into `buffer`.
Utf16Html render_result_html_utf16(const ParseResult& result, Utf16Buffer& buffer);

// Parses and renders. Returns false with `refusal` set when the source is too long.
bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal);

}  // namespace yomika::render
