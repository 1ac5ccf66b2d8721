// The invariants of the pipeline and its outputs, shared by the fuzzer and the replay driver.
#include "invariants.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/model/sentinel.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/book.hpp"
#include "yomika/render/html.hpp"
#include "yomika/render/serialize.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/wire/json.hpp"

namespace yomika::fuzz {

namespace {

[[noreturn]] void violated(const char* what, std::string_view text) {
  std::fprintf(stderr, "invariant violated: %s\ninput (%zu bytes): %.*s\n", what, text.size(),
               static_cast<int>(text.size() < 2000 ? text.size() : 2000), text.data());
  std::abort();
}

// A strict little JSON validator: objects, arrays, strings with escapes, non-negative integers,
// which is everything the wire format writes.
struct JsonCheck {
  std::string_view s;
  std::size_t i = 0;
  bool ws_free = true;

  bool value() {
    if (i >= s.size()) return false;
    char c = s[i];
    if (c == '{') return object();
    if (c == '[') return array();
    if (c == '"') return string();
    if (c >= '0' && c <= '9') return number();
    return false;
  }
  bool object() {
    ++i;
    if (i < s.size() && s[i] == '}') return ++i, true;
    for (;;) {
      if (!string()) return false;
      if (i >= s.size() || s[i++] != ':') return false;
      if (!value()) return false;
      if (i >= s.size()) return false;
      if (s[i] == ',') { ++i; continue; }
      if (s[i] == '}') return ++i, true;
      return false;
    }
  }
  bool array() {
    ++i;
    if (i < s.size() && s[i] == ']') return ++i, true;
    for (;;) {
      if (!value()) return false;
      if (i >= s.size()) return false;
      if (s[i] == ',') { ++i; continue; }
      if (s[i] == ']') return ++i, true;
      return false;
    }
  }
  bool string() {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    while (i < s.size()) {
      auto c = static_cast<unsigned char>(s[i]);
      if (c == '"') return ++i, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++i >= s.size()) return false;
        char e = s[i];
        if (e == 'u') {
          if (i + 4 >= s.size()) return false;
          for (int k = 1; k <= 4; ++k) {
            char h = s[i + k];
            if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F'))) return false;
          }
          i += 4;
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
      }
      ++i;
    }
    return false;
  }
  bool number() {
    std::size_t b = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return !(i - b > 1 && s[b] == '0');
  }
  bool whole() { return value() && i == s.size(); }
};

bool starts_with_at(std::string_view s, std::size_t i, std::string_view p) { return s.substr(i, p.size()) == p; }

// The HTML's elements nest properly, container divs included; a container div opens for every
// container boundary that opens one, and stands inside no element but another container div.
void check_html(std::string_view html, std::size_t container_opens, std::string_view text) {
  std::vector<std::string_view> stack;
  std::size_t opens = 0;
  std::size_t i = 0;
  while ((i = html.find('<', i)) != std::string_view::npos) {
    if (starts_with_at(html, i, "<!--")) {
      std::size_t e = html.find("-->", i);
      if (e == std::string_view::npos) violated("unterminated HTML comment", text);
      i = e + 3;
      continue;
    }
    std::size_t e = html.find('>', i);
    if (e == std::string_view::npos) violated("unterminated HTML tag", text);
    std::string_view tag = html.substr(i + 1, e - i - 1);
    i = e + 1;
    if (tag == "br /") continue;
    if (!tag.empty() && tag[0] == '/') {
      if (stack.empty() || stack.back() != tag.substr(1)) violated("HTML end tag does not match the open element", text);
      stack.pop_back();
      continue;
    }
    std::string_view name = tag.substr(0, tag.find(' '));
    if (name == "div" && tag.find("class=\"yomika-container") != std::string_view::npos) {
      for (std::string_view open : stack)
        if (open != "div") violated("container div inside another element", text);
      ++opens;
    }
    stack.push_back(name);
  }
  if (!stack.empty()) violated("HTML element left open", text);
  if (opens != container_opens) violated("container divs do not match the container sentinels", text);
}

// Markup an XML reader takes: elements close in order (void ones written <x />), attribute values
// are quoted, and & starts an entity.
void check_xml(std::string_view html, std::string_view text) {
  std::vector<std::string_view> stack;
  for (std::size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '&') {
      std::size_t semi = html.find(';', i);
      if (semi == std::string_view::npos || semi - i > 8) violated("a bare & in the reader's page", text);
      continue;
    }
    if (html[i] != '<') continue;
    std::size_t e = html.find('>', i);
    if (e == std::string_view::npos) violated("unterminated tag in the reader's page", text);
    std::string_view tag = html.substr(i + 1, e - i - 1);
    i = e;
    if (tag.ends_with("/")) continue;
    if (tag.starts_with("/")) {
      if (stack.empty() || stack.back() != tag.substr(1)) violated("the reader's page does not nest", text);
      stack.pop_back();
      continue;
    }
    std::size_t sp = tag.find(' ');
    for (std::size_t q = tag.find('=', sp); q != std::string_view::npos; q = tag.find('=', q + 1)) {
      if (q + 1 >= tag.size() || tag[q + 1] != '"') violated("an unquoted attribute in the reader's page", text);
      q = tag.find('"', q + 2);
      if (q == std::string_view::npos) violated("an unterminated attribute in the reader's page", text);
    }
    if (sp != std::string_view::npos && tag.find(" hidden") != std::string_view::npos &&
        tag.find(" hidden=\"") == std::string_view::npos)
      violated("a bare attribute in the reader's page", text);
    stack.push_back(tag.substr(0, sp));
  }
  if (!stack.empty()) violated("the reader's page leaves an element open", text);
}

// Every output becomes a Python str, so it must be valid UTF-8 (shortest forms, no surrogates).
bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (std::size_t k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// The code points of valid UTF-8.
std::vector<uint32_t> code_points(std::string_view s) {
  std::vector<uint32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1Fu) : len == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    out.push_back(cp);
    i += len;
  }
  return out;
}

struct VectorUnits final : render::Utf16Buffer {
  std::vector<uint16_t> v;
  std::span<uint16_t> grow(std::size_t, std::size_t units) override {
    v.resize(units);
    return {v.data(), units};
  }
};

// The HTML as UTF-16 (what the Python face makes its str of) is the UTF-8 HTML's characters, with
// its astral and Latin-1 counts right.
void check_utf16_html(const ParseResult& r, const std::string& html, std::string_view text) {
  std::vector<uint16_t> utf16;
  std::size_t astral = 0;
  bool latin1 = true;
  for (uint32_t c : code_points(html)) {
    latin1 = latin1 && c < 0x100;
    if (c > 0xFFFF) {
      ++astral;
      utf16.push_back(static_cast<uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
      utf16.push_back(static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      utf16.push_back(static_cast<uint16_t>(c));
    }
  }
  VectorUnits units;
  const render::Utf16Text w = render::render_result_html_utf16(r, units);
  if (w.units != utf16.size() || !std::equal(utf16.begin(), utf16.end(), units.v.begin()) || w.astral != astral ||
      w.latin1 != latin1)
    violated("the UTF-16 HTML differs from the UTF-8 HTML", text);
}

// The normalized text holds sentinels written by assembly only: each has a registry entry of its
// own kind, the k-th of them is the k-th record of the source-node table and stands at the k-th
// position, and block and container sentinels stand between two line feeds on each side.
void check_sentinels(const ParseResult& r, std::string_view text) {
  const SentinelRegistry registry = registry_of(r);
  std::string_view t = r.normalized;
  std::size_t k = 0;
  for (std::size_t i = 0; i + 2 < t.size(); ++i) {
    const EntryKind kind = sentinel::kind_at(t, i);
    if (kind == EntryKind::Absent) continue;
    if (find_entry(registry, static_cast<uint32_t>(i)).kind != kind) violated("sentinel without an entry of its kind", text);
    if (k >= r.node_count || r.nodes[k].entry.kind != kind) violated("sentinel does not match its source-node record", text);
    if (r.positions == nullptr || r.positions[k] != i) violated("sentinel not at its record's position", text);
    ++k;
    if (kind != EntryKind::Inline &&
        (i < 2 || t.substr(i - 2, 2) != "\n\n" || i + 5 > t.size() || t.substr(i + 3, 2) != "\n\n"))
      violated("block or container sentinel not between two line feeds on each side", text);
    i += sentinel::kLength - 1;
  }
  if (k != r.node_count || k != registry.keys.size()) violated("registry entries without a sentinel", text);
}

struct Outputs {
  std::string html, notation, nodes, pairs, diagnostics;
  std::size_t container_opens = 0;
  bool refused = false;
};

Outputs run_once(std::string_view text) {
  Outputs o;
  Arena arena;
  if (!reserve_arena(arena, text.size())) violated("arena reservation failed", text);
  YomikaDoc doc{text, &arena};
  ParseResult r;
  std::string refusal;
  if (!parse_document(doc, r, refusal)) {
    o.refused = true;
    return o;
  }
  // Spans index the sanitized source and end after they start.
  auto span_ok = [&](uint32_t s, uint32_t e) { return s < e && e <= r.sanitized_len; };
  for (std::size_t k = 0; k < r.node_count; ++k) {
    const SourceNode& n = r.nodes[k];
    if (!span_ok(n.span.start, n.span.end)) violated("node span outside the sanitized text", text);
    if (n.entry.kind == EntryKind::ContainerOpen) ++o.container_opens;
  }
  for (std::size_t k = 0; k < r.pair_count; ++k) {
    const BracketPair& p = r.pairs[k];
    if (!span_ok(p.open_start, p.open_end) || !span_ok(p.close_start, p.close_end) || p.open_end > p.close_start)
      violated("pair span outside the sanitized text", text);
  }
  for (const Diagnostic& d : r.diagnostics)
    if (!span_ok(d.span.start, d.span.end)) violated("diagnostic span outside the sanitized text", text);

  check_sentinels(r, text);

  // The block scanner the pipeline used finds exactly what the byte-at-a-time scanner finds.
  {
    Arena scratch;
    ArenaVec<uint32_t> fast = scan::scan_triggers(r.sanitized, scratch);
    ArenaVec<uint32_t> slow = scan::scan_triggers_scalar(r.sanitized, scratch);
    if (fast.size != slow.size || !std::equal(fast.begin(), fast.end(), slow.begin()))
      violated("the block trigger scanner disagrees with the scalar one", text);
  }

  o.html = render::render_result_html(r);
  check_utf16_html(r, o.html, text);
  o.notation = render::serialize(r);
  o.nodes = wire::serialize_nodes(r.nodes, r.node_count);
  o.pairs = wire::serialize_pairs(r.pairs, r.pair_count);
  o.diagnostics = wire::serialize_diagnostics(r.diagnostics);

  // parse_to_html's road: the renderer runs the pipeline itself, into the same arena.
  std::string html, refusal2;
  if (!render::render_html(doc, html, refusal2) || html != o.html) violated("render_html differs from rendering the parse", text);

  // The road of pairs() and diagnostics(): pairing without assembly reports the same.
  ParseResult brackets;
  if (!pair_document(doc, brackets, refusal2) ||
      wire::serialize_pairs(brackets.pairs, brackets.pair_count) != o.pairs ||
      wire::serialize_diagnostics(brackets.diagnostics) != o.diagnostics)
    violated("pairing alone reports other pairs or diagnostics than the whole parse", text);
  return o;
}

// The reader's page: every part is well-formed XML (all elements closed, attributes quoted),
// valid UTF-8, and the same on a second run; warnings point into the text.
void check_book(std::string_view text) {
  render::reader::Book a, b;
  std::string refusal;
  render::reader::BookOptions options;
  options.picture = [](std::string_view file) -> std::optional<std::string> {
    if (file.size() % 2) return std::nullopt;
    return std::string(file);
  };
  if (!render::reader::render_book(text, options, a, refusal) || !render::reader::render_book(text, options, b, refusal))
    violated("the reader's page refused a short text", text);
  std::vector<const std::string*> parts = {&a.title_block, &a.colophon, &a.contents, &a.legend};
  for (const auto& s : a.body.sections) parts.push_back(&s.html);
  std::string all;
  for (const std::string* p : parts) {
    if (!valid_utf8(*p)) violated("the reader's page is not valid UTF-8", text);
    check_xml(*p, text);
    all += *p;
  }
  std::string again;
  for (const std::string* p : {&b.title_block, &b.colophon, &b.contents, &b.legend}) again += *p;
  for (const auto& s : b.body.sections) again += s.html;
  if (all != again) violated("two runs of the reader's page differ", text);
  for (const auto& w : a.body.warnings)
    if (w.offset > a.sanitized.size()) violated("a page warning points past the text", text);
}

}  // namespace

std::string to_valid_utf8(const uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve(size);
  std::size_t i = 0;
  while (i < size) {
    uint8_t b = data[i];
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= size;
    for (std::size_t k = 1; ok && k < len; ++k) ok = (data[i + k] & 0xC0) == 0x80;
    if (ok && len > 1) {
      uint32_t cp = len == 2 ? ((b & 0x1Fu) << 6) | (data[i + 1] & 0x3Fu)
                  : len == 3 ? ((b & 0x0Fu) << 12) | ((data[i + 1] & 0x3Fu) << 6) | (data[i + 2] & 0x3Fu)
                             : ((b & 0x07u) << 18) | ((data[i + 1] & 0x3Fu) << 12) | ((data[i + 2] & 0x3Fu) << 6) |
                                   (data[i + 3] & 0x3Fu);
      uint32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
      ok = cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    }
    if (ok) {
      out.append(reinterpret_cast<const char*>(data + i), len);
      i += len;
    } else {
      out.push_back(static_cast<char>(b & 0x7F));
      ++i;
    }
  }
  return out;
}

namespace {

// The pieces of the token form of decode_input: every trigger, the keywords and quoted-reference
// endings, kanji and kana for bases and targets, digits, accents, rule lines and line breaks.
constexpr std::string_view kPieces[] = {
    "｜", "《", "》", "《《", "》》", "［", "］", "＃", "※", "〔", "〕", "「", "」", "［＃", "※［＃", "］\n",
    "」に傍点］", "」の左に傍点］", "」に白丸傍点］", "」に波線］", "」は縦中横］", "」は大見出し］",
    "」は中見出し］", "」は小見出し］", "」、", "「」", "改ページ", "改丁", "改段", "改見開き", "地付き",
    "罫囲み", "罫囲み終わり", "ここから字下げ", "ここから地付き", "ここで字下げ終わり", "ここで地付き終わり",
    "ここから", "ここから地から", "地から", "字上げ", "字下げ", "割り注", "割り注終わり", "挿絵（", "）入る",
    "（", "）", "一", "二", "レ", "一レ", "上", "甲", "、第3水準1-85-8", "、第3水準1-5-87", "、U+4E00", "、1-2-22",
    "木＋駟のつくり", "丸1", "二の字点", "漢", "字", "々", "〆", "〇", "\xF0\xA0\xAE\x9F", "か", "な", "カ",
    "a", "e'", "A", "&", "AE&", "'", ":", "/", "0", "1", "２", "255", "256", " ", "　", "\n", "\n\n", "\r\n",
    "\r", "----------", "＝＝＝＝＝＝＝＝＝＝", "<", "\"", "\xEE\x80\x81", "\xEE\x80\x82", "\xEE\x80\x83",
    "\xEE\x80\x84", "\xEF\xBB\xBF", "\xEE\x80\x80", "\xEF\xBF\xBD", "\t", "\xE3\x80\x80",
};

}  // namespace

std::string decode_input(const uint8_t* data, std::size_t size) {
  if (size == 0 || data[0] != 0xFF) return to_valid_utf8(data, size);
  std::string out;
  for (std::size_t i = 1; i < size; ++i) out += kPieces[data[i] % std::size(kPieces)];
  return out;
}

void check_invariants(std::string_view text) {
  Outputs a = run_once(text);
  Outputs b = run_once(text);
  if (a.refused || b.refused) violated("a short text was refused", text);
  if (a.html != b.html || a.notation != b.notation || a.nodes != b.nodes || a.pairs != b.pairs ||
      a.diagnostics != b.diagnostics)
    violated("two runs gave different outputs", text);
  for (const std::string* out : {&a.html, &a.notation, &a.nodes, &a.pairs, &a.diagnostics})
    if (!valid_utf8(*out)) violated("an output is not valid UTF-8", text);
  for (const std::string* json : {&a.nodes, &a.pairs, &a.diagnostics}) {
    JsonCheck j{*json};
    if (!j.whole()) violated("JSON output does not parse", text);
  }
  check_html(a.html, a.container_opens, text);

  check_book(text);

  // Serializing is a fixed point after one pass.
  Outputs again = run_once(a.notation);
  if (again.refused) violated("serialized text was refused", text);
  Outputs third = run_once(again.notation);
  if (again.notation != third.notation) violated("serialize(parse(serialize(x))) is not a fixed point", text);
}

}  // namespace yomika::fuzz
