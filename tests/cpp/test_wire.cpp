// The JSON writers, fed with records built by hand: every node kind name, every pair kind, every
// diagnostic kind, escaping of every control byte, and the number edge values.
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/wire/json.hpp"

using namespace yomika;

namespace {

const std::string kEmpty = "{\"schema_version\":1,\"data\":[]}";

std::string envelope(const std::string& items) { return "{\"schema_version\":1,\"data\":[" + items + "]}"; }

std::string span_json(uint32_t s, uint32_t e) {
  return "{\"start\":" + std::to_string(s) + ",\"end\":" + std::to_string(e) + "}";
}

SourceNode node(EntryKind tag, uint8_t kind, uint32_t s, uint32_t e) {
  SourceNode n{};
  n.entry.kind = tag;
  n.entry.node = YomikaNode::simple(static_cast<NodeKind>(kind));
  n.span = Span{s, e};
  return n;
}

Diagnostic diag(DiagnosticKind k, uint8_t detail, uint32_t cp, uint32_t s, uint32_t e) {
  return Diagnostic{k, detail, cp, Span{s, e}};
}

std::string pua_item(const std::string& codepoint_json, uint32_t s, uint32_t e) {
  return "{\"kind\":\"source_contains_pua\",\"severity\":\"warning\",\"source\":\"source\",\"span\":" +
         span_json(s, e) + ",\"codepoint\":\"" + codepoint_json + "\"}";
}

}  // namespace

TEST(wire_empty_lists_give_the_empty_envelope) {
  CHECK_EQ(wire::serialize_nodes(nullptr, 0), kEmpty);
  CHECK_EQ(wire::serialize_pairs(nullptr, 0), kEmpty);
  CHECK_EQ(wire::serialize_diagnostics({}), kEmpty);
}

TEST(wire_node_kind_names) {
  struct Row {
    EntryKind tag;
    uint8_t kind;
    const char* name;
  };
  const Row rows[] = {
      {EntryKind::Inline, 0, "ruby"},          {EntryKind::Inline, 1, "bouten"},
      {EntryKind::Inline, 2, "tateChuYoko"},   {EntryKind::Inline, 3, "gaiji"},
      {EntryKind::Inline, 4, "indent"},        {EntryKind::Inline, 5, "alignEnd"},
      {EntryKind::Inline, 6, "warichu"},       {EntryKind::Inline, 7, "keigakomi"},
      {EntryKind::Block, 8, "pageBreak"},      {EntryKind::Block, 9, "sectionBreak"},
      {EntryKind::Block, 10, "heading"},       {EntryKind::Inline, 11, "headingHint"},
      {EntryKind::Block, 12, "sashie"},        {EntryKind::Inline, 13, "kaeriten"},
      {EntryKind::Inline, 14, "annotation"},   {EntryKind::Inline, 15, "doubleRuby"},
      {EntryKind::Inline, 16, "container"},
      // Container boundaries are named by their tag whatever node the record carries.
      {EntryKind::ContainerOpen, 0, "containerOpen"}, {EntryKind::ContainerClose, 9, "containerClose"},
  };
  std::vector<SourceNode> nodes;
  std::string items;
  uint32_t pos = 0;
  for (const Row& r : rows) {
    nodes.push_back(node(r.tag, r.kind, pos, pos + 3));
    if (!items.empty()) items += ",";
    items += std::string("{\"kind\":\"") + r.name + "\",\"span\":" + span_json(pos, pos + 3) + "}";
    pos += 7;
  }
  CHECK_EQ(wire::serialize_nodes(nodes.data(), nodes.size()), envelope(items));
}

TEST(wire_pairs_all_kinds) {
  const BracketPair pairs[] = {
      {0, 3, 10, 13, PairKind::Bracket},  {14, 17, 20, 23, PairKind::Ruby},   {24, 30, 31, 37, PairKind::DoubleRuby},
      {40, 43, 44, 47, PairKind::Tortoise}, {0, 3, 4, 7, PairKind::Quote},
  };
  CHECK_EQ(wire::serialize_pairs(pairs, 5),
           envelope("{\"kind\":\"bracket\",\"open\":{\"start\":0,\"end\":3},\"close\":{\"start\":10,\"end\":13}},"
                    "{\"kind\":\"ruby\",\"open\":{\"start\":14,\"end\":17},\"close\":{\"start\":20,\"end\":23}},"
                    "{\"kind\":\"doubleRuby\",\"open\":{\"start\":24,\"end\":30},\"close\":{\"start\":31,\"end\":37}},"
                    "{\"kind\":\"tortoise\",\"open\":{\"start\":40,\"end\":43},\"close\":{\"start\":44,\"end\":47}},"
                    "{\"kind\":\"quote\",\"open\":{\"start\":0,\"end\":3},\"close\":{\"start\":4,\"end\":7}}"));
}

TEST(wire_diagnostics_every_kind) {
  struct Row {
    Diagnostic d;
    const char* item;
  };
  const Row rows[] = {
      {diag(DiagnosticKind::SourceContainsPua, 0, 0xE003, 6, 9),
       "{\"kind\":\"source_contains_pua\",\"severity\":\"warning\",\"source\":\"source\",\"span\":{\"start\":6,\"end\":9},"
       "\"codepoint\":\"\xEE\x80\x83\"}"},
      {diag(DiagnosticKind::UnclosedBracket, 1, 0, 3, 6),
       "{\"kind\":\"unclosed_bracket\",\"severity\":\"error\",\"source\":\"source\",\"span\":{\"start\":3,\"end\":6}}"},
      {diag(DiagnosticKind::UnmatchedClose, 4, 0, 0, 3),
       "{\"kind\":\"unmatched_close\",\"severity\":\"error\",\"source\":\"source\",\"span\":{\"start\":0,\"end\":3}}"},
      {diag(DiagnosticKind::Internal, 0, 0, 1, 2),
       "{\"kind\":\"residual_annotation_marker\",\"severity\":\"error\",\"source\":\"internal\",\"span\":{\"start\":1,"
       "\"end\":2}}"},
      {diag(DiagnosticKind::Internal, 1, 0, 1, 2),
       "{\"kind\":\"unregistered_sentinel\",\"severity\":\"error\",\"source\":\"internal\",\"span\":{\"start\":1,"
       "\"end\":2}}"},
      {diag(DiagnosticKind::Internal, 2, 0, 1, 2),
       "{\"kind\":\"registry_out_of_order\",\"severity\":\"error\",\"source\":\"internal\",\"span\":{\"start\":1,"
       "\"end\":2}}"},
      {diag(DiagnosticKind::Internal, 3, 0, 1, 2),
       "{\"kind\":\"registry_position_mismatch\",\"severity\":\"error\",\"source\":\"internal\",\"span\":{\"start\":1,"
       "\"end\":2}}"},
  };
  Diagnostics all;
  std::string items;
  for (const Row& r : rows) {
    CHECK_EQ(wire::serialize_diagnostics({r.d}), envelope(r.item));
    all.push_back(r.d);
    if (!items.empty()) items += ',';
    items += r.item;
  }
  CHECK_EQ(wire::serialize_diagnostics(all), envelope(items));
}

// The only string the writers take from a record is a diagnostic's character, so every escape is
// reached through it.
TEST(wire_escapes_every_control_byte) {
  const char* named[0x20] = {};
  named[0x08] = "\\b";
  named[0x09] = "\\t";
  named[0x0A] = "\\n";
  named[0x0C] = "\\f";
  named[0x0D] = "\\r";
  for (uint32_t b = 0; b < 0x20; ++b) {
    std::string want;
    if (named[b]) {
      want = named[b];
    } else {
      static const char hex[] = "0123456789abcdef";
      want = std::string("\\u00") + hex[b >> 4] + hex[b & 15];
    }
    CHECK_EQ(wire::serialize_diagnostics({diag(DiagnosticKind::SourceContainsPua, 0, b, 0, 3)}),
             envelope(pua_item(want, 0, 3)));
  }
}

TEST(wire_escapes_quote_and_backslash_only) {
  struct Row {
    uint32_t cp;
    const char* json;
  };
  const Row rows[] = {
      {'"', "\\\""}, {'\\', "\\\\"}, {'/', "/"}, {0x7F, "\x7F"}, {'a', "a"},
      {0xE9, "\xC3\xA9"}, {0xE001, "\xEE\x80\x81"}, {0x1F600, "\xF0\x9F\x98\x80"},
      // Not encodable in UTF-8: written as U+FFFD so that the output stays decodable.
      {0xD800, "\xEF\xBF\xBD"}, {0x110000, "\xEF\xBF\xBD"},
  };
  for (const Row& r : rows) {
    CHECK_EQ(wire::serialize_diagnostics({diag(DiagnosticKind::SourceContainsPua, 0, r.cp, 0, 3)}),
             envelope(pua_item(r.json, 0, 3)));
  }
}

TEST(wire_numbers) {
  const uint32_t values[] = {0u, 1u, 9u, 10u, 99u, 100u, 101u, 999u, 1000u, 12345u, 100000u,
                             1000000000u, 4000000000u, 4294967294u, 4294967295u};
  for (uint32_t v : values) {
    const BracketPair p{v, v, 0, 4294967295u, PairKind::Quote};
    CHECK_EQ(wire::serialize_pairs(&p, 1),
             envelope("{\"kind\":\"quote\",\"open\":" + span_json(v, v) + ",\"close\":" + span_json(0, 4294967295u) + "}"));
  }
}

TEST(wire_long_lists_grow_the_buffer) {
  std::vector<BracketPair> pairs;
  std::string items;
  for (uint32_t i = 0; i < 50000; ++i) {
    pairs.push_back(BracketPair{i * 7, i * 7 + 3, i * 7 + 4, i * 7 + 7, PairKind::Ruby});
    if (i) items += ",";
    items += "{\"kind\":\"ruby\",\"open\":" + span_json(i * 7, i * 7 + 3) + ",\"close\":" + span_json(i * 7 + 4, i * 7 + 7) +
             "}";
  }
  CHECK(wire::serialize_pairs(pairs.data(), pairs.size()) == envelope(items));
}
