// Trigger scanner and byte searches: fixed cases, and the block kernels checked against the
// plain scanner on random, exhaustive and adversarial inputs, including texts that end at an
// unreadable page.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "testing.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/scan/trigger_kernels.hpp"
#include "yomika/scan/triggers.hpp"

using yomika::Arena;
using yomika::ArenaVec;
using yomika::scan::TriggerKind;
namespace kernels = yomika::scan::kernels;

namespace {

using Offsets = std::vector<uint32_t>;

Offsets to_vec(const ArenaVec<uint32_t>& v) { return Offsets(v.begin(), v.end()); }

Offsets scalar(std::string_view s) {
  Arena a;
  return to_vec(yomika::scan::scan_triggers_scalar(s, a));
}

using Kernel = void (*)(std::string_view, Arena&, ArenaVec<uint32_t>&);

// Every way the fast scanner can run on this machine, by name.
const std::vector<std::pair<const char*, Kernel>>& fast_variants() {
  static const std::vector<std::pair<const char*, Kernel>> v = [] {
    std::vector<std::pair<const char*, Kernel>> out = {
        {"scan_triggers", [](std::string_view s, Arena& a, ArenaVec<uint32_t>& o) { o = yomika::scan::scan_triggers(s, a); }},
        {"sse2", &kernels::scan_sse2}};
    if (kernels::has_avx2()) out.push_back({"avx2", &kernels::scan_avx2});
    return out;
  }();
  return v;
}

Offsets run(Kernel k, std::string_view s) {
  Arena a;
  ArenaVec<uint32_t> o;
  k(s, a, o);
  return to_vec(o);
}

// Counts disagreements with the plain scanner and reports the first few.
int compare_all(std::string_view s, const char* what) {
  const Offsets want = scalar(s);
  int bad = 0;
  for (const auto& [name, kernel] : fast_variants()) {
    if (run(kernel, s) != want && ++bad <= 3)
      std::cerr << "  " << name << " differs on " << what << " (length " << s.size() << ")\n";
  }
  return bad;
}

const char* const kTriggers[] = {"｜", "《", "》", "［", "］", "＃", "※", "〔", "〕", "「", "」"};

}  // namespace

TEST(scan_fixed_cases) {
  struct Row {
    const char* name;
    std::string text;
    Offsets want;
  };
  const Row rows[] = {
      {"empty", "", {}},
      {"no triggers", "ただの文章です。", {}},
      {"trigger is the last three bytes", "abc」", {3}},
      {"trigger is the whole text", "※", {0}},
      {"ruby with bar", "｜漢字《かんじ》", {0, 9, 21}},
      {"two ruby opens", "《《", {0, 3}},
      {"three ruby opens", "《《《", {0, 3, 6}},
      {"ascii look-alikes", "|#[]", {}},
      {"ideographic comma and angle bracket", "、〈〉。", {}},
      {"after a multi-byte character", "漢※", {3}},
      {"before a line feed", "a［\nb", {1}},
      {"all eleven", "｜《》［］＃※〔〕「」", {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30}},
      {"cut after two bytes", std::string("ab\xE3\x80"), {}},
      {"cut after one byte", std::string("ab\xEF"), {}},
  };
  for (const Row& r : rows) {
    if (scalar(r.text) != r.want) std::cerr << "  scalar: " << r.name << "\n";
    CHECK(scalar(r.text) == r.want);
    for (const auto& [name, kernel] : fast_variants()) {
      if (run(kernel, r.text) != r.want) std::cerr << "  " << name << ": " << r.name << "\n";
      CHECK(run(kernel, r.text) == r.want);
    }
  }
}

TEST(classify_every_trigger) {
  const TriggerKind want[] = {TriggerKind::Bar,         TriggerKind::RubyOpen,     TriggerKind::RubyClose,
                              TriggerKind::BracketOpen, TriggerKind::BracketClose, TriggerKind::Hash,
                              TriggerKind::RefMark,     TriggerKind::TortoiseOpen, TriggerKind::TortoiseClose,
                              TriggerKind::QuoteOpen,   TriggerKind::QuoteClose};
  for (std::size_t i = 0; i < 11; ++i) {
    std::string s = std::string("x") + kTriggers[i];
    CHECK_EQ(yomika::scan::classify_trigger(s, 1), want[i]);
  }
}

// Every three-byte sequence that starts with a trigger lead byte, each standing alone between
// ASCII bytes, so that the kernels' third-byte range tests are checked at their edges.
TEST(scan_exhaustive_over_lead_byte_sequences) {
  std::string s;
  s.reserve(3 * 256 * 256 * 4);
  for (unsigned lead : {0xE2u, 0xE3u, 0xEFu})
    for (unsigned b1 = 0; b1 < 256; ++b1)
      for (unsigned b2 = 0; b2 < 256; ++b2) {
        s += static_cast<char>(lead);
        s += static_cast<char>(b1);
        s += static_cast<char>(b2);
        s += 'x';
      }
  CHECK_EQ(scalar(s).size(), std::size_t{11});
  CHECK_EQ(compare_all(s, "exhaustive"), 0);
}

// One trigger at every offset of texts of every length 0..200, over fillers that are plain
// ASCII, near misses that share two bytes with a trigger, or lead bytes alone.
TEST(scan_trigger_at_every_offset_and_length) {
  const std::string fillers[] = {"a", "、", "\xE3\x80", "\xEF\xBC", "\xE2\x80", "\xEF"};
  int bad = 0;
  for (const std::string& fill : fillers) {
    for (std::size_t len = 0; len <= 200; ++len) {
      std::string base;
      while (base.size() < len) base += fill;
      base.resize(len);
      bad += compare_all(base, "filler only");
      for (const char* t : kTriggers) {
        for (std::size_t at = 0; at + 3 <= len; ++at) {
          std::string s = base;
          s.replace(at, 3, t);
          bad += compare_all(s, "trigger in filler");
        }
      }
      if (bad > 10) break;
    }
  }
  CHECK_EQ(bad, 0);
}

// Random texts built from the bytes that matter (all lead bytes, the second and third bytes of
// every trigger and their neighbours, line feeds, ASCII), and plain random bytes.
TEST(scan_random_against_scalar) {
  std::mt19937 rng(12345);
  const unsigned char pieces[] = {0xE2, 0xE3, 0xEF, 0x80, 0xBC, 0xBD, 0x8A, 0x8B, 0x8C, 0x8D, 0x94, 0x95,
                                  0x83, 0xBB, 0x9C, 0x89, 0x8E, 0x93, 0x96, 0xBA, 0xBE, 0x82, 0x84, 0x9B,
                                  0x9D, 0x81, 'a',  '\n', 0x00, 0xFF};
  int bad = 0;
  for (int round = 0; round < 3000 && bad == 0; ++round) {
    std::size_t len = rng() % 300;
    std::string s(len, '\0');
    bool bytes = round % 4 == 0;
    for (auto& c : s) c = static_cast<char>(bytes ? rng() % 256 : pieces[rng() % sizeof pieces]);
    // Also salt with whole triggers so that hits are dense.
    for (std::size_t k = 0; len >= 3 && k < len / 8; ++k) s.replace(rng() % (len - 2), 3, kTriggers[rng() % 11]);
    bad += compare_all(s, "random");
  }
  // Long texts exercise many blocks and the growth of the result array.
  for (int round = 0; round < 20 && bad == 0; ++round) {
    std::string s;
    while (s.size() < 100000) s += round % 2 ? kTriggers[rng() % 11] : (rng() % 3 ? "あ" : "、");
    bad += compare_all(s, "long");
  }
  CHECK_EQ(bad, 0);
}

#if defined(__linux__)
namespace {
// A text whose last byte is the last readable byte before a PROT_NONE page: reading one byte
// past the end faults.
struct GuardedBuffer {
  char* base = nullptr;
  std::size_t page = 0;
  GuardedBuffer() {
    page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* m = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base = static_cast<char*>(m);
    mprotect(base + page, page, PROT_NONE);
  }
  ~GuardedBuffer() { munmap(base, 2 * page); }
  std::string_view place(std::string_view s) {
    char* at = base + page - s.size();
    std::memcpy(at, s.data(), s.size());
    return {at, s.size()};
  }
};
}  // namespace

TEST(scan_never_reads_past_the_end) {
  GuardedBuffer g;
  int bad = 0;
  for (std::size_t len = 0; len <= 200; ++len) {
    std::string s;
    while (s.size() < len) s += "《";
    s.resize(len);
    if (len >= 3) s.replace(len - 3, 3, "」");  // a trigger in the very last bytes
    bad += compare_all(g.place(s), "guarded");
    // Lead bytes in the last one or two positions must not pull in bytes beyond.
    for (const char* tail : {"\xE3", "\xE3\x80", "\xEF\xBC", "\xE2"}) {
      std::string t = s.substr(0, len > 2 ? len - 2 : 0) + tail;
      bad += compare_all(g.place(t), "guarded lead tail");
    }
  }
  CHECK_EQ(bad, 0);
}

TEST(byte_search_never_reads_past_the_end) {
  GuardedBuffer g;
  for (std::size_t len = 0; len <= 200; ++len) {
    std::string s(len, 'a');
    std::string_view v = g.place(s);
    for (std::size_t from = 0; from <= len; from += 7) {
      CHECK_EQ(yomika::scan::find_byte2(v.data(), len, from, 'x', 'y'), len);
      CHECK_EQ(yomika::scan::find_byte3(v.data(), len, from, 'x', 'y', 'z'), len);
    }
    Arena a;
    ArenaVec<uint32_t> out;
    yomika::scan::collect_byte(v, '\n', a, out);
    CHECK_EQ(out.size, std::size_t{0});
  }
}
#endif

TEST(byte_search_against_naive) {
  std::mt19937 rng(777);
  int bad = 0;
  for (int round = 0; round < 400 && bad == 0; ++round) {
    std::size_t len = round < 200 ? static_cast<std::size_t>(round) : 200 + rng() % 2000;
    std::string s(len, '\0');
    // Sparse or dense hits, chosen per round.
    unsigned density = 1 + rng() % 200;
    for (auto& c : s) c = rng() % density == 0 ? "<&>\n"[rng() % 4] : static_cast<char>('a' + rng() % 26);
    for (std::size_t from = 0; from <= len + 1; from += 1 + rng() % 9) {
      std::size_t want2 = len, want3 = len;
      for (std::size_t i = from; i < len; ++i)
        if (s[i] == '<' || s[i] == '&') { want2 = i; break; }
      for (std::size_t i = from; i < len; ++i)
        if (s[i] == '<' || s[i] == '&' || s[i] == '>') { want3 = i; break; }
      if (yomika::scan::find_byte2(s.data(), len, from, '<', '&') != want2) ++bad;
      if (yomika::scan::find_byte3(s.data(), len, from, '<', '&', '>') != want3) ++bad;
    }
    Offsets want;
    for (std::size_t i = 0; i < len; ++i)
      if (s[i] == '\n') want.push_back(static_cast<uint32_t>(i));
    Arena a;
    ArenaVec<uint32_t> got;
    yomika::scan::collect_byte(s, '\n', a, got);
    if (to_vec(got) != want) ++bad;
  }
  CHECK_EQ(bad, 0);
}

TEST(collect_byte_appends_after_existing_entries) {
  Arena a;
  ArenaVec<uint32_t> out;
  out.push_back(a, 99);
  std::string s(130, '\n');
  yomika::scan::collect_byte(s, '\n', a, out);
  CHECK_EQ(out.size, std::size_t{131});
  CHECK_EQ(out[0], 99u);
  CHECK_EQ(out[1], 0u);
  CHECK_EQ(out[130], 129u);
}
