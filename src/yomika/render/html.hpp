// The HTML renderer: paragraphs, line breaks and one element per construct.
#pragma once

#include <string>
#include <string_view>

#include "yomika/pipeline/pipeline.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika::render {

// A reference for tests and benchmarks: the renderer's escaping of & < > " ' on its own.
void escape_text(std::string_view text, std::string& out);

// A reference for tests and benchmarks: the HTML of one node, written as it is, outside any paragraph.
void render_node(const YomikaNode& node, std::string& out);

// HTML of a parse result.
std::string render_result_html(const ParseResult& result);

// Parses and renders. Returns false with `refusal` set when the source is too long.
bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal);

}  // namespace yomika::render
