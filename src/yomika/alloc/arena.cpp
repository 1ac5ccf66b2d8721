// The document's bump allocator.
#include "yomika/alloc/arena.hpp"

#include <cstdlib>
#include <new>

namespace yomika {

namespace {
constexpr std::size_t kMinBlock = 64 * 1024;

char* align_up(char* p, std::size_t align) {
  auto v = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<char*>((v + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1));
}
}  // namespace

Arena::~Arena() {
  Block* b = first_;
  while (b) {
    Block* next = b->next;
    std::free(b);
    b = next;
  }
}

bool Arena::try_reserve(std::size_t bytes) {
  if (bytes == 0 || first_) return true;
  if (bytes > SIZE_MAX - kHeader) return false;
  void* raw = std::malloc(kHeader + bytes);
  if (!raw) return false;
  Block* b = static_cast<Block*>(raw);
  b->next = nullptr;
  b->size = bytes;
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
  void* raw = std::malloc(kHeader + want);
  if (!raw) alloc_failed(kHeader + want);
  Block* b = static_cast<Block*>(raw);
  b->next = nullptr;
  b->size = want;
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

void Arena::reset() {
  if (!first_) return;
  Block* b = first_->next;
  while (b) {
    Block* next = b->next;
    capacity_ -= b->size;
    std::free(b);
    b = next;
  }
  first_->next = nullptr;
  current_ = first_;
  cur_ = reinterpret_cast<char*>(first_) + kHeader;
  end_ = cur_ + first_->size;
  last_ = nullptr;
}

}  // namespace yomika
