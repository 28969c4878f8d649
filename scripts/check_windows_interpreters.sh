#!/usr/bin/env bash
# Checks the cross-built Windows interpreters under Wine against the Linux ones.
# Makes real jobs with the Linux gs (PostScript, PDF, PCL 5, PCL XL, XPS, the
# way the tests make them), runs each through the matching interpreter on both
# sides with the bbox device and with png16m at 100 dpi, the service's command
# lines, and compares: the bbox lines must be equal and the pages as many and
# of the same pixel size; how far the pixels differ is reported. Two more PCL
# jobs set text in resident fonts; they show that gpcl6win32.exe finds the PCL font kit in each way the service
# can point it there, and what it does without one.
#
#   check_windows_interpreters.sh [--keep]   --keep leaves the work folder (the pages) behind
#   QUILLARO_WINEPREFIX   Wine prefix to use (default: a fresh one in the work folder,
#                         ~700 MB, removed afterwards)
#   QUILLARO_WINDOWS_BIN  folder of the Windows exes to check (default: the cached
#                         build, made first if absent, like the Linux interpreters and the font kit)
# Exits non-zero when a comparison fails.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
keep=0
[ "${1:-}" = "--keep" ] && keep=1
fail() { echo "[check-windows] FAILED: $*" >&2; exit 1; }
say() { echo "[check-windows] $*" >&2; }

bash "$here/install_deps.sh" windows >&2 || fail "installing mingw-w64 and Wine"
win_bin="${QUILLARO_WINDOWS_BIN:-}"
[ -n "$win_bin" ] || win_bin=$(bash "$here/build_windows_interpreters.sh" | tail -n 1)
linux_bin=$(bash "$here/build_interpreters.sh" | tail -n 1)
font_kit=$(bash "$here/make_fonts.sh" "$(dirname "$linux_bin")" | tail -n 1)

work=$(mktemp -d /tmp/quillaro-wincheck.XXXXXX)
export WINEPREFIX="${QUILLARO_WINEPREFIX:-$work/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true   # this prefix's server only
  if [ "$keep" = 1 ]; then say "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Wine sees the Linux tree as drive Z:.
winpath() { local p="$1"; printf 'Z:%s' "${p//\//\\}"; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

mkdir -p "$work/jobs" "$work/fonts-beside" "$work/nofonts" "$WINEPREFIX"
# gpcl6 loads its fonts from urwfonts/ in its working folder unless PCLFONTSOURCE names a folder.
ln -s "$font_kit" "$work/fonts-beside/urwfonts"

start=$(now)
# One persistent server (or the one already running for this prefix): later
# starts take a fraction of a second.
wineserver -p 2>/dev/null || true
wine cmd /c exit >/dev/null 2>&1 || true
say "Wine prefix ready in $(elapsed "$start" "$(now)") s"

say "making the jobs with $(command -v gs)"
document="$here/../tests/data/corpus/document.ps"
a4="-dPageCount=3 -dPageWidth=595 -dPageHeight=842"
letter="-dPageCount=2 -dPageWidth=612 -dPageHeight=792 -dColour"
make_job() {  # device, options, defines, output
  # shellcheck disable=SC2086  # the options are words
  gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE="$1" $2 $3 -o "$work/jobs/$4" "$document" >"$work/gs.log" 2>&1 \
    || { cat "$work/gs.log" >&2; fail "making $4"; }
}
make_job ps2write "" "$a4" a4_3pages.ps
make_job pdfwrite "" "$letter" letter_2pages.pdf
make_job ljet4 -r300 "$a4" a4_3pages.pcl
make_job pxlcolor -r150 "$letter" letter_2pages.pxl
make_job xpswrite "" "$a4" a4_3pages.xps
# gs draws the text of its PCL output as bitmaps; these set it in resident fonts.
python3 "$here/make_pcl_text_jobs.py" "$work/jobs"

failures=0
report="$work/report.txt"
printf '%-18s %-15s %8s %8s %8s %8s  %s\n' job interpreter "bbox-lx" "bbox-wn" "png-lx" "png-wn" result > "$report"

# Runs one interpreter; output on stdout+stderr into $3, seconds taken into $4.
# Args: cwd, "linux"|"wine", log, timefile, environment (VAR=value words), program, args...
run_one() {
  local dir="$1" side="$2" log="$3" timefile="$4" envs="$5"; shift 5
  local t0 rc=0
  t0=$(now)
  if [ "$side" = wine ]; then
    # shellcheck disable=SC2086
    (cd "$dir" && env $envs wine "$@") >"$log" 2>&1 </dev/null || rc=$?
  else
    (cd "$dir" && "$@") >"$log" 2>&1 </dev/null || rc=$?
  fi
  elapsed "$t0" "$(now)" > "$timefile"
  return "$rc"
}

# The bbox lines, line ends normalised: Windows stdio may end them with CR LF.
bbox_lines() { grep -a 'BoundingBox' "$1" | tr -d '\r' || true; }

# Args: job, linux program, windows exe, leading args (as the service passes them), cwd for wine, env for wine
check_job() {
  local job="$1" linux="$2" exe="$3" lead="$4" wine_dir="$5" wine_env="$6"
  local out="$work/out/$job" rc_lx=0 rc_wn=0 result=""
  mkdir -p "$out/lx" "$out/wn"
  # shellcheck disable=SC2086
  run_one "$work/fonts-beside" linux "$out/lx/bbox.log" "$out/lx/bbox.t" "" \
    "$linux" $lead -dNOPAUSE -dBATCH -sDEVICE=bbox "$work/jobs/$job" || rc_lx=$?
  # shellcheck disable=SC2086
  run_one "$wine_dir" wine "$out/wn/bbox.log" "$out/wn/bbox.t" "$wine_env" \
    "$exe" $lead -dNOPAUSE -dBATCH -sDEVICE=bbox "$(winpath "$work/jobs/$job")" || rc_wn=$?
  if [ "$rc_lx" != 0 ] || [ "$rc_wn" != 0 ]; then
    result="bbox exit codes $rc_lx/$rc_wn;"
    failures=$((failures + 1))
  fi
  bbox_lines "$out/lx/bbox.log" > "$out/lx/bbox.txt"
  bbox_lines "$out/wn/bbox.log" > "$out/wn/bbox.txt"
  if [ -s "$out/lx/bbox.txt" ] && cmp -s "$out/lx/bbox.txt" "$out/wn/bbox.txt"; then
    result="$result bbox equal ($(grep -c '^%%BoundingBox' "$out/lx/bbox.txt") pages);"
  else
    result="$result bbox DIFFERS;"
    failures=$((failures + 1))
  fi
  grep -aq $'\r' "$out/wn/bbox.log" && result="$result (CR LF line ends);"

  rc_lx=0 rc_wn=0
  local png_args="-dNOPAUSE -dBATCH -dSAFER -r100x100 -sDEVICE=png16m"
  # shellcheck disable=SC2086
  run_one "$work/fonts-beside" linux "$out/lx/png.log" "$out/lx/png.t" "" \
    "$linux" $lead $png_args -sOutputFile="$out/lx/page_%d.png" "$work/jobs/$job" || rc_lx=$?
  # shellcheck disable=SC2086
  run_one "$wine_dir" wine "$out/wn/png.log" "$out/wn/png.t" "$wine_env" \
    "$exe" $lead $png_args -sOutputFile="$(winpath "$out/wn")\\page_%d.png" \
    "$(winpath "$work/jobs/$job")" || rc_wn=$?
  if [ "$rc_lx" != 0 ] || [ "$rc_wn" != 0 ]; then
    result="$result png exit codes $rc_lx/$rc_wn;"
    failures=$((failures + 1))
  fi
  local n_lx n_wn
  n_lx=$(find "$out/lx" -name 'page_*.png' | wc -l)
  n_wn=$(find "$out/wn" -name 'page_*.png' | wc -l)
  if [ "$n_lx" != "$n_wn" ] || [ "$n_lx" = 0 ]; then
    result="$result pages $n_lx vs $n_wn;"
    failures=$((failures + 1))
  else
    local i line
    for i in $(seq 1 "$n_lx"); do
      line=$(python3 "$here/compare_pages.py" "$out/lx/page_$i.png" "$out/wn/page_$i.png") \
        || failures=$((failures + 1))
      result="$result p$i $line;"
    done
  fi
  printf '%-18s %-15s %8s %8s %8s %8s  %s\n' "$job" "$(basename "$exe")" "$(cat "$out/lx/bbox.t")" \
    "$(cat "$out/wn/bbox.t")" "$(cat "$out/lx/png.t")" "$(cat "$out/wn/png.t")" "$result" >> "$report"
  say "$job: $result"
}

# These builds use GhostPDL's POSIX file layer: the folder PCLFONTSOURCE names
# must be written with forward slashes (Z:/...); with backslashes no font is found.
fontsource="PCLFONTSOURCE=Z:$font_kit/"
check_job a4_3pages.ps /usr/bin/gs "$win_bin/gswin32c.exe" "-q" "$work/nofonts" ""
check_job letter_2pages.pdf /usr/bin/gs "$win_bin/gswin32c.exe" "-q" "$work/nofonts" ""
check_job a4_3pages.xps "$linux_bin/gxps" "$win_bin/gxpswin32.exe" "-q" "$work/nofonts" ""
# PCL: the font kit named by PCLFONTSOURCE (working folder without fonts) ...
check_job a4_3pages.pcl "$linux_bin/gpcl6" "$win_bin/gpcl6win32.exe" "" "$work/nofonts" "$fontsource"
check_job letter_2pages.pxl "$linux_bin/gpcl6" "$win_bin/gpcl6win32.exe" "" "$work/nofonts" "$fontsource"
check_job text_a4.pcl "$linux_bin/gpcl6" "$win_bin/gpcl6win32.exe" "" "$work/nofonts" "$fontsource"
check_job text_letter.pxl "$linux_bin/gpcl6" "$win_bin/gpcl6win32.exe" "" "$work/nofonts" "$fontsource"
# ... and found as urwfonts\ in the working folder, with no variable.
mv "$work/out/text_a4.pcl" "$work/out/text_a4.pcl.env"
check_job text_a4.pcl "$linux_bin/gpcl6" "$win_bin/gpcl6win32.exe" "" "$work/fonts-beside" ""
sed -i '$ s/^text_a4.pcl     /text_a4.pcl(cwd)/' "$report"

# Without a font kit it finds, how gpcl6win32.exe fails (shown, not counted).
no_fonts() {  # label, environment
  local rc=0
  # shellcheck disable=SC2086
  (cd "$work/nofonts" && env $2 timeout 60 wine "$win_bin/gpcl6win32.exe" -dNOPAUSE -dBATCH -sDEVICE=bbox \
    "$(winpath "$work/jobs/a4_3pages.pcl")") >"$work/nofonts.log" 2>&1 </dev/null || rc=$?
  echo "$1: exit $rc: $(tr -d '\r' < "$work/nofonts.log" | head -c 160 | tr '\n' ' ')" >> "$report"
}
no_fonts "no font kit" ""
no_fonts "PCLFONTSOURCE with backslashes" "PCLFONTSOURCE=$(winpath "$font_kit")\\"

cat "$report"
echo "Linux interpreters: $(command -v gs) $linux_bin; Windows: $win_bin; load: $(uptime | sed 's/.*average: //')"
if [ "$failures" -ne 0 ]; then
  echo "$failures comparisons failed"
  exit 1
fi
echo "all comparisons passed"
