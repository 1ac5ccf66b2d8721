// Reading the notes a reader's page draws beyond the parser's nodes. A note is read from its text
// alone: its quoted target, if it begins with one, and the words after it.
#include "yomika/render/reader_notes.hpp"

#include <iterator>

#include "yomika/render/notation_words.hpp"
#include "yomika/spec/span.hpp"

namespace yomika::render::reader {

namespace {

constexpr std::string_view kNoteOpen = "［＃";
constexpr std::string_view kNoteClose = "］";
constexpr std::string_view kQuoteOpen = "「";
constexpr std::string_view kQuoteClose = "」";
constexpr std::string_view kFrom = "ここから";
constexpr std::string_view kHere = "ここで";
constexpr std::string_view kEnd = "終わり";
constexpr std::string_view kIs = "は";
constexpr std::string_view kLeftOf = "の左に";
constexpr std::string_view kOn = "に";
constexpr std::string_view kLeftPrefix = "左に";
constexpr std::string_view kRubyWord = "のルビ";
constexpr std::string_view kNoteWord = "の注記";
constexpr std::string_view kAsPrinted = "底本では";
constexpr std::string_view kSic = "ママ";
constexpr std::string_view kOfRuby = "ルビの";
constexpr std::string_view kCaption = "キャプション";
constexpr std::string_view kCaptionedFigure = "のキャプション付きの図";
constexpr std::string_view kEnters = "入る";
constexpr std::string_view kParenOpen = "（";
constexpr std::string_view kParenClose = "）";
constexpr std::string_view kComma = "、";
constexpr std::string_view kWidth = "横";
constexpr std::string_view kTimes = "×";
constexpr std::string_view kHeight = "縦";
constexpr std::string_view kSteps = "段階";
constexpr std::string_view kLarger = "大きな文字";
constexpr std::string_view kSmaller = "小さな文字";
constexpr std::string_view kIndentUnit = "字下げ";
constexpr std::string_view kHangingFlush = "改行天付き";
constexpr std::string_view kWrapped = "折り返して";
constexpr std::string_view kCenterPage = "ページの左右中央";
constexpr std::string_view kRunIn = "同行";
constexpr std::string_view kWindow = "窓";

// Styles named by one word, in every form.
struct StyleWord {
  std::string_view word;
  Style style;
};
constexpr StyleWord kStyleWords[] = {
    {"太字", Style::Bold},          {"斜体", Style::Italic},       {"縦中横", Style::TateChuYoko},
    {"横組み", Style::Yokogumi},    {"上付き小文字", Style::Superscript}, {"下付き小文字", Style::Subscript},
    {"罫囲み", Style::Keigakomi},
};

// Heading words by level.
constexpr std::string_view kHeadingWords[] = {"大見出し", "中見出し", "小見出し"};

bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool ends(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.substr(s.size() - p.size()) == p; }

// The quoted text at the start of s and what follows its partner 」; quotes inside it pair up.
bool split_quoted(std::string_view s, std::string_view& quoted, std::string_view& rest) {
  if (!starts(s, kQuoteOpen)) return false;
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

// Bytes of the ASCII or full-width digit at s[i], 0 when there is none.
std::size_t digit_at(std::string_view s, std::size_t i) {
  if (i < s.size() && s[i] >= '0' && s[i] <= '9') return 1;
  if (i + 3 <= s.size() && s.substr(i, 2) == "\xEF\xBC" && static_cast<unsigned char>(s[i + 2]) >= 0x90 &&
      static_cast<unsigned char>(s[i + 2]) <= 0x99)
    return 3;
  return 0;
}

// A number of ASCII and full-width digits at the start of s, below 256; its bytes, 0 for none.
std::size_t read_amount(std::string_view s, uint8_t& value) {
  uint32_t v = 0;
  std::size_t i = 0;
  while (std::size_t k = digit_at(s, i)) {
    v = v * 10 + static_cast<uint32_t>(k == 1 ? s[i] - '0' : static_cast<unsigned char>(s[i + 2]) - 0x90);
    i += k;
    if (v > 255) return 0;
  }
  value = static_cast<uint8_t>(v);
  return i;
}

// s is exactly a number and then `unit`.
bool amount_then(std::string_view s, std::string_view unit, uint8_t& value) {
  std::size_t n = read_amount(s, value);
  return n > 0 && s.substr(n) == unit;
}

// A style word with what it needs: 太字, N段階大きな文字, 傍点, 左に傍点, ...
bool read_style(std::string_view s, ReaderNote& n) {
  for (const StyleWord& w : kStyleWords) {
    if (s == w.word) {
      n.style = w.style;
      return true;
    }
  }
  uint8_t steps = 0;
  if (std::size_t k = read_amount(s, steps); k > 0 && steps > 0 && starts(s.substr(k), kSteps)) {
    std::string_view what = s.substr(k + kSteps.size());
    if (what == kLarger || what == kSmaller) {
      n.style = what == kLarger ? Style::Larger : Style::Smaller;
      n.amount = steps;
      return true;
    }
  }
  uint8_t side = 0;
  if (starts(s, kLeftPrefix)) {
    side = 1;
    s.remove_prefix(kLeftPrefix.size());
  }
  for (std::size_t k = 0; k < std::size(notation::kBoutenWords); ++k) {
    if (s == notation::kBoutenWords[k]) {
      n.style = Style::Bouten;
      n.amount = static_cast<uint8_t>(k);
      n.side = side;
      return true;
    }
  }
  return false;
}

// The word a range closes: 太字, 大きな文字 (any steps), 傍点, 中見出し, ...
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
  if (starts(s, kRunIn)) {
    form = HeadingForm::RunIn;
    s.remove_prefix(kRunIn.size());
  } else if (starts(s, kWindow)) {
    form = HeadingForm::Window;
    s.remove_prefix(kWindow.size());
  }
  for (std::size_t k = 0; k < std::size(kHeadingWords); ++k) {
    if (s == kHeadingWords[k]) {
      n.kind = NoteKind::Heading;
      n.heading = form;
      n.amount = static_cast<uint8_t>(k + 1);
      return true;
    }
  }
  return false;
}

// What a word after ここから, after ここで, or alone names: a style, a heading or a caption.
bool read_range_word(std::string_view s, bool closing, ReaderNote& n) {
  if (read_heading(s, n)) return true;
  if (s == kCaption) {
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
  std::size_t comma = inside.find(kComma);
  n.file = trim_white_space(inside.substr(0, comma));
  if (n.file.empty()) return false;
  if (comma == std::string_view::npos) return true;
  std::string_view size = trim_white_space(inside.substr(comma + kComma.size()));
  if (!starts(size, kWidth)) return true;  // words about the picture, no size: drawn at its own size
  size.remove_prefix(kWidth.size());
  std::size_t times = size.find(kTimes);
  if (times == std::string_view::npos || !starts(size.substr(times + kTimes.size()), kHeight)) return true;
  std::string_view w = size.substr(0, times), h = size.substr(times + kTimes.size() + kHeight.size());
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
  if (!ends(body, kEnters)) return false;
  std::string_view head = body.substr(0, body.size() - kEnters.size());
  if (!ends(head, kParenClose)) return false;
  std::size_t open = head.find(kParenOpen);
  if (open == std::string_view::npos) return false;
  std::string_view description = head.substr(0, open);
  std::string_view inside = head.substr(open + kParenOpen.size(), head.size() - kParenClose.size() - open - kParenOpen.size());
  if (!read_figure(inside, n)) return false;
  n.kind = NoteKind::Figure;
  n.form = Form::Single;
  std::string_view caption, rest;
  if (split_quoted(description, caption, rest) && rest == kCaptionedFigure) {
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
  if (starts(rest, kIs)) {
    std::string_view word = rest.substr(kIs.size());
    if (read_range_word(word, false, n)) return n;
    if (starts(word, kAsPrinted) || word == kSic) {
      n.kind = NoteKind::Hidden;
      return n;
    }
  }
  if (starts(rest, kLeftOf) && split_quoted(rest.substr(kLeftOf.size()), second, after) && after == kRubyWord) {
    n.kind = NoteKind::LeftRuby;
    n.text = second;
    return n;
  }
  if (starts(rest, kOn) && split_quoted(rest.substr(kOn.size()), second, after) && after == kNoteWord) {
    n.kind = NoteKind::NoteRuby;
    n.text = second;
    return n;
  }
  // Emphasis the parser did not take (its target not found before the note).
  if (starts(rest, kLeftOf) || starts(rest, kOn)) {
    ReaderNote b = n;
    std::string_view word = starts(rest, kLeftOf) ? rest.substr(kLeftOf.size()) : rest.substr(kOn.size());
    if (read_style(word, b) && b.style == Style::Bouten) {
      b.kind = NoteKind::Style;
      b.side = starts(rest, kLeftOf) ? 1 : 0;
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
  if (!starts(raw, kNoteOpen) || !ends(raw, kNoteClose) || raw.size() < kNoteOpen.size() + kNoteClose.size()) return n;
  std::string_view body = trim_white_space(raw.substr(kNoteOpen.size(), raw.size() - kNoteOpen.size() - kNoteClose.size()));
  if (body.empty()) {
    n.kind = NoteKind::Hidden;  // ［＃］: nothing to draw
    return n;
  }
  if (read_figure_note(body, n)) return n;
  std::string_view target, rest;
  if (split_quoted(body, target, rest)) return quoted_note(target, rest);
  if (starts(body, kOfRuby) || starts(body, kAsPrinted)) {
    n.kind = NoteKind::Hidden;  // remarks on a reading or on the printed source
    return n;
  }
  if (body == kCenterPage) {
    n.kind = NoteKind::CenterPage;
    return n;
  }
  if (starts(body, kFrom)) {
    std::string_view s = body.substr(kFrom.size());
    std::size_t comma = s.find(kComma);
    if (comma != std::string_view::npos && starts(s.substr(comma + kComma.size()), kWrapped)) {
      std::string_view first = s.substr(0, comma), wrapped = s.substr(comma + kComma.size() + kWrapped.size());
      uint8_t f = 0, r = 0;
      bool first_ok = first == kHangingFlush || amount_then(first, kIndentUnit, f);
      if (first_ok && amount_then(wrapped, kIndentUnit, r)) {
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
  if (starts(body, kHere) && ends(body, kEnd)) {
    std::string_view s = body.substr(kHere.size(), body.size() - kHere.size() - kEnd.size());
    if (read_range_word(s, true, n)) n.form = Form::BlockClose;
    return n;
  }
  if (ends(body, kEnd)) {
    if (read_range_word(body.substr(0, body.size() - kEnd.size()), true, n)) n.form = Form::Close;
    return n;
  }
  if (read_range_word(body, false, n)) n.form = Form::Open;
  return n;
}

std::string note_keyword(std::string_view raw) {
  std::string_view body = raw;
  if (starts(body, kNoteOpen)) body.remove_prefix(kNoteOpen.size());
  if (ends(body, kNoteClose)) body.remove_suffix(kNoteClose.size());
  body = trim_white_space(body);
  std::string out;
  for (std::size_t i = 0; i < body.size();) {
    std::string_view quoted, rest;
    if (split_quoted(body.substr(i), quoted, rest)) {
      out += "「…」";
      i = body.size() - rest.size();
      continue;
    }
    if (digit_at(body, i)) {
      while (std::size_t k = digit_at(body, i)) i += k;
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
