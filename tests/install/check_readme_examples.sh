#!/usr/bin/env bash
# check_readme_examples.sh README MODULE: compiles every ```cpp example of README against
# the installed pkg-config module MODULE (PKG_CONFIG_PATH must find it) and runs it in a
# scratch folder. It must exit with 0, and where a ```text block follows the example
# (blank lines between allowed), print exactly that text.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
readme=$1
module=$2
fail() { echo "check_readme_examples: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A fence left open turns the rest of the page into code.
fences=$(grep -c '^```' "$readme" || true)
[ $((fences % 2)) -eq 0 ] || fail "$readme has an odd number of fences ($fences)"

# example_N.cpp for every example, and example_N.out for the text block after it.
awk -v dir="$work" '
  state == "code" && /^```$/ { close(file); state = "after"; next }
  state == "code" { print > file; next }
  state == "text" && /^```$/ { close(file); state = ""; next }
  state == "text" { print > file; next }
  /^```cpp$/ { count++; file = dir "/example_" count ".cpp"; state = "code"; next }
  state == "after" && /^$/ { next }
  state == "after" && /^```text$/ { file = dir "/example_" count ".out"; printf "" > file; state = "text"; next }
  { state = "" }
' "$readme"
examples=("$work"/example_*.cpp)
[ -e "${examples[0]}" ] || fail "no C++ example in $readme"

# The files the examples open, taken from the test data.
fixtures=(photo.jpg:tests/data/image/rgb.jpg song.flac:tests/data/tone_16bit.flac)

flags=$(pkg-config --cflags --libs "$module") || fail "pkg-config does not know $module"
read -r -a flags <<<"$flags"
for source in "${examples[@]}"; do
  name=$(basename "$source" .cpp)
  c++ -std=c++20 -Wall -Wextra -Werror "$source" -o "$work/$name" "${flags[@]}" 2>"$work/$name.log" \
    || { cat "$work/$name.log" >&2; fail "$name does not build:"$'\n'"$(cat "$source")"; }
  run=$work/run-$name
  mkdir "$run"
  for fixture in "${fixtures[@]}"; do cp "$here/${fixture#*:}" "$run/${fixture%%:*}"; done
  (cd "$run" && "$work/$name" > "$work/$name.actual") || fail "$name exits with $?:"$'\n'"$(cat "$source")"
  if [ -f "$work/$name.out" ]; then
    diff -u "$work/$name.out" "$work/$name.actual" || fail "$name prints other than the README shows"
  fi
done
echo "${#examples[@]} README examples built and ran" >&2
