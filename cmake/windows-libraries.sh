#!/usr/bin/env bash
# windows-libraries.sh TOOLCHAIN: builds the third-party libraries of the Windows build as
# static libraries from Debian's source packages (libogg, libvorbis, flac, opus,
# libsndfile, and GoogleTest from /usr/src/googletest) and prints the folder they went to.
# The folder lives in the user's cache, named after the versions of every source and of the
# compiler, so a second run with the same versions builds nothing. Sources are fetched
# through a private source list and private apt state: the machine's apt setup is untouched.
set -euo pipefail
toolchain=$1
cache=${XDG_CACHE_HOME:-$HOME/.cache}/wordgen
sources=(libogg libvorbis flac opus libsndfile)
jobs=$(nproc 2>/dev/null || echo 2)

# The Debian mirror this machine already uses, for the source lines of the same release.
debian_mirror() {
  local uri
  uri=$(grep -h -E '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
          /etc/apt/sources.list.d/*.sources 2>/dev/null \
        | grep -o -E 'https?://[^ ]*/debian/?( |$)' | head -n 1 | tr -d ' ')
  echo "${uri:-http://deb.debian.org/debian}"
}

apt_dir=$cache/apt
apt_options=(-o "Dir::State=$apt_dir/state" -o "Dir::Cache=$apt_dir/cache"
             -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
             -o "Dir::State::status=/var/lib/dpkg/status" -o "APT::Sandbox::User=$(id -un)")
mkdir -p "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_mirror) bookworm main" \
  > "$apt_dir/sources.list"
# Offline, the lists of the last update still tell the versions.
apt-get "${apt_options[@]}" update -qq >&2 || echo "windows-libraries: no update of the source lists" >&2

source_version() {
  apt-cache "${apt_options[@]}" showsrc --only-source "$1" | awk '/^Version:/ { print $2 }' \
    | sort -V | tail -n 1
}

key=$(x86_64-w64-mingw32-gcc-posix -dumpversion)
for s in "${sources[@]}"; do
  version=$(source_version "$s")
  [ -n "$version" ] || { echo "windows-libraries: no source package $s found" >&2; exit 1; }
  key+=_$s-$version
done
key+=_gtest-$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || echo none)
prefix=$cache/windows-$key
if [ -f "$prefix/built" ]; then
  echo "$prefix"
  exit 0
fi

echo "building the Windows libraries into $prefix" >&2
rm -rf "$prefix"
# The sources stay after a failed build for a look; a finished one removes them.
work=$cache/sources-$key
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get "${apt_options[@]}" source -qq "${sources[@]}" >&2)

# cross_build FOLDER CMAKE-ARGS...: one CMake project of the sources, static, into the prefix.
cross_build() {
  local source=$1; shift
  cmake -S "$source" -B "$source/build-windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DWORDGEN_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TESTING=OFF "$@" >&2
  cmake --build "$source/build-windows" -j "$jobs" >&2
  cmake --install "$source/build-windows" >&2
}
folder() { find "$work" -maxdepth 1 -type d -name "$1-*" | head -n 1; }

cross_build "$(folder libogg)"
cross_build "$(folder libvorbis)"
# Without their hardening options: stack protection and fortified calls come from libssp,
# which would make every program that links them ship libssp-0.dll.
cross_build "$(folder flac)" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF \
  -DBUILD_CXXLIBS=OFF -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF
# opus 1.3's release lacks part of its CMake files: its configure script builds it, and
# adds _FORTIFY_SOURCE unless it is defined already.
(cd "$(folder opus)" && ./configure -q --host=x86_64-w64-mingw32 --prefix="$prefix" \
   CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O2 -D_FORTIFY_SOURCE=0" --enable-static --disable-shared --disable-stack-protector \
   --disable-doc --disable-extra-programs >&2 \
 && make -s -j "$jobs" >&2 && make -s install >&2)
# FLAC__NO_DLL: FLAC's headers otherwise declare every function as imported from a DLL.
cross_build "$(folder libsndfile)" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
  -DENABLE_MPEG=OFF -DENABLE_CPACK=OFF -DENABLE_EXTERNAL_LIBS=ON -DINSTALL_PKGCONFIG_MODULE=ON \
  -DCMAKE_C_FLAGS=-DFLAC__NO_DLL
cp -r /usr/src/googletest "$work/googletest"
cross_build "$work/googletest" -Dgtest_disable_pthreads=OFF

# stb is headers only, the same on every target.
cat > "$prefix/lib/pkgconfig/stb.pc" <<PC
Name: stb
Description: single-file public domain libraries
Version: 0
Cflags: -I/usr/include/stb
PC
touch "$prefix/built"
rm -rf "$work"
echo "$prefix"
