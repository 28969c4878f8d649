#!/usr/bin/env bash
# Builds GhostPCL (gpcl6) and GhostXPS (gxps) from Debian's ghostscript source
# package, which carries the whole GhostPDL tree. Debian ships only gs.
#
# Our patches (scripts/patches/ghostpdl-*.patch) are applied to the source:
# see each patch's own comments for what it changes and why.
#
# The binaries are cached outside the clone, keyed by the source version and
# the patch level, so a second run (or CI on the same machine) skips the
# four-minute build, and a build without the current patches is never reused.
#   QUILLARO_CACHE   cache root (default /var/cache/quillaro)
# Prints the folder holding gpcl6 and gxps on its last line.
set -euo pipefail
scripts="$(cd "$(dirname "$0")" && pwd)"

cache_root="${QUILLARO_CACHE:-/var/cache/quillaro}"
fail() { echo "[interpreters] FAILED: $*" >&2; exit 1; }

# shellcheck source=deb_src.sh
source "$scripts/deb_src.sh"

version=$(dpkg-query -W -f='${Version}' ghostscript 2>/dev/null) || fail "ghostscript is not installed (run install_deps.sh)"
# Raised whenever a patch is added or changed.
# p1: no PJL file system and no PJL GSSET/GSSETSTRING (ghostpdl-pjl-no-file-system.patch).
patch_level=p1
out_dir="$cache_root/ghostpdl-$version-$patch_level"
if [ -x "$out_dir/bin/gpcl6" ] && [ -x "$out_dir/bin/gxps" ]; then
  echo "[interpreters] cached: $out_dir/bin" >&2
  echo "$out_dir/bin"
  exit 0
fi

ensure_deb_src
export DEBIAN_FRONTEND=noninteractive
echo "[interpreters] installing build dependencies" >&2
apt-get install -y -qq --no-install-recommends \
  libjpeg-dev zlib1g-dev libpng-dev libfreetype-dev liblcms2-dev \
  libopenjp2-7-dev libtiff-dev libjbig2dec0-dev libexpat1-dev libidn-dev \
  libfontconfig-dev >/dev/null || fail "apt-get install of build dependencies"

work="$cache_root/work-$version"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
echo "[interpreters] fetching ghostscript $version source" >&2
fetched=""
# The archive may refuse the newest source (a security upload not mirrored as
# source); any 10.0.0 tree builds the same tools, so walk down the versions offered.
for v in $( (echo "$version"; apt-cache showsrc ghostscript | awk '/^Version:/{print $2}' | sort -urV) | awk '!seen[$0]++'); do
  if apt-get source -qq --download-only "ghostscript=$v" >/dev/null 2>&1; then fetched="$v"; break; fi
  echo "[interpreters] source $v refused; trying an older one" >&2
done
[ -n "$fetched" ] || fail "apt-get source ghostscript (no version could be fetched)"
echo "[interpreters] using source $fetched" >&2
dsc=$(ls ./*.dsc | head -n 1)
dpkg-source --no-check -x "$dsc" src >/dev/null || fail "unpacking $dsc"
cd src

# GhostXPS without the JPEG XR library Debian strips (see xps_jpegxr_stub.sh).
source "$scripts/xps_jpegxr_stub.sh"
stub_jpegxr
# Our own patches (shared with build_windows_interpreters.sh).
source "$scripts/ghostpdl_patches.sh"
apply_ghostpdl_patches || fail "applying our patches to the GhostPDL source"

echo "[interpreters] configuring" >&2
./configure --without-x --disable-cups --disable-gtk --without-tesseract --without-libpaper >configure.log 2>&1 \
  || { tail -n 30 configure.log >&2; fail "configure (log: $work/src/configure.log)"; }
echo "[interpreters] building gpcl6 and gxps (a few minutes)" >&2
make -j"$(nproc)" gpcl6 gxps >make.log 2>&1 \
  || { tail -n 40 make.log >&2; fail "make gpcl6 gxps (log: $work/src/make.log)"; }

mkdir -p "$out_dir/bin"
install -m 755 bin/gpcl6 bin/gxps "$out_dir/bin/"
cp pcl/pl/plftable.c "$out_dir/plftable.c"
cd /
rm -rf "$work"
echo "[interpreters] built into $out_dir/bin" >&2
echo "$out_dir/bin"
