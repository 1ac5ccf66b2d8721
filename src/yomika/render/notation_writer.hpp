// The serializer's output sink, which keeps at most one empty line in a row, and the node writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "yomika/scan/byte_search.hpp"
#include "yomika/syntax/node.hpp"

namespace yomika::render {

// Owned output plus the number of line feeds written in a row at its end. Every write goes
// through here so that text, node pieces and the line feeds around blocks are capped alike.
class NewlineCappedWriter {
 public:
  // Twice the walked text's length: node notation is longer than the one sentinel it replaces.
  // `buffer` lends its storage (its bytes are dropped).
  explicit NewlineCappedWriter(std::size_t capacity, std::string buffer = {}) : out_(std::move(buffer)) {
    out_.clear();
    out_.reserve(capacity < 8 ? 8 : capacity);
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
    out_.append(p, n);
    newlines_ = 0;
  }
  void line_feed() {
    // Saturating at 3 keeps the count meaningful without any overflow on endless blank lines.
    if (newlines_ < 3) ++newlines_;
    if (newlines_ <= 2) out_.push_back('\n');
  }

  // A fixed piece without line feeds: written as is and ends any run of line feeds.
  void put(std::string_view piece) {
    out_.append(piece);
    newlines_ = 0;
  }

  // One character; a line feed is counted and capped like one inside a string.
  void put_char(uint32_t cp);

  // ASCII decimal without leading zeros.
  void put_number(uint32_t value);

  uint32_t newlines() const { return newlines_; }
  std::size_t size() const { return out_.size(); }
  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
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

  std::string out_;
  uint32_t newlines_ = 0;
};

// Appends the notation of one node.
void serialize_node(const YomikaNode& node, NewlineCappedWriter& out);

}  // namespace yomika::render
