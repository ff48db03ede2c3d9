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
#   ./build.sh npm                        build the npm package (the words library in
#                                         WebAssembly) into build-npm/ and test it in Node,
#                                         TypeScript and headless Chromium against wordgen
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

# The WebAssembly build of the words library and what tests its package. Node.js and npm
# come from Debian unless the machine already has them (NodeSource's nodejs brings npm).
npm_packages=(clang-14 lld-14 wasi-libc libclang-rt-14-dev-wasm32 libc++-14-dev-wasm32 libc++abi-14-dev-wasm32
              node-typescript chromium)

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

# ---- The npm package -------------------------------------------------------------------
# The package holds the words library compiled to WebAssembly with clang and wasi-libc (no
# generated glue: the module needs nothing from JavaScript), its loader and declarations.
npm_dir=$here/build-npm
# Exactly what the package ships; check_npm compares `npm pack`'s list with it.
npm_files=(LICENSE README.md package.json wordgen.cjs wordgen.d.cts wordgen.d.ts wordgen.js wordgen.wasm)
npm_wasm_flags=(--target=wasm32-wasi --sysroot=/usr -std=c++20 -O2 -mbulk-memory -fno-exceptions -fno-rtti
                -mexec-model=reactor -Wall -Wextra -Werror -I"$here" -Wl,--gc-sections -Wl,--strip-all)

install_node() {
  local wanted=()
  command -v node >/dev/null || wanted+=(nodejs)
  command -v npm >/dev/null || wanted+=(npm)
  install_missing "${npm_packages[@]}" "${wanted[@]}"
  node -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 18 ? 0 : 1)' \
    || { echo "the npm package needs Node.js 18 or later" >&2; return 1; }
}

# build_npm: the module, the package folder build-npm/package and its tarball.
build_npm() {
  local version
  version=$(sed -n 's/^project(wordgen VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
  rm -rf "$npm_dir/package" "$npm_dir"/wordgen-*.tgz
  mkdir -p "$npm_dir/package"
  clang++-14 "${npm_wasm_flags[@]}" "$here"/synthesis/*.cpp "$here/js/wasm/exports.cpp" \
    -o "$npm_dir/package/wordgen.wasm" >&2
  cp "$here"/js/src/wordgen.{js,cjs,d.ts,d.cts} "$here"/js/{README.md,LICENSE} "$npm_dir/package/"
  sed "s/\"version\": \"[^\"]*\"/\"version\": \"$version\"/" "$here/js/package.json" > "$npm_dir/package/package.json"
  (cd "$npm_dir" && npm pack --silent ./package >/dev/null)
  ls "$npm_dir"/wordgen-*.tgz
}

# check_npm WORDGEN: the packed files are those meant to ship; installed from the tarball
# into a scratch project, the package passes its Node tests, a TypeScript program on it
# type-checks, and Chromium makes the same words as WORDGEN.
check_npm() {
  local native=$1 tarball listed consumer
  tarball=$(ls "$npm_dir"/wordgen-*.tgz)
  listed=$(tar -tzf "$tarball" | sed 's|^package/||' | LC_ALL=C sort | tr '\n' ' ')
  [ "$listed" = "${npm_files[*]} " ] || { echo "npm package holds: $listed; wanted: ${npm_files[*]}" >&2; return 1; }
  echo "npm package: $(stat -c %s "$tarball") bytes packed; wordgen.wasm $(stat -c %s "$npm_dir/package/wordgen.wasm") bytes," \
    "$(gzip -9 -c "$npm_dir/package/wordgen.wasm" | wc -c) gzipped" >&2
  consumer=$npm_dir/consumer
  rm -rf "$consumer"
  mkdir -p "$consumer"
  echo '{ "private": true, "type": "module" }' > "$consumer/package.json"
  (cd "$consumer" && npm install --offline --no-audit --no-fund --silent "$tarball" >&2)
  cp "$here"/js/test/{words.test.mjs,consumer.mts,consumer.cts,tsconfig.json} "$consumer/"
  (cd "$consumer" && WORDGEN=$native node --test words.test.mjs >&2)
  (cd "$consumer" && tsc -p tsconfig.json >&2)
  WORDGEN=$native node "$here/js/test/browser.mjs" "$consumer/node_modules/wordgen"
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
      "${check_packages[@]}" "${arm64_packages[@]}"
    install_node
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
    build_npm
    check_npm "$here/build/wordgen"
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
  npm)
    install_missing "${run_packages[@]}"
    install_node
    build_program
    build_npm
    check_npm "$here/build/wordgen"
    ;;
  *)
    echo "usage: $0 run [wordgen options...] | test | fuzz [seconds] | package | clang | arm64 | npm" >&2
    exit 2
    ;;
esac
