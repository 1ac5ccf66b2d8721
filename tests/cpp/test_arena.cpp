// Arena: bump allocation, in-place growth of the last allocation, reset keeping the first block.
#include "testing.hpp"
#include "yomika/alloc/arena.hpp"

using yomika::Arena;
using yomika::ArenaVec;

TEST(arena_grow_last_only_for_most_recent) {
  Arena a;
  CHECK(a.try_reserve(1024));
  void* p = a.alloc(16, 8);
  void* q = a.alloc(16, 8);
  CHECK(!a.grow_last(p, 16, 32));
  CHECK(a.grow_last(q, 16, 64));
  void* r = a.alloc(8, 8);
  CHECK(static_cast<char*>(r) >= static_cast<char*>(q) + 64);
}

TEST(arena_reset_keeps_first_block_and_bounds_growth) {
  Arena a;
  CHECK(a.try_reserve(4096));
  for (int round = 0; round < 1000; ++round) {
    a.reset();
    for (int i = 0; i < 100; ++i) a.alloc(1000, 8);  // outgrows the first block every round
  }
  std::size_t after_many = a.capacity();
  a.reset();
  CHECK_EQ(a.capacity(), std::size_t{4096});
  CHECK(after_many < 1024 * 1024);
}

TEST(arena_vec_grows_and_keeps_contents) {
  Arena a;
  ArenaVec<uint32_t> v;
  for (uint32_t i = 0; i < 100000; ++i) v.push_back(a, i);
  bool ok = v.size == 100000;
  for (uint32_t i = 0; i < 100000 && ok; ++i) ok = v[i] == i;
  CHECK(ok);
}
