#!/usr/bin/env bash
# check_packages.sh DIR: the Debian packages CPack made in DIR hold exactly the intended
# files, carry their control fields and computed dependencies, pass lintian without an
# error, and work once unpacked: a program built on wordgen-dev prints wordgen's words.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(cd "$1" && pwd)
fail() { echo "check_packages: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^project(wordgen VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
tool=$dir/wordgen_${version}_${arch}.deb
dev=$dir/wordgen-dev_${version}_${arch}.deb
{ [ -f "$tool" ] && [ -f "$dev" ]; } || fail "no $tool and $dev"
[ "$(find "$dir" -maxdepth 1 -name '*.deb' | wc -l)" -eq 2 ] || fail "other packages beside the two in $dir"

# files DEB: the paths of its files and links, directories left out.
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort; }

printf '%s\n' usr/bin/wordgen usr/share/man/man1/wordgen.1.gz usr/share/lintian/overrides/wordgen \
  usr/share/doc/wordgen/copyright usr/share/doc/wordgen/changelog.gz | sort > "$work/tool.expected"
{
  lib=usr/lib/$multiarch
  printf '%s\n' "$lib/libwordgen-runtime.a" "$lib/libwordgen-synthesis.a" \
    "$lib/cmake/wordgen/wordgenConfig.cmake" "$lib/cmake/wordgen/wordgenConfigVersion.cmake" \
    "$lib/cmake/wordgen/wordgenTargets.cmake" "$lib/cmake/wordgen/wordgenTargets-release.cmake" \
    "$lib/pkgconfig/wordgen-runtime.pc" "$lib/pkgconfig/wordgen-synthesis.pc" \
    usr/share/doc/wordgen-dev/copyright usr/share/doc/wordgen-dev/changelog.gz
  sed 's|^|usr/include/wordgen/|' "$dir/public_headers.txt"
} | sort > "$work/dev.expected"
files "$tool" | diff -u "$work/tool.expected" - || fail "wordgen holds other files than intended"
files "$dev" | diff -u "$work/dev.expected" - || fail "wordgen-dev holds other files than intended"

# field DEB NAME: one control field.
field() { dpkg-deb -f "$1" "$2"; }
for deb in "$tool" "$dev"; do
  [ "$(field "$deb" Version)" == "$version" ] || fail "$deb: version $(field "$deb" Version), not $version"
  for name in Maintainer Description Section Priority; do
    [ -n "$(field "$deb" $name)" ] || fail "$deb has no $name"
  done
done
[ "$(field "$tool" Section)" == utils ] || fail "wordgen is not in utils"
[ "$(field "$dev" Section)" == libdevel ] || fail "wordgen-dev is not in libdevel"
# The program's dependencies come from its dynamic links: every library it needs is
# named, with a version, by the package that holds it.
dpkg-deb -x "$tool" "$work/root"
depends=$(field "$tool" Depends)
for soname in $(readelf -d "$work/root/usr/bin/wordgen" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  owner=$( (dpkg-query -S "/lib/$multiarch/$soname" "/usr/lib/$multiarch/$soname" 2>/dev/null || true) | sed -n '1s/[:,].*//p')
  [ -n "$owner" ] || fail "no package here holds $soname, which wordgen needs"
  grep -Eq "(^|, )$owner \(>= " <<<"$depends" || fail "wordgen needs $soname of $owner, yet depends on '$depends'"
done
grep -q "libsndfile1-dev" <<<"$(field "$dev" Depends)" || fail "wordgen-dev does not depend on libsndfile1-dev"

# Not a single tag, pedantic and informational ones included (an override that no
# longer matches shows as one too). The program's one override says why it is there.
lintian -I --pedantic --tag-display-limit 0 "$tool" "$dev" > "$work/lintian" 2>&1 || true
grep -v '^running with root privileges' "$work/lintian" > "$work/tags" || true
[ ! -s "$work/tags" ] || { cat "$work/tags" >&2; fail "lintian -I --pedantic finds the tags above"; }

# Hardened as Debian builds: fortified functions, stack protector, relro and bindnow.
program=$work/root/usr/bin/wordgen
grep -q 'FLAGS_1.*NOW' <<<"$(readelf -d "$program")" || fail "wordgen is not bound at load (bindnow)"
grep -q GNU_RELRO <<<"$(readelf -l "$program")" || fail "wordgen has no relro segment"
symbols=$(readelf -W --dyn-syms "$program")
grep -q '__stack_chk_fail' <<<"$symbols" || fail "wordgen has no stack protector"
grep -q '__mem[a-z]*_chk' <<<"$symbols" || fail "wordgen calls no fortified function"

# The licence: ours and that of the stb code the runtime library carries, in both.
for deb in "$tool" "$dev"; do
  name=$(field "$deb" Package)
  copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/doc/$name/copyright")
  for paragraph in 'Files: \*\nCopyright: [0-9]+ the wordgen developers\nLicense: Expat\n' \
                   'Files: stb_image.h stb_image_write.h\nCopyright: [^\n]*Sean Barrett[^\n]*\nLicense: public-domain or Expat\n'; do
    grep -Pzq "$paragraph" <<<"$copyright" || fail "$name's copyright has no paragraph '$paragraph'"
  done
  grep -q "^License: Expat$" <<<"$copyright" && grep -q "^License: public-domain$" <<<"$copyright" \
    || fail "$name's copyright lacks the licence texts"
done

# Unpacked side by side, the packages build and run a program as installed ones would.
dpkg-deb -x "$dev" "$work/root"
export PKG_CONFIG_PATH=$work/root/usr/lib/$multiarch/pkgconfig
# shellcheck disable=SC2046
c++ -std=c++20 "$here/examples/consumer/words.cpp" -o "$work/words" \
  $(pkg-config --cflags --libs --static wordgen-synthesis) || fail "words does not build on wordgen-dev"
wanted=$("$work/root/usr/bin/wordgen" -r 7 -w 300 | tail -n +4)
[ "$("$work/words" 7 300)" == "$wanted" ] || fail "words built on wordgen-dev differs from the packaged wordgen"
"$here/tests/install/check_man_page.sh" "$work/root/usr/share/man/man1/wordgen.1.gz" "$work/root/usr/bin/wordgen"
echo "package checks passed: $(basename "$tool") $(basename "$dev")" >&2
