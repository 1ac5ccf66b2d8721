// Assembly: walks the paired events, classifies bracket bodies and writes the normalized text,
// the sentinel registry and the source-node table.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"

namespace yomika {

// Fills everything of `out` but `sanitized` (set by the driver) and moves `diagnostics` into it.
void assemble(std::string_view sanitized, const Paired& paired, Arena& arena, Diagnostics&& diagnostics,
              ParseResult& out);

// The same with the events handed over a piece at a time, in order, as pairing makes them.
class Assembly {
 public:
  Assembly(std::string_view sanitized, Arena& arena);
  ~Assembly();
  Assembly(const Assembly&) = delete;
  Assembly& operator=(const Assembly&) = delete;

  void feed(const PairedEvent* events, std::size_t count);
  // After the last events: fills `out` as assemble does, with the pairs pairing made.
  void finish(Diagnostics&& diagnostics, GrowArray<BracketPair>&& pairs, ParseResult& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace yomika
