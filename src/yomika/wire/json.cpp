// The JSON writers of nodes(), pairs() and diagnostics(): one envelope, compact, fixed key order.
#include "yomika/wire/json.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>

#include "yomika/alloc/fatal.hpp"
#include "yomika/model/decimal.hpp"
#include "yomika/model/span.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::wire {

namespace {

// Every report is an object holding its version and its items.
constexpr std::string_view kEnvelopeOpen = "{\"schema_version\":1,\"data\":[";
constexpr std::string_view kEnvelopeClose = "]}";

// What each byte becomes inside a JSON string: 0 for itself, 'u' for \u00XX, otherwise the
// letter that follows the backslash.
constexpr auto kEscape = [] {
  struct Table {
    char v[256] = {};
  } t;
  for (int b = 0; b < 0x20; ++b) t.v[b] = 'u';
  t.v[0x08] = 'b';
  t.v[0x09] = 't';
  t.v[0x0A] = 'n';
  t.v[0x0C] = 'f';
  t.v[0x0D] = 'r';
  t.v[0x22] = '"';
  t.v[0x5C] = '\\';
  return t;
}();

// The output buffer. Growth doubles, or jumps straight to what a write needs, so a document with
// many items costs a logarithmic number of reallocations.
//
// PERF NOTES. Each array writer first reserves what its items take at most in the common case
// (short names, spans of up to seven digits each): a text of a million reserved characters has
// 43 MB of diagnostics, and growing to that by doubling copied the output once more and touched
// twice its pages.
class Writer {
 public:
  explicit Writer(std::size_t items, std::size_t per_item) { grow_to(64 + items * per_item); }

  void raw(std::string_view s) {
    ensure(s.size());
    out_.append(s.data(), s.size());
  }

  void raw(char c) {
    ensure(1);
    out_.push_back(c);
  }

  // A quoted string: runs that need no escape go out in one block copy each.
  void string(std::string_view s) {
    raw('"');
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t n = s.size(), run = 0;
    for (std::size_t i = 0; i < n; ++i) {
      char e = kEscape.v[p[i]];
      if (e == 0) continue;
      if (i > run) raw(s.substr(run, i - run));
      if (e == 'u') {
        static constexpr char kHex[] = "0123456789abcdef";
        char u[6] = {'\\', 'u', '0', '0', kHex[p[i] >> 4], kHex[p[i] & 15]};
        raw(std::string_view(u, 6));
      } else {
        char esc[2] = {'\\', e};
        raw(std::string_view(esc, 2));
      }
      run = i + 1;
    }
    if (n > run) raw(s.substr(run, n - run));
    raw('"');
  }

  void number(uint32_t v) {
    char digits[kMaxDecimalDigits];
    char* const end = digits + kMaxDecimalDigits;
    const char* begin = decimal_before(end, v);
    raw(std::string_view(begin, static_cast<std::size_t>(end - begin)));
  }

  // {"start":S,"end":E}
  void span(uint32_t start, uint32_t end) {
    raw("{\"start\":");
    number(start);
    raw(",\"end\":");
    number(end);
    raw('}');
  }

  void open_envelope() { raw(kEnvelopeOpen); }
  std::string close_envelope() {
    raw(kEnvelopeClose);
    return std::move(out_);
  }
  std::string take() { return std::move(out_); }

 private:
  void ensure(std::size_t more) {
    std::size_t need = out_.size() + more;
    if (need <= out_.capacity()) return;
    std::size_t cap = out_.capacity() * 2;
    if (cap < need) cap = need;
    if (cap < 8) cap = 8;
    grow_to(cap);
  }

  void grow_to(std::size_t cap) {
    try {
      out_.reserve(cap);
    } catch (const std::bad_alloc&) {
      alloc_failed(cap);
    } catch (const std::length_error&) {
      alloc_failed(cap);
    }
  }

  std::string out_;
};

// The wire kind is the code's last "::"-separated segment, the whole code when it has none.
std::string_view wire_kind(std::string_view code) {
  std::size_t at = code.rfind("::");
  return at == std::string_view::npos ? code : code.substr(at + 2);
}

// PERF NOTES. A node or a pair is a fixed text with its kind and two or four numbers in it:
// the text up to the first number is made once per kind (through the Writer, so that it is
// escaped as any string is), and every item is put together in a buffer on the stack, which goes
// to the output in one append when full. Appending each piece to the string was a call and a
// capacity check per piece, a dozen per item, and the kind's name was scanned for characters to
// escape every time; the reports of a book took a third of the time of its parse.
class Items {
 public:
  explicit Items(std::string& out) : out_(out) {}
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;
  ~Items() { flush(); }

  // Room for `k` more bytes (k at most kStage), written through the returned pointer.
  char* room(std::size_t k) {
    if (k > kStage - n_) flush();
    return buf_ + n_;
  }
  void advance(char* to) { n_ = static_cast<std::size_t>(to - buf_); }
  void flush() {
    out_.append(buf_, n_);
    n_ = 0;
  }

  static char* put(char* d, std::string_view s) {
    std::memcpy(d, s.data(), s.size());
    return d + s.size();
  }
  static char* number(char* d, uint32_t v) {
    const unsigned k = decimal_length(v);
    write_decimal(v, d, k);
    return d + k;
  }

 private:
  static constexpr std::size_t kStage = 8192;
  std::string& out_;
  std::size_t n_ = 0;
  char buf_[kStage];
};

// `{"kind":` and the quoted name, escaped as the Writer escapes strings, then `rest`.
std::string item_head(std::string_view name, std::string_view rest) {
  Writer w(0, 0);
  w.raw("{\"kind\":");
  w.string(name);
  w.raw(rest);
  return w.take();
}

}  // namespace

std::string serialize_nodes(const SourceNode* nodes, std::size_t count) {
  // Heads by node kind, and the two of the container boundaries.
  std::string heads[std::size(vocab::kNodeKinds) + 2];
  for (std::size_t k = 0; k < std::size(vocab::kNodeKinds); ++k)
    heads[k] = item_head(vocab::kNodeKinds[k].wire, ",\"span\":{\"start\":");
  heads[std::size(vocab::kNodeKinds)] = item_head(vocab::kContainerOpenWire, ",\"span\":{\"start\":");
  heads[std::size(vocab::kNodeKinds) + 1] = item_head(vocab::kContainerCloseWire, ",\"span\":{\"start\":");
  std::size_t longest = 0;
  for (const std::string& h : heads) longest = std::max(longest, h.size());

  std::string out;
  out.reserve(kEnvelopeOpen.size() + kEnvelopeClose.size() + count * 48);
  out.append(kEnvelopeOpen);
  {
    Items items(out);
    for (std::size_t i = 0; i < count; ++i) {
      const SourceNode& n = nodes[i];
      const std::size_t head = n.entry.kind == EntryKind::ContainerOpen    ? std::size(vocab::kNodeKinds)
                               : n.entry.kind == EntryKind::ContainerClose ? std::size(vocab::kNodeKinds) + 1
                                                                           : static_cast<std::size_t>(n.entry.node.kind);
      char* d = items.room(1 + longest + 2 * kMaxDecimalDigits + 16);
      if (i) *d++ = ',';
      d = Items::put(d, heads[head]);
      d = Items::number(d, n.span.start);
      d = Items::put(d, ",\"end\":");
      d = Items::number(d, n.span.end);
      d = Items::put(d, "}}");
      items.advance(d);
    }
  }
  out.append(kEnvelopeClose);
  return out;
}

std::string serialize_pairs(const BracketPair* pairs, std::size_t count) {
  std::string heads[std::size(vocab::kBrackets)];
  for (std::size_t k = 0; k < std::size(vocab::kBrackets); ++k)
    heads[k] = item_head(vocab::kBrackets[k].wire, ",\"open\":{\"start\":");
  std::size_t longest = 0;
  for (const std::string& h : heads) longest = std::max(longest, h.size());

  std::string out;
  out.reserve(kEnvelopeOpen.size() + kEnvelopeClose.size() + count * 80);
  out.append(kEnvelopeOpen);
  {
    Items items(out);
    for (std::size_t i = 0; i < count; ++i) {
      const BracketPair& p = pairs[i];
      char* d = items.room(1 + longest + 4 * kMaxDecimalDigits + 40);
      if (i) *d++ = ',';
      d = Items::put(d, heads[static_cast<std::size_t>(p.kind)]);
      d = Items::number(d, p.open_start);
      d = Items::put(d, ",\"end\":");
      d = Items::number(d, p.open_end);
      d = Items::put(d, "},\"close\":{\"start\":");
      d = Items::number(d, p.close_start);
      d = Items::put(d, ",\"end\":");
      d = Items::number(d, p.close_end);
      d = Items::put(d, "}}");
      items.advance(d);
    }
  }
  out.append(kEnvelopeClose);
  return out;
}

std::string serialize_diagnostics(const Diagnostics& diagnostics) {
  Writer w(diagnostics.size(), 128);
  w.open_envelope();
  bool first = true;
  for (const Diagnostic& d : diagnostics) {
    if (!first) w.raw(',');
    first = false;
    w.raw("{\"kind\":");
    w.string(wire_kind(diagnostic_code(d)));
    w.raw(",\"severity\":");
    w.string(diagnostic_severity(d));
    w.raw(",\"source\":");
    w.string(diagnostic_source(d));
    w.raw(",\"span\":");
    w.span(d.span.start, d.span.end);
    if (d.kind == DiagnosticKind::SourceContainsPua) {
      // The character itself, not an escape. A code point that UTF-8 cannot carry would make the
      // whole output undecodable, so it is written as U+FFFD instead.
      uint32_t cp = d.codepoint;
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
      char utf8[4];
      unsigned len = encode_utf8(cp, utf8);
      w.raw(",\"codepoint\":");
      w.string(std::string_view(utf8, len));
    }
    w.raw('}');
  }
  return w.close_envelope();
}

}  // namespace yomika::wire
