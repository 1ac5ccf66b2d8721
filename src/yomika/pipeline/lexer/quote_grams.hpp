// The quoted-target resolver's filters: first positions of characters and of runs of characters,
// which prove in a few table reads that most missing targets do not occur before their note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "yomika/alloc/pages.hpp"
#include "yomika/pipeline/lexer/quote_common.hpp"

namespace yomika::classify::quote {

// First positions of the runs of `length` characters of a text: a table keyed by a 64-bit hash
// of the run (polynomial in its characters, so that it rolls along the text), found by linear
// probing with the top 32 bits of the hash kept as a check beside the first position (a check
// of 0 is an empty slot). Runs that share a hash only lower what is stored, so a run is never
// reported later than its first occurrence.
//
// Positions are exact and the checks wide: a missing target's new run usually first occurs in
// its own note, a few bytes after the bracket the question is about, so positions rounded down
// would let it through; and every target let through costs a scan, so even a small share of
// false matches (say one in two thousand, with 11 bits of check beside a 21-bit position) would
// spend the scanning budget on a text of a few megabytes of such notes.
//
// The table holds one slot per distinct run, at most three quarters full: it starts small and
// doubles as runs come (a slot's place follows from its check alone, so the table is rebuilt
// from its own slots). Texts of many notes repeat most runs: their tables are a tenth of one slot
// per character. A table that would outgrow `limit` bytes is not built at all (usable() is then
// false): one that stopped part way would miss the first positions of later runs.
class RunFirsts {
 public:
  static constexpr unsigned kMaxLength = 64;
  static constexpr uint64_t kBase = 0x100000001B3ull;

  // The hash of the run whose polynomial value is h.
  uint64_t key(uint64_t h) const { return mix(h + salt_); }
  // B^length: what the character leaving the window weighs.
  uint64_t leaving() const { return leaving_; }
  unsigned length() const { return length_; }
  bool usable() const { return usable_; }
  // Bytes of the table.
  uint64_t bytes() const { return cap_ * sizeof(Slot); }

  // The table of the runs of `length` characters of t, in at most `limit` bytes (counting the
  // old and the new table while it doubles).
  RunFirsts(std::string_view t, unsigned length, uint64_t limit);

  // A position at or before the first occurrence of the run with hash k, or kEmpty when it
  // does not occur.
  uint32_t first(uint64_t k) const {
    const uint32_t check = check_of(k);
    for (uint64_t i = place(check);; i = (i + 1) & (cap_ - 1)) {
      const Slot& slot = slots_[i];
      if (slot.check == check) return slot.first;
      if (slot.check == 0) return kEmpty;
    }
  }

 private:
  struct Slot {
    uint32_t check;
    uint32_t first;
  };
  static uint32_t check_of(uint64_t k) {
    const auto check = static_cast<uint32_t>(k >> 32);
    return check != 0 ? check : 1;
  }
  // The slot where a check's search starts: its top bits.
  uint64_t place(uint32_t check) const { return (uint64_t{check} * cap_) >> 32; }

  // A different run that shares the slot and the check was met earlier in the text, so keeping
  // its position keeps a position no later than this run's.
  void insert(uint32_t check, uint32_t pos) {
    for (uint64_t i = place(check);; i = (i + 1) & (cap_ - 1)) {
      Slot& slot = slots_[i];
      if (slot.check == check) return;
      if (slot.check == 0) {
        slot = Slot{check, pos};
        ++count_;
        return;
      }
    }
  }
  // Doubles the table; false (and nothing changed) when that would pass the limit.
  bool grow(uint64_t limit);

  unsigned length_;
  uint64_t leaving_ = 1, salt_ = 0;
  ZeroedTable<Slot> slots_;
  uint64_t cap_ = 0;
  uint64_t count_ = 0;
  bool usable_ = false;
};

// First positions of character grams. A target can only occur at p if each of its grams occurs
// at p + (the gram's offset in it), so one gram whose first position is too late (or that is
// absent) proves that the target does not occur before a bracket; the test never rejects a
// target that occurs, it only saves searches. Single characters go to a small table of first
// positions by hash; runs of four characters, and of the one length that many targets turn out to
// have, to tables of RunFirsts.
//
// PERF NOTES. Most missing targets hold a character, or a run of four, that first appears in
// their own note, so this filter, built in one pass when the first scanning budget is spent,
// answers them in a few table reads; the suffix array comes only once the targets it lets
// through have spent a second budget. Runs of four catch numbered targets in hexadecimal
// (無1a2f after 無1a2, 無a2f, ...), whose characters and byte trigrams all occur earlier; in
// decimal (無12345 after 無1234, 無2345, ...) every run of four occurs earlier too, and what
// rejects them is a table for runs of their own length, six, which the resolver adds when the
// targets let through concentrate on one length. On 1 MB of notes with such targets the resolver
// took 25.7 ms (hexadecimal) and 26.4 ms (decimal) with a byte-trigram filter in front of the
// suffix array, and takes 5.3 and 8.5 ms with this one. In binary (無1011...) the lengths keep
// growing and no short run is new, so those still end in the suffix array, as before (36 ms).
// The checks make the tables nearly exact, so tables a quarter empty reject as well as full ones
// would; with first positions alone they would have to be several times larger.
class GramFirsts {
 public:
  static constexpr unsigned kFirstRunLength = 4;
  static constexpr unsigned kMaxRunTables = 2;  // the first and one added

  // The table of one character, and the table of runs of four within `limit` bytes.
  GramFirsts(std::string_view t, uint64_t limit);

  static constexpr unsigned kSingleBits = 16;  // 256 KiB: stays in the second-level cache
  // The table of one character, and no table of runs yet.
  static constexpr uint64_t kBaseBytes = (uint64_t{1} << kSingleBits) * sizeof(uint32_t);

  // A table of runs of this length was added, or tried and found too large.
  bool has_runs(unsigned length) const {
    for (unsigned l : tried_) {
      if (l == length) return true;
    }
    return false;
  }
  bool can_add_runs() const { return tried_.size() < kMaxRunTables; }
  // Adds the table of runs of `length` characters if it fits in `limit` bytes; returns the bytes
  // it takes (0 when it did not fit).
  uint64_t add_runs(unsigned length, uint64_t limit);
  std::size_t chars() const { return chars_; }
  // Bytes of the tables of runs.
  uint64_t run_bytes() const {
    uint64_t bytes = 0;
    for (const RunFirsts& r : runs_) bytes += r.bytes();
    return bytes;
  }
  // Different characters of the text (a lower bound: characters that share a slot of the table
  // of one character count once).
  std::size_t distinct() const { return distinct_; }
  // Whether the text holds a character of four bytes.
  bool astral() const { return astral_; }

  // False only when t cannot end at or before `before`. `chars` receives the number of
  // characters of a well-formed t (0 otherwise).
  bool may_occur_before(std::string_view t, uint32_t before, std::size_t& chars) const;

 private:
  std::string_view text_;
  std::size_t chars_ = 0;
  std::size_t distinct_ = 0;
  bool astral_ = false;
  std::unique_ptr<uint32_t[]> single_;  // first position by hash of one character
  std::vector<RunFirsts> runs_;         // the usable ones
  std::vector<unsigned> tried_;         // lengths of the tables added or tried
};

}  // namespace yomika::classify::quote
