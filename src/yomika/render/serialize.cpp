// The notation serializer: writes a parse result back as notation, each construct in one fixed form.
#include "yomika/render/serialize.hpp"

#include <iterator>
#include <vector>

#include "yomika/model/decimal.hpp"
#include "yomika/model/sentinel.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/render/notation_words.hpp"
#include "yomika/render/notation_writer.hpp"
#include "yomika/render/walk.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/model/span.hpp"

namespace yomika::render {

void NewlineCappedWriter::put_char(uint32_t cp) {
  if (cp == '\n') {
    write("\n");
    return;
  }
  char buf[4];
  put_short(buf, encode_utf8(cp, buf));
}

void NewlineCappedWriter::put_number(uint32_t value) {
  char digits[kMaxDecimalDigits];
  char* const end = digits + kMaxDecimalDigits;
  const char* begin = decimal_before(end, value);
  put_short(begin, static_cast<std::size_t>(end - begin));
}

namespace {

namespace w = notation;

void write_marker(NodeKind kind, NewlineCappedWriter& out) {
  out.put(w::kMarkerOpen);
  out.write(vocab::node_kind(kind).marker);
  out.put(w::kMarkerClose);
}

void write_gaiji(const GaijiRec& g, NewlineCappedWriter& out) {
  out.put(w::kGaijiMark);
  out.put(w::kNoteOpenQuote);
  out.write(g.description);
  out.put(w::kQuoteClose);
  if (g.has_mention) {
    out.put(w::kComma);
    out.write(g.mention);
  }
  out.put(w::kNoteClose);
}

// A gaiji is written in full notation, or by its description alone where the content is the
// repeated target text in front of a quoting note.
enum class GaijiForm { Full, Description };

void write_content(const Content& c, GaijiForm form, NewlineCappedWriter& out) {
  if (c.form == Content::Form::Plain) {
    out.write(c.text());
    return;
  }
  if (c.form != Content::Form::Segments) return;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Segment& s = c.segments()[i];
    switch (s.code) {
      case SegmentCode::Text:
        out.write(s.text);
        break;
      case SegmentCode::Gaiji:
        if (form == GaijiForm::Full) {
          write_gaiji(*s.gaiji, out);
        } else {
          out.write(s.gaiji->description);
        }
        break;
      case SegmentCode::Annotation:
        out.write(s.annotation->raw);
        break;
    }
  }
}

void write_quoted(std::string_view s, NewlineCappedWriter& out) {
  out.put(w::kQuoteOpen);
  out.write(s);
  out.put(w::kQuoteClose);
}

// Quotes each non-empty piece of s cut at every 、; false when no piece was written.
bool write_split_quoted(std::string_view s, NewlineCappedWriter& out) {
  bool any = false;
  for (;;) {
    std::size_t cut = s.find(w::kComma);
    std::string_view piece = s.substr(0, cut);
    if (!piece.empty()) {
      write_quoted(piece, out);
      any = true;
    }
    if (cut == std::string_view::npos) return any;
    s.remove_prefix(cut + w::kComma.size());
  }
}

// True when every piece of s cut at 、 is non-empty, as in names that the parser joined.
bool is_joined_names(std::string_view s) {
  for (;;) {
    std::size_t cut = s.find(w::kComma);
    if (cut == 0 || s.empty()) return false;
    if (cut == std::string_view::npos) return true;
    s.remove_prefix(cut + w::kComma.size());
  }
}

// The quoted names of a bouten. A segmented target names several texts: each text segment is cut
// at 、 and every piece is quoted on its own. A plain target that is not adjacent is cut the same
// way: the parser joins several quoted names with 、 into one plain target, and one quote of the
// joined text would have to occur as a whole before the note to be read back as a bouten at all.
// Reading the split form back joins the names again, so the target comes back unchanged. A target
// with an empty piece (a leading, trailing or doubled 、) cannot come from several names and is
// kept whole, and so is an adjacent target, which always is a single name.
void write_bouten_targets(const BoutenRec& b, NewlineCappedWriter& out) {
  const Content& target = b.target;
  if (target.form == Content::Form::Plain) {
    if (!b.target_adjacent && is_joined_names(target.text())) {
      write_split_quoted(target.text(), out);
    } else {
      write_quoted(target.text(), out);
    }
    return;
  }
  bool any = false;
  for (uint32_t i = 0; target.form == Content::Form::Segments && i < target.count; ++i) {
    const Segment& s = target.segments()[i];
    if (s.code == SegmentCode::Text && write_split_quoted(s.text, out)) any = true;
  }
  if (!any) {
    out.put(w::kQuoteOpen);
    out.put(w::kQuoteClose);
  }
}

// The target text written in front of an adjacent quoting note, less its first `skip` bytes
// (those that an earlier construct already writes; see `serialize`).
void write_adjacent_text(const Content& c, std::size_t skip, NewlineCappedWriter& out) {
  if (c.form == Content::Form::Plain) {
    const std::string_view text = c.text();
    if (skip > text.size()) skip = text.size();
    // The target's bytes are the source's, so a span end falls on a character boundary; keep the
    // output whole characters even if it did not.
    while (skip > 0 && skip < text.size() && (static_cast<unsigned char>(text[skip]) & 0xC0) == 0x80) --skip;
    out.write(text.substr(skip));
  } else {
    write_content(c, GaijiForm::Description, out);
  }
}

// The plain form for the amount it stands for, otherwise the amount between the note's two pieces:
// a block opener keeps its amount, written as the one-line indents and end alignments are.
void write_amount_note(const w::AmountNote& note, uint8_t amount, NewlineCappedWriter& out) {
  if (amount == note.plain_amount || note.from.size() == 0) {
    out.put(note.plain);
    return;
  }
  out.put(note.from);
  out.put_number(amount);
  out.put(note.to);
}

// Appends the notation of one node; `adjacent_skip` as for write_adjacent_text.
void write_node(const YomikaNode& node, std::size_t adjacent_skip, NewlineCappedWriter& out) {
  switch (node.kind) {
    case NodeKind::Ruby: {
      const RubyRec& r = node.ruby();
      // The bar is written even for an implicit base: the base then cannot grow or shrink when
      // the text before it changes.
      out.put(w::kRubyBar);
      write_content(r.base, GaijiForm::Full, out);
      out.put(w::kRubyOpen);
      write_content(r.reading, GaijiForm::Full, out);
      out.put(w::kRubyClose);
      break;
    }
    case NodeKind::Bouten: {
      const BoutenRec& b = node.bouten();
      if (b.target_adjacent) write_adjacent_text(b.target, adjacent_skip, out);
      out.put(w::kNoteOpen);
      write_bouten_targets(b, out);
      out.put(vocab::position(b.position).particle);
      out.put(vocab::bouten(b.kind).word);
      out.put(w::kNoteClose);
      break;
    }
    case NodeKind::TateChuYoko: {
      const TateChuYokoRec& t = node.tcy();
      if (t.target_adjacent) write_adjacent_text(t.text, adjacent_skip, out);
      out.put(w::kNoteOpenQuote);
      write_content(t.text, GaijiForm::Description, out);
      out.put(w::kTateChuYokoEnd);
      break;
    }
    case NodeKind::Gaiji:
      write_gaiji(node.gaiji(), out);
      break;
    case NodeKind::Indent:
      write_amount_note(w::kIndentNote, node.a, out);
      break;
    case NodeKind::AlignEnd:
      write_amount_note(w::kAlignEndNote, node.a, out);
      break;
    case NodeKind::Warichu:
    case NodeKind::Keigakomi:
      write_marker(node.kind, out);
      break;
    case NodeKind::PageBreak:
      out.put(w::kPageBreak);
      break;
    case NodeKind::SectionBreak:
      out.put(w::kNoteOpen);
      out.put(vocab::section_break(static_cast<SectionBreakKind>(node.a)).word);
      out.put(w::kNoteClose);
      break;
    case NodeKind::Heading:
      write_marker(node.kind, out);
      break;
    case NodeKind::HeadingHint: {
      const HeadingHintRec& h = node.heading_hint();
      out.put(w::kNoteOpenQuote);
      out.write(h.target);
      out.put(w::kHeadingEnds[vocab::heading_row(h.level)]);
      break;
    }
    case NodeKind::Sashie:
      // The caption has no place in the one written form and is dropped.
      out.put(w::kSashieOpen);
      out.write(node.sashie().file);
      out.put(w::kSashieClose);
      break;
    case NodeKind::Kaeriten:
      out.put(w::kNoteOpen);
      out.write(node.kaeriten().mark);
      out.put(w::kNoteClose);
      break;
    case NodeKind::Annotation:
      out.write(node.annotation().raw);
      break;
    case NodeKind::DoubleRuby:
      out.put(w::kDoubleRubyOpen);
      write_content(node.double_ruby().content, GaijiForm::Full, out);
      out.put(w::kDoubleRubyClose);
      break;
    case NodeKind::Container:
      write_marker(node.kind, out);
      break;
  }
}

}  // namespace

void serialize_node(const YomikaNode& node, NewlineCappedWriter& out) { write_node(node, 0, out); }

std::string serialize(const ParseResult& result, std::string buffer) {
  const std::string_view text = result.normalized;
  const char* p = text.data();
  const std::size_t n = text.size();
  NewlineCappedWriter out(2 * n, std::move(buffer));

  // One pass finds the line feeds and the sentinels' lead bytes, and the text between them is
  // copied in runs. A lead byte that starts some other character stays in the pending run.
  //
  // The source-node table runs parallel to the sentinels (the k-th sentinel is record k), and
  // its spans tell how far the source is already written back by earlier constructs. An
  // adjacent target can reach back into the construct before it (a note quoting 漢字《かんじ》
  // right after that very ruby); writing those bytes again in front of the note would read back
  // as a second construct, one more on every round trip. Only the part past `covered` is text
  // that no earlier construct writes.
  //
  // Capping can leave a rule line straight under text (when the blank lines of a block were what
  // kept them apart); reading the output back would separate them, so it is written in that
  // separated form already. Every rule line of the output is a line of the text that holds no
  // sentinel (a construct's notation is never one), so the walk notes where those go, and only
  // the lines in front of them are read again; a sentinel dropped for want of its entry could
  // join two pieces of a line into one, and then the whole output is searched.
  std::size_t k = 0;
  uint32_t covered = 0;
  std::size_t pos = 0;
  std::size_t line = 0;  // where the line of the text being walked starts
  std::vector<std::size_t> rule_lines;  // where the text's rule lines start in the output
  bool dropped = false;
  // The line of the text ends at `end`; `pos` is still its start when it holds no sentinel.
  auto end_line = [&](std::size_t end) {
    if (pos == line && lex::is_rule_line(text.substr(line, end - line))) rule_lines.push_back(out.size());
  };
  RegistryCursor entries(result);
  static constexpr char kStops[] = {'\n', sentinel::kLead};
  Stops stops(text, kStops, std::size(kStops));
  for (std::size_t h = stops.next(0); h < n; h = stops.next(h)) {
    if (p[h] == '\n') {
      end_line(h);
      out.text(p + pos, h - pos);
      out.line_feed();
      pos = line = ++h;
      continue;
    }
    EntryKind kind = sentinel::kind_at(text, h);
    if (kind == EntryKind::Absent) {
      ++h;
      continue;
    }
    out.text(p + pos, h - pos);
    RegistryEntry e = entries.matched(h, kind);
    const SourceNode* rec = k < result.node_count ? &result.nodes[k] : nullptr;
    ++k;
    if (rec != nullptr && rec->entry.kind != kind) rec = nullptr;
    switch (e.kind) {
      case EntryKind::Inline:
      case EntryKind::Block:
        write_node(e.node, rec != nullptr && rec->span.start < covered ? covered - rec->span.start : 0, out);
        break;
      case EntryKind::ContainerOpen:
        write_amount_note(w::kContainerNotes[static_cast<std::size_t>(e.container)].open, e.amount, out);
        break;
      case EntryKind::ContainerClose:
        out.put(w::kContainerNotes[static_cast<std::size_t>(e.container)].close);
        break;
      case EntryKind::Absent:
        dropped = true;  // no entry, or one of another kind: the sentinel is dropped
        break;
    }
    if (rec != nullptr && rec->span.end > covered) covered = rec->span.end;
    pos = h = h + sentinel::kLength;
  }
  end_line(n);
  out.text(p + pos, n - pos);

  std::string written = out.take();
  if (dropped) return lex::separate_rule_lines(written);
  lex::separate_rule_lines_at(written, rule_lines);
  return written;
}

}  // namespace yomika::render
