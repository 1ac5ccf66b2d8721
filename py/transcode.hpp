// Conversions between the interpreter's fixed-width string storage (one, two or four bytes per
// character) and UTF-8, vectorized where the processor allows. No Python here: the binding hands
// over raw buffers, so the same code serves every kind of string.
#pragma once

#include <cstddef>
#include <cstdint>

namespace yomika_py::transcode {

// The UTF-8 length of a string held with one, two or four bytes per character. `surrogate` is
// set when a code point in U+D800..U+DFFF is present: such a string has no UTF-8 form, and
// `bytes` is then meaningless.
struct EncodedSize {
  uint64_t bytes;
  bool surrogate;
};
EncodedSize utf8_size(const uint8_t* chars, std::size_t n);
EncodedSize utf8_size(const uint16_t* chars, std::size_t n);
EncodedSize utf8_size(const uint32_t* chars, std::size_t n);

// Writes the UTF-8 form of a string without surrogates into `out`, whose length `bytes` must be
// the string's utf8_size(...).bytes.
void encode_utf8(const uint8_t* chars, std::size_t n, char* out, std::size_t bytes);
void encode_utf8(const uint16_t* chars, std::size_t n, char* out, std::size_t bytes);
void encode_utf8(const uint32_t* chars, std::size_t n, char* out, std::size_t bytes);

// Two-byte storage in one pass, unsized: `out` has room for 3 * n bytes, the most such a string
// takes. Returns the bytes written; `surrogate` is set (and the output unusable) when the string
// holds a code unit of U+D800..U+DFFF.
std::size_t encode_utf8_within(const uint16_t* chars, std::size_t n, char* out, bool& surrogate);

// What a UTF-8 text becomes as a string: its number of characters and the largest character the
// narrowest fixed width for it must hold (0x7F, 0xFF, 0xFFFF or 0x10FFFF). Both are read off the
// bytes without validating them, so they are exact only for valid UTF-8; the decoders below
// check the rest.
struct DecodedShape {
  std::size_t chars;
  uint32_t max_char;
};
DecodedShape utf8_shape(const char* text, std::size_t n);

// Decodes UTF-8 into exactly `chars` units of the given width. Returns false, with `out` in an
// unspecified state, when the text is not valid UTF-8 (overlong forms, surrogates, values past
// U+10FFFF, truncated or stray bytes), when it holds a character too wide for the unit, or when
// its length in characters is not `chars`.
bool decode_utf8(const char* text, std::size_t n, uint8_t* out, std::size_t chars);
bool decode_utf8(const char* text, std::size_t n, uint16_t* out, std::size_t chars);
bool decode_utf8(const char* text, std::size_t n, uint32_t* out, std::size_t chars);

// Writes `n` UTF-16 units, with surrogates only in pairs (one per character above U+FFFF), as
// the four-byte characters they stand for.
void utf16_to_ucs4(const uint16_t* units, std::size_t n, uint32_t* out);

}  // namespace yomika_py::transcode
