#!/usr/bin/env bash
# Installs, from Debian's packages, the system tools that the tests use beyond a C++ compiler and
# CPython: clang with its libFuzzer and sanitizer runtimes (the fuzzing run) and headless Chromium
# with Japanese fonts (the browser test). It only installs what is missing, and only where it can
# (root and apt-get present); otherwise it says what is missing and the fuzzing run and the
# browser test skip themselves. Never fails.
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
[ ${#packages[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
  echo "note: cannot install ${packages[*]} here (needs root and apt-get); the fuzzing run or the browser test will be skipped" >&2
  exit 0
fi
echo "installing ${packages[*]} from Debian's packages"
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -qq && apt-get install -y -qq "${packages[@]}"; } >/tmp/yomika-apt.log 2>&1; then
  echo "note: installing ${packages[*]} failed (see /tmp/yomika-apt.log); what needs them will be skipped" >&2
fi
exit 0
