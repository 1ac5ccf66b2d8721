// Fixed strings joined at compile time: a written form or a fragment of markup made from the words
// of the vocabulary, so that each word is kept once and the whole is still written with one copy.
#pragma once

#include <cstddef>
#include <string_view>

namespace yomika {

class Phrase {
 public:
  // Room for the longest piece of markup a renderer writes in one go.
  static constexpr std::size_t kCapacity = 120;

  constexpr Phrase() = default;
  template <class... Parts>
  constexpr explicit Phrase(const Parts&... parts) {
    (append(std::string_view(parts)), ...);
  }

  constexpr std::string_view view() const { return std::string_view(bytes_, size_); }
  constexpr operator std::string_view() const { return view(); }
  constexpr std::size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }

 private:
  constexpr void append(std::string_view s) {
    // Evaluated at compile time, the throw makes an overlong phrase a compile error.
    if (s.size() > kCapacity - size_) throw "a phrase longer than Phrase::kCapacity";
    for (char c : s) bytes_[size_++] = c;
  }

  char bytes_[kCapacity] = {};
  std::size_t size_ = 0;
};

}  // namespace yomika
