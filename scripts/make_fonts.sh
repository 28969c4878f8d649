#!/usr/bin/env bash
# Makes the TrueType font kit gpcl6 loads from urwfonts/: one font per name of
# its resident-font table, converted from the closest URW base-35 font and
# renamed so that its PostScript name matches the table.
# Cached beside the interpreters; prints the kit's folder on its last line.
#   $1  the interpreter cache folder (holding plftable.c)
set -euo pipefail
fail() { echo "[fonts] FAILED: $*" >&2; exit 1; }

interp_dir="${1:?interpreter cache folder}"
table="$interp_dir/plftable.c"
urw=/usr/share/fonts/opentype/urw-base35
[ -f "$table" ] || fail "no $table (run build_interpreters.sh)"
[ -d "$urw" ] || fail "no $urw (fonts-urw-base35 missing)"
urw_version=$(dpkg-query -W -f='${Version}' fonts-urw-base35)
kit="$interp_dir/urwfonts-$urw_version"

if [ -f "$kit.complete" ] && [ -d "$kit" ]; then
  echo "[fonts] cached: $kit" >&2
  echo "$kit"
  exit 0
fi

here="$(cd "$(dirname "$0")" && pwd)"
mapping=$(python3 "$here/map_pcl_fonts.py" "$table" "$urw") || fail "mapping the resident-font table"
rm -rf "$kit.tmp"
mkdir -p "$kit.tmp"
count=$(printf '%s\n' "$mapping" | wc -l)
echo "[fonts] converting $count fonts" >&2
i=0
while IFS=$'\t' read -r ps source; do
  i=$((i + 1))
  fontforge -quiet -lang=ff -c 'Open($1); SetFontNames($3); Generate($2)' \
    "$source" "$kit.tmp/$ps.ttf" "$ps" >/dev/null 2>&1 || fail "fontforge $source -> $ps"
  [ $((i % 20)) -eq 0 ] && echo "[fonts] $i/$count" >&2
done <<< "$mapping"
rm -f "$kit.complete"
rm -rf "$kit"
mv "$kit.tmp" "$kit"
touch "$kit.complete"
echo "[fonts] made $kit" >&2
echo "$kit"
