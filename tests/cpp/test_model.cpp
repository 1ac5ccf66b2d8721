// The node model: the interner's cache, long-string and growth rules, content_from_segments, the
// constructors' invariants (checked in a forked child), the Eytzinger registry layout, and a row of
// the vocabulary for every kind.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/syntax/alloc.hpp"
#include "yomika/syntax/intern.hpp"
#include "yomika/syntax/vocabulary.hpp"
#include "yomika/veb/eytzinger.hpp"

using namespace yomika;

namespace {

std::string short_string(int i) { return std::string("s").append(std::to_string(i)); }

// Runs fn in a child process; returns what it wrote to standard error and whether it aborted.
struct Death {
  bool aborted = false;
  std::string stderr_text;
};

Death run_in_child(const std::function<void()>& fn) {
  Death d;
  int fds[2];
  if (pipe(fds) != 0) return d;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    fn();
    _exit(0);
  }
  close(fds[1]);
  char buf[512];
  ssize_t got;
  while ((got = read(fds[0], buf, sizeof buf)) > 0) d.stderr_text.append(buf, static_cast<std::size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  d.aborted = WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
  return d;
}

Content empty_segments() { return Content::segments_of(nullptr, 0); }

Segment text_segment(std::string_view s) { return Segment{SegmentCode::Text, s, nullptr, nullptr}; }

// Every value of each enumeration the vocabulary has rows for. The switches have no default, so a
// value added to node.hpp without a case here is a -Wswitch warning, which the test builds turn
// into an error.
bool is_value(NodeKind k) {
  switch (k) {
    case NodeKind::Ruby: case NodeKind::Bouten: case NodeKind::TateChuYoko: case NodeKind::Gaiji:
    case NodeKind::Indent: case NodeKind::AlignEnd: case NodeKind::Warichu: case NodeKind::Keigakomi:
    case NodeKind::PageBreak: case NodeKind::SectionBreak: case NodeKind::Heading: case NodeKind::HeadingHint:
    case NodeKind::Sashie: case NodeKind::Kaeriten: case NodeKind::Annotation: case NodeKind::DoubleRuby:
    case NodeKind::Container:
      return true;
  }
  return false;
}
bool is_value(BoutenKind k) {
  switch (k) {
    case BoutenKind::Goma: case BoutenKind::WhiteSesame: case BoutenKind::Circle: case BoutenKind::WhiteCircle:
    case BoutenKind::DoubleCircle: case BoutenKind::Janome: case BoutenKind::Cross: case BoutenKind::WhiteTriangle:
    case BoutenKind::WavyLine: case BoutenKind::UnderLine: case BoutenKind::DoubleUnderLine:
      return true;
  }
  return false;
}
bool is_value(BoutenPosition p) {
  switch (p) {
    case BoutenPosition::Right: case BoutenPosition::Left:
      return true;
  }
  return false;
}
bool is_value(SectionBreakKind k) {
  switch (k) {
    case SectionBreakKind::Choho: case SectionBreakKind::Dan: case SectionBreakKind::Spread:
      return true;
  }
  return false;
}
bool is_value(ContainerKind k) {
  switch (k) {
    case ContainerKind::Indent: case ContainerKind::Warichu: case ContainerKind::Keigakomi:
    case ContainerKind::AlignEnd:
      return true;
  }
  return false;
}
bool is_value(PairKind k) {
  switch (k) {
    case PairKind::Bracket: case PairKind::Ruby: case PairKind::DoubleRuby: case PairKind::Tortoise:
    case PairKind::Quote:
      return true;
  }
  return false;
}

bool is_value(vocab::TextStyle s) {
  using S = vocab::TextStyle;
  switch (s) {
    case S::None: case S::Bold: case S::Italic: case S::Larger: case S::Smaller: case S::Bouten:
    case S::TateChuYoko: case S::Yokogumi: case S::Superscript: case S::Subscript: case S::Keigakomi:
      return true;
  }
  return false;
}

// Walks every code of E: each value has a row of `table` whose words `filled` finds non-empty, and
// the table has no row besides.
template <class E, class Row, std::size_t N, class Filled>
void check_rows(const char* family, const Row (&table)[N], const Row& (*row)(E), Filled filled) {
  std::size_t values = 0;
  for (unsigned code = 0; code < 256; ++code) {
    const auto k = static_cast<E>(code);
    if (!is_value(k)) continue;
    ++values;
    if (testing::check_fails(!filled(row(k)))) testing::fail(__FILE__, __LINE__, std::string(family) + " " + std::to_string(code) + " has no row");
  }
  CHECK_EQ(N, values);
  (void)table;
}

}  // namespace

TEST(vocabulary_has_a_row_for_every_kind) {
  using namespace vocab;
  check_rows("NodeKind", kNodeKinds, &node_kind, [](const NodeKindRow& r) { return !r.wire.empty(); });
  check_rows("BoutenKind", kBouten, &bouten, [](const BoutenRow& r) { return !r.word.empty() && !r.css.empty(); });
  check_rows("BoutenPosition", kBoutenPositions, &position,
             [](const PositionRow& r) { return !r.particle.empty() && !r.css.empty(); });
  check_rows("SectionBreakKind", kSectionBreaks, &section_break,
             [](const SectionBreakRow& r) { return !r.word.empty() && !r.css.empty(); });
  check_rows("ContainerKind", kContainers, &container,
             [](const ContainerRow& r) { return !r.opener.empty() && !r.closer.empty() && !r.css.empty(); });
  check_rows("PairKind", kBrackets, &bracket,
             [](const BracketRow& r) { return !r.open.empty() && !r.close.empty() && !r.wire.empty(); });
  check_rows("TextStyle", kStyles, &style, [](const StyleRow& r) { return !r.css.empty(); });
}

// ---- interner ------------------------------------------------------------------------------

TEST(intern_initial_capacity_follows_source_length) {
  struct Row {
    std::size_t source_len;
    std::size_t capacity;
  };
  const Row rows[] = {
      {0, 64}, {64 * 32, 64}, {64 * 32 + 32, 128}, {128 * 32, 128}, {128 * 32 + 32, 256}, {1 << 20, 32768},
  };
  for (const Row& r : rows) {
    Arena a;
    Interner in(a, r.source_len);
    CHECK_EQ(in.capacity(), r.capacity);
  }
}

// A piece of the document's text is answered with itself; anything reaching past it is stored.
TEST(intern_answers_pieces_of_the_text_with_themselves) {
  Arena a;
  const std::string buffer = "漢字かな漢字|after";
  const std::string_view text = std::string_view(buffer).substr(0, buffer.find('|'));
  Interner in(a, text);
  struct Row {
    const char* name;
    std::string_view piece;
    bool itself;
  };
  const Row rows[] = {
      {"whole", text, true},
      {"start", text.substr(0, 6), true},
      {"end", text.substr(text.size() - 6), true},
      {"empty_at_end", text.substr(text.size()), true},
      {"past_the_end", std::string_view(text.data() + 3, text.size()), false},
      {"right_after", std::string_view(text.data() + text.size(), 1), false},
      {"elsewhere", std::string_view("漢字"), false},
  };
  for (const Row& r : rows) {
    const std::string_view got = in.intern(r.piece);
    const bool same_bytes = got == r.piece;
    const bool itself = got.data() == r.piece.data();
    if (testing::check_fails(!same_bytes || itself != r.itself))
      testing::fail(__FILE__, __LINE__, std::string(r.name) + ": answered wrongly");
  }
  CHECK_EQ(in.count(), std::size_t{3});  // only the three strings from outside reached the table
}

TEST(intern_equal_short_strings_share_one_view) {
  Arena a;
  Interner in(a, 0);
  std::string tmp = "漢字";
  std::string_view first = in.intern(tmp);
  tmp[0] = 'x';  // the interned copy must not alias the caller's bytes
  CHECK_EQ(first, std::string_view("漢字"));
  CHECK(in.intern("漢字").data() == first.data());
}

TEST(intern_table_answers_when_cache_does_not) {
  Arena a;
  Interner in(a, 0);
  std::string_view a1 = in.intern("あ");
  std::string_view i1 = in.intern("い");
  std::string_view a2 = in.intern("あ");
  CHECK(a1.data() == a2.data());
  CHECK(a1.data() != i1.data());
  CHECK_EQ(in.count(), std::size_t{2});
}

TEST(intern_empty_string_is_stored_like_any_other) {
  Arena a;
  Interner in(a, 0);
  std::string_view e1 = in.intern("");
  in.intern("x");
  std::string_view e2 = in.intern("");
  CHECK(e1.data() != nullptr);
  CHECK(e1.data() == e2.data());
  CHECK_EQ(e2.size(), std::size_t{0});
  CHECK_EQ(in.count(), std::size_t{2});
}

TEST(intern_long_strings_bypass_the_table) {
  Arena a;
  Interner in(a, 0);
  const std::string long_a(65, 'a');
  const std::string exactly_64(64, 'b');
  std::string_view x1 = in.intern(long_a);
  std::string_view x2 = in.intern(long_a);  // cache: the same copy
  CHECK(x1.data() == x2.data());
  in.intern("other");
  std::string_view x3 = in.intern(long_a);  // a new copy with equal bytes
  CHECK(x3.data() != x1.data());
  CHECK_EQ(x3, x1);
  CHECK_EQ(in.count(), std::size_t{1});  // only "other" reached the table
  // 64 bytes is still short: stored once and found again after another request.
  std::string_view b1 = in.intern(exactly_64);
  in.intern("other");
  CHECK(in.intern(exactly_64).data() == b1.data());
}

TEST(intern_grows_when_seven_eighths_full) {
  Arena a;
  Interner in(a, 0);
  std::vector<std::string_view> views;
  for (int i = 0; i < 55; ++i) views.push_back(in.intern(short_string(i)));
  in.intern(short_string(0));  // a table lookup with 55 stored: 440 < 448, no growth
  CHECK_EQ(in.capacity(), std::size_t{64});
  views.push_back(in.intern(short_string(55)));  // checked at 55, stored as the 56th
  CHECK_EQ(in.count(), std::size_t{56});
  CHECK_EQ(in.capacity(), std::size_t{64});
  // 56 × 8 = 448 ≥ 64 × 7: the next lookup doubles first, even for a string already stored.
  std::string_view again = in.intern(short_string(3));
  CHECK_EQ(in.capacity(), std::size_t{128});
  CHECK(again.data() == views[3].data());
  bool all_found = true;
  for (int i = 0; i < 56; ++i) all_found = all_found && in.intern(short_string(i)).data() == views[i].data();
  CHECK(all_found);
  CHECK_EQ(in.count(), std::size_t{56});
}

TEST(intern_cache_hit_skips_the_grow_check) {
  Arena a;
  Interner in(a, 0);
  for (int i = 0; i < 56; ++i) in.intern(short_string(i));
  in.intern(short_string(55));  // equal to the previous request: answered by the cache
  CHECK_EQ(in.capacity(), std::size_t{64});
}

// The table comes from the arena's scratch: released, its room goes back to the arena whatever
// was allocated after it, and the strings interned meanwhile stay where they are.
TEST(intern_release_returns_the_table_to_the_arena) {
  Arena a;
  CHECK(a.try_reserve(1 << 16));
  std::string_view kept;
  {
    Interner in(a, 1024 * 32);  // 1024 slots: a quarter of the block
    CHECK_EQ(in.capacity(), std::size_t{1024});
    kept = in.intern("漢字");
    in.release();
  }
  CHECK_EQ(kept, std::string_view("漢字"));
  // Three quarters of the block and more are free again: no second block is needed.
  void* big = a.alloc((1 << 16) - 4096, 16);
  CHECK(big != nullptr);
  CHECK_EQ(a.capacity(), std::size_t{1} << 16);
}

// ---- content and constructors -------------------------------------------------------------

TEST(content_from_segments_forms) {
  Arena a;
  Interner in(a, 0);
  Content none = syntax::content_from_segments(in, {});
  CHECK(none.form == Content::Form::Segments);
  CHECK_EQ(none.count, 0u);

  std::string kan = "漢", ji = "字";
  Content joined = syntax::content_from_segments(in, {text_segment(kan), text_segment(ji)});
  kan = "x";
  ji = "y";
  CHECK(joined.form == Content::Form::Plain);
  CHECK_EQ(joined.text(), std::string_view("漢字"));

  YomikaNode g = syntax::make_gaiji(in, "木＋吶のつくり", GaijiResolution{}, std::nullopt);
  Segment gs{SegmentCode::Gaiji, {}, &g.gaiji(), nullptr};
  const AnnotationRec* ann = syntax::make_annotation(in, "［＃注］", AnnotationKind::Verbatim);
  Segment as{SegmentCode::Annotation, {}, nullptr, ann};
  std::string t1 = "前", t2 = "後";
  Content mixed = syntax::content_from_segments(in, {text_segment(t1), text_segment(t2), gs, as});
  t1 = "?";
  CHECK(mixed.form == Content::Form::Segments);
  CHECK_EQ(mixed.count, 4u);  // adjacent text segments are not merged when the list is kept
  CHECK_EQ(mixed.segments()[0].text, std::string_view("前"));
  CHECK_EQ(mixed.segments()[1].text, std::string_view("後"));
  CHECK(mixed.segments()[2].code == SegmentCode::Gaiji && mixed.segments()[2].gaiji == &g.gaiji());
  CHECK(mixed.segments()[3].code == SegmentCode::Annotation && mixed.segments()[3].annotation == ann);
}

TEST(constructors_keep_their_fields) {
  Arena a;
  Interner in(a, 0);
  std::string raw = "［＃ほげ］";
  const AnnotationRec* ann = syntax::make_annotation(in, raw, AnnotationKind::Verbatim);
  raw.assign(raw.size(), '?');
  CHECK_EQ(ann->raw, std::string_view("［＃ほげ］"));
  CHECK(ann->kind == AnnotationKind::Verbatim);

  std::string base = "漢字";
  YomikaNode ruby = syntax::make_ruby(in, Content::plain(base), Content::plain("かんじ"), true);
  base.assign(base.size(), '?');
  CHECK(ruby.kind == NodeKind::Ruby);
  CHECK_EQ(ruby.ruby().base.text(), std::string_view("漢字"));
  CHECK_EQ(ruby.ruby().reading.text(), std::string_view("かんじ"));
  CHECK(ruby.ruby().explicit_);

  YomikaNode b = syntax::make_bouten(in, Content::plain("猫"), BoutenKind::Janome, BoutenPosition::Left, true);
  CHECK(b.bouten().kind == BoutenKind::Janome && b.bouten().position == BoutenPosition::Left &&
        b.bouten().target_adjacent);

  YomikaNode g = syntax::make_gaiji(in, "desc", GaijiResolution{GaijiResolution::State::Char, 0x4E00, {}},
                                    std::string_view("U+4E00"));
  CHECK(g.gaiji().has_mention && g.gaiji().mention == "U+4E00" && g.gaiji().resolved.ch == 0x4E00u);
  YomikaNode g2 = syntax::make_gaiji(in, "desc", GaijiResolution{}, std::nullopt);
  CHECK(!g2.gaiji().has_mention);

  YomikaNode s = syntax::make_sashie(in, "fig.png", Content::absent());
  CHECK(s.is_block());
  CHECK(s.sashie().caption.form == Content::Form::Absent);
  CHECK_EQ(s.sashie().file, std::string_view("fig.png"));
}

TEST(constructor_invariants_are_fatal) {
  struct Row {
    const char* name;
    std::function<void(Interner&)> build;
    const char* message;
  };
  const Row rows[] = {
      {"ruby_base_tested_first",
       [](Interner& in) { syntax::make_ruby(in, empty_segments(), empty_segments(), false); },
       "Phase 3 must emit Ruby with non-empty base"},
      {"ruby_reading", [](Interner& in) { syntax::make_ruby(in, Content::plain("漢"), Content::plain(""), false); },
       "Phase 3 must emit Ruby with non-empty reading"},
      {"bouten",
       [](Interner& in) {
         syntax::make_bouten(in, Content::plain(""), BoutenKind::Goma, BoutenPosition::Right, false);
       },
       "Phase 3 must emit Bouten with a resolved non-empty target"},
      {"tate_chu_yoko", [](Interner& in) { syntax::make_tate_chu_yoko(in, empty_segments(), false); },
       "Phase 3 must emit TateChuYoko with non-empty text"},
      {"heading_hint", [](Interner& in) { syntax::make_heading_hint(in, "", 1); },
       "Phase 3 must emit HeadingHint with non-empty target"},
      {"sashie", [](Interner& in) { syntax::make_sashie(in, "", Content::absent()); },
       "Phase 3 must emit Sashie with non-empty file path"},
      {"kaeriten", [](Interner& in) { syntax::make_kaeriten(in, ""); },
       "Phase 3 must emit Kaeriten with non-empty mark"},
      {"annotation", [](Interner& in) { syntax::make_annotation(in, "", AnnotationKind::Verbatim); },
       "Phase 3 must emit Annotation with non-empty raw bytes"},
  };
  for (const Row& r : rows) {
    Death d = run_in_child([&] {
      Arena a;
      Interner in(a, 0);
      r.build(in);
    });
    if (testing::check_fails(!d.aborted || d.stderr_text != std::string(r.message) + "\n"))
      testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + testing::show(d.stderr_text));
  }
}

// ---- Eytzinger registry -------------------------------------------------------------------

namespace {

RegistryEntry entry_for(uint32_t i) {
  RegistryEntry e;
  e.kind = static_cast<EntryKind>(i % 4);
  e.container = ContainerKind::Indent;
  e.amount = static_cast<uint8_t>(i);
  e.node = YomikaNode::simple(NodeKind::Indent, static_cast<uint8_t>(i));
  return e;
}

SentinelRegistry registry_of(const std::vector<uint32_t>& positions) {
  std::vector<RegistryEntry> entries;
  for (uint32_t i = 0; i < positions.size(); ++i) entries.push_back(entry_for(i));
  return build_registry(positions, entries);
}

}  // namespace

TEST(eytzinger_layout_examples) {
  struct Row {
    const char* name;
    std::vector<uint32_t> sorted;
    std::vector<uint32_t> layout;
  };
  const Row rows[] = {
      {"empty", {}, {}},
      {"one", {7}, {7}},
      {"six", {5, 12, 20, 31, 40, 51}, {31, 12, 51, 5, 20, 40}},
      {"seven_complete", {0, 10, 20, 30, 40, 50, 60}, {30, 10, 50, 0, 20, 40, 60}},
  };
  for (const Row& r : rows) {
    SentinelRegistry reg = registry_of(r.sorted);
    if (testing::check_fails(reg.keys != r.layout)) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": wrong key layout");
    CHECK_EQ(reg.values.size(), r.layout.size());
  }
}

TEST(eytzinger_entries_follow_their_keys) {
  SentinelRegistry reg = registry_of({5, 12, 20, 31, 40, 51});
  const uint32_t sorted[] = {5, 12, 20, 31, 40, 51};
  for (uint32_t k = 0; k < 6; ++k) {
    RegistryEntry e = find_entry(reg, sorted[k]);
    CHECK(e.kind == entry_for(k).kind);
    CHECK_EQ(e.amount, static_cast<uint8_t>(k));
  }
}

TEST(eytzinger_absent_lookups) {
  SentinelRegistry empty = registry_of({});
  CHECK(find_entry(empty, 0).kind == EntryKind::Absent);
  SentinelRegistry one = registry_of({9});
  CHECK(find_entry(one, 9).kind != EntryKind::Absent);
  const uint32_t misses[] = {0, 8, 10, 11, UINT32_MAX};
  for (uint32_t m : misses) CHECK(find_entry(one, m).kind == EntryKind::Absent);
}

TEST(eytzinger_every_size_finds_every_key_and_nothing_inside_a_sentinel) {
  // Sentinels are three bytes and never overlap: positions at least three apart.
  for (uint32_t n = 1; n <= 300; ++n) {
    std::vector<uint32_t> positions;
    for (uint32_t k = 0; k < n; ++k) positions.push_back(3 * k + 6 * (k / 7));
    SentinelRegistry reg = registry_of(positions);
    bool ok = reg.keys.size() == n && reg.values.size() == n;
    // Breadth-first search-tree order: every key lies between its ancestors' bounds.
    for (std::size_t i = 0; ok && i < n; ++i) {
      if (2 * i + 1 < n) ok = reg.keys[2 * i + 1] < reg.keys[i];
      if (ok && 2 * i + 2 < n) ok = reg.keys[2 * i + 2] > reg.keys[i];
    }
    for (uint32_t k = 0; ok && k < n; ++k) {
      RegistryEntry e = find_entry(reg, positions[k]);
      ok = e.kind == entry_for(k).kind && e.amount == static_cast<uint8_t>(k) &&
           find_entry(reg, positions[k] + 1).kind == EntryKind::Absent &&
           find_entry(reg, positions[k] + 2).kind == EntryKind::Absent;
    }
    if (testing::check_fails(!ok)) {
      testing::fail(__FILE__, __LINE__, "registry of " + std::to_string(n) + " entries");
      break;
    }
  }
}
