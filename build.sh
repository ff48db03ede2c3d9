#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds, and runs wordgen or its tests.
#   ./build.sh run [wordgen options...]   build (Release) and run the generator
#   ./build.sh test                       build and run every test, plain and under ASan+UBSan
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libstb-dev libsndfile1-dev)

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
    ;;
  *)
    echo "usage: $0 run [wordgen options...] | $0 test" >&2
    exit 2
    ;;
esac
