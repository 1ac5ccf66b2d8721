// The sentinel registry: sentinel positions of the normalized text in Eytzinger order.
#pragma once

#include <cstdint>
#include <vector>

#include "yomika/model/sentinel.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika {

struct RegistryEntry {
  EntryKind kind = EntryKind::Absent;
  ContainerKind container = ContainerKind::Indent;  // open/close
  uint8_t amount = 0;                               // open/close
  YomikaNode node{};                                // inline/block
};

struct SentinelRegistry {
  std::vector<uint32_t> keys;            // Eytzinger order
  std::vector<RegistryEntry> values;     // same order
};

// positions ascending; entries[i] belongs to positions[i].
SentinelRegistry build_registry(const std::vector<uint32_t>& positions, const std::vector<RegistryEntry>& entries);

// The same with the entries read from records of `stride` bytes, the entry at the start of each:
// for the source-node table, whose records begin with their entry.
SentinelRegistry build_registry(const uint32_t* positions, std::size_t n, const void* records, std::size_t stride);

inline RegistryEntry find_entry(const SentinelRegistry& r, uint32_t pos) {
  std::size_t i = 0, n = r.keys.size();
  const uint32_t* k = r.keys.data();
  while (i < n) {
    if (k[i] == pos) return r.values[i];
    i = pos < k[i] ? 2 * i + 1 : 2 * i + 2;
  }
  return RegistryEntry{};
}

}  // namespace yomika
