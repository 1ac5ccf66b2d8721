// The binding's UTF-8 conversions: malformed bytes refused by every decoder wherever they sit
// relative to the vector blocks, and valid text decoded and encoded as a plain one-character loop
// would.
#include <cstdint>
#include <string>
#include <vector>

#include "testing.hpp"
#include "transcode.hpp"

namespace tc = yomika_py::transcode;

namespace {

// Code points of valid UTF-8, one character at a time.
std::vector<uint32_t> code_points(const std::string& s) {
  std::vector<uint32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    uint32_t c = n == 1 ? b : b & (0x7F >> n);
    for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(c);
    i += static_cast<std::size_t>(n);
  }
  return out;
}

template <class Unit>
bool decodes(const std::string& s, std::vector<Unit>& out) {
  tc::DecodedShape shape = tc::utf8_shape(s.data(), s.size());
  out.assign(shape.chars, 0);
  return tc::decode_utf8(s.data(), s.size(), out.data(), shape.chars);
}

// Every decoder refuses the text, whatever width its shape asks for.
bool refused_by_all(const std::string& s) {
  std::vector<uint8_t> a;
  std::vector<uint16_t> b;
  std::vector<uint32_t> c;
  return !decodes(s, a) && !decodes(s, b) && !decodes(s, c);
}

template <class Unit>
bool encodes_back(const std::vector<Unit>& chars, const std::string& utf8) {
  tc::EncodedSize size = tc::utf8_size(chars.data(), chars.size());
  if (size.surrogate || size.bytes != utf8.size()) return false;
  std::string out(utf8.size(), '\0');
  tc::encode_utf8(chars.data(), chars.size(), out.data(), out.size());
  if (out != utf8) return false;
  if constexpr (sizeof(Unit) == 2) {
    // The unsized one-pass form, into room for three bytes a character.
    std::string room(3 * chars.size(), '\0');
    bool surrogate = true;
    const std::size_t bytes = tc::encode_utf8_within(chars.data(), chars.size(), room.data(), surrogate);
    if (surrogate || room.substr(0, bytes) != utf8) return false;
  }
  return true;
}

const char* const kMalformed[] = {
    "\x80",              // stray continuation byte
    "\xBF\xBF",          // two of them
    "\xC0\x80",          // overlong NUL
    "\xC1\xBF",          // overlong two-byte form
    "\xE0\x80\x80",      // overlong three-byte form
    "\xE0\x9F\xBF",      // the last overlong three-byte form
    "\xED\xA0\x80",      // U+D800
    "\xED\xBF\xBF",      // U+DFFF
    "\xF0\x8F\xBF\xBF",  // overlong four-byte form
    "\xF4\x90\x80\x80",  // past U+10FFFF
    "\xF5\x80\x80\x80",  // lead byte that never starts a character
    "\xFF",              // not UTF-8 at all
    "\xE6\xBC",          // three-byte character cut short
    "\xE6\xBC\x41",      // ... and followed by ASCII
    "\xE6\x41\xBC",      // continuation missing in the middle
    "\xF0\x9F\x98",      // four-byte character cut short
    "\xC3",              // two-byte character cut short
};

}  // namespace

TEST(transcode_refuses_malformed_utf8_at_every_offset) {
  // Contexts of ASCII (the widening path), Japanese (the four-character block path) and Latin-1.
  const std::string contexts[] = {"a", "\xE6\xBC\xA2", "\xC3\xA9"};
  for (const char* bad : kMalformed) {
    for (const std::string& ctx : contexts) {
      for (int before : {0, 1, 3, 4, 5, 15, 16, 17, 40}) {
        for (int after : {0, 1, 4, 20}) {
          std::string s;
          for (int i = 0; i < before; ++i) s += ctx;
          s += bad;
          for (int i = 0; i < after; ++i) s += ctx;
          CHECK(refused_by_all(s));
        }
      }
    }
  }
}

TEST(transcode_decodes_valid_text_like_one_character_at_a_time) {
  const std::string pieces[] = {"a", "\n", "\xC3\xA9", "\xCE\xB1", "\xE6\xBC\xA2", "\xEF\xBF\xBD",
                                "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF0\xA0\xAE\xB7",
                                "\xF4\x8F\xBF\xBF", "\x7F", "\xC2\x80", "\xDF\xBF"};
  // Deterministic mixtures of every length up to 80 pieces.
  uint32_t state = 12345;
  for (int round = 0; round < 400; ++round) {
    std::string s;
    int n = round % 80;
    int spread = 1 + round % static_cast<int>(std::size(pieces));
    for (int i = 0; i < n; ++i) {
      state = state * 1103515245 + 12345;
      s += pieces[(state >> 16) % static_cast<uint32_t>(spread)];
    }
    std::vector<uint32_t> expected = code_points(s);
    uint32_t max = 0;
    for (uint32_t c : expected) max = c > max ? c : max;
    tc::DecodedShape shape = tc::utf8_shape(s.data(), s.size());
    CHECK_EQ(shape.chars, expected.size());
    uint32_t width = max < 0x80 ? 0x7F : max < 0x100 ? 0xFF : max < 0x10000 ? 0xFFFF : 0x10FFFF;
    CHECK_EQ(shape.max_char, width);

    std::vector<uint32_t> wide;
    CHECK(decodes(s, wide));
    CHECK(wide == expected);
    std::vector<uint16_t> narrow;
    CHECK_EQ(decodes(s, narrow), max < 0x10000);
    if (max < 0x10000) CHECK(std::vector<uint32_t>(narrow.begin(), narrow.end()) == expected);
    std::vector<uint8_t> bytes;
    CHECK_EQ(decodes(s, bytes), max < 0x100);

    // And back: every storage wide enough for the characters encodes to the same bytes.
    CHECK(encodes_back(expected, s));
    if (max < 0x10000) CHECK(encodes_back(std::vector<uint16_t>(expected.begin(), expected.end()), s));
    if (max < 0x100) CHECK(encodes_back(std::vector<uint8_t>(expected.begin(), expected.end()), s));
  }
}

TEST(transcode_finds_surrogates_in_every_storage) {
  for (std::size_t n : {1u, 7u, 8u, 9u, 40u}) {
    for (std::size_t at = 0; at < n; ++at) {
      std::vector<uint16_t> two(n, 0x6F22);
      two[at] = 0xDC00;
      CHECK(tc::utf8_size(two.data(), two.size()).surrogate);
      std::string room(3 * n, '\0');
      bool surrogate = false;
      tc::encode_utf8_within(two.data(), two.size(), room.data(), surrogate);
      CHECK(surrogate);
      std::vector<uint32_t> four(n, 0x20BB7);
      four[at] = 0xD800;
      CHECK(tc::utf8_size(four.data(), four.size()).surrogate);
    }
  }
}

TEST(transcode_refuses_a_count_that_does_not_match) {
  std::string s = "\xE6\xBC\xA2\xE5\xAD\x97" "abc";
  std::vector<uint16_t> out(6);
  CHECK(!tc::decode_utf8(s.data(), s.size(), out.data(), 4));
  CHECK(!tc::decode_utf8(s.data(), s.size(), out.data(), 6));
  CHECK(tc::decode_utf8(s.data(), s.size(), out.data(), 5));
}
