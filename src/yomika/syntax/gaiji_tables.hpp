// Static gaiji tables: JIS X 0213 cells by plane, row and cell, and characters by description.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace yomika::syntax::gaiji {

// Cells of one plane that map to one code point; keys are row << 8 | cell, strictly ascending.
struct CellTable {
  const uint16_t* keys;
  const uint32_t* code_points;
  uint32_t size;
};

// Cells whose Unicode form is two code points, as static UTF-8 strings.
struct PairCellTable {
  const uint16_t* keys;
  const std::string_view* texts;
  uint32_t size;
};

// Generated (gaiji_tables.cpp): the cells JIS X 0213:2004 adds to JIS X 0208.
extern const CellTable kPlane1Cells;        // written 第3水準1-row-cell
extern const CellTable kPlane2Cells;        // written 第4水準2-row-cell
extern const PairCellTable kPlane1PairCells;  // written 第3水準1-row-cell

struct DescriptionRow {
  std::string_view description;
  uint32_t code_point;
};

// The description table (gaiji_descriptions.tsv), sorted by description bytes.
std::span<const DescriptionRow> description_rows();

// Exact-key lookups. A mention key is 第3水準1-row-cell or 第4水準2-row-cell with row and cell in
// 1..94 written in decimal without leading zeros; any other spelling is simply not a key.
std::optional<std::string_view> find_two_code_points(std::string_view mention);
std::optional<uint32_t> find_mention(std::string_view mention);
std::optional<uint32_t> find_description(std::string_view description);

}  // namespace yomika::syntax::gaiji
