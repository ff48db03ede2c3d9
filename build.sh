#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs wordgen, its tests or its packages.
# Each command installs the Debian packages it needs and nothing more.
#   ./build.sh run [wordgen options...]   build wordgen alone (Release) and run it
#   ./build.sh test                       build and run every test: plain, under ASan+UBSan and
#                                         built with clang; install into a scratch prefix and
#                                         build on it; the manual page, the README's examples,
#                                         the Debian packages; the arm64 build as below; every
#                                         fuzz target briefly
#   ./build.sh fuzz [seconds]             run every fuzz target for this long each (default 600)
#   ./build.sh package                    build the Debian packages into build-package/
#   ./build.sh clang                      build with clang and run the tests
#   ./build.sh arm64                      cross-build for arm64, run its tests under qemu-user
#                                         and compare its words with this machine's
#   ./build.sh windows                    cross-build for 64-bit Windows with mingw-w64 (the
#                                         third-party libraries from Debian's sources, cached),
#                                         run its tests under wine and compare its words
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# What building the program takes; the other commands add what they use.
run_packages=(g++ cmake ninja-build pkg-config libstb-dev libsndfile1-dev libvorbis-dev)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev)
package_packages=(dpkg-dev file)
# libmp3lame-dev: libsndfile's pkg-config file names it for --static links, yet its
# development package does not bring it.
check_packages=(groff mandoc man-db lintian libmp3lame-dev)
# pkgconf:arm64 brings aarch64-linux-gnu-pkg-config, which finds the arm64 libraries.
arm64_packages=(g++-aarch64-linux-gnu qemu-user pkgconf:arm64 libsndfile1-dev:arm64 libstb-dev:arm64
                libvorbis-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64)

# Windows: the mingw-w64 compilers and wine to run what they build; dpkg-dev unpacks the
# Debian sources the third-party libraries are built from, googletest brings its sources.
windows_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 dpkg-dev make
                  googletest libstb-dev)
# The words library compiled for a target whose size_t is 32 bits and not uint64_t's type.
narrow_packages=(clang wasi-libc libc++-14-dev-wasm32)

# What the test command gives each fuzz target beyond its corpus: enough to keep every
# target building and clean in CI, not to search.
brief_fuzz_seconds=5
default_fuzz_seconds=600

# install_missing PACKAGE...: installs those not installed yet; a name ending in :arm64
# first makes arm64 a foreign architecture of this machine.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "installing: ${missing[*]}" >&2
  if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
  fi
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
}

# configure DIR CMAKE-ARGS...
configure() {
  local dir=$1; shift
  cmake -S "$here" -B "$here/$dir" -G Ninja "$@" >&2
}

# build DIR CMAKE-ARGS...: configure, then build everything in DIR.
build() {
  configure "$@"
  cmake --build "$here/$1" -j "$jobs" >&2
}

# test_in DIR: runs the tests built in DIR.
test_in() {
  ctest --test-dir "$here/$1" --output-on-failure -j "$jobs"
}

# The tree with tests and benchmarks that the test command builds first; the install and
# README checks run on it.
build_release() {
  build build -DCMAKE_BUILD_TYPE=Release -DWORDGEN_TESTS=ON -DWORDGEN_BENCH=ON
}

# Only the program: no test or benchmark is configured, so none of their packages is needed.
build_program() {
  configure build -DCMAKE_BUILD_TYPE=Release -DWORDGEN_TESTS=OFF -DWORDGEN_BENCH=OFF
  cmake --build "$here/build" --target wordgen -j "$jobs" >&2
}

build_clang() {
  build build-clang -DCMAKE_BUILD_TYPE=Release -DWORDGEN_BENCH=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
}

# The Debian packages, built for /usr with the manual page compressed as Debian wants it.
build_packages() {
  rm -f "$here"/build-package/*.deb
  build build-package -DCMAKE_BUILD_TYPE=Release -DWORDGEN_TESTS=OFF -DWORDGEN_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DWORDGEN_COMPRESS_MAN=ON
  (cd "$here/build-package" && cpack >&2)
}

# The arm64 build and its tests under qemu-user, and its words beside those of build/wordgen.
check_arm64() {
  build build-arm64 -DCMAKE_BUILD_TYPE=Release -DWORDGEN_BENCH=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/aarch64-linux-gnu.cmake"
  test_in build-arm64
  "$here/tests/install/check_same_words.sh" "$here/build/wordgen" qemu-aarch64 "$here/build-arm64/wordgen"
}

# Under wine: a private prefix beside the build, no debug chatter, a UTF-8 locale, and
# neither Mono nor Gecko offered for installation.
windows_environment() {
  export WINEPREFIX="$here/build-windows/wine" WINEDEBUG=-all LANG=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
}

# The Windows build and its tests under wine, and its words beside those of build/wordgen.
check_windows() {
  local prefix
  prefix=$("$here/cmake/windows-libraries.sh" "$here/cmake/x86_64-w64-mingw32.cmake")
  windows_environment
  mkdir -p "$WINEPREFIX"
  # One wine server for the whole check, with the prefix made before the first program:
  # a server started by a test's first program made that test wait out its time-out.
  /usr/lib/wine/wineserver -p
  trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
  /usr/lib/wine/wine64 wineboot -i > /dev/null 2>&1
  build build-windows -DCMAKE_BUILD_TYPE=Release -DWORDGEN_BENCH=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/x86_64-w64-mingw32.cmake" -DWORDGEN_WINDOWS_PREFIX="$prefix"
  test_in build-windows
  "$here/tests/install/check_same_words.sh" "$here/build/wordgen" /usr/lib/wine/wine64 "$here/build-windows/wordgen.exe"
  "$here/tests/install/check_windows.sh" "$here/build/wordgen" "$here/build-windows/wordgen.exe"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  trap - EXIT
}

# The words library (synthesis and what it stands on) compiled, not linked, for wasm32,
# where size_t is 32 bits: a 64-bit-only assumption fails here first.
check_narrow_size() {
  local source
  for source in "$here"/synthesis/*.cpp "$here"/runtime/text/*.cpp "$here"/runtime/math/*.cpp; do
    clang++ --target=wasm32-wasi --sysroot=/usr -std=c++20 -fsyntax-only -Wall -Wextra -I"$here" "$source"
  done
}

# The fuzz targets, built with clang and libFuzzer under ASan+UBSan.
build_fuzz() {
  build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWORDGEN_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
}

# run_fuzz SECONDS: every target over its corpus in the repository (read only: what it
# finds goes to a scratch folder), then searching for SECONDS. A crash stops with its input.
run_fuzz() {
  local seconds=$1 target name corpus work dict
  for target in "$here"/build-fuzz/tests/fuzz/*_fuzz; do
    name=$(basename "$target")
    corpus="$here/tests/fuzz/corpus/$name"
    work=$(mktemp -d)
    dict=()
    [ -f "$here/tests/fuzz/$name.dict" ] && dict=(-dict="$here/tests/fuzz/$name.dict")
    echo "fuzzing $name for ${seconds}s" >&2
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 -close_fd_mask=1 \
      -artifact_prefix="$here/build-fuzz/$name-" "${dict[@]}" "$work" "$corpus" 2>"$work.log" \
      || { tail -n 60 "$work.log" >&2; rm -rf "$work"; return 1; }
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: .* ft:" "$work.log" | tail -n 3 >&2
    rm -rf "$work" "$work.log"
  done
}

command=${1:-}
[ $# -gt 0 ] && shift
case "$command" in
  run)
    install_missing "${run_packages[@]}"
    build_program
    exec "$here/build/wordgen" "$@"
    ;;
  test)
    install_missing "${run_packages[@]}" "${test_packages[@]}" "${package_packages[@]}" \
      "${check_packages[@]}" "${arm64_packages[@]}" "${windows_packages[@]}" "${narrow_packages[@]}"
    check_narrow_size
    build_release
    test_in build
    build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWORDGEN_SANITIZE=ON -DWORDGEN_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 test_in build-asan
    build_clang
    test_in build-clang
    "$here/tests/install/check_install.sh" "$here/build"
    build_packages
    "$here/tests/install/check_packages.sh" "$here/build-package"
    check_arm64
    check_windows
    build_fuzz
    run_fuzz "$brief_fuzz_seconds"
    ;;
  fuzz)
    install_missing "${run_packages[@]}" "${test_packages[@]}"
    build_fuzz
    run_fuzz "${1:-$default_fuzz_seconds}"
    ;;
  package)
    install_missing "${run_packages[@]}" "${package_packages[@]}"
    build_packages
    ls "$here"/build-package/*.deb
    ;;
  clang)
    install_missing "${run_packages[@]}" "${test_packages[@]}"
    build_clang
    test_in build-clang
    ;;
  arm64)
    install_missing "${run_packages[@]}" "${arm64_packages[@]}"
    build_program
    check_arm64
    ;;
  windows)
    install_missing "${run_packages[@]}" "${windows_packages[@]}"
    build_program
    check_windows
    ;;
  *)
    echo "usage: $0 run [wordgen options...] | test | fuzz [seconds] | package | clang | arm64 | windows" >&2
    exit 2
    ;;
esac
