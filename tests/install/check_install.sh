#!/usr/bin/env bash
# check_install.sh BUILD: installs the build tree BUILD into a scratch prefix and uses it
# as a user would: the exact list of installed files, each installed header alone, the
# manual page, a program built with the CMake package and the same program built with
# pkg-config, each printing the words wordgen prints, and every C++ example of the
# README. Stops at the first failure.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "check_install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# Exactly these files: the program, its page, the libraries named after the project, the
# public headers (the build's list of them) under include/wordgen/, and the package files.
expected=$work/expected
{
  printf '%s\n' bin/wordgen share/man/man1/wordgen.1 \
    share/doc/wordgen/copyright share/doc/wordgen/changelog.gz \
    share/doc/wordgen-dev/copyright share/doc/wordgen-dev/changelog.gz \
    lib/libwordgen-runtime.a lib/libwordgen-synthesis.a \
    lib/cmake/wordgen/wordgenConfig.cmake lib/cmake/wordgen/wordgenConfigVersion.cmake \
    lib/cmake/wordgen/wordgenTargets.cmake lib/cmake/wordgen/wordgenTargets-release.cmake \
    lib/pkgconfig/wordgen-runtime.pc lib/pkgconfig/wordgen-synthesis.pc
  sed 's|^|include/wordgen/|' "$build/public_headers.txt"
} | sort > "$expected"
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) > "$work/installed"
diff -u "$expected" "$work/installed" || fail "the installed files differ from the expected ones"

"$here/tests/install/check_headers.sh" "$prefix/include/wordgen"

# The page renders without a warning and shows the version and the words it promises.
"$here/tests/install/check_man_page.sh" "$prefix/share/man/man1/wordgen.1" "$prefix/bin/wordgen"

# words_match WORDS-PROGRAM: the program prints the words wordgen prints, for seeds and
# ranges that cover the defaults, a single length, a reversed and an empty range, long
# words, and seeds that wrap.
words_match() {
  local program=$1 seed count range
  for seed in 42 0 1 -1 18446744073709551615 7766279631452241919; do
    for range in "" "1 1" "3 7" "5 2" "0 0" "40 60"; do
      count=5
      [ -z "$range" ] && count=2000  # past the 64 KiB block, so words reuse it
      local wanted got
      # shellcheck disable=SC2086
      wanted=$("$prefix/bin/wordgen" -r "$seed" -w "$count" ${range:+-s $range} | tail -n +4)
      # shellcheck disable=SC2086
      got=$("$program" "$seed" "$count" $range)
      [ "$wanted" == "$got" ] || fail "$program $seed $count $range differs from wordgen -r $seed -w $count -s $range"
    done
  done
}

# A consumer built with find_package(wordgen) from the prefix.
cmake -S "$here/examples/consumer" -B "$work/cmake-consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "the CMake consumer does not configure"; }
cmake --build "$work/cmake-consumer" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "the CMake consumer does not build"; }
words_match "$work/cmake-consumer/words"
[ "$("$work/cmake-consumer/tone" "$work/tone.wav")" == "frames: 800" ] || fail "the CMake consumer's tone"

# The version file refuses a wordgen newer than the one installed.
if cmake -S "$here/examples/consumer" -B "$work/cmake-too-new" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
     -DWANTED_WORDGEN_VERSION=999.0 >/dev/null 2>&1; then
  fail "find_package accepted wordgen 999.0"
fi

# The same consumer with pkg-config and a plain compiler command, from a prefix moved
# elsewhere after installing: the .pc files find it from where they lie.
mv "$prefix" "$work/moved"
prefix=$work/moved
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion wordgen-runtime)" == "$(sed -n 's/^Version: //p' "$prefix/lib/pkgconfig/wordgen-runtime.pc")" ] \
  || fail "pkg-config does not find wordgen-runtime"
# compile MODULE SOURCE OUTPUT [--static]
compile() {
  local module=$1 source=$2 output=$3 flags
  flags=$(pkg-config --cflags --libs ${4:-} "$module") || fail "pkg-config ${4:-} does not know $module"
  # shellcheck disable=SC2086
  c++ -std=c++20 -O2 "$source" -o "$output" $flags || fail "$source does not build with pkg-config ${4:-} $module"
}
compile wordgen-synthesis "$here/examples/consumer/words.cpp" "$work/pc-words"
words_match "$work/pc-words"
compile wordgen-runtime "$here/examples/consumer/tone.cpp" "$work/pc-tone"
[ "$("$work/pc-tone" "$work/tone2.wav")" == "frames: 800" ] || fail "the pkg-config consumer's tone"
# --static asks for the static forms of libsndfile's own codecs as well.
compile wordgen-synthesis "$here/examples/consumer/words.cpp" "$work/pc-words-static" --static
words_match "$work/pc-words-static"

"$here/tests/install/check_readme_examples.sh" "$here/README.md" wordgen-synthesis
echo "install checks passed" >&2
