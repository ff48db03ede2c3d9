#!/usr/bin/env bash
# check_headers.sh INCLUDE-DIR: every header installed under INCLUDE-DIR (the prefix's
# include/wordgen) compiles alone, as the first and only include of a file, with nothing
# but INCLUDE-DIR to find headers in; and every header it includes by a quoted name is
# installed too. So a header that leans on a private one, or on one included before it,
# fails here. Takes the list from the install tree itself, whatever it holds.
set -euo pipefail
include=$(cd "$1" && pwd)
fail() { echo "check_headers: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mapfile -t headers < <(cd "$include" && find . -name '*.h' | sed 's|^\./||' | sort)
[ ${#headers[@]} -gt 0 ] || fail "no header under $include"
for header in "${headers[@]}"; do
  while read -r included; do
    [ -f "$include/$included" ] || fail "$header includes $included, which is not installed"
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$include/$header")
  # From a scratch folder, so that nothing beside the source is found by accident.
  printf '#include "%s"\n' "$header" > "$work/alone.cpp"
  (cd "$work" && c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I "$include" alone.cpp) 2>"$work/log" \
    || { cat "$work/log" >&2; fail "$header does not compile alone"; }
done
echo "${#headers[@]} installed headers compile alone and include only installed headers" >&2
