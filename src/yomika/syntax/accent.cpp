// Accent decomposition: ASCII letter-and-mark pairs inside 〔…〕 become accented letters.
#include "yomika/syntax/accent.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include "yomika/spec/span.hpp"

namespace yomika::syntax {
namespace {

constexpr std::string_view kOpen = "\xE3\x80\x94";   // 〔
constexpr std::string_view kClose = "\xE3\x80\x95";  // 〕

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
void rewrite_content(std::string_view content, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(content.data());
  const std::size_t len = content.size();
  char buf[4];
  std::size_t n = 0;
  while (n < len) {
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

std::size_t find_seq(std::string_view text, std::size_t from, std::string_view needle) {
  if (from >= text.size()) return std::string_view::npos;
  const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
}

}  // namespace

std::string decompose_accents(std::string_view text) {
  std::string out;
  // Rewrites only ever add a byte per key (a two-byte key to a three-byte letter), so the text's
  // own length is the right first guess.
  out.reserve(text.size());
  std::size_t r = 0;
  while (r < text.size()) {
    std::size_t open = find_seq(text, r, kOpen);
    if (open == std::string_view::npos) break;
    std::size_t c = open + kOpen.size();
    std::size_t close = find_seq(text, c, kClose);
    if (close == std::string_view::npos) break;  // an unclosed 〔 and all after it stay as they are
    out.append(text.substr(r, c - r));
    std::string_view content = text.substr(c, close - c);
    if (has_mark(content)) {
      rewrite_content(content, out);
    } else {
      out.append(content);
    }
    out.append(kClose);
    r = close + kClose.size();
  }
  if (r < text.size()) out.append(text.substr(r));
  return out;
}

}  // namespace yomika::syntax
