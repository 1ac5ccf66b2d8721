// Document lifecycles in bulk: created, parsed into every output and destroyed, the way the
// Python Document does it. In the sanitized build LeakSanitizer then checks that none of them
// left memory behind; every build checks that each document gave the same outputs as the first.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "testing.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/html.hpp"
#include "yomika/render/serialize.hpp"
#include "yomika/wire/json.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define YOMIKA_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define YOMIKA_LEAK_CHECK 1
#endif
#endif
#ifdef YOMIKA_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

using namespace yomika;

namespace {

// Every kind of construct, well formed and broken, so that each stage's allocations are made.
const std::vector<std::string> kTexts = {
    "",
    "｜吾輩《わがはい》は猫である。漢字《かんじ》［＃「猫」に傍点］［＃「猫」の左に白丸傍点］",
    "［＃ここから２字下げ］\n本文※［＃「木＋駟のつくり」、第3水準1-85-8］\n［＃ここで字下げ終わり］\n",
    "［＃改ページ］\n〔cafe'〕《《強調》》［＃割り注］小［＃割り注終わり］\n----------\n",
    "「《」》［＃［＃］〔〕｜｜《《》》※［＃］\xEE\x80\x81\xEE\x80\x84\xEF\xBB\xBF\r\n\r\n",
    "［＃罫囲み］\n昭和31［＃「31」は縦中横］年［＃「昭和」は中見出し］\n［＃罫囲み終わり］\n"
    "［＃ここから地付き］\n終\n［＃ここで地付き終わり］\n［＃挿絵（a.png）入る］",
    "学而時習之［＃一レ］不亦説乎［＃二］［＃地から３字上げ］［＃３字下げ］※［＃「丸印」、U+2460］",
    "［＃ここから２字下げ］\n［＃罫囲み］\n閉じない「［＃割り注］\n",
};

struct Outputs {
  std::string html, notation, nodes, pairs, diagnostics;
  bool operator==(const Outputs&) const = default;
};

// One document's life: an owned copy of the source, an arena reserved at four times its length,
// then one pipeline run per output, each into the same arena, and finally destruction.
Outputs document_lifecycle(std::string_view text) {
  auto source = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(source.get(), text.data(), text.size());
  Arena arena;
  if (!reserve_arena(arena, text.size())) return {};
  YomikaDoc doc{std::string_view(source.get(), text.size()), &arena};

  Outputs o;
  std::string refusal;
  if (!render::render_html(doc, o.html, refusal)) return {};
  auto with_result = [&](auto emit) {
    ParseResult r;
    if (parse_document(doc, r, refusal)) emit(r);
  };
  with_result([&](const ParseResult& r) { o.notation = render::serialize(r); });
  with_result([&](const ParseResult& r) { o.nodes = wire::serialize_nodes(r.nodes, r.node_count); });
  with_result([&](const ParseResult& r) { o.pairs = wire::serialize_pairs(r.pairs, r.pair_count); });
  with_result([&](const ParseResult& r) { o.diagnostics = wire::serialize_diagnostics(r.diagnostics); });
  return o;
}

}  // namespace

TEST(lifecycle_many_documents_leave_nothing_behind) {
#ifdef YOMIKA_LEAK_CHECK
  constexpr int kDocuments = 100000;
#else
  constexpr int kDocuments = 2000;
#endif
  std::vector<Outputs> first;
  for (const std::string& t : kTexts) first.push_back(document_lifecycle(t));
  for (std::size_t k = 1; k < kTexts.size(); ++k) CHECK(!first[k].html.empty() && !first[k].nodes.empty());

  int differing = 0;
  for (int i = 0; i < kDocuments; ++i) {
    std::size_t k = static_cast<std::size_t>(i) % kTexts.size();
    if (!(document_lifecycle(kTexts[k]) == first[k])) ++differing;
  }
  CHECK_EQ(differing, 0);
#ifdef YOMIKA_LEAK_CHECK
  // Reports any block that nothing points to any more; the report itself names the allocation.
  CHECK_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}
