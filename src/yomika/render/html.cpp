// The HTML renderer: walks the normalized text, turns line feeds into paragraphs and line breaks,
// escapes the text between sentinels and writes one element per construct.
#include "yomika/render/html.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "yomika/alloc/fatal.hpp"
#include "yomika/alloc/pages.hpp"
#include "yomika/model/decimal.hpp"
#include "yomika/model/sentinel.hpp"
#include "yomika/render/short_copy.hpp"
#include "yomika/render/utf16_out.hpp"
#include "yomika/render/walk.hpp"
#include "yomika/syntax/phrase.hpp"
#include "yomika/syntax/vocabulary.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/model/span.hpp"

namespace yomika::render {

namespace {

// Every fixed piece of HTML the renderer writes, its class names taken from the vocabulary. A
// value in between two pieces (a number, a name, a text) is filled in by the code that writes them.
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
constexpr std::string_view kSpanClass = "<span class=\"";
constexpr std::string_view kDivClass = "<div class=\"";
constexpr std::string_view kDataAmount = "\" data-amount=\"";
constexpr std::string_view kDataOffset = "\" data-offset=\"";
constexpr std::string_view kCommentOpen = "<!-- ";
constexpr std::string_view kCommentClose = " -->";

using vocab::css_class;
constexpr std::string_view css(NodeKind k) { return vocab::node_kind(k).css; }
constexpr std::string_view css(ContainerKind k) { return vocab::container(k).css; }

constexpr std::string_view kRubyOpen = "<ruby>";
constexpr std::string_view kRubyReading = "<rp>(</rp><rt>";
constexpr std::string_view kRubyClose = "</rt><rp>)</rp></ruby>";
// Each followed by the class suffix of the kind, and of the position.
constexpr Phrase kBoutenOpen{"<em class=\"", css_class(css(NodeKind::Bouten)), " ",
                             css_class(css(NodeKind::Bouten), "")};
constexpr Phrase kBoutenPosition{" ", css_class(css(NodeKind::Bouten), "")};
constexpr std::string_view kBoutenClose = "</em>";
constexpr Phrase kTcyOpen{kSpanClass, css_class(css(NodeKind::TateChuYoko)), kAttrEnd};
constexpr Phrase kIndentOpen{kSpanClass, css_class(css(NodeKind::Indent)), " ", css_class(css(NodeKind::Indent), "")};
constexpr Phrase kAlignEndFlush{kSpanClass, css_class(css(NodeKind::AlignEnd)), kDataOffset, "0", kEmptySpanEnd};
constexpr Phrase kAlignEndOpen{kSpanClass, css_class(css(NodeKind::AlignEnd)), " ",
                               css_class(css(NodeKind::AlignEnd), "")};
constexpr Phrase kPageBreak{kDivClass, css_class(css(NodeKind::PageBreak)), kEmptyDivEnd};
constexpr Phrase kSectionBreakOpen{kDivClass, css_class(css(NodeKind::SectionBreak)), " ",
                                   css_class(css(NodeKind::SectionBreak), "")};
constexpr Phrase kKaeritenOpen{"<sup class=\"", css_class(css(NodeKind::Kaeriten)), kAttrEnd};
constexpr std::string_view kKaeritenClose = "</sup>";
constexpr Phrase kWarichuOpen{kSpanClass, css_class(css(NodeKind::Warichu)), kAttrEnd};
constexpr Phrase kAnnotationOpen{kSpanClass, css_class(css(NodeKind::Annotation)), "\" hidden>"};
constexpr Phrase kDoubleRubyOpen{kSpanClass, css_class(css(NodeKind::DoubleRuby)), kAttrEnd, "\xE2\x89\xAA"};  // ≪
constexpr Phrase kDoubleRubyClose{"\xE2\x89\xAB", kSpanClose};                                      // ≫
constexpr Phrase kGaijiCodepoints{kSpanClass, css_class(css(NodeKind::Gaiji)), "\" data-codepoint=\""};
constexpr Phrase kGaijiDescription{kSpanClass, css_class(css(NodeKind::Gaiji)), "\" data-description=\""};

// A block's div: its classes, the kind's, and for an indent one more that its amount completes.
constexpr Phrase container_div(ContainerKind k) {
  return Phrase{kDivClass, css_class(css(NodeKind::Container)), " ", css_class(css(NodeKind::Container), css(k))};
}
constexpr Phrase kContainerIndent{container_div(ContainerKind::Indent), " ",
                                  css_class(css(NodeKind::Container), css(ContainerKind::Indent)), "-"};
constexpr Phrase kContainerWarichu{container_div(ContainerKind::Warichu), kAttrEnd};
constexpr Phrase kContainerKeigakomi{container_div(ContainerKind::Keigakomi), kAttrEnd};
constexpr Phrase kContainerAlignEnd{container_div(ContainerKind::AlignEnd), kDataOffset};
}  // namespace frag

// ---- Escaping: the one table the three escaping paths derive their bytes from -------------------

struct Entity {
  char c;
  std::string_view text;
};
constexpr Entity kEntities[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#x27;"}};

// The entity of each byte, empty for a byte written as it is.
constexpr auto kEntityOf = [] {
  std::array<std::string_view, 256> t{};
  for (const Entity& e : kEntities) t[static_cast<unsigned char>(e.c)] = e.text;
  return t;
}();

// Whether each byte is escaped: the short texts' test, a byte per entry.
constexpr auto kNeedsEscape = [] {
  std::array<bool, 256> t{};
  for (std::size_t b = 0; b < t.size(); ++b) t[b] = !kEntityOf[b].empty();
  return t;
}();

// The escaped bytes, for the block searches of long texts.
constexpr auto kEscaped = [] {
  std::array<char, std::size(kEntities)> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = kEntities[i].c;
  return t;
}();

// The bytes the walk of the normalized text stops at: a line feed, the lead byte of a sentinel,
// and the bytes that the pending text escapes.
constexpr auto kWalkStops = [] {
  std::array<char, 2 + kEscaped.size()> t{'\n', sentinel::kLead};
  for (std::size_t i = 0; i < kEscaped.size(); ++i) t[2 + i] = kEscaped[i];
  return t;
}();
static_assert(kWalkStops.size() <= 8, "the byte searches take at most eight bytes");

// Short texts are tested a word at a time for a byte below 0x40 (see short_needs_escape), and the
// bytes of kana and kanji are all 0x80 or above.
constexpr bool escapes_only_bytes_below_0x40() {
  for (const Entity& e : kEntities) {
    if (static_cast<unsigned char>(e.c) >= 0x40) return false;
  }
  return true;
}
static_assert(escapes_only_bytes_below_0x40());

// PERF NOTES. The output goes through a staging buffer on the stack: markup fragments, entities
// and node strings are copied there with inline copies of a few bytes, and the buffer goes to the
// string in one append when full. Appending each fragment to the std::string was a call into the
// library per fragment (a dozen per ruby). Runs of text longer than a fragment go to the string
// directly, so the text itself is still copied once. Together with the walk's single pass
// (Stops) and the registry cursor this took the renderer from 0.4 to 0.9 GB/s on a text dense
// with constructs, and from 3.6 to 5 GB/s on the corpus.
class Out {
 public:
  explicit Out(std::string& s) : s_(s) {}
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  ~Out() { flush(); }

  // Inlined, so that a fragment of known length is copied with a few moves.
  __attribute__((always_inline)) void put(const char* p, std::size_t k) {
    if (k <= kDirect && k <= kStage - n_) [[likely]] {
      copy_short(buf_ + n_, p, k);
      n_ += k;
      return;
    }
    put_slow(p, k);
  }
  void put(std::string_view v) { put(v.data(), v.size()); }
  void put(char c) {
    if (n_ == kStage) flush();
    buf_[n_++] = c;
  }
  void flush() {
    s_.append(buf_, n_);
    n_ = 0;
  }

  // k ASCII bytes (k at most kDirect) that `write` writes in place: formatted into a buffer of
  // their own, numbers and code points would be copied with the general copy, which reads up to
  // 16 bytes.
  template <class F>
  void put_ascii(std::size_t k, F&& write) {
    if (k > kStage - n_) flush();
    write(buf_ + n_);
    n_ += k;
  }

 private:
  __attribute__((noinline)) void put_slow(const char* p, std::size_t k) {
    flush();
    if (k > kDirect) {
      s_.append(p, k);
      return;
    }
    std::memcpy(buf_, p, k);
    n_ = k;
  }

  static constexpr std::size_t kStage = 4096;
  static constexpr std::size_t kDirect = 64;
  std::string& s_;
  std::size_t n_ = 0;
  char buf_[kStage];
};

template <class O>
void put_decimal(uint32_t v, O& out) {
  const unsigned n = decimal_length(v);
  out.put_ascii(n, [&](char* d) { write_decimal(v, d, n); });
}

// An element that carries its amount twice, in a class that `open` ends with and in the data
// attribute that `attribute` opens.
template <class O>
void put_amount_element(std::string_view open, uint32_t amount, std::string_view attribute, std::string_view end,
                        O& out) {
  out.put(open);
  put_decimal(amount, out);
  out.put(attribute);
  put_decimal(amount, out);
  out.put(end);
}

// "U+" and at least four upper-case hex digits.
template <class O>
void put_codepoint(uint32_t cp, O& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const unsigned bits = static_cast<unsigned>(std::bit_width(cp));
  const unsigned digits = bits > 16 ? (bits + 3) / 4 : 4;
  out.put_ascii(2 + digits, [&](char* d) {
    d[0] = 'U';
    d[1] = '+';
    for (unsigned i = 2 + digits; i-- > 2; cp >>= 4) d[i] = kHex[cp & 0xF];
  });
}

template <class O>
void put_entity(char c, O& out) {
  const std::string_view entity = kEntityOf[static_cast<unsigned char>(c)];
  if (entity.empty()) fatal("internal error: entered unreachable code: escape iterator yielded non-needle byte");
  out.put(entity);
}

// Writes text[a, b) escaped; `text` is searched from a for the characters to escape.
template <class O>
void write_escaped(const char* p, std::size_t a, std::size_t b, O& out) {
  while (a < b) {
    const std::size_t m = scan::find_any(p, b, a, kEscaped.data(), kEscaped.size());
    out.put(p + a, m - a);
    if (m >= b) return;
    put_entity(p[m], out);
    a = m + 1;
  }
}

// Whether any of the n (at most 64) bytes at p needs escaping. Every such character is below
// 0x40, and the bytes of kana and kanji are all 0x80 or above: a text with no byte below 0x40
// needs no look at its bytes.
//
// PERF: the bytes are read as whole words, the last word overlapping the one before it. Copying
// a short remainder into a word byte by byte and reading the word back stalled every time (a
// load wider than the stores it must wait for), which was half the time of this function.
inline bool short_needs_escape(const char* p, std::size_t n) {
  constexpr uint64_t kOnes = ~uint64_t{0} / 255;
  auto below_0x40 = [](uint64_t w) { return ((w - kOnes * 0x40) & ~w & (kOnes * 0x80)) != 0; };
  bool low;
  if (n >= 8) {
    uint64_t w;
    low = false;
    for (std::size_t i = 0; i + 8 < n && !low; i += 8) {
      std::memcpy(&w, p + i, 8);
      low = below_0x40(w);
    }
    std::memcpy(&w, p + n - 8, 8);
    low = low || below_0x40(w);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    low = below_0x40(a | (uint64_t{b} << 32));
  } else {
    low = false;
    for (std::size_t i = 0; i < n; ++i) low = low || static_cast<unsigned char>(p[i]) < 0x40;
  }
  if (!low) return false;
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) any |= kNeedsEscape[static_cast<unsigned char>(p[i])];
  return any;
}

template <class O>
void escape_into(std::string_view text, O& out) {
  // PERF: node strings (readings, bases, marks) are a few characters long; a test per eight bytes
  // settles them with one copy, where a block search costs a call and a set-up whatever the
  // length.
  if (text.size() <= 64 && !short_needs_escape(text.data(), text.size())) {
    out.put(text);
    return;
  }
  write_escaped(text.data(), 0, text.size(), out);
}

// Open warichu spans of the element being written. A document may mark a warichu end without a
// start or a start without an end; the fragment still nests: an end with nothing open writes
// nothing, and spans still open are closed where their paragraph or content ends. Null means a
// node written on its own, exactly as it is (no balancing).
struct WarichuBalance {
  uint32_t open = 0;
  template <class O>
  void close_all(O& out) {
    for (; open > 0; --open) out.put(frag::kSpanClose);
  }
};

// Whether notes kept verbatim are written, as hidden spans, or left out (the reader's page).
enum class Notes : uint8_t { Hidden, Omitted };

template <class O>
void render_content(const Content& c, O& out, Notes notes);
template <class O>
void render_node_in(const YomikaNode& node, O& out, WarichuBalance* balance, Notes notes = Notes::Hidden);

template <class O>
void render_gaiji(const GaijiRec& g, O& out) {
  using State = GaijiResolution::State;
  if (g.resolved.state == State::Unresolved) {
    out.put(frag::kGaijiDescription);
    escape_into(g.description, out);
    out.put(frag::kAttrEnd);
    escape_into(g.description, out);
    out.put(frag::kSpanClose);
    return;
  }
  char buf[4];
  std::string_view resolved;
  if (g.resolved.state == State::Char) {
    resolved = std::string_view(buf, encode_utf8(g.resolved.ch, buf));
  } else {
    resolved = g.resolved.text;
  }
  out.put(frag::kGaijiCodepoints);
  for (std::size_t i = 0; i < resolved.size();) {
    unsigned len;
    uint32_t cp = decode_utf8(resolved, i, len);
    if (i != 0) out.put(' ');
    put_codepoint(cp, out);
    i += len;
  }
  out.put(frag::kAttrEnd);
  escape_into(resolved, out);
  out.put(frag::kSpanClose);
}

template <class O>
void render_annotation(const AnnotationRec& a, O& out, WarichuBalance* balance, Notes notes) {
  switch (a.kind) {
    case AnnotationKind::WarichuOpen:
      out.put(frag::kWarichuOpen);
      if (balance) ++balance->open;
      return;
    case AnnotationKind::WarichuClose:
      if (balance) {
        if (balance->open == 0) return;
        --balance->open;
      }
      out.put(frag::kSpanClose);
      return;
    default:
      // Verbatim, and the codes no classifier produces, show the annotation as written.
      if (notes == Notes::Omitted) return;
      out.put(frag::kAnnotationOpen);
      escape_into(a.raw, out);
      out.put(frag::kSpanClose);
      return;
  }
}

template <class O>
void render_content(const Content& c, O& out, Notes notes) {
  if (c.form == Content::Form::Plain) {
    escape_into(c.text(), out);
    return;
  }
  if (c.form != Content::Form::Segments) return;
  WarichuBalance balance;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Segment& s = c.segments()[i];
    switch (s.code) {
      case SegmentCode::Text: escape_into(s.text, out); break;
      case SegmentCode::Gaiji: render_gaiji(*s.gaiji, out); break;
      case SegmentCode::Annotation: render_annotation(*s.annotation, out, &balance, notes); break;
    }
  }
  balance.close_all(out);
}

template <class O>
void comment(std::string_view name, O& out) {
  out.put(frag::kCommentOpen);
  out.put(name);
  out.put(frag::kCommentClose);
}

template <class O>
void render_container_open(ContainerKind kind, uint8_t amount, O& out) {
  switch (kind) {
    case ContainerKind::Indent:
      put_amount_element(frag::kContainerIndent, amount, frag::kDataAmount, frag::kAttrEnd, out);
      return;
    case ContainerKind::Warichu:
      out.put(frag::kContainerWarichu);
      return;
    case ContainerKind::Keigakomi:
      out.put(frag::kContainerKeigakomi);
      return;
    case ContainerKind::AlignEnd:
      out.put(frag::kContainerAlignEnd);
      put_decimal(amount, out);
      out.put(frag::kAttrEnd);
      return;
  }
}

template <class O>
class Walker {
 public:
  Walker(const ParseResult& r, O& out)
      : text_(r.normalized), entries_(r), out_(out), stops_(r.normalized, kWalkStops.data(), kWalkStops.size()) {}

  void run() {
    const char* p = text_.data();
    const std::size_t n = text_.size();
    std::size_t from = 0;
    for (;;) {
      std::size_t h = stops_.next(from);
      if (h >= n) break;
      const char c = p[h];
      if (c == '\n') {
        write_pending_text(h);
        line_feed(h);
        pos_ = h + 1;
      } else if (c == sentinel::kLead) {
        EntryKind kind = sentinel::kind_at(text_, h);
        if (kind == EntryKind::Absent) {
          // Another private-use character: it stays in the pending text.
          from = h + 1;
          continue;
        }
        write_pending_text(h);
        on_sentinel(h, kind);
        pos_ = h + sentinel::kLength;
      } else {
        // A character to escape, inside the pending text.
        open_paragraph();
        out_.put(p + pos_, h - pos_);
        put_entity(c, out_);
        pos_ = h + 1;
      }
      from = pos_;
    }
    write_pending_text(n);
    if (in_paragraph_) close_paragraph();
    // Blocks still open where the text ends are closed there, so the fragment can stand inside a
    // page without leaving the page's own elements open.
    for (; containers_ > 0; --containers_) {
      if (pending_newline_) out_.put(frag::kNewline);
      out_.put(frag::kDivClose);
      pending_newline_ = true;
    }
  }

 private:
  void open_paragraph() {
    if (in_paragraph_) return;
    if (pending_newline_) out_.put(frag::kNewline);
    out_.put(frag::kParagraphOpen);
    pending_newline_ = false;
    in_paragraph_ = true;
  }

  void close_paragraph() {
    warichu_.close_all(out_);
    out_.put(frag::kParagraphClose);
    in_paragraph_ = false;
  }

  // The pending text [pos_, h) holds nothing to escape: the walk stopped at each such character.
  void write_pending_text(std::size_t h) {
    if (pos_ >= h) return;
    open_paragraph();
    out_.put(text_.data() + pos_, h - pos_);
  }

  // One line feed is a line break, a blank line ends the paragraph, further empty lines and a
  // final line feed add nothing.
  void line_feed(std::size_t h) {
    if (h + 1 == text_.size()) return;
    if (text_[h + 1] != '\n') {
      if (in_paragraph_) out_.put(frag::kLineBreak);
    } else if (in_paragraph_) {
      close_paragraph();
      pending_newline_ = false;
    }
  }

  void on_sentinel(std::size_t h, EntryKind kind) {
    RegistryEntry e = entries_.matched(h, kind);
    if (e.kind == EntryKind::Absent) return;  // no entry, or one of another kind: nothing shown
    if (kind == EntryKind::Inline) {
      open_paragraph();
      render_node_in(e.node, out_, &warichu_);
      return;
    }
    if (kind == EntryKind::ContainerClose && containers_ == 0) {
      // A block end with no block open closes nothing: writing </div> would close an element of
      // whatever page holds the fragment.
      if (in_paragraph_) {
        close_paragraph();
        pending_newline_ = false;
      }
      return;
    }
    if (in_paragraph_) {
      close_paragraph();
    } else if (pending_newline_) {
      out_.put(frag::kNewline);
    }
    switch (kind) {
      case EntryKind::Block: render_node_in(e.node, out_, nullptr); break;
      case EntryKind::ContainerOpen:
        render_container_open(e.container, e.amount, out_);
        ++containers_;
        break;
      default:
        // Closes the innermost block, whatever kind it is.
        out_.put(frag::kDivClose);
        --containers_;
        break;
    }
    pending_newline_ = true;
    in_paragraph_ = false;
  }

  std::string_view text_;
  RegistryCursor entries_;
  O& out_;
  Stops stops_;
  std::size_t pos_ = 0;
  bool in_paragraph_ = false;
  bool pending_newline_ = false;
  WarichuBalance warichu_;  // warichu spans open in the current paragraph
  std::size_t containers_ = 0;  // container divs open
};

}  // namespace

void escape_text(std::string_view text, std::string& out) {
  Out o(out);
  escape_into(text, o);
}

void render_node(const YomikaNode& node, std::string& out) {
  Out o(out);
  render_node_in(node, o, nullptr);
}

void render_node_for_reader(const YomikaNode& node, std::string& out) {
  Out o(out);
  render_node_in(node, o, nullptr, Notes::Omitted);
}


namespace {

template <class O>
void render_node_in(const YomikaNode& node, O& out, WarichuBalance* balance, Notes notes) {
  switch (node.kind) {
    case NodeKind::Ruby: {
      const RubyRec& r = node.ruby();
      out.put(frag::kRubyOpen);
      render_content(r.base, out, notes);
      out.put(frag::kRubyReading);
      render_content(r.reading, out, notes);
      out.put(frag::kRubyClose);
      return;
    }
    case NodeKind::Bouten: {
      const BoutenRec& b = node.bouten();
      out.put(frag::kBoutenOpen);
      out.put(vocab::bouten(b.kind).css);
      out.put(frag::kBoutenPosition);
      out.put(vocab::position(b.position).css);
      out.put(frag::kAttrEnd);
      render_content(b.target, out, notes);
      out.put(frag::kBoutenClose);
      return;
    }
    case NodeKind::TateChuYoko:
      out.put(frag::kTcyOpen);
      render_content(node.tcy().text, out, notes);
      out.put(frag::kSpanClose);
      return;
    case NodeKind::Gaiji:
      render_gaiji(node.gaiji(), out);
      return;
    case NodeKind::Indent:
      put_amount_element(frag::kIndentOpen, node.a, frag::kDataAmount, frag::kEmptySpanEnd, out);
      return;
    case NodeKind::AlignEnd:
      if (node.a == 0) {
        out.put(frag::kAlignEndFlush);
        return;
      }
      put_amount_element(frag::kAlignEndOpen, node.a, frag::kDataOffset, frag::kEmptySpanEnd, out);
      return;
    case NodeKind::Warichu:
    case NodeKind::Keigakomi:
      comment(vocab::node_kind(node.kind).marker, out);
      return;
    case NodeKind::PageBreak:
      out.put(frag::kPageBreak);
      return;
    case NodeKind::SectionBreak:
      out.put(frag::kSectionBreakOpen);
      out.put(vocab::section_break(static_cast<SectionBreakKind>(node.a)).css);
      out.put(frag::kEmptyDivEnd);
      return;
    case NodeKind::Heading:
    case NodeKind::HeadingHint:
    case NodeKind::Sashie:
      comment(vocab::node_kind(node.kind).marker, out);
      return;
    case NodeKind::Kaeriten:
      out.put(frag::kKaeritenOpen);
      escape_into(node.kaeriten().mark, out);
      out.put(frag::kKaeritenClose);
      return;
    case NodeKind::Annotation:
      render_annotation(node.annotation(), out, balance, notes);
      return;
    case NodeKind::DoubleRuby:
      out.put(frag::kDoubleRubyOpen);
      render_content(node.double_ruby().content, out, notes);
      out.put(frag::kDoubleRubyClose);
      return;
    case NodeKind::Container:
      render_container_open(static_cast<ContainerKind>(node.a), node.b, out);
      return;
  }
}

}  // namespace

std::string render_result_html(const ParseResult& result) {
  std::string out;
  render_result_html(result, out);
  return out;
}

void render_result_html(const ParseResult& result, std::string& out) {
  out.clear();
  // Escapes rarely double the text, and a node's markup takes some 55 to 60 bytes on real books
  // (more than the text's own size in the densest), so one allocation covers nearly every
  // document: growing the string copies all of it written so far.
  const std::size_t n = result.normalized.size();
  const std::size_t want = std::max(n * 2, n + result.node_count * 80);
  if (out.capacity() < want) {
    out.reserve(want);
    advise_huge_pages(out.data(), out.capacity());
  }
  Out o(out);
  Walker(result, o).run();
}

Utf16Text render_result_html_utf16(const ParseResult& result, Utf16Buffer& buffer) {
  // Kana and kanji take a unit for three bytes; half a unit per byte leaves room for the line
  // markup, and each node's markup takes some 40 to 60 units. Past that the storage grows.
  const std::size_t n = result.normalized.size();
  Utf16Out o(buffer, n / 2 + result.node_count * 64 + 64);
  Walker(result, o).run();
  return o.finish();
}

bool render_html(const YomikaDoc& doc, std::string& out, std::string& refusal) {
  ParseResult r;
  if (!parse_document(doc, r, refusal)) return false;
  render_result_html(r, out);
  return true;
}

}  // namespace yomika::render
