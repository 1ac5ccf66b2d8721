// The serializer's output sink, which keeps at most one empty line in a row, and the node writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "yomika/render/short_copy.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika::render {

// Owned output plus the number of line feeds written in a row at its end. Every write goes
// through here so that text, node pieces and the line feeds around blocks are capped alike.
//
// PERF: the output is written through a pointer into the string's length, which runs ahead of
// what is written, and is cut to what was written at the end. Appending to the string cost a call
// and a length update per piece, and a node is written in several pieces of a few bytes (the
// serializer alone went 3.1 to 2.8 µs on a book of 12 KB, 74 to 63 µs on one of 160 KB).
// Lengthening a string fills the new bytes with zeros, so it is lengthened a step at a time
// within the room reserved, while the step is in the cache; a string lent again (`buffer`, as
// long as the last output) is written without filling as far as that length. A piece gathered on
// the stack instead and appended a stage at a time gained less than half as much.
class NewlineCappedWriter {
 public:
  // Room reserved for `room` bytes: twice the walked text's length, since node notation is
  // longer than the one sentinel it replaces. `buffer` lends its storage (its bytes are dropped).
  explicit NewlineCappedWriter(std::size_t room, std::string buffer = {}) : out_(std::move(buffer)) {
    if (room < kMinRoom) room = kMinRoom;
    if (out_.capacity() < room) {
      out_.clear();  // nothing of it to copy
      out_.reserve(room);
    }
    if (out_.size() < kMinRoom) out_.resize(kMinRoom);
    w_ = out_.data();
    end_ = w_ + out_.size();
  }

  // Capped write: a line feed is kept only while at most two stand in a row.
  void write(std::string_view s) {
    if (s.empty()) return;
    const char* p = s.data();
    const std::size_t n = s.size();
    // PERF: node strings (a base, a reading, a special character's description) are a few
    // characters without a line feed: a test of a few words settles them, where a search costs a
    // library call.
    if (n <= 64 && !has_line_feed_short(p, n)) {
      text(p, n);
      return;
    }
    std::size_t from = 0;
    for (std::size_t lf; (lf = scan::find_byte(p, n, from, '\n')) < n; from = lf + 1) {
      text(p + from, lf - from);
      line_feed();
    }
    text(p + from, n - from);
  }

  // What write does with a text without line feeds, and with one line feed: a walk that finds
  // the line feeds itself hands them over so.
  void text(const char* p, std::size_t n) {
    if (n == 0) return;
    append(p, n);
    newlines_ = 0;
  }
  void line_feed() {
    // Saturating at 3 keeps the count meaningful without any overflow on endless blank lines.
    if (newlines_ < 3) ++newlines_;
    if (newlines_ <= 2) {
      if (w_ == end_) [[unlikely]] grow(1);
      *w_++ = '\n';
    }
  }

  // A fixed piece without line feeds: written as is and ends any run of line feeds.
  void put(std::string_view piece) {
    append(piece.data(), piece.size());
    newlines_ = 0;
  }

  // One character; a line feed is counted and capped like one inside a string.
  void put_char(uint32_t cp);

  // ASCII decimal without leading zeros.
  void put_number(uint32_t value);

  uint32_t newlines() const { return newlines_; }
  std::size_t size() const { return static_cast<std::size_t>(w_ - out_.data()); }
  std::string_view text() const { return std::string_view(out_.data(), size()); }
  std::string take() {
    out_.resize(size());
    w_ = end_ = out_.data() + out_.size();
    return std::move(out_);
  }

 private:
  static constexpr std::size_t kMinRoom = 64;
  static constexpr std::size_t kStep = std::size_t{16} << 10;

  // put() for a piece of at most 16 bytes (a character, a number).
  void put_short(const char* p, std::size_t n) {
    if (n > static_cast<std::size_t>(end_ - w_)) [[unlikely]] grow(n);
    copy_short(w_, p, n);
    w_ += n;
    newlines_ = 0;
  }

  __attribute__((always_inline)) void append(const char* p, std::size_t n) {
    if (n > static_cast<std::size_t>(end_ - w_)) [[unlikely]] grow(n);
    copy_short(w_, p, n);
    w_ += n;
  }

  // Room for n more bytes past those written (before w_): the string's length grows by a step, or
  // more for a longer piece, and its storage doubles when the room reserved is used up.
  __attribute__((noinline)) void grow(std::size_t n) {
    const std::size_t used = size();
    std::size_t length = std::max(used + n, out_.size() + kStep);
    if (length > out_.capacity()) length = std::max(used + n, 2 * out_.capacity());
    out_.resize(length);
    w_ = out_.data() + used;
    end_ = out_.data() + out_.size();
  }

  // Whether any of the n bytes at p (1 <= n <= 64) is a line feed: whole words of eight bytes
  // (the last overlapping the one before it), two of four, or up to three bytes one by one.
  static bool has_line_feed_short(const char* p, std::size_t n) {
    constexpr uint64_t kOnes = ~uint64_t{0} / 255;
    auto zero_byte = [](uint64_t w) { return ((w - kOnes) & ~w & (kOnes * 0x80)) != 0; };
    auto line_feed_in_8 = [&](const char* at) {
      uint64_t w;
      std::memcpy(&w, at, 8);
      return zero_byte(w ^ (kOnes * '\n'));
    };
    if (n >= 8) {
      for (std::size_t i = 0; i + 8 < n; i += 8)
        if (line_feed_in_8(p + i)) return true;
      return line_feed_in_8(p + n - 8);
    }
    if (n >= 4) {
      uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + n - 4, 4);
      return zero_byte((a | uint64_t{b} << 32) ^ (kOnes * '\n'));
    }
    return p[0] == '\n' || p[n / 2] == '\n' || p[n - 1] == '\n';
  }

  std::string out_;     // its length runs ahead of what is written
  char* w_ = nullptr;   // where the next byte goes
  char* end_ = nullptr; // the end of its length
  uint32_t newlines_ = 0;
};

// Appends the notation of one node.
void serialize_node(const YomikaNode& node, NewlineCappedWriter& out);

}  // namespace yomika::render
