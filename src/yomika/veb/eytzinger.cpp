// Eytzinger layout of the sentinel registry: sorted keys as an implicit BFS-ordered search tree.
#include "yomika/veb/eytzinger.hpp"

#include <cstring>

#include "yomika/alloc/fatal.hpp"

namespace yomika {

SentinelRegistry build_registry(const uint32_t* positions, std::size_t n, const void* records, std::size_t stride) {
  SentinelRegistry r;
  if (n == 0) return r;
  // PERF: keys and entries are written in the one in-order walk of the slots (the k-th slot in
  // order takes the k-th position), without the list of slots and the marks of filled ones that
  // a walk and two placing passes needed.
  r.keys.resize(n);
  r.values.resize(n);
  const auto* bytes = static_cast<const unsigned char*>(records);
  std::size_t k = 0;
  std::size_t stack[64];  // the tree's height is at most 64
  std::size_t depth = 0;
  std::size_t i = 0;
  while (i < n || depth != 0) {
    while (i < n) {
      stack[depth++] = i;
      i = 2 * i + 1;
    }
    i = stack[--depth];
    if (k == n) fatal("every Eytzinger slot was filled");
    r.keys[i] = positions[k];
    std::memcpy(static_cast<void*>(&r.values[i]), bytes + k * stride, sizeof(RegistryEntry));
    if (r.values[i].kind == EntryKind::Absent) fatal("every value slot was filled");
    ++k;
    i = 2 * i + 2;
  }
  if (k != n) fatal("every Eytzinger slot was filled");
  return r;
}

SentinelRegistry build_registry(const std::vector<uint32_t>& positions, const std::vector<RegistryEntry>& entries) {
  if (positions.size() != entries.size()) fatal("every Eytzinger slot was filled");
  return build_registry(positions.data(), positions.size(), entries.data(), sizeof(RegistryEntry));
}

}  // namespace yomika
