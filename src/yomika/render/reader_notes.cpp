// Reading the notes a reader's page draws beyond the parser's nodes. A note is read from its text
// alone: its quoted target, if it begins with one, and the words after it.
#include "yomika/render/reader_notes.hpp"

#include <iterator>

#include "yomika/model/decimal.hpp"
#include "yomika/syntax/vocabulary.hpp"
#include "yomika/model/span.hpp"

namespace yomika::render::reader {

namespace {

// The words are the vocabulary's; these few are named here for the lines that read them often.
constexpr std::string_view kQuoteOpen = vocab::bracket(PairKind::Quote).open;
constexpr std::string_view kQuoteClose = vocab::bracket(PairKind::Quote).close;
constexpr std::string_view kLeftOf = vocab::position(BoutenPosition::Left).particle;
constexpr std::string_view kOn = vocab::position(BoutenPosition::Right).particle;
constexpr std::string_view kLarger = vocab::style(Style::Larger).word;
constexpr std::string_view kSmaller = vocab::style(Style::Smaller).word;

// The quoted text at the start of s and what follows its partner 」; quotes inside it pair up.
bool split_quoted(std::string_view s, std::string_view& quoted, std::string_view& rest) {
  if (!s.starts_with(kQuoteOpen)) return false;
  std::size_t depth = 0;
  for (std::size_t i = 0; i + 3 <= s.size();) {
    std::string_view c = s.substr(i, 3);
    if (c == kQuoteOpen) {
      ++depth;
    } else if (c == kQuoteClose && --depth == 0) {
      quoted = s.substr(3, i - 3);
      rest = s.substr(i + 3);
      return !quoted.empty();
    }
    unsigned len = 1;
    decode_utf8(s, i, len);
    i += len;
  }
  return false;
}

// A style word with what it needs: 太字, N段階大きな文字, an emphasis word, 左に and one, ...
bool read_style(std::string_view s, ReaderNote& n) {
  for (const vocab::StyleRow& w : vocab::kStyles) {
    if (!w.stepped && !w.word.empty() && s == w.word) {
      n.style = w.style;
      return true;
    }
  }
  uint32_t steps = 0;
  const std::size_t k = read_number(s, steps);
  if (k > 0 && steps > 0 && steps <= 255 && s.substr(k).starts_with(vocab::kSteps)) {
    std::string_view what = s.substr(k + vocab::kSteps.size());
    if (what == kLarger || what == kSmaller) {
      n.style = what == kLarger ? Style::Larger : Style::Smaller;
      n.amount = static_cast<uint8_t>(steps);
      return true;
    }
  }
  uint8_t side = static_cast<uint8_t>(BoutenPosition::Right);
  for (const vocab::PositionRow& p : vocab::kBoutenPositions) {
    if (!p.range.empty() && s.starts_with(p.range)) {
      side = static_cast<uint8_t>(p.position);
      s.remove_prefix(p.range.size());
      break;
    }
  }
  for (const vocab::BoutenRow& b : vocab::kBouten) {
    if (s == b.word) {
      n.style = Style::Bouten;
      n.amount = static_cast<uint8_t>(b.kind);
      n.side = side;
      return true;
    }
  }
  return false;
}

// The word a range closes: 太字, 大きな文字 (any steps), an emphasis word, 中見出し, ...
bool read_closed_style(std::string_view s, ReaderNote& n) {
  if (s == kLarger || s == kSmaller) {
    n.style = s == kLarger ? Style::Larger : Style::Smaller;
    return true;
  }
  return read_style(s, n);
}

// 大見出し, 同行中見出し, 窓小見出し, ...
bool read_heading(std::string_view s, ReaderNote& n) {
  HeadingForm form = HeadingForm::Line;
  if (s.starts_with(vocab::kRunInHeading)) {
    form = HeadingForm::RunIn;
    s.remove_prefix(vocab::kRunInHeading.size());
  } else if (s.starts_with(vocab::kWindowHeading)) {
    form = HeadingForm::Window;
    s.remove_prefix(vocab::kWindowHeading.size());
  }
  for (const vocab::HeadingRow& h : vocab::kHeadings) {
    if (s == h.word) {
      n.kind = NoteKind::Heading;
      n.heading = form;
      n.amount = h.level;
      return true;
    }
  }
  return false;
}

// What a word after ここから, after ここで, or alone names: a style, a heading or a caption.
bool read_range_word(std::string_view s, bool closing, ReaderNote& n) {
  if (read_heading(s, n)) return true;
  if (s == vocab::kCaption) {
    n.kind = NoteKind::Caption;
    return true;
  }
  if (closing ? read_closed_style(s, n) : read_style(s, n)) {
    n.kind = NoteKind::Style;
    return true;
  }
  return false;
}

// （file、横W×縦H） or （file）: the inside of the parentheses of a figure note.
bool read_figure(std::string_view inside, ReaderNote& n) {
  std::size_t comma = inside.find(vocab::kComma);
  n.file = trim_white_space(inside.substr(0, comma));
  if (n.file.empty()) return false;
  if (comma == std::string_view::npos) return true;
  std::string_view size = trim_white_space(inside.substr(comma + vocab::kComma.size()));
  if (!size.starts_with(vocab::kFigureWidth)) return true;  // words about the picture, no size: drawn at its own size
  size.remove_prefix(vocab::kFigureWidth.size());
  std::size_t times = size.find(vocab::kFigureBy);
  if (times == std::string_view::npos) return true;
  const std::string_view after = size.substr(times + vocab::kFigureBy.size());
  if (!after.starts_with(vocab::kFigureHeight)) return true;
  std::string_view w = size.substr(0, times), h = after.substr(vocab::kFigureHeight.size());
  uint32_t wv = 0, hv = 0;
  for (char c : w) wv = (c >= '0' && c <= '9' && wv < 100000) ? wv * 10 + static_cast<uint32_t>(c - '0') : UINT32_MAX;
  for (char c : h) hv = (c >= '0' && c <= '9' && hv < 100000) ? hv * 10 + static_cast<uint32_t>(c - '0') : UINT32_MAX;
  if (!w.empty() && !h.empty() && wv != UINT32_MAX && hv != UINT32_MAX) {
    n.width = wv;
    n.height = hv;
  }
  return true;
}

// ［＃description（file、横W×縦H）入る］
bool read_figure_note(std::string_view body, ReaderNote& n) {
  if (!body.ends_with(vocab::kSashieEnd)) return false;
  std::string_view head = body.substr(0, body.size() - vocab::kSashieEnd.size());
  if (!head.ends_with(vocab::kParenClose)) return false;
  std::size_t open = head.find(vocab::kParenOpen);
  if (open == std::string_view::npos) return false;
  std::string_view description = head.substr(0, open);
  const std::size_t from = open + vocab::kParenOpen.size();
  std::string_view inside = head.substr(from, head.size() - vocab::kParenClose.size() - from);
  if (!read_figure(inside, n)) return false;
  n.kind = NoteKind::Figure;
  n.form = Form::Single;
  std::string_view caption, rest;
  if (split_quoted(description, caption, rest) && rest == vocab::kCaptionedFigure) {
    n.target = caption;
  } else {
    n.text = description;
  }
  return true;
}

ReaderNote quoted_note(std::string_view target, std::string_view rest) {
  ReaderNote n;
  n.target = target;
  n.form = Form::Quoted;
  std::string_view second, after;
  if (rest.starts_with(vocab::kIs)) {
    std::string_view word = rest.substr(vocab::kIs.size());
    if (read_range_word(word, false, n)) return n;
    if (word.starts_with(vocab::kAsPrinted) || word == vocab::kSic) {
      n.kind = NoteKind::Hidden;
      return n;
    }
  }
  if (rest.starts_with(kLeftOf) && split_quoted(rest.substr(kLeftOf.size()), second, after) && after == vocab::kRubyNote) {
    n.kind = NoteKind::LeftRuby;
    n.text = second;
    return n;
  }
  if (rest.starts_with(kOn) && split_quoted(rest.substr(kOn.size()), second, after) && after == vocab::kSideNote) {
    n.kind = NoteKind::NoteRuby;
    n.text = second;
    return n;
  }
  // Emphasis the parser did not take (its target not found before the note).
  if (rest.starts_with(kLeftOf) || rest.starts_with(kOn)) {
    ReaderNote b = n;
    std::string_view word = rest.starts_with(kLeftOf) ? rest.substr(kLeftOf.size()) : rest.substr(kOn.size());
    if (read_style(word, b) && b.style == Style::Bouten) {
      b.kind = NoteKind::Style;
      b.side = rest.starts_with(kLeftOf) ? 1 : 0;
      return b;
    }
  }
  n.kind = NoteKind::Unknown;
  return n;
}

}  // namespace

bool ReaderNote::closes(const ReaderNote& open) const {
  if (kind != open.kind) return false;
  if (kind == NoteKind::Heading) return heading == open.heading && amount == open.amount;
  if (kind == NoteKind::Caption) return true;
  if (kind != NoteKind::Style || style != open.style) return false;
  if (style == Style::Bouten) return amount == open.amount && side == open.side;
  return true;
}

bool ReaderNote::closes_same(const ReaderNote& other) const {
  if (kind != other.kind || kind != NoteKind::Style || style != other.style) return false;
  return style != Style::Bouten || (amount == other.amount && side == other.side);
}

ReaderNote read_note(std::string_view raw) {
  ReaderNote n;
  constexpr std::string_view kOpen = vocab::kNoteOpen, kClose = vocab::kNoteClose;
  if (!raw.starts_with(kOpen) || !raw.ends_with(kClose) || raw.size() < kOpen.size() + kClose.size()) return n;
  std::string_view body = trim_white_space(raw.substr(kOpen.size(), raw.size() - kOpen.size() - kClose.size()));
  if (body.empty()) {
    n.kind = NoteKind::Hidden;  // ［＃］: nothing to draw
    return n;
  }
  if (read_figure_note(body, n)) return n;
  std::string_view target, rest;
  if (split_quoted(body, target, rest)) return quoted_note(target, rest);
  if (body.starts_with(vocab::kOfReading) || body.starts_with(vocab::kAsPrinted)) {
    n.kind = NoteKind::Hidden;  // remarks on a reading or on the printed source
    return n;
  }
  if (body == vocab::kCenterPage) {
    n.kind = NoteKind::CenterPage;
    return n;
  }
  if (body.starts_with(vocab::kFromHere)) {
    std::string_view s = body.substr(vocab::kFromHere.size());
    std::size_t comma = s.find(vocab::kComma);
    if (comma != std::string_view::npos && s.substr(comma + vocab::kComma.size()).starts_with(vocab::kWrapped)) {
      std::string_view first = s.substr(0, comma);
      std::string_view wrapped = s.substr(comma + vocab::kComma.size() + vocab::kWrapped.size());
      uint8_t f = 0, r = 0;
      bool first_ok = first == vocab::kFlushFirstLine || number_then_unit(first, vocab::kIndentUnit, 0, f);
      if (first_ok && number_then_unit(wrapped, vocab::kIndentUnit, 0, r)) {
        n.kind = NoteKind::Hanging;
        n.form = Form::BlockOpen;
        n.amount = f;
        n.side = r;
        return n;
      }
      return n;
    }
    if (read_range_word(s, false, n)) n.form = Form::BlockOpen;
    return n;
  }
  if (body.starts_with(vocab::kUpToHere) && body.ends_with(vocab::kEnd)) {
    const std::size_t from = vocab::kUpToHere.size();
    std::string_view s = body.substr(from, body.size() - from - vocab::kEnd.size());
    if (read_range_word(s, true, n)) n.form = Form::BlockClose;
    return n;
  }
  if (body.ends_with(vocab::kEnd)) {
    if (read_range_word(body.substr(0, body.size() - vocab::kEnd.size()), true, n)) n.form = Form::Close;
    return n;
  }
  if (read_range_word(body, false, n)) n.form = Form::Open;
  return n;
}

std::string note_keyword(std::string_view raw) {
  std::string_view body = raw;
  if (body.starts_with(vocab::kNoteOpen)) body.remove_prefix(vocab::kNoteOpen.size());
  if (body.ends_with(vocab::kNoteClose)) body.remove_suffix(vocab::kNoteClose.size());
  body = trim_white_space(body);
  std::string out;
  for (std::size_t i = 0; i < body.size();) {
    std::string_view quoted, rest;
    if (split_quoted(body.substr(i), quoted, rest)) {
      out.append(kQuoteOpen).append("…").append(kQuoteClose);
      i = body.size() - rest.size();
      continue;
    }
    uint32_t number;
    if (const std::size_t k = read_number(body.substr(i), number)) {
      i += k;
      out += 'N';
      continue;
    }
    unsigned len = 1;
    decode_utf8(body, i, len);
    out.append(body.substr(i, len));
    i += len;
  }
  return out;
}

}  // namespace yomika::render::reader
