// STUB: replaced by the HTML renderer.
#include "yomika/render/html.hpp"

namespace yomika::render {
void escape_text(std::string_view text, std::string& out) { out.append(text); }
void render_node(const YomikaNode&, std::string&) {}
std::string render_result_html(const ParseResult& r) { return std::string(r.normalized); }
bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal) {
  ParseResult r;
  if (!parse_document(doc, r, refusal)) return false;
  out = render_result_html(r);
  return true;
}
}  // namespace yomika::render
