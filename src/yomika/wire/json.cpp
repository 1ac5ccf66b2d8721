// The JSON writers of nodes(), pairs() and diagnostics(): one envelope, compact, fixed key order.
#include "yomika/wire/json.hpp"

#include <new>
#include <stdexcept>

#include "yomika/alloc/fatal.hpp"
#include "yomika/model/decimal.hpp"
#include "yomika/model/span.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::wire {

namespace {

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

  void open_envelope() { raw("{\"schema_version\":1,\"data\":["); }
  std::string close_envelope() {
    raw("]}");
    return std::move(out_);
  }

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

std::string_view node_name(const SourceNode& n) {
  switch (n.entry.kind) {
    case EntryKind::ContainerOpen:
      return vocab::kContainerOpenWire;
    case EntryKind::ContainerClose:
      return vocab::kContainerCloseWire;
    default:
      return vocab::node_kind(n.entry.node.kind).wire;
  }
}

// The wire kind is the code's last "::"-separated segment, the whole code when it has none.
std::string_view wire_kind(std::string_view code) {
  std::size_t at = code.rfind("::");
  return at == std::string_view::npos ? code : code.substr(at + 2);
}

}  // namespace

std::string serialize_nodes(const SourceNode* nodes, std::size_t count) {
  Writer w(count, 64);
  w.open_envelope();
  for (std::size_t i = 0; i < count; ++i) {
    if (i) w.raw(',');
    w.raw("{\"kind\":");
    w.string(node_name(nodes[i]));
    w.raw(",\"span\":");
    w.span(nodes[i].span.start, nodes[i].span.end);
    w.raw('}');
  }
  return w.close_envelope();
}

std::string serialize_pairs(const BracketPair* pairs, std::size_t count) {
  Writer w(count, 96);
  w.open_envelope();
  for (std::size_t i = 0; i < count; ++i) {
    const BracketPair& p = pairs[i];
    if (i) w.raw(',');
    w.raw("{\"kind\":");
    w.string(vocab::bracket(p.kind).wire);
    w.raw(",\"open\":");
    w.span(p.open_start, p.open_end);
    w.raw(",\"close\":");
    w.span(p.close_start, p.close_end);
    w.raw('}');
  }
  return w.close_envelope();
}

std::string serialize_diagnostics(const std::vector<Diagnostic>& diagnostics) {
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
