#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs wordgen or its tests.
#   ./build.sh run [wordgen options...]   build (Release) and run the generator
#   ./build.sh test                       build and run every test, plain and under ASan+UBSan,
#                                         and every fuzz target briefly
#   ./build.sh fuzz [seconds]             run every fuzz target for this long each (default 600)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libstb-dev libsndfile1-dev libvorbis-dev clang libclang-rt-14-dev)

# What the test command gives each fuzz target beyond its corpus: enough to keep every
# target building and clean in CI, not to search.
brief_fuzz_seconds=5
default_fuzz_seconds=600

install_missing() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "installing: ${missing[*]}" >&2
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
}

# build DIR CMAKE-ARGS...: configure once, then build everything in DIR.
build() {
  local dir=$1; shift
  cmake -S "$here" -B "$here/$dir" -G Ninja "$@" >&2
  cmake --build "$here/$dir" -j "$jobs" >&2
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
      "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
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
    install_missing
    build build -DCMAKE_BUILD_TYPE=Release
    exec "$here/build/wordgen" "$@"
    ;;
  test)
    install_missing
    build build -DCMAKE_BUILD_TYPE=Release
    ctest --test-dir "$here/build" --output-on-failure -j "$jobs"
    build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWORDGEN_SANITIZE=ON -DWORDGEN_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$here/build-asan" --output-on-failure -j "$jobs"
    build_fuzz
    run_fuzz "$brief_fuzz_seconds"
    ;;
  fuzz)
    install_missing
    build_fuzz
    run_fuzz "${1:-$default_fuzz_seconds}"
    ;;
  *)
    echo "usage: $0 run [wordgen options...] | $0 test | $0 fuzz [seconds]" >&2
    exit 2
    ;;
esac
