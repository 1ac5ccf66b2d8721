// Fatal internal errors and allocation failure.
#include "yomika/alloc/fatal.hpp"

#include <cstdio>
#include <cstdlib>

namespace yomika {

void fatal(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

void alloc_failed(std::size_t bytes) {
  std::fprintf(stderr, "memory allocation of %zu bytes failed\n", bytes);
  std::fflush(stderr);
  std::abort();
}

}  // namespace yomika
