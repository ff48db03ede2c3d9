#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs wordgen, its tests or its packages.
# Each command installs the Debian packages it needs and nothing more. Every build but the
# Windows one is a preset of CMakePresets.json (release, program, sanitize, clang, fuzz,
# package, arm64), which a developer can also run alone: cmake --workflow --preset sanitize.
#   ./build.sh run [wordgen options...]   build wordgen alone (Release) and run it
#   ./build.sh test                       build and run every test: plain, under ASan+UBSan and
#                                         built with clang; install into a scratch prefix and
#                                         build on it; each installed header alone; the manual
#                                         page, the README's examples; a plain configure, and
#                                         this tree as a subproject and through FetchContent;
#                                         the Debian packages; the words library compiled for
#                                         wasm32; the arm64, Windows and npm builds as below;
#                                         every fuzz target briefly
#   ./build.sh fuzz [seconds]             run every fuzz target for this long each (default 600)
#   ./build.sh package                    build the Debian packages into build-package/
#   ./build.sh clang                      build with clang and run the tests
#   ./build.sh arm64                      cross-build for arm64, run its tests under qemu-user
#                                         and compare its words with this machine's
#   ./build.sh windows                    cross-build for 64-bit Windows with mingw-w64 (the
#                                         third-party libraries from Debian's sources, cached),
#                                         run its tests under wine and compare its words
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

# Windows: the mingw-w64 compilers and wine to run what they build; dpkg-dev unpacks the
# Debian sources the third-party libraries are built from, googletest brings its sources.
windows_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 dpkg-dev make
                  googletest libstb-dev)
# The words library compiled for a target whose size_t is 32 bits and not uint64_t's type.
narrow_packages=(clang wasi-libc libc++-14-dev-wasm32)
# The WebAssembly build of the words library and what tests its package. Node.js and npm
# come from Debian unless the machine already has them (NodeSource's nodejs brings npm).
npm_packages=(clang-14 lld-14 wasi-libc libclang-rt-14-dev-wasm32 libc++-14-dev-wasm32 libc++abi-14-dev-wasm32
              node-typescript chromium)

# What the test command gives each fuzz target beyond its corpus: enough to keep every
# target building and clean in CI, not to search.
brief_fuzz_seconds=5
default_fuzz_seconds=600

# installed PACKAGE: whether dpkg counts it as installed. A package whose triggers have
# not run yet (triggers-pending or triggers-awaited, as while another install is under
# way) is installed all the same. A name without an architecture may match several
# instances, one line each.
installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -Eqx 'install ok (installed|triggers-pending|triggers-awaited)'
}

# How long to wait for another apt or dpkg run to let go of its lock before giving up.
lock_wait_seconds=600
lock_retry_seconds=5

# install_missing PACKAGE...: installs those not installed yet; a name ending in :arm64
# first makes arm64 a foreign architecture of this machine. Waits for the package
# manager's lock when another install holds it.
install_missing() {
  local missing=() p
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "installing: ${missing[*]}" >&2
  if [[ " ${missing[*]}" == *:arm64* ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    # dpkg has no option to wait for its lock: try again until the wait is over.
    local waited=0
    until "${sudo[@]}" dpkg --add-architecture arm64; do
      [ $waited -ge $lock_wait_seconds ] && { echo "dpkg stays locked: arm64 not added" >&2; return 1; }
      sleep $lock_retry_seconds
      waited=$((waited + lock_retry_seconds))
    done
  fi
  local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=$lock_wait_seconds)
  "${apt[@]}" update -qq >&2
  "${apt[@]}" install -y -qq "${missing[@]}" >&2
}

# build PRESET [CMAKE-ARGS...]: configure with the preset of CMakePresets.json (and any
# further arguments), then build everything it builds. Each preset names its own folder.
build() {
  local preset=$1; shift
  cmake --preset "$preset" "$@" >&2
  cmake --build --preset "$preset" -j "$jobs" >&2
}

# test_in PRESET: runs the tests built by the preset (its test preset sets what the
# sanitizers need).
test_in() {
  ctest --preset "$1" -j "$jobs"
}

# Only the program: no test or benchmark is configured, so none of their packages is needed.
build_program() {
  cmake --preset program >&2
  cmake --build --preset program --target wordgen -j "$jobs" >&2
}

# The Debian packages, hardened, for /usr, with the manual page compressed as Debian wants it.
build_packages() {
  rm -f "$here"/build-package/*.deb
  build package
  (cd "$here" && cpack --preset package >&2)
}

# The arm64 build and its tests under qemu-user, and its words beside those of build/wordgen.
check_arm64() {
  build arm64
  test_in arm64
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
  /usr/lib/wine/wineserver -p 2>/dev/null || true  # one may be running for this prefix already
  trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
  /usr/lib/wine/wine64 wineboot -i > /dev/null 2>&1
  # Configured here rather than by a preset: the toolchain needs the libraries' folder.
  cmake -S "$here" -B "$here/build-windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DWORDGEN_TESTS=ON \
    -DWORDGEN_BENCH=OFF -DCMAKE_TOOLCHAIN_FILE="$here/cmake/x86_64-w64-mingw32.cmake" \
    -DWORDGEN_WINDOWS_PREFIX="$prefix" >&2
  cmake --build "$here/build-windows" -j "$jobs" >&2
  ctest --test-dir "$here/build-windows" --output-on-failure -j "$jobs"
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
      "${check_packages[@]}" "${arm64_packages[@]}" "${windows_packages[@]}" "${narrow_packages[@]}"
    install_node
    check_narrow_size
    build release
    test_in release
    build sanitize
    test_in sanitize
    build clang
    test_in clang
    "$here/tests/install/check_install.sh" "$here/build"
    "$here/tests/install/check_consumers.sh" "$here/build/wordgen"
    build_packages
    "$here/tests/install/check_packages.sh" "$here/build-package"
    check_arm64
    check_windows
    build_npm
    check_npm "$here/build/wordgen"
    build fuzz
    run_fuzz "$brief_fuzz_seconds"
    ;;
  fuzz)
    install_missing "${run_packages[@]}" "${test_packages[@]}"
    build fuzz
    run_fuzz "${1:-$default_fuzz_seconds}"
    ;;
  package)
    install_missing "${run_packages[@]}" "${package_packages[@]}"
    build_packages
    ls "$here"/build-package/*.deb
    ;;
  clang)
    install_missing "${run_packages[@]}" "${test_packages[@]}"
    build clang
    test_in clang
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
  npm)
    install_missing "${run_packages[@]}"
    install_node
    build_program
    build_npm
    check_npm "$here/build/wordgen"
    ;;
  *)
    echo "usage: $0 run [wordgen options...] | test | fuzz [seconds] | package | clang | arm64 | windows | npm" >&2
    exit 2
    ;;
esac
