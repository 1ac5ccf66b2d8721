// Replays files or directories of inputs through the fuzzer's invariants (no libFuzzer needed):
// used to check the corpus and saved crash inputs with any compiler.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "invariants.hpp"

namespace fs = std::filesystem;

static void replay(const fs::path& p, std::size_t& count) {
  std::ifstream in(p, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  yomika::fuzz::check_invariants(
      yomika::fuzz::decode_input(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
  ++count;
}

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    fs::path p(argv[i]);
    if (fs::is_directory(p)) {
      for (const auto& e : fs::recursive_directory_iterator(p))
        if (e.is_regular_file()) replay(e.path(), count);
    } else if (fs::exists(p)) {
      replay(p, count);
    }
  }
  std::printf("%zu inputs replayed, all invariants hold\n", count);
  return 0;
}
