// Arena: bump allocation, in-place growth of the last allocation, reset keeping the first block.
#include "testing.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/alloc/pages.hpp"

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

// Scratch comes from the top of the block, below earlier scratch, and bump allocations stop
// short of it; dropped, its room is the bump allocator's again. Scratch that does not fit is an
// ordinary allocation, and a bump allocation that does not fit below the scratch opens a block.
TEST(arena_scratch_from_the_top) {
  Arena a;
  CHECK(a.try_reserve(4096));
  char* low = static_cast<char*>(a.alloc(1000, 8));
  char* s1 = static_cast<char*>(a.scratch(1000, 8));
  char* s2 = static_cast<char*>(a.scratch(1000, 8));
  CHECK(s2 + 1000 <= s1 && low + 1000 <= s2);
  char* mid = static_cast<char*>(a.alloc(1000, 8));
  CHECK(mid >= low + 1000 && mid + 1000 <= s2);
  CHECK(!a.grow_last(mid, 1000, 1500));  // would run into the scratch
  a.drop_scratch();
  CHECK(a.grow_last(mid, 1000, 2000));
  CHECK_EQ(a.capacity(), std::size_t{4096});

  a.reset();
  a.scratch(3000, 8);
  void* big = a.scratch(2000, 8);  // no room at the top: an ordinary allocation in a new block
  CHECK(big != nullptr);
  CHECK(a.capacity() > 4096);
  a.drop_scratch();  // the block with the scratch is no longer the current one
  a.reset();
  CHECK_EQ(a.capacity(), std::size_t{4096});
  CHECK(a.alloc(4000, 8) != nullptr);
  CHECK_EQ(a.capacity(), std::size_t{4096});
}

// A GrowBlock keeps its bytes however it grows: from the heap into a mapping of its own (whose
// heap pages are given back on the way), and as a mapping, also after huge pages were asked for
// over all of it or over a part (a part splits the mapping in the system's books, which a move of
// the whole mapping in one piece does not accept).
TEST(grow_block_grows_after_huge_page_advice) {
  enum class Advice { None, Whole, Part, FromHeap };
  for (Advice advice : {Advice::None, Advice::Whole, Advice::Part, Advice::FromHeap}) {
    yomika::GrowBlock b;
    const std::size_t first = advice == Advice::FromHeap ? std::size_t{600} << 10 : std::size_t{40} << 20;
    CHECK(b.try_grow(first, 0));
    auto* p = static_cast<unsigned char*>(b.data());
    for (std::size_t i = 0; i < first; i += 4096) p[i] = static_cast<unsigned char>(i / 4096);
    if (advice == Advice::Whole) b.advise_huge_pages();
    if (advice == Advice::Part) yomika::advise_huge_pages(p + 12345, first - 23456, 0);
    CHECK(b.try_grow(3 * first, first));
    CHECK(b.bytes() >= 3 * first);
    p = static_cast<unsigned char*>(b.data());
    bool kept = true;
    for (std::size_t i = 0; i < first && kept; i += 4096) kept = p[i] == static_cast<unsigned char>(i / 4096);
    CHECK(kept);
  }
}
