// Byte ranges of the sanitized source, and the Unicode white space that the notation trims.
#pragma once

#include <cstdint>
#include <string_view>

namespace yomika {

// Half-open byte range [start, end) of the sanitized source.
struct Span {
  uint32_t start = 0;
  uint32_t end = 0;
};

// Decodes the UTF-8 character starting at s[i] (valid UTF-8 assumed); sets len to its byte count.
inline uint32_t decode_utf8(std::string_view s, std::size_t i, unsigned& len) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) { len = 1; return b0; }
  if (b0 < 0xE0) { len = 2; return ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu); }
  if (b0 < 0xF0) {
    len = 3;
    return ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
  }
  len = 4;
  return ((b0 & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
         ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
}

// Start of the character whose last byte is s[i - 1] (valid UTF-8 assumed, i > 0).
inline std::size_t prev_char_start(std::string_view s, std::size_t i) {
  --i;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

// Appends the UTF-8 encoding of cp to out (out must have room for 4 bytes); returns the length.
inline unsigned encode_utf8(uint32_t cp, char* out) {
  if (cp < 0x80) { out[0] = static_cast<char>(cp); return 1; }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// The Unicode White_Space property.
inline bool is_white_space(uint32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
         cp == 0x3000;
}

// Trims White_Space characters at both ends of a valid UTF-8 view.
inline std::string_view trim_white_space(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e) {
    unsigned len;
    uint32_t cp = decode_utf8(s, b, len);
    if (!is_white_space(cp)) break;
    b += len;
  }
  while (e > b) {
    std::size_t p = prev_char_start(s, e);
    unsigned len;
    if (!is_white_space(decode_utf8(s, p, len))) break;
    e = p;
  }
  return s.substr(b, e - b);
}

}  // namespace yomika
