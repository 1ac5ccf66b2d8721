// The reader's renderer. The normalized text is first cut into lines of items (text runs and
// inline nodes) and block lines; each line then becomes one element: a paragraph, a heading, a
// figure, or nothing when it only opens or closes a block. Ranges that a line leaves open are
// closed at its end and opened again on the next line, so every element nests.
#include "yomika/render/reader.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "yomika/model/sentinel.hpp"
#include "yomika/render/html.hpp"
#include "yomika/render/walk.hpp"
#include "yomika/syntax/vocabulary.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/model/span.hpp"

namespace yomika::render::reader {

namespace {

// A part grows to about this much markup before it is cut at the next line outside any block, so
// that no document of an e-book is huge.
constexpr std::size_t kSectionBytes = 192 * 1024;

// Ranges a line can have open, and blocks the text can have open, at once. Each new line opens
// the ranges the last one left open again, and each new part the blocks: without a bound, a text
// that opens one on every line and never closes it would cost the square of its length. Real
// books nest a few deep; openers past the bound are left out.
constexpr std::size_t kMaxRanges = 16;
constexpr std::size_t kMaxBlocks = 32;

// ---- Plain text ----------------------------------------------------------------------------

void append_utf8(uint32_t cp, std::string& out) {
  char buf[4];
  out.append(buf, encode_utf8(cp, buf));
}

void content_plain(const Content& c, std::string& out);

void gaiji_plain(const GaijiRec& g, std::string& out) {
  switch (g.resolved.state) {
    case GaijiResolution::State::Char: append_utf8(g.resolved.ch, out); break;
    case GaijiResolution::State::Text: out.append(g.resolved.text); break;
    default: out.append(g.description); break;
  }
}

void content_plain(const Content& c, std::string& out) {
  if (c.form == Content::Form::Plain) {
    out.append(c.text());
    return;
  }
  if (c.form != Content::Form::Segments) return;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Segment& s = c.segments()[i];
    if (s.code == SegmentCode::Text) out.append(s.text);
    if (s.code == SegmentCode::Gaiji) gaiji_plain(*s.gaiji, out);
  }
}

// What a reader reads of a node, without its markup: a ruby's base, an emphasis's target.
std::string node_plain(const YomikaNode& n) {
  std::string out;
  switch (n.kind) {
    case NodeKind::Ruby: content_plain(n.ruby().base, out); break;
    case NodeKind::Bouten: content_plain(n.bouten().target, out); break;
    case NodeKind::TateChuYoko: content_plain(n.tcy().text, out); break;
    case NodeKind::Gaiji: gaiji_plain(n.gaiji(), out); break;
    case NodeKind::DoubleRuby: content_plain(n.double_ruby().content, out); break;
    default: break;
  }
  return out;
}

std::string escaped(std::string_view s) {
  std::string out;
  escape_text(s, out);
  return out;
}

std::string number(uint32_t v) { return std::to_string(v); }

// ---- Lines ---------------------------------------------------------------------------------

struct Item {
  bool node = false;
  uint32_t a = 0, b = 0;  // text: a range of the normalized text
  RegistryEntry entry{};  // node
  Span source{};          // node: its span in the parsed text
};

struct Line {
  bool block = false;             // a block, container boundary or its own line
  std::size_t first = 0, count = 0;  // items of a text line
  RegistryEntry entry{};          // block
  Span source{};
};

bool is_block_kind(EntryKind k) {
  return k == EntryKind::Block || k == EntryKind::ContainerOpen || k == EntryKind::ContainerClose;
}

// Cuts the normalized text into lines. A block stands as LF LF, its sentinel, LF LF: those four
// line feeds are the layout's, not the text's, and the one line feed after them, if any, ends the
// block's own line in the source.
class LineCutter {
 public:
  LineCutter(const ParseResult& r, std::vector<Line>& lines, std::vector<Item>& items)
      : r_(r), t_(r.normalized), lines_(lines), items_(items), cursor_(r) {}

  void run() {
    static constexpr char kStops[] = {'\n', sentinel::kLead};
    const std::size_t n = t_.size();
    std::size_t pos = 0, from = 0;
    for (;;) {
      std::size_t h = scan::find_any(t_.data(), n, from, kStops, sizeof kStops);
      if (h >= n) break;
      if (t_[h] == sentinel::kLead) {
        EntryKind kind = sentinel::kind_at(t_, h);
        if (kind == EntryKind::Absent) {
          from = h + 1;  // another private-use character: text
          continue;
        }
        add_text(pos, h);
        pos = from = after_sentinel(h, kind);
        continue;
      }
      add_text(pos, h);
      if (block_lead(h)) {
        if (has_) end_line();
        pos = from = h + sentinel::kLineFeeds;
        continue;
      }
      end_line();
      pos = from = h + 1;
    }
    add_text(pos, n);
    if (has_) end_line();
  }

 private:
  // Whether the line feed at h begins the line feeds in front of a block's sentinel.
  bool block_lead(std::size_t h) const {
    static_assert(sentinel::kLineFeeds == 2);
    return h + 2 < t_.size() && t_[h + 1] == '\n' && is_block_kind(sentinel::kind_at(t_, h + 2));
  }

  void add_text(std::size_t a, std::size_t b) {
    if (a >= b) return;
    Item it;
    it.a = static_cast<uint32_t>(a);
    it.b = static_cast<uint32_t>(b);
    items_.push_back(it);
    has_ = true;
  }

  void end_line() {
    Line l;
    l.first = first_;
    l.count = items_.size() - first_;
    lines_.push_back(l);
    first_ = items_.size();
    has_ = false;
  }

  Span source_of_last() const {
    std::size_t k = cursor_.rank();
    return k < r_.node_count ? r_.nodes[k].span : Span{};
  }

  // Returns where the text goes on after the sentinel at h.
  std::size_t after_sentinel(std::size_t h, EntryKind kind) {
    RegistryEntry e = cursor_.matched(h, kind);
    std::size_t next = h + sentinel::kLength;
    if (kind == EntryKind::Inline) {
      if (e.kind != EntryKind::Absent) {
        Item it;
        it.node = true;
        it.entry = e;
        it.source = source_of_last();
        items_.push_back(it);
        has_ = true;
      }
      return next;
    }
    if (has_) end_line();
    if (e.kind != EntryKind::Absent) {
      Line l;
      l.block = true;
      l.entry = e;
      l.source = source_of_last();
      lines_.push_back(l);
    }
    for (std::size_t i = 0; i < sentinel::kLineFeeds && next < t_.size() && t_[next] == '\n'; ++i) ++next;
    if (next < t_.size() && t_[next] == '\n' && !block_lead(next)) ++next;
    return next;
  }

  const ParseResult& r_;
  std::string_view t_;
  std::vector<Line>& lines_;
  std::vector<Item>& items_;
  RegistryCursor cursor_;
  std::size_t first_ = 0;
  bool has_ = false;
};

// ---- Inline content ------------------------------------------------------------------------

// A finished piece of a line: its markup and the text a reader reads in it. A text piece keeps
// only its text, whose markup is the text escaped, made when the piece is written: cutting it
// where a quoted target begins or ends then copies only the part cut off.
struct Piece {
  std::string html;  // empty for a text piece
  std::string plain;
  bool text = false;
  std::size_t depth = 0;  // elements wrapped around its content inside it, nested

  void write_html(std::string& out) const {
    if (text) {
      escape_text(plain, out);
    } else {
      out += html;
    }
  }
};

// An element open inside the line: its pieces so far, and its tags.
struct Level {
  std::string open, close;
  ReaderNote note;       // the note that opened it (ranges); kind Unknown for the others
  bool warichu = false;  // a warichu note's span
  bool carried = true;   // opened again on the next line when the line ends first
  std::vector<Piece> pieces;
  std::string plain;     // the text of the pieces in order, which cutting and wrapping keep

  void push(Piece p) {
    plain += p.plain;
    pieces.push_back(std::move(p));
  }
  void clear() {
    pieces.clear();
    plain.clear();
  }
};

// The pieces from `from` on as one piece, wrapped in `open` and `close`.
Piece wrap(std::string_view open, std::vector<Piece>& pieces, std::size_t from, std::string_view close) {
  Piece p;
  p.html.append(open);
  for (std::size_t i = from; i < pieces.size(); ++i) {
    pieces[i].write_html(p.html);
    p.plain += pieces[i].plain;
    p.depth = std::max(p.depth, pieces[i].depth + 1);
  }
  p.html.append(close);
  pieces.resize(from);
  return p;
}

Piece text_piece(std::string_view s) { return Piece{{}, std::string(s), true}; }

// Cuts the text piece i at byte k of its text; the second half becomes piece i + 1.
void cut_piece(std::vector<Piece>& pieces, std::size_t i, std::size_t k) {
  Piece tail = text_piece(std::string_view(pieces[i].plain).substr(k));
  pieces[i].plain.resize(k);
  pieces.insert(pieces.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
}

// The last occurrence of `target` in `all` that starts at or before `from`, looking back only as
// far as `budget` allows (positions looked at, times the target's length, are taken from it).
std::size_t rfind_metered(std::string_view all, std::string_view target, std::size_t from, std::size_t& budget) {
  const std::size_t reach = budget / target.size();
  const std::size_t low = from > reach ? from - reach : 0;
  const std::size_t at = all.substr(low, from - low + target.size()).rfind(target);
  const std::size_t found = at == std::string_view::npos ? std::string_view::npos : low + at;
  const std::size_t looked = found == std::string_view::npos ? from - low + 1 : from - found + 1;
  budget -= std::min(budget, looked * target.size());
  return found;
}

// Wraps the last occurrence of `target` in the level's pieces, preferring one that ends them (the
// target right before its note). False when the target is not there as whole pieces or text,
// when wrapping it would nest elements deeper than kMaxRanges, or when finding it would take more
// than `budget` (what is left of the line's allowance for looking back: a line of many notes whose
// targets lie far back, or nowhere, must not cost the square of its length).
bool wrap_target(Level& lv, std::string_view target, std::string_view open, std::string_view close,
                 std::size_t& budget) {
  const std::string_view all = lv.plain;
  if (target.empty() || target.size() > all.size()) return false;
  std::vector<Piece>& pieces = lv.pieces;
  const std::size_t last_start = all.size() - target.size();
  std::size_t at = all.substr(last_start) == target ? last_start : rfind_metered(all, target, last_start, budget);
  while (at != std::string_view::npos) {
    const std::size_t end = at + target.size();
    // From the back: i, the last piece to start at or before the occurrence, and j, the first to
    // start at or after its end (si and sj where they start).
    std::size_t i = pieces.size(), si = all.size(), j = i, sj = si, depth = 0;
    while (si > at) {
      --i;
      si -= pieces[i].plain.size();
      if (si >= end) {
        j = i;
        sj = si;
      } else {
        depth = std::max(depth, pieces[i].depth + 1);
      }
    }
    budget -= std::min(budget, pieces.size() - i);
    depth = std::max(depth, pieces[i].depth + 1);
    const bool start_ok = si == at || pieces[i].text;
    const bool end_ok = sj == end || pieces[j - 1].text;
    if (start_ok && end_ok) {
      if (depth > kMaxRanges) return false;
      std::size_t last = j;  // the first piece after the target, once its end is cut
      if (sj != end) cut_piece(pieces, j - 1, end - (sj - pieces[j - 1].plain.size()));
      std::size_t first = i;
      if (si != at) {
        cut_piece(pieces, i, at - si);
        ++first;
        ++last;
      }
      std::vector<Piece> tail(std::make_move_iterator(pieces.begin() + static_cast<std::ptrdiff_t>(last)),
                              std::make_move_iterator(pieces.end()));
      pieces.resize(last);
      Piece w = wrap(open, pieces, first, close);
      pieces.push_back(std::move(w));
      for (Piece& p : tail) pieces.push_back(std::move(p));
      return true;
    }
    at = at == 0 || budget == 0 ? std::string_view::npos : rfind_metered(all, target, at - 1, budget);
  }
  return false;
}

// ---- Styles --------------------------------------------------------------------------------

// yomika-{css}, or yomika-{css}-{suffix}: the vocabulary's class names, made while the page is
// written.
std::string class_name(std::string_view css, std::string_view suffix = {}) {
  std::string out(vocab::kCssPrefix);
  out += css;
  if (!suffix.empty()) out.append("-").append(suffix);
  return out;
}

// The class list of a style, as the page's stylesheet knows it.
std::string style_class(const ReaderNote& n) {
  const vocab::StyleRow& row = vocab::style(n.style);
  std::string out = class_name(row.css);
  if (row.stepped) out += " " + class_name(row.css, number(n.amount));
  if (n.style == Style::Bouten) {
    std::string_view kind = vocab::bouten(static_cast<BoutenKind>(n.amount)).css;
    if (kind.empty()) kind = vocab::kBouten[0].css;
    const auto side = n.side ? BoutenPosition::Left : BoutenPosition::Right;
    out += " " + class_name(row.css, kind) + " " + class_name(row.css, vocab::position(side).css);
  }
  return out;
}

constexpr std::string_view node_css(NodeKind k) { return vocab::node_kind(k).css; }

std::string inline_open(const ReaderNote& n) {
  const char* tag = n.style == Style::Bouten ? "em" : "span";
  return std::string("<") + tag + " class=\"" + style_class(n) + "\">";
}
std::string inline_close(const ReaderNote& n) { return n.style == Style::Bouten ? "</em>" : "</span>"; }

std::string heading_tag(uint8_t level) { return "h" + number(level < 1 ? 2 : level > 3 ? 4 : level + 1); }

// ---- Blocks --------------------------------------------------------------------------------

struct Block {
  enum class Kind : uint8_t { Container, Note } kind = Kind::Container;
  ContainerKind container = ContainerKind::Indent;
  ReaderNote note;          // Note: what opened it (a style, a hanging indent, a heading, a caption)
  std::string open;
  uint32_t offset = 0;      // the opener, in the whole sanitized text
  std::string raw;          // the opener as written, for warnings
};

}  // namespace

void Amounts::add(Kind kind, uint32_t amount) {
  const uint32_t code = static_cast<uint32_t>(kind) << 16 | amount;
  auto it = std::lower_bound(used_.begin(), used_.end(), code);
  if (it == used_.end() || *it != code) used_.insert(it, code);
}

std::string Amounts::css() const {
  std::string out;
  for (uint32_t code : used_) {
    const uint32_t n = code & 0xFFFF;
    const std::string em = number(n) + "em";
    auto attribute = [&](std::string_view name) { return "[" + std::string(name) + "=\"" + number(n) + "\"]"; };
    auto container = [&](ContainerKind k) { return "." + class_name(node_css(NodeKind::Container), vocab::container(k).css); };
    std::string selector, rule;
    switch (static_cast<Kind>(code >> 16)) {
      case LineIndent: selector = attribute("data-indent"), rule = "padding-inline-start: " + em; break;
      case LineEnd: selector = attribute("data-align-end"), rule = "padding-inline-end: " + em; break;
      case BlockIndent:
        selector = container(ContainerKind::Indent) + attribute("data-amount"), rule = "padding-inline-start: " + em;
        break;
      case BlockEnd:
        selector = container(ContainerKind::AlignEnd) + attribute("data-offset"), rule = "padding-inline-end: " + em;
        break;
      case Hanging: {
        // Every line of the block starts `rest` in; its first row goes back to `first`.
        const uint32_t first = n >> 8, rest = n & 0xFF;
        std::string block = ".yomika-hanging[data-first=\"" + number(first) + "\"][data-rest=\"" + number(rest) + "\"]";
        selector = block + " p, " + block + " .yomika-p";
        rule = "padding-inline-start: " + number(rest) + "em; text-indent: " + (first >= rest ? "" : "-") +
               number(first >= rest ? first - rest : rest - first) + "em";
        break;
      }
      case Larger:
      case Smaller: {
        // One step is a fifth larger or smaller, as type sizes step.
        const bool larger = static_cast<Kind>(code >> 16) == Larger;
        double f = 1.0;
        for (uint32_t i = 0; i < n && i < 8; ++i) f = larger ? f * 1.2 : f / 1.2;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3g", f);
        selector = "." + class_name(vocab::style(larger ? Style::Larger : Style::Smaller).css, number(n));
        rule = std::string("font-size: ") + buf + "em";
        break;
      }
    }
    out += selector + " { " + rule + "; }\n";
  }
  return out;
}

namespace {

class BodyWriter {
 public:
  BodyWriter(const ParseResult& r, const BodyOptions& o, Body& out) : r_(r), opt_(o), out_(out) {}

  void run() {
    LineCutter(r_, lines_, items_).run();
    for (li_ = 0; li_ < lines_.size(); ++li_) {
      const Line& l = lines_[li_];
      if (l.block) {
        block_line(l);
      } else {
        text_line(l);
      }
      maybe_split();
    }
    while (!blocks_.empty()) {
      const Block& b = blocks_.back();
      out_.warnings.push_back(PageWarning{PageWarning::Kind::BlockLeftOpen, b.offset, b.raw});
      close_top_block();
    }
    finish_section();
  }

 private:
  // ---- sections ---------------------------------------------------------------------------

  void start_section(Break why) {
    if (!has_content_) {
      if (why != Break::None) section_.starts_with = why;
      pending_blanks_ = 0;
      return;
    }
    for (std::size_t i = blocks_.size(); i-- > 0;) section_.html += close_tag(blocks_[i]);
    finish_section();
    section_ = Section{};
    section_.starts_with = why;
    for (const Block& b : blocks_) section_.html += b.open;
  }

  void finish_section() {
    if (!has_content_ && out_.sections.size() > first_section_) {
      return;  // a part with nothing in it adds nothing
    }
    out_.sections.push_back(std::move(section_));
    section_ = Section{};
    has_content_ = false;
    pending_blanks_ = 0;
  }

  void maybe_split() {
    if (opt_.split && section_.html.size() > kSectionBytes && blocks_.empty() && carry_.empty())
      start_section(Break::None);
  }

  // Markup that shows something: blank lines held back before it are written first.
  void emit(std::string_view html) {
    for (; pending_blanks_ > 0; --pending_blanks_) section_.html += "<p class=\"yomika-blank\"><br /></p>\n";
    section_.html.append(html);
    has_content_ = true;
  }

  void blank_line() {
    if (has_content_) ++pending_blanks_;  // blank lines open and end no part
  }

  // ---- blocks -----------------------------------------------------------------------------

  static std::string close_tag(const Block&) { return "</div>\n"; }

  void open_block(Block b) {
    if (blocks_.size() >= kMaxBlocks) return;
    emit(b.open);
    blocks_.push_back(std::move(b));
  }

  void close_top_block() {
    section_.html += close_tag(blocks_.back());
    blocks_.pop_back();
  }

  // Closes the innermost block `matches` accepts, and any opened inside it, which open again.
  template <class Match>
  bool close_block(Match matches) {
    for (std::size_t i = blocks_.size(); i-- > 0;) {
      if (!matches(blocks_[i])) continue;
      std::vector<Block> inner(blocks_.begin() + static_cast<std::ptrdiff_t>(i) + 1, blocks_.end());
      while (blocks_.size() > i) close_top_block();
      for (Block& b : inner) open_block(std::move(b));
      return true;
    }
    return false;
  }

  uint32_t where(Span s) const { return opt_.offset + s.start; }

  std::string raw_of(Span s) const {
    return s.end > s.start && s.end <= r_.sanitized.size() ? std::string(r_.sanitized.substr(s.start, s.end - s.start))
                                                            : std::string();
  }

  void close_without_open(Span s) {
    out_.warnings.push_back(PageWarning{PageWarning::Kind::CloseWithoutOpen, where(s), raw_of(s)});
  }

  void container_open(ContainerKind kind, uint8_t amount, Span s) {
    Block b;
    b.container = kind;
    render_node(YomikaNode::simple(NodeKind::Container, static_cast<uint8_t>(kind), amount), b.open);
    b.open += "\n";
    b.offset = where(s);
    b.raw = raw_of(s);
    if (kind == ContainerKind::Indent && amount > 0) out_.amounts.add(Amounts::BlockIndent, amount);
    if (kind == ContainerKind::AlignEnd && amount > 0) out_.amounts.add(Amounts::BlockEnd, amount);
    open_block(std::move(b));
  }

  void container_close(ContainerKind kind, Span s) {
    // An indent's closer also ends a hanging indent, whose opener says ここから…字下げ too.
    bool closed = close_block([&](const Block& b) {
      if (b.kind == Block::Kind::Container) return b.container == kind;
      if (kind == ContainerKind::Indent) return b.note.kind == NoteKind::Hanging;
      return kind == ContainerKind::Keigakomi && b.note.kind == NoteKind::Style && b.note.style == Style::Keigakomi;
    });
    if (!closed) close_without_open(s);
  }

  void note_block_open(const ReaderNote& n, Span s) {
    Block b;
    b.kind = Block::Kind::Note;
    b.note = n;
    b.offset = where(s);
    b.raw = raw_of(s);
    if (n.kind == NoteKind::Hanging) {
      b.open = "<div class=\"yomika-hanging\" data-first=\"" + number(n.amount) + "\" data-rest=\"" + number(n.side) +
               "\">\n";
      out_.amounts.add(Amounts::Hanging, static_cast<uint32_t>(n.amount) << 8 | n.side);
    } else if (n.kind == NoteKind::Style) {
      b.open = "<div class=\"" + style_class(n) + "\">\n";
      note_size(n);
    } else if (n.kind == NoteKind::Heading) {
      b.open = "<div class=\"yomika-heading-block\">\n";
    } else {
      b.open = "<div class=\"yomika-caption-block\">\n";
    }
    open_block(std::move(b));
  }

  void note_block_close(const ReaderNote& n, Span s) {
    bool closed = close_block([&](const Block& b) { return b.kind == Block::Kind::Note && n.closes(b.note); });
    if (!closed) close_without_open(s);
  }

  void note_size(const ReaderNote& n) {
    if (n.style == Style::Larger) out_.amounts.add(Amounts::Larger, n.amount);
    if (n.style == Style::Smaller) out_.amounts.add(Amounts::Smaller, n.amount);
  }

  // The innermost open block of a kind of note, or null.
  const Block* innermost(NoteKind kind) const {
    for (std::size_t i = blocks_.size(); i-- > 0;)
      if (blocks_[i].kind == Block::Kind::Note && blocks_[i].note.kind == kind) return &blocks_[i];
    return nullptr;
  }

  void block_line(const Line& l) {
    if (opt_.inline_only) return;
    const RegistryEntry& e = l.entry;
    switch (e.kind) {
      case EntryKind::ContainerOpen: container_open(e.container, e.amount, l.source); return;
      case EntryKind::ContainerClose: container_close(e.container, l.source); return;
      default: break;
    }
    const YomikaNode& node = e.node;
    switch (node.kind) {
      case NodeKind::PageBreak:
        if (opt_.split) start_section(Break::Page);
        return;
      case NodeKind::SectionBreak: {
        const auto k = static_cast<SectionBreakKind>(node.a);
        if (k == SectionBreakKind::Dan) {
          std::string html;
          render_node_for_reader(node, html);
          emit(html + "\n");
        } else if (opt_.split) {
          start_section(k == SectionBreakKind::Choho ? Break::Choho : Break::Spread);
        }
        return;
      }
      case NodeKind::Sashie: {
        ReaderNote n;
        n.kind = NoteKind::Figure;
        n.file = node.sashie().file;
        figure(n);
        return;
      }
      default:
        return;  // headings and containers as nodes are not built by the parser
    }
  }

  // ---- figures ----------------------------------------------------------------------------

  std::string figure_markup(const ReaderNote& n, std::string_view caption_html, bool is_inline) {
    std::optional<std::string> src = opt_.picture ? opt_.picture(n.file) : std::nullopt;
    std::string alt = escaped(!n.text.empty() ? n.text : n.target);
    std::string size = n.width && n.height ? " width=\"" + number(n.width) + "\" height=\"" + number(n.height) + "\"" : "";
    std::string pic;
    if (src) {
      pic = "<img src=\"" + escaped(*src) + "\" alt=\"" + alt + "\"" + size + " />";
    } else {
      // The picture is not at hand: a frame of its size says what it shows.
      std::string style = n.width && n.height ? " style=\"width: " + number(n.width) + "px; aspect-ratio: " +
                                                    number(n.width) + " / " + number(n.height) + ";\""
                                              : "";
      pic = "<span class=\"yomika-figure-missing\"" + style + "><span>" + (alt.empty() ? escaped(n.file) : alt) +
            "</span></span>";
    }
    if (is_inline) return "<span class=\"yomika-figure-inline\">" + pic + "</span>";
    std::string out = "<figure class=\"yomika-figure\">" + pic;
    if (!caption_html.empty()) out += "<figcaption>" + std::string(caption_html) + "</figcaption>";
    return out + "</figure>\n";
  }

  // A figure on a line of its own. The caption's line, when the next line is one, becomes its
  // caption rather than body text.
  void figure(const ReaderNote& n) {
    std::string caption;
    if (li_ + 1 < lines_.size() && !lines_[li_ + 1].block && caption_line(lines_[li_ + 1], caption)) {
      ++li_;
    } else if (!n.target.empty()) {
      caption = escaped(n.target);
    }
    emit(figure_markup(n, caption, false));
  }

  // ---- text lines -------------------------------------------------------------------------

  // The notes of a line, read once.
  std::vector<ReaderNote> notes_of(const Line& l) const {
    std::vector<ReaderNote> notes(l.count);
    for (std::size_t k = 0; k < l.count; ++k) {
      const Item& it = items_[l.first + k];
      if (it.node && it.entry.node.kind == NodeKind::Annotation &&
          it.entry.node.annotation().kind == AnnotationKind::Verbatim)
        notes[k] = read_note(it.entry.node.annotation().raw);
    }
    return notes;
  }

  bool is_verbatim(const Item& it) const {
    return it.node && it.entry.node.kind == NodeKind::Annotation &&
           it.entry.node.annotation().kind == AnnotationKind::Verbatim;
  }

  bool is_blank_text(const Item& it) const {
    return !it.node && trim_white_space(r_.normalized.substr(it.a, it.b - it.a)).empty();
  }

  // Notes that stand for a block boundary or for the page, alone on their line.
  static bool block_note(const ReaderNote& n) {
    return n.form == Form::BlockOpen || n.form == Form::BlockClose || n.kind == NoteKind::CenterPage ||
           n.kind == NoteKind::Hidden;
  }

  // A line whose only content is notes for blocks: it opens or closes them and shows nothing.
  bool block_notes_line(const Line& l, const std::vector<ReaderNote>& notes) {
    bool any = false;
    for (std::size_t k = 0; k < l.count; ++k) {
      const Item& it = items_[l.first + k];
      if (is_blank_text(it)) continue;
      if (!is_verbatim(it) || !block_note(notes[k])) return false;
      any = any || notes[k].kind != NoteKind::Hidden;
    }
    if (!any) return false;
    for (std::size_t k = 0; k < l.count; ++k) {
      if (!is_verbatim(items_[l.first + k])) continue;
      apply_block_note(notes[k], items_[l.first + k].source);
    }
    return true;
  }

  void apply_block_note(const ReaderNote& n, Span s) {
    if (n.kind == NoteKind::CenterPage) {
      if (opt_.split) start_section(Break::None);
      section_.centered = true;
    } else if (n.form == Form::BlockOpen) {
      note_block_open(n, s);
    } else if (n.form == Form::BlockClose) {
      note_block_close(n, s);
    }
  }

  // A line that is one figure note (with an indent or white space around it).
  bool figure_line(const Line& l, const std::vector<ReaderNote>& notes) {
    std::size_t found = l.count;
    for (std::size_t k = 0; k < l.count; ++k) {
      const Item& it = items_[l.first + k];
      if (is_blank_text(it) || (it.node && (it.entry.node.kind == NodeKind::Indent || it.entry.node.kind == NodeKind::AlignEnd)))
        continue;
      if (!is_verbatim(it) || notes[k].kind != NoteKind::Figure || found != l.count) return false;
      found = k;
    }
    if (found == l.count) return false;
    figure(notes[found]);
    return true;
  }

  // The content of a caption's line, when the line is one.
  bool caption_line(const Line& l, std::string& html) {
    std::vector<ReaderNote> notes = notes_of(l);
    bool caption = innermost(NoteKind::Caption) != nullptr;
    for (const ReaderNote& n : notes) caption = caption || n.kind == NoteKind::Caption;
    if (!caption) return false;
    LineContent c = content(l, notes);
    html = c.html;
    return true;
  }

  struct LineContent {
    std::string html, plain;
    bool shown = false;         // anything a reader sees
    uint32_t indent = 0;        // the line's indent
    bool align_end = false;
    uint32_t end_offset = 0;
    uint8_t heading = 0;        // the line is a heading of this level
    bool run_in = false;        // holds a run-in or window heading
    bool caption = false;       // is a caption's line
    std::vector<std::pair<ReaderNote, Span>> after;  // block notes applied after the line
  };

  // The line's items as markup, with its notes applied.
  LineContent content(const Line& l, const std::vector<ReaderNote>& notes) {
    LineContent c;
    std::vector<Level> levels(1);
    levels[0].carried = false;
    for (const Level& carried : carry_) {
      Level lv = carried;
      lv.clear();
      levels.push_back(std::move(lv));
    }
    carry_.clear();
    if (const Block* h = innermost(NoteKind::Heading)) c.heading = h->note.amount;
    if (innermost(NoteKind::Caption)) c.caption = true;
    bool visible = false;
    // What the quoted notes of the line may spend looking back for targets that do not end the
    // text before them: some thirty times the line's length.
    std::size_t budget = 4096;
    for (std::size_t k = 0; k < l.count; ++k) budget += 32 * (items_[l.first + k].b - items_[l.first + k].a) + 32;

    auto close_level = [&](std::size_t j) {
      // Closes level j and those inside it; the inside ones open again after it.
      std::vector<Level> inner;
      for (std::size_t i = j + 1; i < levels.size(); ++i) {
        Level copy = levels[i];
        copy.clear();
        inner.push_back(std::move(copy));
      }
      while (levels.size() > j) {
        Level lv = std::move(levels.back());
        levels.pop_back();
        levels.back().push(wrap(lv.open, lv.pieces, 0, lv.close));
        if (lv.note.kind == NoteKind::Heading && lv.note.heading != HeadingForm::Line && levels.size() == j)
          heading_text_ = levels.back().pieces.back().plain;
      }
      for (Level& lv : inner) levels.push_back(std::move(lv));
    };

    for (std::size_t k = 0; k < l.count; ++k) {
      const Item& it = items_[l.first + k];
      Level& level = levels.back();
      if (!it.node) {
        level.push(text_piece(r_.normalized.substr(it.a, it.b - it.a)));
        visible = visible || !is_blank_text(it);
        continue;
      }
      const YomikaNode& node = it.entry.node;
      switch (node.kind) {
        case NodeKind::Indent:
          if (!visible && c.indent == 0) c.indent = node.a;
          continue;
        case NodeKind::AlignEnd:
          if (!visible && !c.align_end) {
            c.align_end = true;
            c.end_offset = node.a;
          } else {
            // Text after a mid-line ［＃地付き］ is set flush to the end of the line.
            if (levels.size() > kMaxRanges) continue;
            Level lv;
            lv.open = "<span class=\"" + class_name(node_css(NodeKind::AlignEnd)) + "\" data-offset=\"" + number(node.a) + "\">";
            lv.close = "</span>";
            lv.carried = false;
            levels.push_back(std::move(lv));
          }
          continue;
        case NodeKind::HeadingHint:
          c.heading = node.heading_hint().level;
          continue;
        case NodeKind::Annotation:
          break;
        default: {
          Piece p;
          render_node_for_reader(node, p.html);
          p.plain = node_plain(node);
          level.push(std::move(p));
          visible = true;
          continue;
        }
      }
      const AnnotationRec& a = node.annotation();
      if (a.kind == AnnotationKind::WarichuOpen) {
        bool open_already = false;
        for (const Level& other : levels) open_already = open_already || other.warichu;
        if (open_already || levels.size() > kMaxRanges) continue;
        Level lv;
        lv.open = "<span class=\"" + class_name(node_css(NodeKind::Warichu)) + "\">";
        lv.close = "</span>";
        lv.warichu = true;
        levels.push_back(std::move(lv));
        continue;
      }
      if (a.kind == AnnotationKind::WarichuClose) {
        for (std::size_t j = levels.size(); j-- > 1;) {
          if (!levels[j].warichu) continue;
          close_level(j);
          break;
        }
        continue;
      }
      const ReaderNote& n = notes[k];
      switch (n.kind) {
        case NoteKind::Unknown:
          ++out_.undrawn[note_keyword(a.raw)];
          continue;
        case NoteKind::Hidden:
          continue;
        case NoteKind::CenterPage:
          section_.centered = true;
          continue;
        case NoteKind::Figure: {
          Piece p;
          p.html = figure_markup(n, "", true);
          level.push(std::move(p));
          visible = true;
          continue;
        }
        default:
          break;
      }
      if (n.form == Form::BlockOpen) {
        if (!visible) {
          note_block_open(n, it.source);
          if (n.kind == NoteKind::Heading) c.heading = n.amount;
          if (n.kind == NoteKind::Caption) c.caption = true;
        } else {
          c.after.emplace_back(n, it.source);
        }
        continue;
      }
      if (n.form == Form::BlockClose) {
        c.after.emplace_back(n, it.source);
        continue;
      }
      if (n.kind == NoteKind::Caption) {
        c.caption = true;
        continue;
      }
      if (n.form == Form::Quoted) {
        quoted(n, levels.back(), c, budget);
        continue;
      }
      if (n.form == Form::Open) {
        if (n.kind == NoteKind::Heading && n.heading == HeadingForm::Line) {
          c.heading = n.amount;
          continue;
        }
        // A range already open in the line (bold inside bold) or one too many adds nothing.
        bool open_already = false;
        for (const Level& other : levels) open_already = open_already || n.closes_same(other.note);
        if (open_already || levels.size() > kMaxRanges) continue;
        Level lv;
        lv.note = n;
        if (n.kind == NoteKind::Heading) {
          std::string id = next_heading_id();
          lv.open = "<" + heading_tag(n.amount) + " class=\"" + heading_class(n) + "\" id=\"" + id + "\">";
          lv.close = "</" + heading_tag(n.amount) + ">";
          lv.carried = false;
          pending_runin_.push_back({n, id});
          c.run_in = true;
        } else {
          lv.open = inline_open(n);
          lv.close = inline_close(n);
          note_size(n);
        }
        levels.push_back(std::move(lv));
        continue;
      }
      if (n.form == Form::Close) {
        if (n.kind == NoteKind::Heading && n.heading == HeadingForm::Line) continue;
        for (std::size_t j = levels.size(); j-- > 1;) {
          if (!n.closes(levels[j].note)) continue;
          close_level(j);
          break;
        }
        continue;
      }
    }
    // The line ends: ranges still open close here and open again on the next line.
    for (std::size_t j = 1; j < levels.size(); ++j)
      if (levels[j].carried) carry_.push_back(levels[j]);
    if (levels.size() > 1) close_level(1);
    for (const Piece& p : levels[0].pieces) p.write_html(c.html);
    c.plain = std::move(levels[0].plain);
    c.shown = !trim_white_space(c.plain).empty() || c.html.find('<') != std::string::npos;
    return c;
  }

  static std::string heading_class(const ReaderNote& n) {
    const char* form = n.heading == HeadingForm::RunIn ? "yomika-run-in" : "yomika-window-heading";
    return std::string(form) + " yomika-heading-" + number(n.amount);
  }

  std::string next_heading_id() { return "yomika-h" + number(static_cast<uint32_t>(++heading_number_)); }

  void add_heading(uint8_t level, HeadingForm form, std::string id, std::string text) {
    Heading h;
    h.level = level;
    h.form = form;
    h.id = std::move(id);
    h.text = std::string(trim_white_space(text));
    h.section = out_.sections.size();
    out_.headings.push_back(std::move(h));
  }

  // A quoted note: the style, heading or ruby goes around its target in the line so far.
  void quoted(const ReaderNote& n, Level& level, LineContent& c, std::size_t& budget) {
    switch (n.kind) {
      case NoteKind::Style:
        if (wrap_target(level, n.target, inline_open(n), inline_close(n), budget)) note_size(n);
        return;
      case NoteKind::Heading: {
        if (n.heading == HeadingForm::Line) {
          c.heading = n.amount;
          return;
        }
        std::string id = next_heading_id();
        std::string open = "<" + heading_tag(n.amount) + " class=\"" + heading_class(n) + "\" id=\"" + id + "\">";
        if (wrap_target(level, n.target, open, "</" + heading_tag(n.amount) + ">", budget)) {
          pending_runin_.push_back({n, id});
          heading_text_ = std::string(n.target);
          c.run_in = true;
        }
        return;
      }
      case NoteKind::LeftRuby:
      case NoteKind::NoteRuby: {
        std::string open = n.kind == NoteKind::LeftRuby ? "<ruby class=\"yomika-ruby-left\">" : "<ruby class=\"yomika-ruby-note\">";
        wrap_target(level, n.target, open, "<rp>(</rp><rt>" + escaped(n.text) + "</rt><rp>)</rp></ruby>", budget);
        return;
      }
      default:
        return;
    }
  }

  void text_line(const Line& l) {
    std::vector<ReaderNote> notes = notes_of(l);
    if (l.count > 0 && block_notes_line(l, notes)) return;
    if (figure_line(l, notes)) return;
    heading_text_.clear();
    pending_runin_.clear();
    LineContent c = content(l, notes);

    if (opt_.inline_only) {
      if (c.shown) emit((has_content_ ? "<br />" : "") + c.html);
      return;
    }
    std::string attrs;
    if (c.indent > 0) {
      attrs += " data-indent=\"" + number(c.indent) + "\"";
      out_.amounts.add(Amounts::LineIndent, c.indent);
    }
    if (c.align_end) {
      attrs += " data-align-end=\"" + number(c.end_offset) + "\"";
      if (c.end_offset > 0) out_.amounts.add(Amounts::LineEnd, c.end_offset);
    }
    if (c.heading > 0 && c.shown) {
      if (c.heading == 1 && opt_.split) start_section(Break::Heading);
      std::string id = next_heading_id();
      std::string tag = heading_tag(c.heading);
      emit("<" + tag + " id=\"" + id + "\" class=\"yomika-heading yomika-heading-" + number(c.heading) + "\"" + attrs +
           ">" + c.html + "</" + tag + ">\n");
      add_heading(c.heading, HeadingForm::Line, id, c.plain);
    } else if (c.run_in) {
      emit("<div class=\"yomika-p\"" + attrs + ">" + c.html + "</div>\n");
    } else if (c.shown) {
      emit(std::string(c.caption ? "<p class=\"yomika-caption\"" : "<p") + attrs + ">" + c.html + "</p>\n");
    } else {
      blank_line();
    }
    for (const auto& [n, id] : pending_runin_) add_heading(n.amount, n.heading, id, heading_text_);
    for (const auto& [n, s] : c.after) apply_block_note(n, s);
  }

  const ParseResult& r_;
  const BodyOptions& opt_;
  Body& out_;
  std::vector<Line> lines_;
  std::vector<Item> items_;
  std::size_t li_ = 0;
  std::vector<Block> blocks_;
  std::vector<Level> carry_;
  Section section_;
  bool has_content_ = false;
  std::size_t pending_blanks_ = 0;
  std::size_t first_section_ = out_.sections.size();
  std::size_t heading_number_ = out_.headings.size();
  std::vector<std::pair<ReaderNote, std::string>> pending_runin_;
  std::string heading_text_;
};

}  // namespace

void render_body(const ParseResult& result, const BodyOptions& options, Body& out) {
  BodyWriter(result, options, out).run();
}

std::string plain_text(const ParseResult& result) {
  std::vector<Line> lines;
  std::vector<Item> items;
  LineCutter(result, lines, items).run();
  std::string out;
  for (const Line& l : lines) {
    if (l.block) continue;
    if (!out.empty()) out += '\n';
    for (std::size_t k = 0; k < l.count; ++k) {
      const Item& it = items[l.first + k];
      if (it.node) {
        out += node_plain(it.entry.node);
      } else {
        out.append(result.normalized.substr(it.a, it.b - it.a));
      }
    }
  }
  return out;
}

}  // namespace yomika::render::reader
