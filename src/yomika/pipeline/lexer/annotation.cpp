// Annotation classification: what a ［＃…］ body says, from its leading keyword, quoted references
// or, failing both, a verbatim copy of the note.
#include <array>
#include <cstdint>
#include <string_view>

#include "yomika/model/decimal.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/pipeline/lexer/quoted_reference.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/syntax/alloc.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::classify {

namespace {

using vocab::kNoteKeywords;
using vocab::NoteKeyword;
using vocab::NoteRule;

// A byte trie of the keywords, built by the compiler: the matcher needs no start-up work and no
// synchronisation, and a match walks at most the longest keyword's 27 bytes.
//
// PERF: a node with many children (the root: the first bytes of every keyword, the ten digits
// among them) finds its child in a table by byte; walking its list of siblings, a chain of
// dependent loads, was a tenth of a parse of a book of many notes, nearly all of which match no
// keyword and leave at the first or second byte.
struct TrieNode {
  int16_t first_child = -1;
  int16_t next_sibling = -1;
  int8_t keyword = -1;  // index into kNoteKeywords of the keyword ending here
  uint8_t byte = 0;
  int8_t table = -1;  // index of its table of children by byte, when it has one
};

constexpr std::size_t kTableFrom = 4;  // children from which a node has a table
constexpr std::size_t kMaxTables = 8;

constexpr std::size_t trie_capacity() {
  std::size_t n = 1;
  for (const NoteKeyword& k : kNoteKeywords) n += k.word.size();
  return n;
}

struct KeywordTrie {
  std::array<TrieNode, trie_capacity()> nodes{};
  std::size_t used = 1;
  std::array<std::array<int16_t, 256>, kMaxTables> tables{};
  std::size_t tables_used = 0;
};

constexpr KeywordTrie build_keyword_trie() {
  KeywordTrie t;
  for (std::size_t k = 0; k < std::size(kNoteKeywords); ++k) {
    int16_t at = 0;
    for (char c : kNoteKeywords[k].word) {
      auto b = static_cast<uint8_t>(c);
      int16_t child = t.nodes[at].first_child;
      while (child >= 0 && t.nodes[child].byte != b) child = t.nodes[child].next_sibling;
      if (child < 0) {
        child = static_cast<int16_t>(t.used++);
        t.nodes[child].byte = b;
        t.nodes[child].next_sibling = t.nodes[at].first_child;
        t.nodes[at].first_child = child;
      }
      at = child;
    }
    t.nodes[at].keyword = static_cast<int8_t>(k);
  }
  for (std::size_t i = 0; i < t.used; ++i) {
    std::size_t children = 0;
    for (int16_t c = t.nodes[i].first_child; c >= 0; c = t.nodes[c].next_sibling) ++children;
    if (children < kTableFrom) continue;
    if (t.tables_used == kMaxTables) throw "more trie nodes with many children than tables";
    auto& table = t.tables[t.tables_used];
    for (int16_t& slot : table) slot = -1;
    for (int16_t c = t.nodes[i].first_child; c >= 0; c = t.nodes[c].next_sibling) table[t.nodes[c].byte] = c;
    t.nodes[i].table = static_cast<int8_t>(t.tables_used++);
  }
  return t;
}

inline constexpr KeywordTrie kKeywordTrie = build_keyword_trie();

// Index of the longest keyword that is a prefix of body, or -1.
int match_keyword(std::string_view body) {
  int best = -1;
  int16_t at = 0;
  for (char c : body) {
    auto b = static_cast<uint8_t>(c);
    const TrieNode& node = kKeywordTrie.nodes[at];
    int16_t child;
    if (node.table >= 0) {
      child = kKeywordTrie.tables[node.table][b];
    } else {
      child = node.first_child;
      while (child >= 0 && kKeywordTrie.nodes[child].byte != b) child = kKeywordTrie.nodes[child].next_sibling;
    }
    if (child < 0) break;
    at = child;
    if (kKeywordTrie.nodes[at].keyword >= 0) best = kKeywordTrie.nodes[at].keyword;
  }
  return best;
}

// The warichu markers keep this text, whatever white space the source had inside the brackets.
constexpr const vocab::ContainerRow& kWarichuBlock = vocab::container(ContainerKind::Warichu);
constexpr Phrase kWarichuOpenNote{vocab::kNoteOpen, kWarichuBlock.opener, vocab::kNoteClose};
constexpr Phrase kWarichuCloseNote{vocab::kNoteOpen, kWarichuBlock.closer, vocab::kNoteClose};

// Characters allowed inside a parenthesized kaeriten mark: kana and CJK ideographs.
bool is_paren_mark_char(uint32_t cp) {
  return (cp >= 0x3041 && cp <= 0x30FF) || (cp >= 0xFF66 && cp <= 0xFF9F) || (cp >= 0x4E00 && cp <= 0x9FFF) ||
         (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0xF900 && cp <= 0xFAFF);
}

bool is_paren_mark(std::string_view body) {
  if (body.size() < 9 || body.size() > 24 || !body.ends_with(vocab::kParenClose)) return false;
  std::string_view inner = body.substr(3, body.size() - 6);
  std::size_t chars = 0;
  for (std::size_t i = 0; i < inner.size();) {
    unsigned len;
    if (!is_paren_mark_char(decode_utf8(inner, i, len))) return false;
    i += len;
    ++chars;
  }
  return chars >= 1 && chars <= 5;
}

Classification node_result(YomikaNode node, Span span) {
  Classification c;
  c.result = Classification::Result::Node;
  c.node = node;
  c.span = span;
  return c;
}

Classification container_open(ContainerKind kind, uint8_t amount, Span span) {
  Classification c;
  c.result = Classification::Result::ContainerOpen;
  c.node = YomikaNode::simple(NodeKind::Container, static_cast<uint8_t>(kind), amount);
  c.container = kind;
  c.amount = amount;
  c.span = span;
  return c;
}

Classification container_close(ContainerKind kind, Span span) {
  Classification c;
  c.result = Classification::Result::ContainerClose;
  c.node = YomikaNode::simple(NodeKind::Container, static_cast<uint8_t>(kind), 0);
  c.container = kind;
  c.span = span;
  return c;
}

// The node and nested record of a warichu marker; both carry the canonical text, whatever white
// space the source had inside the brackets.
Classification warichu(Interner& in, AnnotationKind kind, std::string_view raw, Span span) {
  Classification c = node_result(YomikaNode{NodeKind::Annotation, 0, 0, syntax::make_annotation(in, raw, kind)}, span);
  c.nested = syntax::make_annotation(in, raw, kind);
  return c;
}

// Applies the rule of keyword k to the trimmed body. None when the rule does not accept it.
Classification apply_keyword(Context& cx, int k, std::string_view body, Span span) {
  const NoteKeyword& kw = kNoteKeywords[k];
  const bool whole = body.size() == kw.word.size();
  const std::string_view rest = body.substr(kw.word.size());
  const auto container = static_cast<ContainerKind>(kw.kind);
  uint8_t n = 0;
  switch (kw.rule) {
    case NoteRule::PageBreak:
      if (whole) return node_result(YomikaNode::simple(NodeKind::PageBreak), span);
      break;
    case NoteRule::SectionBreak:
      if (whole) return node_result(YomikaNode::simple(NodeKind::SectionBreak, kw.kind), span);
      break;
    case NoteRule::AlignEndFlush:
      if (whole) return node_result(YomikaNode::simple(NodeKind::AlignEnd, 0), span);
      break;
    case NoteRule::IndentOne:
      // ［＃字下げ］ is how an indent of 1 is written back; reading it as one keeps the round trip.
      if (whole) return node_result(YomikaNode::simple(NodeKind::Indent, 1), span);
      break;
    case NoteRule::ContainerOpen:
      if (whole) return container_open(container, vocab::container(container).plain_amount, span);
      break;
    case NoteRule::ContainerClose:
      if (whole) return container_close(container, span);
      break;
    case NoteRule::WarichuOpen:
      if (whole) return warichu(cx.in, AnnotationKind::WarichuOpen, kWarichuOpenNote, span);
      break;
    case NoteRule::WarichuClose:
      if (whole) return warichu(cx.in, AnnotationKind::WarichuClose, kWarichuCloseNote, span);
      break;
    case NoteRule::Kaeriten:
      if (whole) return node_result(syntax::make_kaeriten(cx.in, body), span);
      break;
    case NoteRule::AlignEndFrom:
      if (number_then_unit(rest, vocab::kRaiseUnit, 1, n))
        return node_result(YomikaNode::simple(NodeKind::AlignEnd, n), span);
      break;
    case NoteRule::ContainerOpenNumbered:
      if (number_then_unit(rest, vocab::container(container).unit, 0, n)) return container_open(container, n, span);
      break;
    case NoteRule::IndentN:
      // The keyword is the first digit: the number starts at the body's start.
      if (number_then_unit(body, vocab::kIndentUnit, 1, n))
        return node_result(YomikaNode::simple(NodeKind::Indent, n), span);
      break;
    case NoteRule::Illustration: {
      // The first closing parenthesis ends the path, so a path cannot hold one.
      std::size_t close = rest.find(vocab::kParenClose);
      if (close == std::string_view::npos || close == 0) break;
      if (rest.substr(close + vocab::kParenClose.size()) != vocab::kSashieEnd) break;
      return node_result(syntax::make_sashie(cx.in, rest.substr(0, close), Content::absent()), span);
    }
    case NoteRule::ParenMark:
      if (is_paren_mark(body)) return node_result(syntax::make_kaeriten(cx.in, body), span);
      break;
  }
  return {};
}

}  // namespace

Classification classify_annotation(Context& cx, const Body& body, uint32_t open, uint32_t close) {
  if (open >= body.n || close >= body.n || open + 1 >= body.n) return {};
  const PairedEvent& o = body.ev[open];
  const PairedEvent& c = body.ev[close];
  const PairedEvent& hash = body.ev[open + 1];
  if (o.tag != EventTag::PairOpen || c.tag != EventTag::PairClose || hash.tag != EventTag::Trigger ||
      hash.kind != static_cast<uint8_t>(scan::TriggerKind::Hash)) {
    return {};
  }
  const Span span{o.start, c.end};
  if (hash.end <= c.start) {
    std::string_view text = trim_white_space(cx.src.substr(hash.end, c.start - hash.end));
    if (!text.empty()) {
      int k = match_keyword(text);
      if (k >= 0) {
        Classification r = apply_keyword(cx, k, text, span);
        if (r.result != Classification::Result::None) return r;
      }
    }
  }

  QuotedReference ref;
  if (parse_quoted_reference(cx, body, open, close, ref)) {
    Hit h = classify_bouten(cx, ref);
    if (!h.ok) h = classify_tate_chu_yoko(cx, ref);
    if (!h.ok) h = classify_heading_hint(cx, ref);
    if (h.ok) return node_result(h.node, h.span);
  }

  // Nothing claimed the note: it is kept whole, brackets included. Inside a reading it takes the
  // same form, which the reading makes only there (most notes stand outside readings).
  std::string_view raw = cx.src.substr(o.start, c.end - o.start);
  return node_result(
      YomikaNode{NodeKind::Annotation, 0, 0, syntax::make_annotation(cx.in, raw, AnnotationKind::Verbatim)}, span);
}

}  // namespace yomika::classify
