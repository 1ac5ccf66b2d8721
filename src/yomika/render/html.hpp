// The HTML renderer: paragraphs, line breaks and one element per construct.
#pragma once

#include <string>
#include <string_view>

#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/utf16_out.hpp"
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

// The HTML of a parse result, what render_result_html writes, as UTF-16 into `buffer`.
Utf16Text render_result_html_utf16(const ParseResult& result, Utf16Buffer& buffer);

// Parses and renders. Returns false with `refusal` set when the source is too long.
bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal);

}  // namespace yomika::render
