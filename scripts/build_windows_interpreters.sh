#!/usr/bin/env bash
# Cross-builds the Windows interpreters the Windows service runs, gswin32c.exe,
# gpcl6win32.exe and gxpswin32.exe (64-bit PE despite the names, which are the
# ones the service looks for), with mingw-w64, from the same Debian ghostscript
# source the Linux build uses. Debian's source has its third-party libraries
# stripped and Debian ships only zlib for mingw, so lcms2, freetype, expat,
# libpng, jbig2dec, libjpeg-turbo and openjpeg are cross-built statically from
# their Debian source packages first. Every exe is linked -static: nothing but
# the exe has to be copied to a Windows machine.
#
# GhostPDL gets the same patches as the Linux build (scripts/patches/, applied
# by ghostpdl_patches.sh).
#
# Everything is cached outside the clone, keyed by the ghostscript version:
#   ${QUILLARO_CACHE:-/var/cache/quillaro}/windows-<version>-r<recipe>/deps/
#                  the static libraries (one .complete-<name> marker each, so an
#                  interrupted build resumes with the next library); they do not
#                  depend on our GhostPDL patches, so every patch level shares them
#   ${QUILLARO_CACHE:-/var/cache/quillaro}/windows-<version>-r<recipe>-<patch level>/
#     bin/         the three exes
#     source-version, timings.txt
#   windows-<version>-r<recipe>-<patch level>.complete marks a finished build;
#   without it, it is rebuilt.
# Installs what it needs with install_deps.sh windows. Prints the bin folder on its last line.
#   JOBS   parallel make jobs (default 2; the machine is shared)
set -euo pipefail

cache_root="${QUILLARO_CACHE:-/var/cache/quillaro}"
jobs="${JOBS:-2}"
host=x86_64-w64-mingw32
fail() { echo "[windows-interpreters] FAILED: $*" >&2; exit 1; }
say() { echo "[windows-interpreters] $*" >&2; }

version=$(dpkg-query -W -f='${Version}' ghostscript 2>/dev/null) || fail "ghostscript is not installed (run install_deps.sh)"
# The recipe revision is part of the key: a build made with another device
# list (or other patches) is not the one this script makes.
recipe=2
# Raised with the Linux build's patch level (build_interpreters.sh) whenever
# a patch is added or changed.
patch_level=p1
libs_dir="$cache_root/windows-$version-r$recipe"
out_dir="$libs_dir-$patch_level"
marker="$out_dir.complete"
if [ -f "$marker" ] && [ -f "$out_dir/bin/gswin32c.exe" ] && [ -f "$out_dir/bin/gpcl6win32.exe" ] \
   && [ -f "$out_dir/bin/gxpswin32.exe" ]; then
  say "cached: $out_dir/bin"
  echo "$out_dir/bin"
  exit 0
fi

here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/install_deps.sh" windows >&2 || fail "installing the cross-build packages"

# shellcheck source=deb_src.sh
source "$here/deb_src.sh"
ensure_deb_src

prefix="$libs_dir/deps"
work="$out_dir/work"
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include" "$work"
timings="$out_dir/timings.txt"

# The compilers by their posix-thread names; configure scripts find them through
# these variables rather than the --host prefix, which would pick the win32 variant.
export CC="$host-gcc-posix" CXX="$host-g++-posix" AR="$host-ar" RANLIB="$host-ranlib" \
  STRIP="$host-strip" RC="$host-windres" WINDRES="$host-windres"
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
# Configure scripts must not try to run what they build (no binfmt for wine here).
export WINEDEBUG=-all

# Unpacks the Debian source of $1 into $work/$1 and prints that folder. The
# archive may refuse the newest source (a security upload not mirrored as
# source): walk down the versions offered, starting with $2 when given.
fetch_source() {
  local pkg="$1" first="${2:-}" v fetched=""
  rm -rf "${work:?}/$pkg" "${work:?}/$pkg.dl"
  mkdir -p "$work/$pkg.dl"
  for v in $( ( [ -n "$first" ] && echo "$first"; apt-cache showsrc "$pkg" | awk '/^Version:/{print $2}' | sort -urV) \
             | awk 'NF && !seen[$0]++'); do
    if (cd "$work/$pkg.dl" && apt-get source -qq --download-only "$pkg=$v" >/dev/null 2>&1); then fetched="$v"; break; fi
    say "$pkg source $v refused; trying an older one"
  done
  [ -n "$fetched" ] || fail "apt-get source $pkg (no version could be fetched)"
  local dsc
  dsc=$(ls "$work/$pkg.dl"/*.dsc | head -n 1)
  dpkg-source --no-check -x "$dsc" "$work/$pkg" >/dev/null 2>&1 || fail "unpacking $dsc"
  rm -rf "$work/$pkg.dl"
  touch "$out_dir/source-version"
  sed -i "/^$pkg /d" "$out_dir/source-version"
  echo "$pkg $fetched" >> "$out_dir/source-version"
  echo "$work/$pkg"
}

# Runs "$@" with its output in $log; on failure shows the log's tail.
run_logged() {
  local log="$1"; shift
  "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "$* (log: $log)"; }
}

autotools_static() {  # in the current folder
  local log="$1"; shift
  run_logged "$log" nice -n 19 ./configure --host="$host" --prefix="$prefix" --enable-static --disable-shared "$@"
  run_logged "$log" nice -n 19 make -j"$jobs"
  run_logged "$log" make install
}

cmake_static() {  # source folder, log, extra options
  local dir="$1" log="$2"; shift 2
  run_logged "$log" nice -n 19 cmake -S "$dir" -B "$dir/_build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=AMD64 -DCMAKE_C_COMPILER="$CC" \
    -DCMAKE_RC_COMPILER="$RC" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR="$prefix/lib" \
    -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$host" "$@"
  run_logged "$log" nice -n 19 cmake --build "$dir/_build" -j"$jobs"
  run_logged "$log" cmake --install "$dir/_build"
}

build_lcms2() { cd "$1"; autotools_static "$2"; }
build_freetype() {
  cd "$1"
  # Freetype inflates with zlib's own code unless told to use the library;
  # ghostscript links zlib too and the two clash.
  autotools_static "$2" --without-harfbuzz --without-brotli --without-bzip2 --without-png --with-zlib=yes
}
build_expat() { cd "$1/expat"; run_logged "$2" autoreconf -fi; autotools_static "$2" --without-docbook --without-examples --without-tests; }
build_libpng1.6() { cd "$1"; autotools_static "$2"; }
build_jbig2dec() {
  cd "$1"
  # The source has no configure: autogen.sh writes configure.ac from its
  # template, makes configure and runs it with these arguments. jbig2.h
  # defines inline away for old compilers unless told it exists.
  local configure=./configure
  [ -x configure ] || configure="sh ./autogen.sh"
  # shellcheck disable=SC2086  # "sh ./autogen.sh" is two words
  run_logged "$2" nice -n 19 $configure --host="$host" --prefix="$prefix" --enable-static --disable-shared \
    CPPFLAGS=-Dinline=__inline__
  # The library only: the command-line decoder links libpng and is not needed.
  run_logged "$2" nice -n 19 make -j"$jobs" libjbig2dec.la
  install -m 644 .libs/libjbig2dec.a "$prefix/lib/"
  install -m 644 jbig2.h "$prefix/include/"
  local v
  v=$(sed -n 's/^PACKAGE_VERSION = //p' Makefile)
  cat > "$prefix/lib/pkgconfig/jbig2dec.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: libjbig2dec
Description: JBIG2 decoder library.
Version: $v
Libs: -L\${libdir} -ljbig2dec
Cflags: -I\${includedir}
PC
}
build_libjpeg-turbo() {
  # Its own install rules resolve a relative library folder against the working
  # folder, hence the absolute CMAKE_INSTALL_LIBDIR above.
  cmake_static "$1" "$2" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
}
build_openjpeg2() {
  cmake_static "$1" "$2" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF
}

uptime_now() { uptime | sed 's/.*load average: //'; }
for lib in lcms2 freetype expat libpng1.6 jbig2dec libjpeg-turbo openjpeg2; do
  if [ -f "$prefix/.complete-$lib" ]; then say "$lib: cached"; continue; fi
  say "$lib: fetching and building"
  start=$(date +%s)
  dir=$(fetch_source "$lib")
  log="$work/$lib.log"
  : > "$log"
  ( "build_$lib" "$dir" "$log" ) || exit 1
  rm -rf "$dir"
  touch "$prefix/.complete-$lib"
  echo "$lib $(( $(date +%s) - start )) s (load $(uptime_now))" >> "$timings"
  say "$lib: $(( $(date +%s) - start )) s"
done

# GhostPDL: the same source as the Linux build (walks down the same way).
say "ghostpdl: fetching"
start=$(date +%s)
src=$(fetch_source ghostscript "$version")
log="$work/ghostpdl.log"
: > "$log"
cd "$src"
# GhostXPS without the JPEG XR library Debian strips (see xps_jpegxr_stub.sh).
source "$here/xps_jpegxr_stub.sh"
stub_jpegxr
# Our own patches, as on Linux (Windows collapses ".." in a path by itself,
# so there a PJL path leaves the volume folder even when it does not exist).
source "$here/ghostpdl_patches.sh"
apply_ghostpdl_patches || fail "applying our patches to the GhostPDL source"
# Debian's reproducible-timestamp patch fixes TZ with setenv, which msvcrt
# lacks; its own call does the same.
grep -q '^#include "gp.h"' base/gp_unix.c || fail "base/gp_unix.c has no gp.h include to patch"
sed -i -e '/^#include "gp.h"/a #ifdef _WIN32\n#define setenv(name, value, overwrite) _putenv_s(name, value)\n#endif' base/gp_unix.c
# The build-host tools are configured by a recursive configure that, in a
# stripped tree, stops at "No JBIG2 decoder available": the tools need none of
# the PDF, PCL or XPS interpreters, so leave them out there.
grep -q -- '--enable-auxtools_only' configure || fail "configure has no auxtools line to patch"
sed -i -e 's/--enable-auxtools_only /--enable-auxtools_only --with-pdf=no --without-pcl --without-xps /' configure

# Exactly the devices the service's command lines use: bbox (page counting),
# png16m and ppmraw (page rendering), pbmraw (the report's media probe),
# ps2write and pxlcolor (watermarking).
drivers=bbox,png16m,ppmraw,pbmraw,ps2write,pxlcolor
say "ghostpdl: configuring (devices $drivers)"
run_logged "$log" nice -n 19 ./configure --host="$host" --build=x86_64-linux-gnu CCAUX=gcc \
  CPPFLAGS="-I$prefix/include -I$prefix/include/freetype2 -I$prefix/include/openjpeg-2.5 -DOPJ_STATIC" \
  LDFLAGS="-L$prefix/lib" \
  --without-x --disable-cups --disable-gtk --disable-fontconfig --disable-dbus --without-libpaper \
  --without-tesseract --without-libtiff --without-ijs --without-libidn --without-urf \
  --with-drivers="$drivers" --with-exe-ext=.exe
say "ghostpdl: building gs, gpcl6 and gxps (several minutes)"
run_logged "$log" nice -n 19 make -j"$jobs" gs gpcl6 gxps XLDFLAGS=-static
mkdir -p "$out_dir/bin"
install -m 755 bin/gs.exe "$out_dir/bin/gswin32c.exe"
install -m 755 bin/gpcl6.exe "$out_dir/bin/gpcl6win32.exe"
install -m 755 bin/gxps.exe "$out_dir/bin/gxpswin32.exe"
cp pcl/pl/plftable.c "$out_dir/plftable.c"
echo "ghostpdl $(( $(date +%s) - start )) s (load $(uptime_now))" >> "$timings"
cd /
rm -rf "$work"
touch "$marker"
say "built into $out_dir/bin"
echo "$out_dir/bin"
