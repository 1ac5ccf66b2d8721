// The HTML renderer: walks the normalized text, turns line feeds into paragraphs and line breaks,
// escapes the text between sentinels and writes one element per construct.
#include "yomika/render/html.hpp"

#include <cstdint>

#include "yomika/alloc/fatal.hpp"
#include "yomika/render/walk.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/spec/span.hpp"

namespace yomika::render {

namespace {

// Every fixed piece of HTML the renderer writes. A value in between two pieces (a number, a name,
// a text) is filled in by the code that writes them.
namespace frag {
constexpr std::string_view kParagraphOpen = "<p>";
constexpr std::string_view kParagraphClose = "</p>\n";
constexpr std::string_view kLineBreak = "<br />\n";
constexpr std::string_view kNewline = "\n";
constexpr std::string_view kDivClose = "</div>";
constexpr std::string_view kSpanClose = "</span>";
constexpr std::string_view kAttrEnd = "\">";
constexpr std::string_view kEmptySpanEnd = "\"></span>";
constexpr std::string_view kEmptyDivEnd = "\"></div>";

constexpr std::string_view kRubyOpen = "<ruby>";
constexpr std::string_view kRubyReading = "<rp>(</rp><rt>";
constexpr std::string_view kRubyClose = "</rt><rp>)</rp></ruby>";
constexpr std::string_view kBoutenOpen = "<em class=\"yomika-bouten yomika-bouten-";
constexpr std::string_view kBoutenPosition = " yomika-bouten-";
constexpr std::string_view kBoutenClose = "</em>";
constexpr std::string_view kTcyOpen = "<span class=\"yomika-tcy\">";
constexpr std::string_view kIndentOpen = "<span class=\"yomika-indent yomika-indent-";
constexpr std::string_view kDataAmount = "\" data-amount=\"";
constexpr std::string_view kAlignEndFlush = "<span class=\"yomika-align-end\" data-offset=\"0\"></span>";
constexpr std::string_view kAlignEndOpen = "<span class=\"yomika-align-end yomika-align-end-";
constexpr std::string_view kDataOffset = "\" data-offset=\"";
constexpr std::string_view kCommentOpen = "<!-- ";
constexpr std::string_view kCommentClose = " -->";
constexpr std::string_view kPageBreak = "<div class=\"yomika-page-break\"></div>";
constexpr std::string_view kSectionBreakOpen = "<div class=\"yomika-section-break yomika-section-break-";
constexpr std::string_view kKaeritenOpen = "<sup class=\"yomika-kaeriten\">";
constexpr std::string_view kKaeritenClose = "</sup>";
constexpr std::string_view kWarichuOpen = "<span class=\"yomika-warichu\">";
constexpr std::string_view kAnnotationOpen = "<span class=\"yomika-annotation\" hidden>";
constexpr std::string_view kDoubleRubyOpen = "<span class=\"yomika-double-ruby\">\xE2\x89\xAA";  // ≪
constexpr std::string_view kDoubleRubyClose = "\xE2\x89\xAB</span>";                              // ≫
constexpr std::string_view kGaijiCodepoints = "<span class=\"yomika-gaiji\" data-codepoint=\"";
constexpr std::string_view kGaijiDescription = "<span class=\"yomika-gaiji\" data-description=\"";
constexpr std::string_view kContainerIndent =
    "<div class=\"yomika-container yomika-container-indent yomika-container-indent-";
constexpr std::string_view kContainerWarichu = "<div class=\"yomika-container yomika-container-warichu\">";
constexpr std::string_view kContainerKeigakomi = "<div class=\"yomika-container yomika-container-keigakomi\">";
constexpr std::string_view kContainerAlignEnd =
    "<div class=\"yomika-container yomika-container-align-end\" data-offset=\"";

constexpr std::string_view kAmp = "&amp;";
constexpr std::string_view kLt = "&lt;";
constexpr std::string_view kGt = "&gt;";
constexpr std::string_view kQuot = "&quot;";
constexpr std::string_view kApos = "&#x27;";

constexpr std::string_view kBoutenKindNames[] = {
    "goma",  "white-sesame",   "circle",    "white-circle", "double-circle",     "janome",
    "cross", "white-triangle", "wavy-line", "under-line",   "double-under-line",
};
constexpr std::string_view kBoutenPositionNames[] = {"right", "left"};
constexpr std::string_view kSectionBreakNames[] = {"choho", "dan", "spread"};
constexpr std::string_view kWarichuComment = "yomika_warichu";
constexpr std::string_view kKeigakomiComment = "yomika_keigakomi";
constexpr std::string_view kHeadingComment = "yomika_heading";
constexpr std::string_view kHeadingHintComment = "yomika_heading_hint";
constexpr std::string_view kSashieComment = "yomika_sashie";
}  // namespace frag

template <std::size_t N>
std::string_view name_at(const std::string_view (&table)[N], unsigned i) {
  return i < N ? table[i] : std::string_view();
}

// Decimal without allocation.
void put_uint(uint32_t v, std::string& out) {
  char buf[10];
  int i = 10;
  do {
    buf[--i] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  out.append(buf + i, static_cast<std::size_t>(10 - i));
}

// "U+" and at least four upper-case hex digits.
void put_codepoint(uint32_t cp, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char buf[10];
  int i = 10;
  int digits = 0;
  do {
    buf[--i] = kHex[cp & 0xF];
    cp >>= 4;
    ++digits;
  } while (cp != 0 || digits < 4);
  buf[--i] = '+';
  buf[--i] = 'U';
  out.append(buf + i, static_cast<std::size_t>(10 - i));
}

// Escapes ranges of one text in order. Each of the three searches (any of < > &, then " and ')
// remembers its last hit, so a search runs again only once the writer has passed that hit: over
// a whole document every search crosses each byte once, however short the ranges between line
// feeds and sentinels are and however rare the special characters.
class Escaper {
 public:
  explicit Escaper(std::string_view text) : p_(text.data()), n_(text.size()) {}

  void write(std::size_t a, std::size_t b, std::string& out) {
    while (a < b) {
      if (next_markup_ == kUnknown || next_markup_ < a) next_markup_ = scan::find_byte3(p_, n_, a, '<', '>', '&');
      if (next_quot_ == kUnknown || next_quot_ < a) next_quot_ = scan::find_byte(p_, n_, a, '"');
      if (next_apos_ == kUnknown || next_apos_ < a) next_apos_ = scan::find_byte(p_, n_, a, '\'');
      std::size_t m = next_markup_;
      if (next_quot_ < m) m = next_quot_;
      if (next_apos_ < m) m = next_apos_;
      if (m >= b) {
        out.append(p_ + a, b - a);
        return;
      }
      out.append(p_ + a, m - a);
      switch (p_[m]) {
        case '&': out.append(frag::kAmp); break;
        case '<': out.append(frag::kLt); break;
        case '>': out.append(frag::kGt); break;
        case '"': out.append(frag::kQuot); break;
        case '\'': out.append(frag::kApos); break;
        default: fatal("internal error: entered unreachable code: escape iterator yielded non-needle byte");
      }
      a = m + 1;
    }
  }

 private:
  static constexpr std::size_t kUnknown = SIZE_MAX;
  const char* p_;
  std::size_t n_;
  std::size_t next_markup_ = kUnknown;
  std::size_t next_quot_ = kUnknown;
  std::size_t next_apos_ = kUnknown;
};

// Open warichu spans of the element being written. A document may mark a warichu end without a
// start or a start without an end; the fragment still nests: an end with nothing open writes
// nothing, and spans still open are closed where their paragraph or content ends. Null means a
// node written on its own, exactly as it is (no balancing).
struct WarichuBalance {
  uint32_t open = 0;
  void close_all(std::string& out);
};

void render_content(const Content& c, std::string& out);
void render_node_in(const YomikaNode& node, std::string& out, WarichuBalance* balance);

void render_gaiji(const GaijiRec& g, std::string& out) {
  using State = GaijiResolution::State;
  if (g.resolved.state == State::Unresolved) {
    out.append(frag::kGaijiDescription);
    escape_text(g.description, out);
    out.append(frag::kAttrEnd);
    escape_text(g.description, out);
    out.append(frag::kSpanClose);
    return;
  }
  char buf[4];
  std::string_view resolved;
  if (g.resolved.state == State::Char) {
    resolved = std::string_view(buf, encode_utf8(g.resolved.ch, buf));
  } else {
    resolved = g.resolved.text;
  }
  out.append(frag::kGaijiCodepoints);
  for (std::size_t i = 0; i < resolved.size();) {
    unsigned len;
    uint32_t cp = decode_utf8(resolved, i, len);
    if (i != 0) out.push_back(' ');
    put_codepoint(cp, out);
    i += len;
  }
  out.append(frag::kAttrEnd);
  escape_text(resolved, out);
  out.append(frag::kSpanClose);
}

void render_annotation(const AnnotationRec& a, std::string& out, WarichuBalance* balance) {
  switch (a.kind) {
    case AnnotationKind::WarichuOpen:
      out.append(frag::kWarichuOpen);
      if (balance) ++balance->open;
      return;
    case AnnotationKind::WarichuClose:
      if (balance) {
        if (balance->open == 0) return;
        --balance->open;
      }
      out.append(frag::kSpanClose);
      return;
    default:
      // Verbatim, and the codes no classifier produces, show the annotation as written.
      out.append(frag::kAnnotationOpen);
      escape_text(a.raw, out);
      out.append(frag::kSpanClose);
      return;
  }
}

void render_content(const Content& c, std::string& out) {
  if (c.form == Content::Form::Plain) {
    escape_text(c.text, out);
    return;
  }
  if (c.form != Content::Form::Segments) return;
  WarichuBalance balance;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Segment& s = c.segments[i];
    switch (s.code) {
      case SegmentCode::Text: escape_text(s.text, out); break;
      case SegmentCode::Gaiji: render_gaiji(*s.gaiji, out); break;
      case SegmentCode::Annotation: render_annotation(*s.annotation, out, &balance); break;
    }
  }
  balance.close_all(out);
}

void WarichuBalance::close_all(std::string& out) {
  for (; open > 0; --open) out.append(frag::kSpanClose);
}

void comment(std::string_view name, std::string& out) {
  out.append(frag::kCommentOpen);
  out.append(name);
  out.append(frag::kCommentClose);
}

void render_container_open(ContainerKind kind, uint8_t amount, std::string& out) {
  switch (kind) {
    case ContainerKind::Indent:
      out.append(frag::kContainerIndent);
      put_uint(amount, out);
      out.append(frag::kDataAmount);
      put_uint(amount, out);
      out.append(frag::kAttrEnd);
      return;
    case ContainerKind::Warichu:
      out.append(frag::kContainerWarichu);
      return;
    case ContainerKind::Keigakomi:
      out.append(frag::kContainerKeigakomi);
      return;
    case ContainerKind::AlignEnd:
      out.append(frag::kContainerAlignEnd);
      put_uint(amount, out);
      out.append(frag::kAttrEnd);
      return;
  }
}

class Walker {
 public:
  Walker(const ParseResult& r, std::string& out) : text_(r.normalized), registry_(r.registry), out_(out), esc_(text_) {}

  void run() {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    std::size_t from = 0;
    for (;;) {
      std::size_t h = scan::find_byte2(p, n, from, '\n', '\xEE');
      if (h >= n) break;
      if (p[h] == '\n') {
        write_pending_text(h);
        line_feed(h);
        pos_ = h + 1;
      } else if (p[h] == '\xEE') {
        EntryKind kind = sentinel_kind_at(text_, h);
        if (kind == EntryKind::Absent) {
          // Another private-use character: it stays in the pending text.
          from = h + 1;
          continue;
        }
        write_pending_text(h);
        sentinel(h, kind);
        pos_ = h + 3;
      } else {
        fatal("internal error: entered unreachable code: memchr2 hit non-needle byte");
      }
      from = pos_;
    }
    if (pos_ < n) {
      write_pending_text(n);
      close_paragraph();
    } else if (in_paragraph_) {
      close_paragraph();
    }
  }

 private:
  void open_paragraph() {
    if (in_paragraph_) return;
    if (pending_newline_) out_.append(frag::kNewline);
    out_.append(frag::kParagraphOpen);
    pending_newline_ = false;
    in_paragraph_ = true;
  }

  void close_paragraph() {
    warichu_.close_all(out_);
    out_.append(frag::kParagraphClose);
  }

  void write_pending_text(std::size_t h) {
    if (pos_ >= h) return;
    open_paragraph();
    esc_.write(pos_, h, out_);
  }

  // One line feed is a line break, a blank line ends the paragraph, further empty lines and a
  // final line feed add nothing.
  void line_feed(std::size_t h) {
    if (h + 1 == text_.size()) return;
    if (text_[h + 1] != '\n') {
      if (in_paragraph_) out_.append(frag::kLineBreak);
    } else if (in_paragraph_) {
      close_paragraph();
      pending_newline_ = false;
      in_paragraph_ = false;
    }
  }

  void sentinel(std::size_t h, EntryKind kind) {
    RegistryEntry e = matched_entry(registry_, h, kind);
    if (e.kind == EntryKind::Absent) return;  // no entry, or one of another kind: nothing shown
    if (kind == EntryKind::Inline) {
      open_paragraph();
      render_node_in(e.node, out_, &warichu_);
      return;
    }
    if (in_paragraph_) {
      close_paragraph();
    } else if (pending_newline_) {
      out_.append(frag::kNewline);
    }
    switch (kind) {
      case EntryKind::Block: render_node(e.node, out_); break;
      case EntryKind::ContainerOpen: render_container_open(e.container, e.amount, out_); break;
      default: out_.append(frag::kDivClose); break;
    }
    pending_newline_ = true;
    in_paragraph_ = false;
  }

  std::string_view text_;
  const SentinelRegistry& registry_;
  std::string& out_;
  Escaper esc_;
  std::size_t pos_ = 0;
  bool in_paragraph_ = false;
  bool pending_newline_ = false;
  WarichuBalance warichu_;  // warichu spans open in the current paragraph
};

}  // namespace

void escape_text(std::string_view text, std::string& out) {
  Escaper esc(text);
  esc.write(0, text.size(), out);
}

void render_node(const YomikaNode& node, std::string& out) { render_node_in(node, out, nullptr); }

namespace {

void render_node_in(const YomikaNode& node, std::string& out, WarichuBalance* balance) {
  switch (node.kind) {
    case NodeKind::Ruby: {
      const RubyRec& r = node.ruby();
      out.append(frag::kRubyOpen);
      render_content(r.base, out);
      out.append(frag::kRubyReading);
      render_content(r.reading, out);
      out.append(frag::kRubyClose);
      return;
    }
    case NodeKind::Bouten: {
      const BoutenRec& b = node.bouten();
      out.append(frag::kBoutenOpen);
      out.append(name_at(frag::kBoutenKindNames, static_cast<unsigned>(b.kind)));
      out.append(frag::kBoutenPosition);
      out.append(name_at(frag::kBoutenPositionNames, static_cast<unsigned>(b.position)));
      out.append(frag::kAttrEnd);
      render_content(b.target, out);
      out.append(frag::kBoutenClose);
      return;
    }
    case NodeKind::TateChuYoko:
      out.append(frag::kTcyOpen);
      render_content(node.tcy().text, out);
      out.append(frag::kSpanClose);
      return;
    case NodeKind::Gaiji:
      render_gaiji(node.gaiji(), out);
      return;
    case NodeKind::Indent:
      out.append(frag::kIndentOpen);
      put_uint(node.a, out);
      out.append(frag::kDataAmount);
      put_uint(node.a, out);
      out.append(frag::kEmptySpanEnd);
      return;
    case NodeKind::AlignEnd:
      if (node.a == 0) {
        out.append(frag::kAlignEndFlush);
        return;
      }
      out.append(frag::kAlignEndOpen);
      put_uint(node.a, out);
      out.append(frag::kDataOffset);
      put_uint(node.a, out);
      out.append(frag::kEmptySpanEnd);
      return;
    case NodeKind::Warichu:
      comment(frag::kWarichuComment, out);
      return;
    case NodeKind::Keigakomi:
      comment(frag::kKeigakomiComment, out);
      return;
    case NodeKind::PageBreak:
      out.append(frag::kPageBreak);
      return;
    case NodeKind::SectionBreak:
      out.append(frag::kSectionBreakOpen);
      out.append(name_at(frag::kSectionBreakNames, node.a));
      out.append(frag::kEmptyDivEnd);
      return;
    case NodeKind::Heading:
      comment(frag::kHeadingComment, out);
      return;
    case NodeKind::HeadingHint:
      comment(frag::kHeadingHintComment, out);
      return;
    case NodeKind::Sashie:
      comment(frag::kSashieComment, out);
      return;
    case NodeKind::Kaeriten:
      out.append(frag::kKaeritenOpen);
      escape_text(node.kaeriten().mark, out);
      out.append(frag::kKaeritenClose);
      return;
    case NodeKind::Annotation:
      render_annotation(node.annotation(), out, balance);
      return;
    case NodeKind::DoubleRuby:
      out.append(frag::kDoubleRubyOpen);
      render_content(node.double_ruby().content, out);
      out.append(frag::kDoubleRubyClose);
      return;
    case NodeKind::Container:
      render_container_open(static_cast<ContainerKind>(node.a), node.b, out);
      return;
  }
}

}  // namespace

std::string render_result_html(const ParseResult& result) {
  std::string out;
  // Escapes and markup rarely double the text; one allocation covers nearly every document.
  out.reserve(result.normalized.size() * 2);
  Walker(result, out).run();
  return out;
}

bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal) {
  ParseResult r;
  if (!parse_document(doc, r, refusal)) return false;
  out = render_result_html(r);
  return true;
}

}  // namespace yomika::render
