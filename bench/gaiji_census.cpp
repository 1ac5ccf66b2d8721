// Gaiji census over real texts: references found, and how many each resolution rule settled.
//
// Usage: gaiji_census [corpus-dir]   (default: ../shared/corpus beside the repository)
// Every *.txt file of the folder goes through the whole pipeline; gaiji are counted at top level
// and inside node contents (ruby readings, double ruby, emphasis targets).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/lexer/gaiji.hpp"
#include "yomika/pipeline/pipeline.hpp"

namespace fs = std::filesystem;
using namespace yomika;

namespace {

struct Counts {
  uint64_t marks = 0;  // ※［ in the text: the upper bound of what can be a reference
  uint64_t found = 0;
  uint64_t nested = 0;
  uint64_t by_rule[6] = {};
};

void count_gaiji(const GaijiRec& g, Counts& c) {
  std::optional<std::string_view> mention;
  if (g.has_mention) mention = g.mention;
  ++c.found;
  ++c.by_rule[static_cast<int>(classify::resolve_gaiji_with_rule(mention, g.description).rule)];
}

void count_content(const Content& content, Counts& c) {
  if (content.form != Content::Form::Segments) return;
  for (uint32_t i = 0; i < content.count; ++i) {
    if (content.segments()[i].code != SegmentCode::Gaiji) continue;
    ++c.nested;
    count_gaiji(*content.segments()[i].gaiji, c);
  }
}

void count_node(const YomikaNode& n, Counts& c) {
  switch (n.kind) {
    case NodeKind::Gaiji: count_gaiji(n.gaiji(), c); break;
    case NodeKind::Ruby: count_content(n.ruby().base, c); count_content(n.ruby().reading, c); break;
    case NodeKind::DoubleRuby: count_content(n.double_ruby().content, c); break;
    case NodeKind::Bouten: count_content(n.bouten().target, c); break;
    case NodeKind::TateChuYoko: count_content(n.tcy().text, c); break;
    default: break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::path("../shared/corpus");
  if (!fs::is_directory(dir)) {
    std::fprintf(stderr, "no corpus folder at %s\n", dir.c_str());
    return 1;
  }
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".txt") files.push_back(e.path());
  std::sort(files.begin(), files.end());

  Counts total;
  for (const fs::path& p : files) {
    std::ifstream in(p, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Counts c;
    for (std::size_t at = text.find("※［"); at != std::string::npos; at = text.find("※［", at + 1)) ++c.marks;
    Arena arena;
    YomikaDoc doc{text, &arena};
    ParseResult r;
    std::string refusal;
    if (!parse_document(doc, r, refusal)) {
      std::fprintf(stderr, "%s: %s\n", p.filename().c_str(), refusal.c_str());
      continue;
    }
    for (std::size_t i = 0; i < r.node_count; ++i) {
      const RegistryEntry& e = r.nodes[i].entry;
      if (e.kind == EntryKind::Inline || e.kind == EntryKind::Block) count_node(e.node, c);
    }
    std::printf("%-24s marks %4llu  found %4llu\n", p.filename().c_str(), static_cast<unsigned long long>(c.marks),
                static_cast<unsigned long long>(c.found));
    total.marks += c.marks;
    total.found += c.found;
    total.nested += c.nested;
    for (int k = 0; k < 6; ++k) total.by_rule[k] += c.by_rule[k];
  }
  auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  std::printf("\n※［ marks %llu, references found %llu (%llu inside node contents)\n", u(total.marks), u(total.found),
              u(total.nested));
  std::printf("  by mention, two code points  %llu\n", u(total.by_rule[0]));
  std::printf("  by mention, one code point   %llu\n", u(total.by_rule[1]));
  std::printf("  by U+ code point             %llu\n", u(total.by_rule[2]));
  std::printf("  by description               %llu\n", u(total.by_rule[3]));
  std::printf("  by single character          %llu\n", u(total.by_rule[4]));
  std::printf("  unresolved                   %llu\n", u(total.by_rule[5]));
  return 0;
}
