// The document's bump allocator.
#include "yomika/alloc/arena.hpp"

#include <cstdlib>
#include <new>

#include "yomika/alloc/pages.hpp"

namespace yomika {

namespace {
constexpr std::size_t kMinBlock = 64 * 1024;

// PERF NOTES. A document's first block is four times its source, and pages the process has not
// touched before cost a fault and a zeroing each, which for a one-shot parse came to more time
// than the parse itself (a fresh 4n block cost about 0.4 ms per MB of it on the corpus, where
// the whole pipeline needs about 1.4 ms per MB of source). So the first block of an arena that
// ends is kept, one per thread, and the next arena of a similar size starts in it with its
// pages already mapped: parsing many documents one after another (one per book, or parse_to_html
// called in a loop) then touches no new memory. The same holds for the overflow block of a parse
// that outgrows its first block (a text dense with constructs): reset keeps it for the next
// parse. Kept blocks are at most kMaxSpare bytes, and a block is taken only by a request of at
// least an eighth of its size, so a small document never pins a large block.
constexpr std::size_t kMaxSpare = std::size_t{64} << 20;

// Trivially destructible so that an arena ending late in a thread's exit can still look at it.
struct Spare {
  void* raw;
  std::size_t held;
  bool closed;  // the thread is exiting: nothing more is kept
};
thread_local Spare t_spare{nullptr, 0, false};

struct SpareRelease {
  ~SpareRelease() {
    std::free(t_spare.raw);
    t_spare = Spare{nullptr, 0, true};
  }
};
thread_local SpareRelease t_spare_release;

void* take_spare(std::size_t bytes, std::size_t& held) {
  if (!t_spare.raw || t_spare.held < bytes || bytes < t_spare.held / 8) return nullptr;
  void* raw = t_spare.raw;
  held = t_spare.held;
  t_spare.raw = nullptr;
  t_spare.held = 0;
  return raw;
}

// Keeps the block, or frees it when it is too large or smaller than the one kept already.
void give_spare(void* raw, std::size_t held) {
  if (t_spare.closed || held > kMaxSpare || held <= t_spare.held) {
    std::free(raw);
    return;
  }
  (void)&t_spare_release;  // constructs it, so that the thread's exit frees what is kept
  std::free(t_spare.raw);
  t_spare.raw = raw;
  t_spare.held = held;
}

char* align_up(char* p, std::size_t align) {
  auto v = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<char*>((v + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1));
}
}  // namespace

Arena::~Arena() {
  Block* b = first_;
  while (b) {
    Block* next = b->next;
    give_spare(b, b->held);
    b = next;
  }
}

bool Arena::try_reserve(std::size_t bytes) {
  static_assert(sizeof(Block) <= kHeader, "a block's header fits before its first allocation");
  if (bytes == 0 || first_) return true;
  if (bytes > SIZE_MAX - kHeader) return false;
  std::size_t held = bytes;
  void* raw = take_spare(bytes, held);
  if (!raw) {
    raw = std::malloc(kHeader + bytes);
    if (!raw) return false;
    advise_huge_pages(raw, kHeader + bytes);
  }
  Block* b = static_cast<Block*>(raw);
  b->next = nullptr;
  b->size = bytes;
  b->held = held;
  first_ = current_ = b;
  cur_ = reinterpret_cast<char*>(b) + kHeader;
  end_ = cur_ + bytes;
  last_ = nullptr;
  capacity_ = bytes;
  return true;
}

void Arena::new_block(std::size_t at_least) {
  // Blocks after the first double with the arena so that a parse that outgrows its reservation
  // needs only a logarithmic number of blocks.
  std::size_t want = capacity_ > kMinBlock ? capacity_ : kMinBlock;
  if (want < at_least) want = at_least;
  if (want > SIZE_MAX - kHeader) alloc_failed(SIZE_MAX);
  std::size_t held = want;
  void* raw = take_spare(want, held);
  if (!raw) {
    raw = std::malloc(kHeader + want);
    if (!raw) alloc_failed(kHeader + want);
    advise_huge_pages(raw, kHeader + want);
  }
  Block* b = static_cast<Block*>(raw);
  b->next = nullptr;
  b->size = want;
  b->held = held;
  if (current_) {
    // Keep any blocks that follow current_ (after a reset they are gone already).
    b->next = current_->next;
    current_->next = b;
  } else {
    first_ = b;
  }
  current_ = b;
  cur_ = reinterpret_cast<char*>(b) + kHeader;
  end_ = cur_ + want;
  last_ = nullptr;
  capacity_ += want;
  // Scratch left in the block before stays there, unused, until reset; its pages go back to the
  // system with the rest of the scratch.
  if (scratch_block_ != nullptr) left_scratch_.push_back(Range{scratch_low_, scratch_end_});
  scratch_block_ = nullptr;
  scratch_end_ = nullptr;
}

void* Arena::alloc(std::size_t size, std::size_t align) {
  if (size == 0) size = 1;
  char* p = cur_ ? align_up(cur_, align) : nullptr;
  if (!p || p > end_ || static_cast<std::size_t>(end_ - p) < size) {
    if (size > SIZE_MAX - align) alloc_failed(size);
    new_block(size + align);
    p = align_up(cur_, align);
  }
  last_ = p;
  cur_ = p + size;
  return p;
}

std::string_view Arena::copy(std::string_view bytes) {
  if (bytes.empty()) return std::string_view(static_cast<const char*>(alloc(1, 1)), 0);
  char* p = static_cast<char*>(alloc(bytes.size(), 1));
  std::memcpy(p, bytes.data(), bytes.size());
  return std::string_view(p, bytes.size());
}

bool Arena::grow_last(void* p, std::size_t old_size, std::size_t new_size) {
  (void)old_size;
  if (p == nullptr || p != last_) return false;
  if (static_cast<std::size_t>(end_ - last_) < new_size) return false;
  cur_ = last_ + new_size;
  return true;
}

void Arena::give_back(void* p, std::size_t size) {
  (void)size;
  if (p != nullptr && p == last_) {
    cur_ = last_;
    last_ = nullptr;
  }
}

void* Arena::scratch(std::size_t size, std::size_t align) {
  if (size == 0) size = 1;
  if (cur_ && size <= static_cast<std::size_t>(end_ - cur_)) {
    auto top = reinterpret_cast<std::uintptr_t>(end_) - size;
    top &= ~(static_cast<std::uintptr_t>(align) - 1);
    char* p = reinterpret_cast<char*>(top);
    if (p >= cur_) {
      if (scratch_block_ != current_) {
        scratch_block_ = current_;
        scratch_end_ = end_;
      }
      end_ = p;
      scratch_low_ = p;
      return p;
    }
  }
  return alloc(size, align);
}

void Arena::drop_scratch() {
  // A scratch of many megabytes (the interner's tables of a long text) would otherwise stay
  // resident through rendering, on top of the output.
  for (const Range& r : left_scratch_) release_pages(r.begin, static_cast<std::size_t>(r.end - r.begin));
  left_scratch_.clear();
  if (scratch_block_ != nullptr && scratch_block_ == current_) {
    release_pages(end_, static_cast<std::size_t>(scratch_end_ - end_));
    end_ = scratch_end_;
  }
  scratch_block_ = nullptr;
  scratch_end_ = nullptr;
}

void Arena::reset() {
  if (!first_) return;
  Block* b = first_->next;
  while (b) {
    Block* next = b->next;
    capacity_ -= b->size;
    // A parse that outgrew the first block will likely do so again on the next call: the block
    // is kept for it rather than unmapped and faulted in anew.
    give_spare(b, b->held);
    b = next;
  }
  first_->next = nullptr;
  current_ = first_;
  cur_ = reinterpret_cast<char*>(first_) + kHeader;
  end_ = cur_ + first_->size;
  last_ = nullptr;
  scratch_block_ = nullptr;
  scratch_end_ = nullptr;
  left_scratch_.clear();
}

}  // namespace yomika
