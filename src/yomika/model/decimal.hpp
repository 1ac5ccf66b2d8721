// Decimal numbers: written in ASCII without a library call or a leading zero (the amounts the
// renderers write and the offsets of the JSON reports), and read in the ASCII and full-width
// digits notes are written with.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace yomika {

inline constexpr unsigned kMaxDecimalDigits = 10;  // of a 32-bit value

// The number of digits of v (1 for 0): the bit length times log10(2) (1233 / 4096) undercounts by
// at most one, which a comparison with the power of ten settles.
constexpr unsigned decimal_length(uint32_t v) {
  constexpr uint32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                       100000, 1000000, 10000000, 100000000, 1000000000};
  const unsigned t = (static_cast<unsigned>(std::bit_width(v | 1)) * 1233) >> 12;
  return t + ((v | 1) >= kPowersOfTen[t] ? 1 : 0);
}

namespace detail {
// The hundred two-digit pairs "00" to "99", so that a number takes one table read per two digits.
inline constexpr auto kDigitPairs = [] {
  struct Table {
    char v[200] = {};
  } t;
  for (int i = 0; i < 100; ++i) {
    t.v[2 * i] = static_cast<char>('0' + i / 10);
    t.v[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}();
}  // namespace detail

// Writes the digits of v so that they end at `end`, and returns where they begin: for a writer
// that has room for kMaxDecimalDigits and need not know the length first.
inline char* decimal_before(char* end, uint32_t v) {
  char* p = end;
  while (v >= 100) {
    const unsigned pair = (v % 100) * 2;
    v /= 100;
    p -= 2;
    std::memcpy(p, detail::kDigitPairs.v + pair, 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, detail::kDigitPairs.v + v * 2, 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return p;
}

// Writes the decimal_length(v) digits of v to [out, out + decimal_length(v)).
inline void write_decimal(uint32_t v, char* out, unsigned length) { decimal_before(out + length, v); }

namespace detail {
constexpr bool lengths_hold_at_every_power_of_ten() {
  uint32_t p = 1;
  for (unsigned digits = 1; digits < kMaxDecimalDigits; ++digits, p *= 10) {
    if (decimal_length(p) != digits || decimal_length(p * 10 - 1) != digits) return false;
  }
  return decimal_length(0) == 1 && decimal_length(p) == kMaxDecimalDigits &&
         decimal_length(UINT32_MAX) == kMaxDecimalDigits;
}
}  // namespace detail
static_assert(detail::lengths_hold_at_every_power_of_ten());

// ---- Reading ---------------------------------------------------------------------------------

// Reads a decimal number of ASCII and full-width digits at the start of s, saturating at
// 2^32 - 1. Returns the bytes read (0 when s does not start with a digit).
inline std::size_t read_number(std::string_view s, uint32_t& value) {
  uint64_t v = 0;
  std::size_t i = 0;
  for (;;) {
    unsigned d;
    if (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      d = static_cast<unsigned>(s[i] - '0');
      i += 1;
    } else if (i + 2 < s.size() && static_cast<uint8_t>(s[i]) == 0xEF && static_cast<uint8_t>(s[i + 1]) == 0xBC &&
               static_cast<uint8_t>(s[i + 2]) >= 0x90 && static_cast<uint8_t>(s[i + 2]) <= 0x99) {
      d = static_cast<uint8_t>(s[i + 2]) - 0x90u;
      i += 3;
    } else {
      break;
    }
    v = v * 10 + d;
    if (v > 0xFFFFFFFFu) v = 0xFFFFFFFFu;
  }
  value = static_cast<uint32_t>(v);
  return i;
}

// "number, then exactly `unit`" with the number in [min, 255]. False otherwise.
inline bool number_then_unit(std::string_view s, std::string_view unit, uint32_t min, uint8_t& out) {
  uint32_t v = 0;
  std::size_t used = read_number(s, v);
  if (used == 0 || s.substr(used) != unit || v < min || v > 255) return false;
  out = static_cast<uint8_t>(v);
  return true;
}

}  // namespace yomika
