// A book's parts and their rendering. Each part is parsed on its own, so that the legend's examples
// (a ［＃ここから２字下げ］ among them) never reach the body, and the colophon's notes stay in it.
#include "yomika/render/book.hpp"

#include <algorithm>

#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/render/html.hpp"
#include "yomika/model/span.hpp"

namespace yomika::render::reader {

namespace {

constexpr std::size_t kMinRule = 10;
constexpr std::size_t kMaxTitleLines = 6;    // title, subtitle, author and a few more
constexpr std::size_t kMaxLegendLines = 400;  // the legend's second rule is not further down than this
constexpr std::string_view kColophon = "底本：";
constexpr std::string_view kContentsTitle = "目次";

// Contributors' lines end with what they did: 訳 (translated), 編 (edited), ...
constexpr std::string_view kContributorEnds[] = {"訳", "訳者", "編", "編集", "校訂", "監修", "校注", "注釈"};

struct TextLine {
  std::size_t start, end;  // without the line feed
};

std::vector<TextLine> lines_of(std::string_view t, std::size_t limit) {
  std::vector<TextLine> out;
  std::size_t pos = 0;
  while (pos < t.size() && out.size() < limit) {
    std::size_t lf = t.find('\n', pos);
    if (lf == std::string_view::npos) lf = t.size();
    out.push_back(TextLine{pos, lf});
    pos = lf + 1;
  }
  return out;
}

bool is_hyphen_rule(std::string_view line) {
  std::string_view t = trim_white_space(line);
  return t.size() >= kMinRule && t.find_first_not_of('-') == std::string_view::npos;
}

// One part parsed on its own.
struct Part {
  Arena arena;
  ParseResult result;
  bool ok = false;
  Part(std::string_view text) {
    std::string refusal;
    ok = parse_sanitized(text, arena, result, refusal);
  }
};

}  // namespace

BookParts find_parts(std::string_view t) {
  BookParts p;
  p.body_end = t.size();
  p.colophon_start = t.size();
  std::vector<TextLine> lines = lines_of(t, kMaxTitleLines * 2 + kMaxLegendLines);
  std::size_t first = lines.size(), shown = 0;
  for (std::size_t i = 0; i < lines.size() && i <= kMaxTitleLines * 2; ++i) {
    std::string_view line = t.substr(lines[i].start, lines[i].end - lines[i].start);
    if (is_hyphen_rule(line)) {
      first = i;
      break;
    }
    if (!trim_white_space(line).empty()) ++shown;
  }
  if (first < lines.size() && shown >= 1 && shown <= kMaxTitleLines) {
    for (std::size_t i = first + 1; i < lines.size(); ++i) {
      if (!is_hyphen_rule(t.substr(lines[i].start, lines[i].end - lines[i].start))) continue;
      p.has_title = true;
      p.title_end = lines[first].start;
      p.legend_start = std::min(lines[first].end + 1, t.size());
      p.legend_end = lines[i].start;
      p.body_start = std::min(lines[i].end + 1, t.size());
      break;
    }
  }
  // The colophon: from the last line that starts with 底本： to the end.
  for (std::size_t at = t.rfind(kColophon); at != std::string_view::npos && at >= p.body_start;
       at = at == 0 ? std::string_view::npos : t.rfind(kColophon, at - 1)) {
    if (at == 0 || t[at - 1] == '\n') {
      p.colophon_start = at;
      p.body_end = at;
      break;
    }
  }
  return p;
}

bool render_book(std::string_view source, const BookOptions& options, Book& out, std::string& refusal) {
  {
    lex::Sanitized s;
    Diagnostics ignored;
    lex::sanitize(source, s, ignored);
    out.sanitized.assign(s.text);
  }
  if (out.sanitized.size() > UINT32_MAX) {
    refusal = "source too long for u32 span offsets (" + std::to_string(out.sanitized.size()) + " bytes)";
    return false;
  }
  const std::string_view t = out.sanitized;
  const BookParts parts = find_parts(t);

  if (parts.has_title) {
    // Title lines: the first is the title, the last that is nobody's contribution the author,
    // those between the subtitle.
    std::vector<std::pair<std::string, std::string>> shown;  // markup, plain
    for (const TextLine& l : lines_of(t.substr(0, parts.title_end), kMaxTitleLines * 2)) {
      std::string_view line = t.substr(l.start, l.end - l.start);
      if (trim_white_space(line).empty()) continue;
      Part part(line);
      if (!part.ok) continue;
      Body body;
      BodyOptions o;
      o.inline_only = true;
      o.split = false;
      render_body(part.result, o, body);
      std::string markup;
      for (const Section& s : body.sections) markup += s.html;
      shown.emplace_back(markup, std::string(trim_white_space(plain_text(part.result))));
    }
    std::size_t author = shown.size();
    for (std::size_t i = shown.size(); i-- > 1;) {
      bool contributor = false;
      for (std::string_view e : kContributorEnds) contributor = contributor || shown[i].second.ends_with(e);
      if (!contributor) {
        author = i;
        break;
      }
    }
    out.title_block = "<header class=\"yomika-title-page\">\n";
    for (std::size_t i = 0; i < shown.size(); ++i) {
      const char* cls = i == 0 ? nullptr : i == author ? "yomika-author" : i < author ? "yomika-subtitle" : "yomika-contributor";
      if (i == 0) {
        out.title = shown[i].second;
        out.title_block += "<h1 class=\"yomika-title\">" + shown[i].first + "</h1>\n";
        continue;
      }
      if (i == author) out.author = shown[i].second;
      else if (i < author) out.subtitle += (out.subtitle.empty() ? "" : " ") + shown[i].second;
      else out.contributors.push_back(shown[i].second);
      out.title_block += std::string("<p class=\"") + cls + "\">" + shown[i].first + "</p>\n";
    }
    out.title_block += "</header>\n";
    if (options.keep_legend) {
      out.legend = "<section class=\"yomika-legend\">\n";
      for (const TextLine& l : lines_of(t.substr(parts.legend_start, parts.legend_end - parts.legend_start), SIZE_MAX)) {
        std::string_view line = t.substr(parts.legend_start + l.start, l.end - l.start);
        std::string esc;
        escape_text(line, esc);
        out.legend += line.empty() ? "<p class=\"yomika-blank\"><br /></p>\n" : "<p>" + esc + "</p>\n";
      }
      out.legend += "</section>\n";
    }
  }

  {
    Part body(t.substr(parts.body_start, parts.body_end - parts.body_start));
    if (!body.ok) return false;
    BodyOptions o;
    o.picture = options.picture;
    o.offset = static_cast<uint32_t>(parts.body_start);
    render_body(body.result, o, out.body);
    if (!parts.has_title) {
      std::string plain = plain_text(body.result);
      for (std::size_t pos = 0; pos < plain.size() && out.title.empty();) {
        std::size_t lf = plain.find('\n', pos);
        if (lf == std::string::npos) lf = plain.size();
        out.title = std::string(trim_white_space(std::string_view(plain).substr(pos, lf - pos)));
        pos = lf + 1;
      }
    }
  }

  if (parts.colophon_start < t.size()) {
    Part colophon(t.substr(parts.colophon_start));
    if (colophon.ok) {
      Body body;
      BodyOptions o;
      o.picture = options.picture;
      o.offset = static_cast<uint32_t>(parts.colophon_start);
      o.split = false;
      render_body(colophon.result, o, body);
      out.colophon = "<footer class=\"yomika-colophon\">\n";
      for (const Section& s : body.sections) out.colophon += s.html;
      out.colophon += "</footer>\n";
      for (PageWarning& w : body.warnings) out.body.warnings.push_back(std::move(w));
      for (auto& [k, n] : body.undrawn) out.body.undrawn[k] += n;
    }
  }

  if (!out.body.headings.empty()) {
    out.contents = "<nav class=\"yomika-contents\" id=\"yomika-contents\">\n<details>\n<summary>" +
                   std::string(kContentsTitle) + "</summary>\n<ol>\n";
    for (const Heading& h : out.body.headings) {
      std::string text;
      escape_text(h.text, text);
      out.contents += "<li class=\"yomika-contents-" + std::to_string(h.level) + "\"><a href=\"#" + h.id + "\">" + text +
                      "</a></li>\n";
    }
    out.contents += "</ol>\n</details>\n</nav>\n";
  }
  return true;
}

}  // namespace yomika::render::reader
