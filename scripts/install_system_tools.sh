#!/usr/bin/env bash
# Installs, from Debian's packages, the system tools that the tests use beyond a C++ compiler and
# CPython: clang with its libFuzzer and sanitizer runtimes (the fuzzing run), headless Chromium
# with Japanese fonts (the browser tests) and EPUBCheck (the e-book tests). It only installs what
# is missing, and only where it can (root and apt-get present); otherwise it says what is missing,
# and what needs it skips itself, except under CI=true, where the browser and e-book tests fail
# instead. Never fails itself.
set -u
cd "$(dirname "$0")/.."

# clang is usable when it links a libFuzzer target with AddressSanitizer.
fuzzer_ok() {
  local cxx tmp
  cxx="$(command -v clang++ || command -v clang++-14 || true)"
  [ -n "$cxx" ] || return 1
  tmp="$(mktemp -d)"
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$tmp/t.cpp"
  "$cxx" -fsanitize=fuzzer,address,undefined "$tmp/t.cpp" -o "$tmp/t" >/dev/null 2>&1
  local rc=$?
  rm -rf "$tmp"
  return $rc
}

packages=()
fuzzer_ok || packages+=(clang libclang-rt-dev)
command -v chromium >/dev/null 2>&1 || packages+=(chromium)
if command -v fc-list >/dev/null 2>&1 && fc-list :lang=ja 2>/dev/null | grep -q .; then :; else packages+=(fonts-noto-cjk); fi
# EPUBCheck is run as `java -jar` on the jar the package installs (its own command needs a
# binary-format handler these machines lack).
[ -f /usr/share/java/epubcheck.jar ] && command -v java >/dev/null 2>&1 || packages+=(epubcheck)
[ ${#packages[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "note: cannot install ${packages[*]} here (needs root and apt-get); the fuzzing run, the browser test or the e-book check will be skipped (and fail under CI=true)" >&2
  exit 0
fi
echo "installing ${packages[*]} from Debian's packages"
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -qq && apt-get install -y -qq "${packages[@]}"; } >/tmp/yomika-apt.log 2>&1; then
  echo "note: installing ${packages[*]} failed (see /tmp/yomika-apt.log); what needs them will be skipped" >&2
fi
exit 0
