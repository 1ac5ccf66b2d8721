// The sentinel codec: the four private-use characters that stand for constructs in the normalized
// text, written and recognised here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace yomika {

// What a sentinel stands for, which is also the kind of its registry entry: U+E001 an inline
// node, U+E002 a block node, U+E003 and U+E004 a container's opening and closing. Absent is no
// sentinel at all.
enum class EntryKind : uint8_t { Inline = 0, Block = 1, ContainerOpen = 2, ContainerClose = 3, Absent = 4 };

namespace sentinel {

inline constexpr uint32_t kFirst = 0xE001;  // EntryKind::Inline
inline constexpr std::size_t kKinds = 4;
inline constexpr std::size_t kLength = 3;  // UTF-8 bytes of each

// Line feeds on each side of a block or container sentinel: it stands on a line of its own
// between blank lines, so that it ends the paragraph before it and starts none.
inline constexpr std::size_t kLineFeeds = 2;
inline constexpr std::size_t kLineLength = kLineFeeds + kLength + kLineFeeds;

constexpr uint32_t code_point(EntryKind k) { return kFirst + static_cast<uint32_t>(k); }

namespace detail {
struct Forms {
  char bytes[kKinds][kLength];
  char lines[kKinds][kLineLength];
};
constexpr Forms make_forms() {
  Forms f{};
  for (std::size_t k = 0; k < kKinds; ++k) {
    const uint32_t cp = kFirst + static_cast<uint32_t>(k);
    const char b[kLength] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                             static_cast<char>(0x80 | (cp & 0x3F))};
    for (std::size_t i = 0; i < kLength; ++i) {
      f.bytes[k][i] = b[i];
      f.lines[k][kLineFeeds + i] = b[i];
    }
    for (std::size_t i = 0; i < kLineFeeds; ++i) f.lines[k][i] = f.lines[k][kLineFeeds + kLength + i] = '\n';
  }
  return f;
}
inline constexpr Forms kForms = make_forms();
}  // namespace detail

// The first byte of every sentinel. It leads every character of U+E000..U+EFFF, so a byte search
// for it finds the sentinels and the rare other private-use characters, which kind_at tells apart.
inline constexpr char kLead = detail::kForms.bytes[0][0];

// The sentinel of kind k (not Absent).
constexpr std::string_view bytes(EntryKind k) {
  return std::string_view(detail::kForms.bytes[static_cast<std::size_t>(k)], kLength);
}

// A block or container sentinel with its line feeds, kLineFeeds of them before it.
constexpr std::string_view line(EntryKind k) {
  return std::string_view(detail::kForms.lines[static_cast<std::size_t>(k)], kLineLength);
}

// The kind of the sentinel that starts at text[h], or Absent when none does.
inline EntryKind kind_at(std::string_view text, std::size_t h) {
  if (h >= text.size() || text.size() - h < kLength) return EntryKind::Absent;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + h;
  const auto* first = reinterpret_cast<const unsigned char*>(detail::kForms.bytes[0]);
  if (p[0] != first[0] || p[1] != first[1]) return EntryKind::Absent;
  const unsigned k = static_cast<unsigned>(p[2]) - first[2];
  return k < kKinds ? static_cast<EntryKind>(k) : EntryKind::Absent;
}

static_assert(bytes(EntryKind::Inline).substr(0, 2) == bytes(EntryKind::ContainerClose).substr(0, 2),
              "kind_at tells the sentinels apart by their last byte");
static_assert(bytes(EntryKind::Inline) == "\xEE\x80\x81" && bytes(EntryKind::ContainerClose) == "\xEE\x80\x84",
              "the sentinels are U+E001 to U+E004, in the order of EntryKind");
static_assert(line(EntryKind::Block) == "\n\n\xEE\x80\x82\n\n");

}  // namespace sentinel

}  // namespace yomika
