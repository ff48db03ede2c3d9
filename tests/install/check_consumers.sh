#!/usr/bin/env bash
# check_consumers.sh WORDGEN: this tree used the ways a project without an installed
# wordgen uses it, each checked against WORDGEN (a build of the program):
# - a plain `cmake -S . -B build && cmake --build build` where GoogleTest and Google
#   Benchmark cannot be found (as on a machine with only the run command's packages):
#   it configures without the tests, benchmarks and packaging, builds, and its wordgen
#   prints what WORDGEN prints;
# - examples/subproject built with add_subdirectory and with FetchContent: each
#   configures none of wordgen's tests, benchmarks, install rules or packaging, and its
#   programs print the words of `wordgen -r 42 -w 5` (and other seeds) and write a tone.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
wordgen=$1
fail() { echo "check_consumers: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run_logged NAME COMMAND...: runs COMMAND, showing its output only when it fails.
run_logged() {
  local name=$1; shift
  "$@" >"$work/$name.log" 2>&1 || { cat "$work/$name.log" >&2; fail "$name failed: $*"; }
}

# words_of WORDGEN-ARGS...: the words WORDGEN prints, without its header.
words_of() { "$wordgen" "$@" | tail -n +4; }

# The plain configure, as the README gives it, with the test libraries hidden.
run_logged plain-configure cmake -S "$here" -B "$work/plain" -G Ninja \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
grep -q '^WORDGEN_TESTS:BOOL=OFF$' "$work/plain/CMakeCache.txt" || fail "a plain configure without GoogleTest keeps the tests on"
grep -q '^WORDGEN_BENCH:BOOL=OFF$' "$work/plain/CMakeCache.txt" || fail "a plain configure turns the benchmarks on"
[ ! -e "$work/plain/CPackConfig.cmake" ] || fail "a plain configure sets up the packages"
run_logged plain-build cmake --build "$work/plain"
cmp -s <("$work/plain/wordgen" -r 42 -w 300) <("$wordgen" -r 42 -w 300) || fail "the plain build's wordgen prints other words"

for by in add_subdirectory fetchcontent; do
  build=$work/$by
  run_logged "$by-configure" cmake -S "$here/examples/subproject" -B "$build" -G Ninja -DWORDGEN_BY=$by
  targets=$(cmake --build "$build" --target help)
  for absent in run_test options_test run_bench; do
    grep -q "^$absent:" <<<"$targets" && fail "wordgen as a subproject ($by) builds its $absent"
  done
  [ ! -e "$build/CPackConfig.cmake" ] || fail "wordgen as a subproject ($by) sets up the packages"
  grep -q 'wordgen-runtime\.a' "$build/cmake_install.cmake" "$build"/_deps/*/cmake_install.cmake "$build"/wordgen/cmake_install.cmake 2>/dev/null \
    && fail "wordgen as a subproject ($by) installs itself into the including project"
  run_logged "$by-build" cmake --build "$build" --target words tone
  [ "$("$build/words" 42 5)" == "$(words_of -r 42 -w 5)" ] || fail "words built with $by differs from wordgen -r 42 -w 5"
  for seed in 0 -1 7766279631452241919; do
    [ "$("$build/words" "$seed" 500 2 6)" == "$(words_of -r "$seed" -w 500 -s 2 6)" ] \
      || fail "words built with $by differs from wordgen -r $seed -w 500 -s 2 6"
  done
  [ "$("$build/tone" "$work/tone-$by.wav")" == "frames: 800" ] || fail "tone built with $by"
done
echo "consumer checks passed: a plain configure without test packages, add_subdirectory, FetchContent" >&2
