// The sentinel walk that the HTML renderer and the notation serializer share: recognising a
// sentinel in the normalized text and fetching its registry entry with the kind check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "yomika/alloc/fatal.hpp"
#include "yomika/veb/eytzinger.hpp"

namespace yomika::render {

// EntryKind that a sentinel at text[h] (a 0xEE byte) stands for, or Absent when the bytes at h
// are not one of U+E001..U+E004.
inline EntryKind sentinel_kind_at(std::string_view text, std::size_t h) {
  if (h + 2 >= text.size()) return EntryKind::Absent;
  if (static_cast<unsigned char>(text[h + 1]) != 0x80) return EntryKind::Absent;
  unsigned char c = static_cast<unsigned char>(text[h + 2]);
  if (c < 0x81 || c > 0x84) return EntryKind::Absent;
  return static_cast<EntryKind>(c - 0x81);
}

// The entry of the sentinel at h whose kind is `kind`, or nullptr-equivalent (Absent) when the
// registry has none or one of another kind.
inline RegistryEntry matched_entry(const SentinelRegistry& registry, std::size_t h, EntryKind kind) {
  if (h > UINT32_MAX) fatal("normalized fits u32 per Phase 0 cap");
  RegistryEntry e = find_entry(registry, static_cast<uint32_t>(h));
  if (e.kind != kind) return RegistryEntry{};
  return e;
}

}  // namespace yomika::render
