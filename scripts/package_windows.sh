#!/usr/bin/env bash
# Builds the Windows package: dist/windows/ holding quillaro.exe,
# quillaro-report.exe, the three interpreters, the PCL font kit as urwfonts\, settings.ini and README.txt,
# and beside it the installer dist/Quillaro-VERSION.msi made from the same
# files. Copy the folder to a Windows machine (or a Wine prefix) and install
# it as README.txt says, or run the installer.
#   package_windows.sh [DIST_FOLDER]   (default dist/windows in the clone)
# Cross-builds Quillaro in build-windows/ (Release) and takes the interpreters
# and the font kit from their caches, building them when absent.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
dist="${1:-$repo/dist/windows}"
say() { echo "[package] $*" >&2; }

interp_bin=$(bash "$repo/scripts/build_windows_interpreters.sh" | tail -n 1)
sqlite=$(bash "$repo/scripts/build_windows_sqlite.sh" | tail -n 1)
# The font kit is made from the Linux interpreter cache's copy of the resident-font
# table, which is the same source as the Windows interpreters'.
linux_bin=$(bash "$repo/scripts/build_interpreters.sh" | tail -n 1)
fonts=$(bash "$repo/scripts/make_fonts.sh" "$(dirname "$linux_bin")" | tail -n 1)

build="$repo/build-windows"
say "cross-building quillaro.exe in $build"
mkdir -p "$build"
nice cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQUILLARO_WERROR=ON -DQUILLARO_LEDGER=ON \
  -DQUILLARO_WINDOWS_SQLITE="$sqlite" >"$build/package-configure.log" 2>&1 ||
  { cat "$build/package-configure.log" >&2; exit 1; }
nice cmake --build "$build" --target quillaro quillaro-report -j"$(nproc)" >&2

rm -rf "$dist.tmp"
# ledger\ holds ledger.db and SQLite's journal files beside it.
mkdir -p "$dist.tmp/in" "$dist.tmp/out" "$dist.tmp/ledger"
install -m 755 "$build/quillaro.exe" "$dist.tmp/quillaro.exe"
install -m 755 "$build/quillaro-report.exe" "$dist.tmp/quillaro-report.exe"
for exe in gswin32c.exe gpcl6win32.exe gxpswin32.exe; do
  install -m 755 "$interp_bin/$exe" "$dist.tmp/$exe"
done
cp -r "$fonts" "$dist.tmp/urwfonts"
# Windows editors and the profile functions both expect CR LF.
sed 's/$/\r/' "$repo/packaging/settings.ini" >"$dist.tmp/settings.ini"
sed 's/$/\r/' "$repo/packaging/windows/README.txt" >"$dist.tmp/README.txt"
rm -rf "$dist"
mv "$dist.tmp" "$dist"
say "package ready: $dist ($(du -sh "$dist" | cut -f1))"

# The installer, beside the folder: the same files, installed as
# packaging/windows/quillaro.wxs says. wixl takes sources relative to the
# folder it runs in; wixl-heat lists the font kit (stable component GUIDs,
# made from the paths).
version=$(sed -n 's/^project(quillaro VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
msi="$(dirname "$dist")/Quillaro-$version.msi"
(cd "$dist" && find urwfonts -type f | LC_ALL=C sort |
   wixl-heat --directory-ref URWFONTS --component-group Fonts --var var.FontsDir -p urwfonts/ \
     >"$build/fonts.wxs" &&
   wixl -a x64 -D SourceDir=. -D FontsDir=urwfonts -D Version="$version" -o "$msi.tmp" \
     "$repo/packaging/windows/quillaro.wxs" "$build/fonts.wxs" >&2) ||
  { echo "[package] wixl failed" >&2; exit 1; }
mv "$msi.tmp" "$msi"
say "installer ready: $msi ($(du -h "$msi" | cut -f1))"
echo "$dist"
