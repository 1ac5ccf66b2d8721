// Gaiji table lookups: mention keys parsed to plane/row/cell and binary-searched, descriptions
// binary-searched in a table that the compiler builds from gaiji_descriptions.tsv.
#include <algorithm>
#include <array>
#include <cstddef>

#include "yomika/syntax/gaiji_tables.hpp"
#include "yomika/syntax/vocabulary.hpp"

namespace yomika::syntax::gaiji {

// Never defined: reaching one while the compiler builds the description table fails the build
// with its name, which says what is wrong with the data file.
void gaiji_descriptions_tsv_row_needs_description_tab_code_point();
void gaiji_descriptions_tsv_code_point_is_not_a_unicode_scalar_value();
void gaiji_descriptions_tsv_has_a_duplicate_description();

namespace {

// ---- Description table -------------------------------------------------------------------------
//
// The build writes the data file's bytes as a string literal; everything below runs in the
// compiler, so the program carries a finished sorted array and does no work at start-up. A bad
// row stops the build at the call to the function named after the fault.

constexpr char kTsvBytes[] =
#include "yomika/syntax/gaiji_descriptions.inc"
    ;
constexpr std::string_view kTsv(kTsvBytes, sizeof(kTsvBytes) - 1);

// Calls f(line) for every data line: comment (#) and blank lines skipped, a CR before LF dropped.
template <class F>
constexpr void for_each_row(std::string_view text, F f) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() != '#') f(line);
    pos = nl + 1;
  }
}

constexpr std::size_t count_rows(std::string_view text) {
  std::size_t n = 0;
  for_each_row(text, [&](std::string_view) { ++n; });
  return n;
}

constexpr int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr DescriptionRow parse_row(std::string_view line) {
  std::size_t tab = line.find('\t');
  if (tab == 0 || tab == std::string_view::npos) gaiji_descriptions_tsv_row_needs_description_tab_code_point();
  std::string_view cp = line.substr(tab + 1);
  if (cp.size() < 3 || cp.size() > 8 || cp[0] != 'U' || cp[1] != '+')
    gaiji_descriptions_tsv_row_needs_description_tab_code_point();
  uint32_t value = 0;
  for (char c : cp.substr(2)) {
    int d = hex_value(c);
    if (d < 0) gaiji_descriptions_tsv_row_needs_description_tab_code_point();
    value = value * 16 + static_cast<uint32_t>(d);
  }
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    gaiji_descriptions_tsv_code_point_is_not_a_unicode_scalar_value();
  return DescriptionRow{line.substr(0, tab), value};
}

template <std::size_t N>
constexpr std::array<DescriptionRow, N> build_description_rows(std::string_view text) {
  std::array<DescriptionRow, N> rows{};
  std::size_t n = 0;
  for_each_row(text, [&](std::string_view line) { rows[n++] = parse_row(line); });
  std::sort(rows.begin(), rows.end(),
            [](const DescriptionRow& a, const DescriptionRow& b) { return a.description < b.description; });
  for (std::size_t i = 1; i < N; ++i)
    if (rows[i - 1].description == rows[i].description) gaiji_descriptions_tsv_has_a_duplicate_description();
  return rows;
}

constexpr auto kDescriptionRows = build_description_rows<count_rows(kTsv)>(kTsv);

// ---- Mention keys -------------------------------------------------------------------------------

enum class Plane : uint8_t { None, One, Two };

// A row or cell number: 1 to 94 in decimal, no leading zero. Advances pos past it.
uint32_t parse_row_or_cell(std::string_view s, std::size_t& pos) {
  if (pos >= s.size() || s[pos] < '1' || s[pos] > '9') return 0;
  uint32_t v = static_cast<uint32_t>(s[pos++] - '0');
  if (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') v = v * 10 + static_cast<uint32_t>(s[pos++] - '0');
  return v <= 94 ? v : 0;
}

// Splits an exact key into its plane and row << 8 | cell. Anything that is not spelled exactly as
// a table key (other levels, leading zeros, surrounding text) gives Plane::None, which is the
// same answer an exact-string map would give.
Plane parse_key(std::string_view mention, uint16_t& key) {
  static constexpr Phrase kLevel3Plane1{vocab::kLevel3, "1-"};
  static constexpr Phrase kLevel4Plane2{vocab::kLevel4, "2-"};
  Plane plane;
  std::size_t pos;
  if (mention.starts_with(kLevel3Plane1)) {
    plane = Plane::One;
    pos = kLevel3Plane1.size();
  } else if (mention.starts_with(kLevel4Plane2)) {
    plane = Plane::Two;
    pos = kLevel4Plane2.size();
  } else {
    return Plane::None;
  }
  uint32_t row = parse_row_or_cell(mention, pos);
  if (row == 0 || pos >= mention.size() || mention[pos] != '-') return Plane::None;
  ++pos;
  uint32_t cell = parse_row_or_cell(mention, pos);
  if (cell == 0 || pos != mention.size()) return Plane::None;
  key = static_cast<uint16_t>(row << 8 | cell);
  return plane;
}

// Index of key in a strictly ascending array, or size when absent.
uint32_t find_key(const uint16_t* keys, uint32_t size, uint16_t key) {
  const uint16_t* it = std::lower_bound(keys, keys + size, key);
  return it != keys + size && *it == key ? static_cast<uint32_t>(it - keys) : size;
}

}  // namespace

std::span<const DescriptionRow> description_rows() { return kDescriptionRows; }

std::optional<std::string_view> find_two_code_points(std::string_view mention) {
  uint16_t key = 0;
  if (parse_key(mention, key) != Plane::One) return std::nullopt;
  uint32_t i = find_key(kPlane1PairCells.keys, kPlane1PairCells.size, key);
  if (i == kPlane1PairCells.size) return std::nullopt;
  return kPlane1PairCells.texts[i];
}

std::optional<uint32_t> find_mention(std::string_view mention) {
  uint16_t key = 0;
  Plane plane = parse_key(mention, key);
  if (plane == Plane::None) return std::nullopt;
  const CellTable& t = plane == Plane::One ? kPlane1Cells : kPlane2Cells;
  uint32_t i = find_key(t.keys, t.size, key);
  if (i == t.size) return std::nullopt;
  return t.code_points[i];
}

std::optional<uint32_t> find_description(std::string_view description) {
  auto it = std::lower_bound(kDescriptionRows.begin(), kDescriptionRows.end(), description,
                             [](const DescriptionRow& r, std::string_view d) { return r.description < d; });
  if (it == kDescriptionRows.end() || it->description != description) return std::nullopt;
  return it->code_point;
}

}  // namespace yomika::syntax::gaiji
