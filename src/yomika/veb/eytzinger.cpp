// Eytzinger layout of the sentinel registry: sorted keys as an implicit BFS-ordered search tree.
#include "yomika/veb/eytzinger.hpp"

#include "yomika/alloc/fatal.hpp"

namespace yomika {

std::vector<uint32_t> eytzinger_slots(std::size_t n) {
  // In-order walk: descend left subtrees on an explicit stack (its depth is the tree's height),
  // move to right subtrees by iteration.
  std::vector<uint32_t> order;
  order.reserve(n);
  std::vector<std::size_t> stack;
  std::size_t i = 0;
  while (i < n || !stack.empty()) {
    while (i < n) {
      stack.push_back(i);
      i = 2 * i + 1;
    }
    i = stack.back();
    stack.pop_back();
    order.push_back(static_cast<uint32_t>(i));
    i = 2 * i + 2;
  }
  return order;
}

SentinelRegistry build_registry(const std::vector<uint32_t>& positions, const std::vector<RegistryEntry>& entries) {
  SentinelRegistry r;
  const std::size_t n = positions.size();
  if (n == 0) return r;
  std::vector<uint32_t> slots = eytzinger_slots(n);
  if (slots.size() != n) fatal("every Eytzinger slot was filled");
  r.keys.assign(n, 0);
  std::vector<bool> filled(n, false);
  for (std::size_t k = 0; k < n; ++k) {
    r.keys[slots[k]] = positions[k];
    filled[slots[k]] = true;
  }
  for (bool f : filled)
    if (!f) fatal("every Eytzinger slot was filled");
  r.values.assign(n, RegistryEntry{});
  for (std::size_t k = 0; k < n; ++k) r.values[slots[k]] = entries[k];
  for (const RegistryEntry& e : r.values)
    if (e.kind == EntryKind::Absent) fatal("every value slot was filled");
  return r;
}

}  // namespace yomika
