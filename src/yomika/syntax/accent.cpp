// Accent decomposition: ASCII letter-and-mark pairs inside 〔…〕 become accented letters.
#include "yomika/syntax/accent.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include "yomika/scan/byte_search.hpp"
#include "yomika/model/span.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::syntax {
namespace {

constexpr std::string_view kOpen = vocab::bracket(PairKind::Tortoise).open;
constexpr std::string_view kClose = vocab::bracket(PairKind::Tortoise).close;
static_assert(kOpen.size() == 3 && kClose.size() == 3, "find_seq looks for one three-byte character");

// The nine ASCII marks, in the order of the rows of the lookup table below.
constexpr std::string_view kMarks = "`'^:~_,/&";

struct AccentKey {
  char letter;
  char mark;
  uint16_t code_point;
};

// Every letter-and-mark pair the notation knows, grouped by mark. The rest of this file only
// reads the direct-indexed table built from it.
constexpr AccentKey kAccentKeys[] = {
    // grave
    {'A', '`', 0x00C0}, {'E', '`', 0x00C8}, {'I', '`', 0x00CC}, {'N', '`', 0x01F8}, {'O', '`', 0x00D2},
    {'U', '`', 0x00D9}, {'a', '`', 0x00E0}, {'e', '`', 0x00E8}, {'i', '`', 0x00EC}, {'n', '`', 0x01F9},
    {'o', '`', 0x00F2}, {'u', '`', 0x00F9},
    // acute
    {'A', '\'', 0x00C1}, {'C', '\'', 0x0106}, {'E', '\'', 0x00C9}, {'I', '\'', 0x00CD}, {'L', '\'', 0x0139},
    {'M', '\'', 0x1E3E}, {'N', '\'', 0x0143}, {'O', '\'', 0x00D3}, {'R', '\'', 0x0154}, {'S', '\'', 0x015A},
    {'U', '\'', 0x00DA}, {'Y', '\'', 0x00DD}, {'Z', '\'', 0x0179}, {'a', '\'', 0x00E1}, {'c', '\'', 0x0107},
    {'e', '\'', 0x00E9}, {'i', '\'', 0x00ED}, {'l', '\'', 0x013A}, {'m', '\'', 0x1E3F}, {'n', '\'', 0x0144},
    {'o', '\'', 0x00F3}, {'r', '\'', 0x0155}, {'s', '\'', 0x015B}, {'u', '\'', 0x00FA}, {'y', '\'', 0x00FD},
    {'z', '\'', 0x017A},
    // circumflex
    {'A', '^', 0x00C2}, {'C', '^', 0x0108}, {'E', '^', 0x00CA}, {'G', '^', 0x011C}, {'H', '^', 0x0124},
    {'I', '^', 0x00CE}, {'J', '^', 0x0134}, {'O', '^', 0x00D4}, {'S', '^', 0x015C}, {'U', '^', 0x00DB},
    {'a', '^', 0x00E2}, {'c', '^', 0x0109}, {'e', '^', 0x00EA}, {'g', '^', 0x011D}, {'h', '^', 0x0125},
    {'i', '^', 0x00EE}, {'j', '^', 0x0135}, {'o', '^', 0x00F4}, {'s', '^', 0x015D}, {'u', '^', 0x00FB},
    // diaeresis
    {'A', ':', 0x00C4}, {'E', ':', 0x00CB}, {'I', ':', 0x00CF}, {'O', ':', 0x00D6}, {'U', ':', 0x00DC},
    {'a', ':', 0x00E4}, {'e', ':', 0x00EB}, {'i', ':', 0x00EF}, {'o', ':', 0x00F6}, {'u', ':', 0x00FC},
    {'y', ':', 0x00FF},
    // tilde
    {'A', '~', 0x00C3}, {'E', '~', 0x1EBC}, {'I', '~', 0x0128}, {'N', '~', 0x00D1}, {'O', '~', 0x00D5},
    {'U', '~', 0x0168}, {'a', '~', 0x00E3}, {'e', '~', 0x1EBD}, {'i', '~', 0x0129}, {'n', '~', 0x00F1},
    {'o', '~', 0x00F5}, {'u', '~', 0x0169},
    // macron
    {'A', '_', 0x0100}, {'E', '_', 0x0112}, {'I', '_', 0x012A}, {'O', '_', 0x014C}, {'U', '_', 0x016A},
    {'a', '_', 0x0101}, {'e', '_', 0x0113}, {'i', '_', 0x012B}, {'o', '_', 0x014D}, {'u', '_', 0x016B},
    // cedilla
    {'C', ',', 0x00C7}, {'S', ',', 0x015E}, {'T', ',', 0x0162}, {'c', ',', 0x00E7}, {'s', ',', 0x015F},
    {'t', ',', 0x0163},
    // stroke
    {'D', '/', 0x0110}, {'L', '/', 0x0141}, {'O', '/', 0x00D8}, {'d', '/', 0x0111}, {'h', '/', 0x0127},
    {'i', '/', 0x0268}, {'l', '/', 0x0142}, {'o', '/', 0x00F8},
    // ring and sharp s
    {'A', '&', 0x00C5}, {'U', '&', 0x016E}, {'a', '&', 0x00E5}, {'s', '&', 0x00DF}, {'u', '&', 0x016F},
};
static_assert(std::size(kAccentKeys) == 110);

constexpr uint8_t kNotMark = 0xFF;
constexpr int kLetterBase = 'A';
constexpr int kLetterSpan = 'z' - 'A' + 1;

// Mark byte -> row of the lookup table; kNotMark for every other byte. Also serves the
// "does this content hold any mark" scan.
constexpr std::array<uint8_t, 256> kMarkRow = [] {
  std::array<uint8_t, 256> rows{};
  for (auto& r : rows) r = kNotMark;
  for (std::size_t i = 0; i < kMarks.size(); ++i) rows[static_cast<unsigned char>(kMarks[i])] = static_cast<uint8_t>(i);
  return rows;
}();

// Direct-indexed table: row = mark, column = letter - 'A'; 0 where the pair is no key. One
// probe per candidate pair, no hashing, about one kilobyte.
struct AccentTable {
  uint16_t cells[9][kLetterSpan];
};
constexpr AccentTable kAccentTable = [] {
  AccentTable t{};
  for (const AccentKey& k : kAccentKeys) {
    uint16_t& cell = t.cells[kMarkRow[static_cast<unsigned char>(k.mark)]][k.letter - kLetterBase];
    if (cell != 0) throw "duplicate accent key";  // rejected at compile time
    cell = k.code_point;
  }
  return t;
}();

inline uint16_t accent_of(unsigned char letter, unsigned char mark) {
  uint8_t row = kMarkRow[mark];
  unsigned col = static_cast<unsigned>(letter) - kLetterBase;
  if (row == kNotMark || col >= static_cast<unsigned>(kLetterSpan)) return 0;
  return kAccentTable.cells[row][col];
}

// AE& OE& ae& oe&: the two letters decide, the third byte must be '&'.
inline uint16_t ligature_of(unsigned char a, unsigned char b) {
  if (a == 'A' && b == 'E') return 0x00C6;
  if (a == 'O' && b == 'E') return 0x0152;
  if (a == 'a' && b == 'e') return 0x00E6;
  if (a == 'o' && b == 'e') return 0x0153;
  return 0;
}

bool has_mark(std::string_view content) {
  for (char c : content)
    if (kMarkRow[static_cast<unsigned char>(c)] != kNotMark) return true;
  return false;
}

// Greedy from the left, never looking back. Bytes that start no key are copied one at a time:
// every key and ligature is ASCII, so a multi-byte character is never split into a key and the
// copy stays on character boundaries without decoding.
//
// PERF: a key starting at n has a mark at n + 1 or n + 2 (the ligatures end in '&'), so bytes
// more than two before the next mark start no key and are copied in one piece; the greedy walk
// only runs around the marks. A long content (an unclosed-looking 〔 whose 〕 comes a book later)
// is then copied at memory speed rather than a byte at a time.
void rewrite_content(std::string_view content, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(content.data());
  const std::size_t len = content.size();
  char buf[4];
  std::size_t n = 0;
  std::size_t next_mark = 0;  // first mark at or after n, once n has caught up with it
  while (n < len) {
    if (next_mark < n) next_mark = n;
    while (next_mark < len && kMarkRow[s[next_mark]] == kNotMark) ++next_mark;
    if (next_mark >= n + 3) {
      const std::size_t safe = next_mark - 2;
      out.append(content.data() + n, safe - n);
      n = safe;
    }
    if (n + 2 < len && s[n + 2] == '&') {
      if (uint16_t cp = ligature_of(s[n], s[n + 1])) {
        out.append(buf, encode_utf8(cp, buf));
        n += 3;
        continue;
      }
    }
    if (n + 1 < len) {
      if (uint16_t cp = accent_of(s[n], s[n + 1])) {
        out.append(buf, encode_utf8(cp, buf));
        n += 2;
        continue;
      }
    }
    out.push_back(static_cast<char>(s[n]));
    ++n;
  }
}

// Both brackets are three-byte characters, found with the block search for one character.
std::size_t find_seq(std::string_view text, std::size_t from, std::string_view needle) {
  std::size_t hit = scan::find_seq3(text.data(), text.size(), from, needle[0], needle[1], needle[2]);
  return hit < text.size() ? hit : std::string_view::npos;
}

// Calls f(content) for every content that decompose_accents visits, in order: the text from
// each 〔 to the first 〕 after it; the walk resumes after that 〕 and stops at an unclosed 〔.
template <class F>
void for_each_content(std::string_view text, F&& f) {
  std::size_t r = 0;
  while (r < text.size()) {
    std::size_t open = find_seq(text, r, kOpen);
    if (open == std::string_view::npos) return;
    std::size_t c = open + kOpen.size();
    std::size_t close = find_seq(text, c, kClose);
    if (close == std::string_view::npos) return;
    if (!f(text.substr(c, close - c))) return;
    r = close + kClose.size();
  }
}

}  // namespace

// PERF: the rewrites are found first and applied in one copy. A text whose brackets hold no mark
// (the common case: 〔 mostly encloses plain words) is then not copied at all, and a caller can
// fold the copy into one it makes anyway (Phase 0 writes straight into the document's arena).
void accent_edits(std::string_view text, std::vector<AccentEdit>& edits, std::string& rewritten) {
  for_each_content(text, [&](std::string_view content) {
    if (has_mark(content)) {
      const auto start = static_cast<std::size_t>(content.data() - text.data());
      const std::size_t at = rewritten.size();
      rewrite_content(content, rewritten);
      edits.push_back(AccentEdit{start, start + content.size(), at, rewritten.size() - at});
    }
    return true;
  });
}

std::string decompose_accents(std::string_view text) {
  std::vector<AccentEdit> edits;
  std::string rewritten;
  accent_edits(text, edits, rewritten);
  std::size_t size = text.size();
  for (const AccentEdit& e : edits) size = size - (e.end - e.start) + e.out_len;
  std::string out;
  out.reserve(size);
  std::size_t r = 0;
  for (const AccentEdit& e : edits) {
    out.append(text.substr(r, e.start - r));
    out.append(rewritten, e.out_start, e.out_len);
    r = e.end;
  }
  out.append(text.substr(r));
  return out;
}

}  // namespace yomika::syntax
