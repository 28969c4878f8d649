#!/usr/bin/env bash
# Cross-builds SQLite for the Windows build (the ledger) with mingw-w64, from
# Debian's own sqlite3 source with Debian's patches applied: the source's own
# build makes the amalgamation (sqlite3.c, sqlite3.h; it needs tclsh and the
# host compiler), which the mingw compiler then turns into one static library.
#
# Cached outside the clone, keyed by the Debian version of the library the
# Linux build links (libsqlite3-0), so both builds carry the same SQLite:
#   ${QUILLARO_CACHE:-/var/cache/quillaro}/windows-sqlite3-<version>-r<recipe>/
#     include/sqlite3.h  lib/libsqlite3.a  source-version  timings.txt
#   windows-sqlite3-<version>-r<recipe>.complete marks a finished build;
#   without it, it is rebuilt.
# Installs what it needs with install_deps.sh windows. Prints the folder on
# its last line; CMake takes it as -DQUILLARO_WINDOWS_SQLITE=<folder>.
set -euo pipefail

cache_root="${QUILLARO_CACHE:-/var/cache/quillaro}"
host=x86_64-w64-mingw32
fail() { echo "[windows-sqlite] FAILED: $*" >&2; exit 1; }
say() { echo "[windows-sqlite] $*" >&2; }

# Raised whenever the compile options below change.
recipe=1
version=$(dpkg-query -W -f='${Version}' libsqlite3-0 2>/dev/null) ||
  version=$(apt-cache showsrc sqlite3 | awk '/^Version:/{print $2}' | sort -urV | head -n 1)
[ -n "$version" ] || fail "no sqlite3 version known to apt"
out_dir="$cache_root/windows-sqlite3-$version-r$recipe"
marker="$out_dir.complete"
if [ -f "$marker" ] && [ -f "$out_dir/lib/libsqlite3.a" ] && [ -f "$out_dir/include/sqlite3.h" ]; then
  say "cached: $out_dir"
  echo "$out_dir"
  exit 0
fi

here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/install_deps.sh" windows >&2 || fail "installing the cross-build packages"
# shellcheck source=deb_src.sh
source "$here/deb_src.sh"
ensure_deb_src

start=$(date +%s)
rm -rf "$out_dir" "$marker"
work="$out_dir/work"
mkdir -p "$work/dl" "$out_dir/include" "$out_dir/lib"
log="$work/build.log"
run_logged() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "$* (log: $log)"; }; }

# The matching source, else the newest one the archive still offers (a
# security upload may not be mirrored as source).
fetched=""
for v in $( (echo "$version"; apt-cache showsrc sqlite3 | awk '/^Version:/{print $2}' | sort -urV) |
           awk 'NF && !seen[$0]++'); do
  if (cd "$work/dl" && apt-get source -qq --download-only "sqlite3=$v" >/dev/null 2>&1); then
    fetched="$v"; break
  fi
  say "sqlite3 source $v refused; trying an older one"
done
[ -n "$fetched" ] || fail "apt-get source sqlite3"
run_logged dpkg-source --no-check -x "$(ls "$work"/dl/*.dsc | head -n 1)" "$work/src"

# The amalgamation, made by the source's own build on the build host.
mkdir -p "$work/amalgamation"
(cd "$work/amalgamation" && run_logged nice -n 19 ../src/configure --disable-tcl &&
   run_logged nice -n 19 make sqlite3.c) || exit 1

# Debian's compile options that bear on the file format and on locking, less
# extension loading, which the ledger never uses and which would let a DLL
# beside the program be loaded into it.
say "compiling sqlite3.c with $host-gcc-posix"
run_logged nice -n 19 "$host-gcc-posix" -O2 -fno-strict-aliasing -DNDEBUG \
  -DSQLITE_THREADSAFE=1 -DSQLITE_SECURE_DELETE -DSQLITE_OMIT_LOOKASIDE=1 \
  -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_OMIT_LOAD_EXTENSION \
  -c "$work/amalgamation/sqlite3.c" -o "$work/sqlite3.o"
run_logged "$host-ar" rcs "$out_dir/lib/libsqlite3.a" "$work/sqlite3.o"
install -m 644 "$work/amalgamation/sqlite3.h" "$work/amalgamation/sqlite3ext.h" "$out_dir/include/"
echo "sqlite3 $fetched" > "$out_dir/source-version"
echo "sqlite3 $(( $(date +%s) - start )) s (load $(uptime | sed 's/.*load average: //'))" > "$out_dir/timings.txt"
rm -rf "$work"
touch "$marker"
say "built into $out_dir"
echo "$out_dir"
