// What must hold for every input: the pipeline and all outputs on arbitrary text, checked by the
// fuzzer and by the replay driver. A violation prints what failed and aborts, so that both
// libFuzzer and the C++ tests see it as a crash with a readable message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace yomika::fuzz {

// Turns arbitrary bytes into valid UTF-8: valid sequences are kept, every other byte becomes the
// ASCII byte with the same low seven bits (so the fuzzer's byte mutations still reach ASCII).
std::string to_valid_utf8(const uint8_t* data, std::size_t size);

// The text a fuzz input stands for. An input starting with the byte 0xFF (never valid UTF-8) is
// read as a list of notation pieces, one byte each (brackets, keywords, kanji, line breaks, ...),
// so that the fuzzer can build deep structures with few mutations; any other input goes through
// to_valid_utf8.
std::string decode_input(const uint8_t* data, std::size_t size);

// Runs the whole pipeline twice and every output, and checks the invariants.
void check_invariants(std::string_view text);

}  // namespace yomika::fuzz
