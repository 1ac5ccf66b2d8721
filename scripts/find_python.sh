#!/usr/bin/env bash
# Prints the path of a CPython interpreter. Without an argument: a CPython 3.12 or newer, the
# newest found. With an argument such as 3.12: a CPython of exactly that minor version.
# Looks at $PYTHON, python3, the versions pyenv knows (through the pyenv command or, where it is
# not on PATH, $PYENV_ROOT or ~/.pyenv directly), then python3.N on PATH. Exits 1 if none fits.
set -euo pipefail
want="${1:-}"

version_of() { "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null; }
fits() {
  local v
  v="$(version_of "$1")" || return 1
  if [ -n "$want" ]; then
    [ "$v" = "$want" ]
  else
    "$1" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 12) else 1)' 2>/dev/null
  fi
}

candidates() {
  [ -n "${PYTHON:-}" ] && echo "$PYTHON"
  local roots=()
  if command -v pyenv >/dev/null 2>&1; then roots+=("$(pyenv root 2>/dev/null || true)"); fi
  roots+=("${PYENV_ROOT:-}" "$HOME/.pyenv")
  # pyenv's versions, newest first (only plain CPython releases such as 3.13.0).
  for root in "${roots[@]}"; do
    [ -n "$root" ] && [ -d "$root/versions" ] || continue
    ls "$root/versions" | grep -E '^3\.[0-9]+\.[0-9]+$' | sort -t. -k1,1n -k2,2n -k3,3n -r |
      while read -r v; do echo "$root/versions/$v/bin/python3"; done
  done
  for m in 14 13 12; do command -v "python3.$m" 2>/dev/null || true; done
  command -v python3 2>/dev/null || true
}

# Without a wanted version the newest interpreter wins, so candidates are ranked by version.
best="" best_v=""
while read -r c; do
  [ -n "$c" ] && [ -x "$(command -v "$c" 2>/dev/null || echo "$c")" ] || continue
  fits "$c" || continue
  if [ -n "$want" ] || [ -n "${PYTHON:-}" -a "$c" = "${PYTHON:-}" ]; then
    command -v "$c" 2>/dev/null || echo "$c"
    exit 0
  fi
  v="$(version_of "$c")"
  if [ -z "$best" ] || [ "$(printf '%s\n%s\n' "$best_v" "$v" | sort -t. -k1,1n -k2,2n | tail -1)" != "$best_v" ]; then
    best="$c" best_v="$v"
  fi
done < <(candidates)
if [ -n "$best" ]; then
  command -v "$best" 2>/dev/null || echo "$best"
  exit 0
fi
echo "no CPython ${want:-3.12 or newer} found (install one, e.g. with pyenv)" >&2
exit 1
