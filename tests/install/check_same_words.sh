#!/usr/bin/env bash
# check_same_words.sh NATIVE EMULATOR FOREIGN: wordgen built for another machine, run
# through EMULATOR, prints byte for byte what the native build prints (header, words,
# report, output file) for a set of seeds and syllable ranges. The words are a promise
# across platforms.
set -euo pipefail
native=$1
emulator=$2
foreign=$3
fail() { echo "check_same_words: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

runs=0
for seed in 0 1 42 -1 -5 123456789 18446744073709551615 99999999999999999999; do
  for options in "" "-s 1 1" "-s 3 7" "-s 5 2" "-s 0" "-s 40 60" "-w 3000 -f" "-w 50 -s 2 4 -f"; do
    # shellcheck disable=SC2086
    "$native" -r "$seed" $options > "$work/native" || fail "native wordgen -r $seed $options fails"
    # shellcheck disable=SC2086
    "$emulator" "$foreign" -r "$seed" $options > "$work/foreign" || fail "foreign wordgen -r $seed $options fails"
    cmp -s "$work/native" "$work/foreign" || fail "wordgen -r $seed $options differs between the builds"
    runs=$((runs + 1))
  done
done
# The output file too.
"$native" -r 9 -w 500 -o "$work/native.txt" > /dev/null
"$emulator" "$foreign" -r 9 -w 500 -o "$work/foreign.txt" > /dev/null
cmp -s "$work/native.txt" "$work/foreign.txt" || fail "the output files differ between the builds"
echo "the $(basename "$foreign") under $emulator printed the same as the native build in $((runs + 1)) runs" >&2
