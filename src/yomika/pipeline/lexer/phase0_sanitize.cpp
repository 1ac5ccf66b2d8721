// Phase 0: byte-order marks, line endings, rule lines, accents and reserved sentinel characters.
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"

#include <algorithm>
#include <cstring>
#include <string.h>  // memrchr
#include <vector>

#include "yomika/model/sentinel.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/syntax/accent.hpp"
#include "yomika/model/span.hpp"

namespace yomika::lex {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kTortoiseOpen = "\xE3\x80\x94";  // 〔
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";   // U+FFFD
constexpr std::size_t kMinRuleLength = 10;

inline unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }

// Byte length of the white-space character that starts at p, 0 if none starts there. Matches
// whole byte sequences with bounds checks, so a truncated sequence at the end is not white space.
std::size_t white_space_at(const char* p, const char* end) {
  std::size_t n = static_cast<std::size_t>(end - p);
  unsigned char b0 = byte_at(p);
  if (b0 == 0x20 || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
  if (b0 < 0xC2 || n < 2) return 0;
  unsigned char b1 = byte_at(p + 1);
  if (b0 == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  if (n < 3) return 0;
  unsigned char b2 = byte_at(p + 2);
  switch (b0) {
    case 0xE1:  // U+1680
      return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
    case 0xE2:
      if (b1 == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
        return (b2 <= 0x8A && b2 >= 0x80) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
      }
      return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
    case 0xE3:  // U+3000, the ideographic space
      return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
    default:
      return 0;
  }
}

bool is_rule_byte(unsigned char b) { return b == '-' || b == '=' || b == '_'; }

const char* skip_white_space(const char* p, const char* end) {
  while (p < end) {
    std::size_t n = white_space_at(p, end);
    if (n == 0) break;
    p += n;
  }
  return p;
}

// A rule line trims to ten or more copies of one of "-", "=", "_". Equivalently: after the leading
// white space comes a run of one rule byte, at least ten long, and only white space after it.
// Most lines fail at their first non-blank byte, so the check costs little on ordinary text.
bool is_rule_line(const char* p, const char* end) {
  p = skip_white_space(p, end);
  if (p == end || !is_rule_byte(byte_at(p))) return false;
  const char* run = p;
  char c = *p;
  while (p < end && *p == c) ++p;
  if (static_cast<std::size_t>(p - run) < kMinRuleLength) return false;
  return skip_white_space(p, end) == end;
}

// Whether a run of kMinRuleLength copies of the byte at p starts there.
bool starts_run(const char* p, const char* end) {
  if (static_cast<std::size_t>(end - p) < kMinRuleLength) return false;
  for (std::size_t i = 1; i < kMinRuleLength; ++i)
    if (p[i] != *p) return false;
  return true;
}

bool is_blank_line(const char* p, const char* end) { return skip_white_space(p, end) == end; }

const char* line_end(const char* p, const char* end) {
  if (p == end) return end;
  const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
  return lf ? static_cast<const char*>(lf) : end;
}

// CR LF and lone CR both become LF; the output is never longer than the input.
std::string normalize_line_endings(std::string_view text, std::size_t first_cr) {
  std::string out;
  out.reserve(text.size());
  const char* p = text.data();
  std::size_t n = text.size(), from = 0, cr = first_cr;
  while (cr < n) {
    out.append(p + from, cr - from);
    out.push_back('\n');
    from = (cr + 1 < n && p[cr + 1] == '\n') ? cr + 2 : cr + 1;
    cr = scan::find_byte(p, n, from, '\r');
  }
  out.append(p + from, n - from);
  return out;
}

bool contains_tortoise_open(std::string_view text) {
  return scan::find_seq3(text.data(), text.size(), 0, kTortoiseOpen[0], kTortoiseOpen[1], kTortoiseOpen[2]) <
         text.size();
}

// Calls f(offset, code point) for every sentinel character in the text, in ascending order. Their
// lead byte is rare in Japanese text (it leads only private-use characters), so the byte search
// mostly runs to the end without a hit.
//
// PERF: where one private-use character follows another (a hostile text of nothing else), the
// next lead byte is read where it must stand rather than searched for: a search per character
// was a tenth of every call on such a text.
template <class F>
void for_each_sentinel(std::string_view text, F&& f) {
  const char* p = text.data();
  std::size_t n = text.size();
  auto lead = [&](std::size_t i) { return p[i] == sentinel::kLead; };
  for (std::size_t i = scan::find_byte(p, n, 0, sentinel::kLead); i < n;) {
    const EntryKind kind = sentinel::kind_at(text, i);
    if (kind != EntryKind::Absent) f(i, sentinel::code_point(kind));
    if (i + 3 < n && !lead(i + 1) && !lead(i + 2) && lead(i + 3)) {
      i += 3;
    } else {
      i = scan::find_byte(p, n, i + 1, sentinel::kLead);
    }
  }
}

// PERF NOTES. Rule lines are rare and every one of them holds at least ten rule bytes, while
// prose holds almost none: a block search for '-', '=' and '_' skips every line without one,
// and only the lines it lands in are examined (each at most once, since the search resumes after
// the line). Walking every line with a line-feed search and a blank-skip, as before, ran at
// about 1 GB/s on the corpus; the block search runs at several GB/s.
//
// Calls f(start, end) for every rule line [start, end) of the text in ascending order, until f
// returns false.
template <class F>
void for_each_rule_line(std::string_view text, F&& f) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::size_t from = 0;
  while (from < n) {
    std::size_t hit = scan::find_byte3(p, n, from, '-', '=', '_');
    if (hit >= n) return;
    // A rule line's first rule byte starts its run of ten: a shorter run (the hyphens of
    // "1-85-54" in a note) cannot be one, nor can anything else on its line before a longer one.
    if (!starts_run(p + hit, p + n)) {
      from = hit + 1;
      continue;
    }
    const void* lf = hit ? memrchr(p, '\n', hit) : nullptr;
    const char* start = lf ? static_cast<const char*>(lf) + 1 : p;
    const char* end = line_end(p + hit, p + n);
    if (is_rule_line(start, end) && !f(start, end)) return;
    from = static_cast<std::size_t>(end - p) + 1;
  }
}

// Whether the line that starts at `start` of the text at p has a preceding line that is not
// blank: a rule line there gets a line feed in front of it.
bool follows_text(const char* p, const char* start) {
  if (start == p) return false;      // the first line has no preceding line
  const char* prev_end = start - 1;  // its line feed
  const void* lf = prev_end > p ? memrchr(p, '\n', static_cast<std::size_t>(prev_end - p)) : nullptr;
  const char* prev = lf ? static_cast<const char*>(lf) + 1 : p;
  return !is_blank_line(prev, prev_end);
}

// Where separate_rule_lines inserts its line feeds: before every rule line that has a preceding
// line which is not blank.
std::vector<std::size_t> rule_line_insertions(std::string_view text) {
  std::vector<std::size_t> at;
  const char* p = text.data();
  for_each_rule_line(text, [&](const char* start, const char*) {
    if (follows_text(p, start)) at.push_back(static_cast<std::size_t>(start - p));
    return true;
  });
  return at;
}

std::string insert_line_feeds(std::string_view text, const std::vector<std::size_t>& at) {
  std::string out;
  // Exactly the final length: the text is copied in one piece per insertion.
  out.reserve(text.size() + at.size());
  std::size_t copied = 0;
  for (std::size_t a : at) {
    out.append(text.data() + copied, a - copied);
    out.push_back('\n');
    copied = a;
  }
  out.append(text.data() + copied, text.size() - copied);
  return out;
}

}  // namespace

bool has_rule_line(std::string_view text) {
  bool found = false;
  for_each_rule_line(text, [&](const char*, const char*) {
    found = true;
    return false;
  });
  return found;
}

std::string separate_rule_lines(std::string_view text) { return insert_line_feeds(text, rule_line_insertions(text)); }

void separate_rule_lines_at(std::string& text, const std::vector<std::size_t>& rule_lines) {
  std::vector<std::size_t> at;
  for (std::size_t start : rule_lines) {
    if (start <= text.size() && follows_text(text.data(), text.data() + start)) at.push_back(start);
  }
  if (!at.empty()) text = insert_line_feeds(text, at);
}

bool is_rule_line(std::string_view line) { return is_rule_line(line.data(), line.data() + line.size()); }

namespace {

// PERF NOTES. Steps 2 to 5 are planned before anything is copied: step 3 yields the positions of
// its line feeds and step 4 the byte ranges it rewrites (with their new bytes), and one copy
// applies both, straight into the destination (for the parser, the document's arena). Step 5
// then patches that copy in place. Copying once instead of once per step (and once more into the
// arena) took Phase 0 plus the driver's copy from 2.3 to about 4 GB/s on the corpus, whose texts
// need both steps 3 and 4.
//
// A line feed of step 3 goes before a rule line, right after another line feed; no key of step 4
// contains a line feed, so a rewrite reads the same keys whether or not the line feeds are in the
// text, and the two steps can be planned on the same text. Only a line feed inside a rewritten
// content (a rule line within 〔…〕) would have to be placed inside the rewritten bytes; that text
// gets step 3 applied on its own first.
struct Plan {
  std::string_view text;                 // after steps 1 and 2
  std::string buffer;                    // holds `text` when an earlier step had to copy
  std::size_t bom = 0;                   // bytes step 1 removed
  std::vector<std::size_t> feeds;        // step 3
  std::vector<std::size_t> early_feeds;  // step 3 when applied before step 4, already in `text`
  std::vector<syntax::AccentEdit> edits; // step 4
  std::string rewritten;
  std::size_t size = 0;                  // of the result

  Plan() = default;
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;

  bool copies() const { return !feeds.empty() || !edits.empty(); }
};

void own(Plan& plan, std::string&& next) {
  plan.buffer = std::move(next);
  plan.text = plan.buffer;
}

void make_plan(std::string_view source, Plan& plan) {
  // Step 1: every leading byte-order mark goes; a view needs no copy for that.
  while (source.size() >= kByteOrderMark.size() && source.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    source.remove_prefix(kByteOrderMark.size());
    plan.bom += kByteOrderMark.size();
  }
  plan.text = source;

  // Step 2: line endings.
  std::size_t cr = scan::find_byte(plan.text.data(), plan.text.size(), 0, '\r');
  if (cr < plan.text.size()) own(plan, normalize_line_endings(plan.text, cr));

  // Step 3: a rule line directly under text gets a blank line before it. Rule lines that need
  // none (the first line, or one under a blank line) leave the text as it is.
  plan.feeds = rule_line_insertions(plan.text);

  // Step 4: 〔…〕 accent notation. Only a content that holds a mark character can change.
  if (contains_tortoise_open(plan.text)) {
    syntax::accent_edits(plan.text, plan.edits, plan.rewritten);
    bool feed_inside = false;
    std::size_t f = 0;
    for (const syntax::AccentEdit& e : plan.edits) {
      while (f < plan.feeds.size() && plan.feeds[f] <= e.start) ++f;
      if (f < plan.feeds.size() && plan.feeds[f] < e.end) feed_inside = true;
    }
    if (feed_inside) {
      own(plan, insert_line_feeds(plan.text, plan.feeds));
      plan.early_feeds.swap(plan.feeds);  // kept for the source map; the copy did not need them
      plan.edits.clear();
      plan.rewritten.clear();
      syntax::accent_edits(plan.text, plan.edits, plan.rewritten);
    }
  }

  plan.size = plan.text.size() + plan.feeds.size();
  for (const syntax::AccentEdit& e : plan.edits) plan.size = plan.size - (e.end - e.start) + e.out_len;
}

// Writes the result of steps 3 and 4 to dst (plan.size bytes), the text copied in one piece
// between consecutive edits.
void apply_plan(const Plan& plan, char* dst) {
  const char* src = plan.text.data();
  std::size_t r = 0, f = 0;
  auto copy_to = [&](std::size_t at) {
    std::memcpy(dst, src + r, at - r);
    dst += at - r;
    r = at;
  };
  for (const syntax::AccentEdit& e : plan.edits) {
    for (; f < plan.feeds.size() && plan.feeds[f] <= e.start; ++f) {
      copy_to(plan.feeds[f]);
      *dst++ = '\n';
    }
    copy_to(e.start);
    std::memcpy(dst, plan.rewritten.data() + e.out_start, e.out_len);
    dst += e.out_len;
    r = e.end;
  }
  for (; f < plan.feeds.size(); ++f) {
    copy_to(plan.feeds[f]);
    *dst++ = '\n';
  }
  copy_to(plan.text.size());
}

// Step 5: the four sentinel characters are reserved for assembly; any in the text become U+FFFD
// so that every sentinel in the normalized text is one that assembly wrote. Returns whether the
// text holds any; `patch` (the text's own bytes, or null to only look) gets the replacements. The
// replacement has the same length, so the warnings' spans stay spans of the result.
bool replace_sentinels(std::string_view text, char* patch, Diagnostics& warnings) {
  bool any = false;
  for_each_sentinel(text, [&](std::size_t at, uint32_t cp) {
    any = true;
    if (!patch) return;
    // Offsets past 32 bits only occur in texts that Phase 1 refuses, so truncation never shows.
    auto start = static_cast<uint32_t>(at);
    warnings.push_back(Diagnostic{DiagnosticKind::SourceContainsPua, 0, cp, Span{start, start + 3}});
    static_assert(kReplacement.size() == sentinel::kLength);
    std::memcpy(patch + at, kReplacement.data(), sentinel::kLength);
  });
  return any;
}

}  // namespace

void sanitize(std::string_view source, Sanitized& out, Diagnostics& warnings) {
  Plan plan;
  make_plan(source, plan);
  out.copied = false;
  out.owned.clear();
  if (plan.copies()) {
    out.owned.resize(plan.size);
    apply_plan(plan, out.owned.data());
    out.copied = true;
  } else if (!plan.buffer.empty()) {
    out.owned = std::move(plan.buffer);
    out.copied = true;
  }
  out.text = out.copied ? std::string_view(out.owned) : plan.text;
  if (!replace_sentinels(out.text, nullptr, warnings)) return;
  if (!out.copied) {
    out.owned.assign(out.text);
    out.text = out.owned;
    out.copied = true;
  }
  replace_sentinels(out.text, out.owned.data(), warnings);
}

std::string_view sanitize_into(std::string_view source, Arena& arena, Diagnostics& warnings) {
  Plan plan;
  make_plan(source, plan);
  if (plan.size == 0) return std::string_view(static_cast<const char*>(arena.alloc(1, 1)), 0);
  char* dst = static_cast<char*>(arena.alloc(plan.size, 1));
  if (plan.copies()) {
    apply_plan(plan, dst);
  } else {
    std::memcpy(dst, plan.text.data(), plan.size);
  }
  const std::string_view text(dst, plan.size);
  replace_sentinels(text, dst, warnings);
  return text;
}

namespace {

using Anchor = SourceMap::Anchor;

// One edit in source coordinates: `length` source bytes from `start` became `out_length` bytes.
struct Change {
  std::size_t start, length, out_length;
};

// Maps an offset of an edited text back through that edit's anchors (the rule of SourceMap).
std::size_t back(const std::vector<Anchor>& anchors, std::size_t offset) {
  auto it = std::upper_bound(anchors.begin(), anchors.end(), offset,
                             [](std::size_t s, const Anchor& a) { return s < a.sanitized; });
  if (it == anchors.begin()) return offset;
  --it;
  return it->source + (offset - it->sanitized);
}

// Calls f(offset in content, key length, letter length) for every accent key of one rewritten
// content whose letter is not as long as its key. Bytes outside keys are copied unchanged, and a
// key (ASCII) never starts with the lead byte of its letter (non-ASCII), so the two walk in step:
// where they differ a key starts. A ligature key is two letters and '&', every other key a letter
// and a mark, so the byte after the first letter tells the key's length.
template <class F>
void for_each_resized_key(std::string_view content, std::string_view rewritten, F&& f) {
  auto letter = [](unsigned char b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; };
  std::size_t i = 0, j = 0;
  while (i < content.size() && j < rewritten.size()) {
    if (content[i] == rewritten[j]) {
      ++i, ++j;
      continue;
    }
    const std::size_t key = i + 1 < content.size() && letter(byte_at(content.data() + i + 1)) ? 3 : 2;
    const std::size_t out = byte_at(rewritten.data() + j) >= 0xE0 ? 3 : 2;
    if (key != out) f(i, key, out);
    i += key;
    j += out;
  }
}

}  // namespace

std::size_t SourceMap::to_source(std::size_t sanitized_offset) const { return back(anchors, sanitized_offset); }

// The edits of every step are gathered in source coordinates and turned into anchors in one walk.
// A later step's positions are carried back through the earlier steps' anchors; each lies at a
// line start or on an ASCII key, never inside an earlier edit, so it comes back exactly.
SourceMap source_map(std::string_view source) {
  Plan plan;
  make_plan(source, plan);
  std::vector<Change> changes;
  if (plan.bom) changes.push_back({0, plan.bom, 0});

  // Step 2: CR LF became LF (a lone CR stays one byte).
  std::vector<Anchor> line_ends;
  const std::string_view stage1 = source.substr(plan.bom);
  for (std::size_t cr = scan::find_byte(stage1.data(), stage1.size(), 0, '\r'); cr < stage1.size();) {
    std::size_t next = cr + 1;
    if (next < stage1.size() && stage1[next] == '\n') {
      line_ends.push_back({cr - line_ends.size() + 1, cr + 2});
      changes.push_back({plan.bom + cr, 2, 1});
      ++next;
    }
    cr = scan::find_byte(stage1.data(), stage1.size(), next, '\r');
  }

  // Step 3 when it ran before step 4: `plan.text` holds these line feeds.
  std::vector<Anchor> early;
  for (std::size_t f : plan.early_feeds) {
    early.push_back({f + early.size() + 1, f});
    changes.push_back({plan.bom + back(line_ends, f), 0, 1});
  }
  auto to_source = [&](std::size_t at) { return plan.bom + back(line_ends, back(early, at)); };

  // Steps 3 and 4 as `apply_plan` writes them.
  for (std::size_t f : plan.feeds) changes.push_back({to_source(f), 0, 1});
  for (const syntax::AccentEdit& e : plan.edits) {
    const std::string_view content = plan.text.substr(e.start, e.end - e.start);
    const std::string_view rewritten = std::string_view(plan.rewritten).substr(e.out_start, e.out_len);
    for_each_resized_key(content, rewritten, [&](std::size_t at, std::size_t key, std::size_t out) {
      changes.push_back({to_source(e.start + at), key, out});
    });
  }
  // An insertion goes before a change that starts where it does.
  std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    return a.start != b.start ? a.start < b.start : a.length < b.length;
  });

  SourceMap map;
  map.source_size = source.size();
  map.sanitized_size = plan.size;
  std::size_t grown = 0, shrunk = 0;  // sanitized offset = source offset + grown - shrunk
  for (const Change& c : changes) {
    if (c.length == c.out_length) continue;
    if (c.out_length > c.length) {
      grown += c.out_length - c.length;
    } else {
      shrunk += c.length - c.out_length;
    }
    const Anchor a{c.start + c.length + grown - shrunk, c.start + c.length};
    if (!map.anchors.empty() && map.anchors.back().sanitized == a.sanitized) map.anchors.back() = a;
    else map.anchors.push_back(a);
  }
  return map;
}

}  // namespace yomika::lex
