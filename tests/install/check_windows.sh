#!/usr/bin/env bash
# check_windows.sh NATIVE WINDOWS: what the Windows build of wordgen owes a user beyond
# the same words: it needs no DLL but the system's own (KERNEL32 and msvcrt), its lines
# end in a line feed alone, and its arguments and paths arrive as UTF-8, non-ASCII ones
# included. WINEPREFIX and the rest of wine's settings come from the caller.
set -euo pipefail
native=$1
windows=$2
wine=/usr/lib/wine/wine64
fail() { echo "check_windows: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

imports=$(x86_64-w64-mingw32-objdump -p "$windows" | awk '/DLL Name:/ { print $3 }' | sort -u | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "wordgen.exe imports $imports"

# Standard output and the output file: exactly the native bytes, so no carriage return.
"$wine" "$windows" -r 3 -w 40 -f > "$work/stdout"
"$native" -r 3 -w 40 -f > "$work/native"
cmp -s "$work/stdout" "$work/native" || fail "standard output differs from the native build's"
! grep -q $'\r' "$work/stdout" || fail "standard output holds a carriage return"

# A non-ASCII output path: the file has that very UTF-8 name and the native words.
name="wörter-日本-😀.txt"
"$wine" "$windows" -r 11 -w 25 -o "$work/$name" > "$work/named" || fail "wordgen.exe -o $name fails: $(cat "$work/named")"
"$native" -r 11 -w 25 -o "$work/native.txt" > /dev/null
[ -f "$work/$name" ] || fail "no file named $name: $(ls "$work")"
cmp -s "$work/$name" "$work/native.txt" || fail "the file named $name differs from the native one"

# A non-ASCII argument comes back in the message byte for byte.
missing="$work/nö-such-földer/é.txt"
"$wine" "$windows" -r 1 -w 2 -o "$missing" > "$work/message" || true
"$native" -r 1 -w 2 -o "$missing" > "$work/native-message" || true
cmp -s "$work/message" "$work/native-message" || fail "the message for $missing differs: $(cat "$work/message")"
grep -q "could not open file: $missing" "$work/message" || fail "no message for $missing"
echo "wordgen.exe imports only $imports; prints LF lines; takes UTF-8 arguments and paths" >&2
