// Fatal internal errors: a violated invariant prints its fixed message and aborts.
#pragma once

#include <cstddef>

namespace yomika {

// Prints `message` and a line feed to standard error, then aborts. No input reaches a call.
[[noreturn]] void fatal(const char* message);

// Prints "memory allocation of {bytes} bytes failed" and aborts.
[[noreturn]] void alloc_failed(std::size_t bytes);

}  // namespace yomika
