#!/usr/bin/env bash
# Prints the path of a CPython 3.12 or newer: $PYTHON if set, python3 if new enough, otherwise the
# newest 3.12+ that pyenv knows, otherwise python3.13 / python3.12 on PATH.
set -euo pipefail
ok() { "$1" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 12) else 1)' 2>/dev/null; }
if [ -n "${PYTHON:-}" ] && ok "$PYTHON"; then command -v "$PYTHON"; exit 0; fi
if command -v python3 >/dev/null && ok python3; then command -v python3; exit 0; fi
if command -v pyenv >/dev/null; then
  for v in $(pyenv versions --bare 2>/dev/null | grep -E '^3\.(1[2-9]|[2-9][0-9])(\.[0-9]+)?$' | sort -t. -k1,1n -k2,2n -k3,3n | tac); do
    p="$(pyenv root)/versions/$v/bin/python3"
    if [ -x "$p" ] && ok "$p"; then echo "$p"; exit 0; fi
  done
fi
for c in python3.14 python3.13 python3.12; do
  if command -v "$c" >/dev/null && ok "$c"; then command -v "$c"; exit 0; fi
done
echo "no CPython 3.12 or newer found (install one, e.g. with pyenv)" >&2
exit 1
