#!/usr/bin/env bash
# The Windows package installed as a real service under Wine, against the Linux
# build on the same jobs:
#   - the life cycle through sc create / net start / sc query / sc stop / sc delete;
#   - the bench corpus (all five languages, with and without PJL) and the
#     watermark jobs under several settings: every text result and completion
#     marker byte for byte what the Linux build writes, every image the same
#     format and pixel size (how far the pixels differ is printed);
#   - the outcomes that depend on the platform: a job still being written when
#     it is first seen, a job whose interpreter never ends, 1000 files at once,
#     an unreadable settings.ini, and a stop during a job.
#   - the installer (when MSI is given): installs, starts, runs a job of each
#     language with Linux's results, stops and uninstalls.
#   service_under_wine.sh DIST_FOLDER LINUX_QUILLARO KIT_FOLDER SLOW_WRITER_EXE [MSI]
# KIT_FOLDER holds the Linux gs, gpcl6, gxps and urwfonts. WINEPREFIX must name
# a prefix of the caller's with a persistent wineserver running.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
dist="$(readlink -f "$1")" linux="$(readlink -f "$2")" kit="$(readlink -f "$3")"
slow_writer="$(readlink -f "$4")"
msi="${5:+$(readlink -f "$5")}"
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
source "$repo/bench/service_kit.sh"
work="$(mktemp -d)"
failures=0
say() { echo "[wine] $*"; }
fail() { echo "[wine] FAILED: $*"; failures=$((failures + 1)); }
cleanup() {
  wine sc stop Quillaro >/dev/null 2>&1 || true
  wine sc delete Quillaro >/dev/null 2>&1 || true
  pkill -TERM -f "$work/" 2>/dev/null || true
  [ -n "${WINE_TEST_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

service_state() {  # the STATE word sc query prints: RUNNING, STOPPED, ...
  wine sc query Quillaro 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'
}
wait_state() {  # state, seconds
  local tries=$(($2 * 10))
  until [ "$(service_state)" = "$1" ] || [ "$tries" -eq 0 ]; do sleep 0.1; tries=$((tries - 1)); done
  [ "$(service_state)" = "$1" ]
}
# WMUnconfined=1: Wine keeps the interpreters' tokens at the service's
# integrity level, so the Windows service counts them as unconfined and would
# otherwise refuse watermark jobs (the Linux build, under Landlock, runs them
# without this line; with it, its results are the same).
write_settings() {  # folder, "Key=Value ..."
  { echo "[Settings]"; tr ' ' '\n' <<<"$2"; echo "IsLog=1"; echo "WaitSeconds=30"; echo "WMUnconfined=1"; } |
    sed 's/$/\r/' >"$1/settings.ini"
}
# The log's messages with the time stamps and the service folder masked, and
# the Windows folder separators turned into slashes.
masked_log() {  # service folder
  [ -f "$1/log.txt" ] || return 0
  iconv -f UTF-16LE -t UTF-8 "$1/log.txt" | tr -d '\r' |
    sed -E -e 's/^[0-9:. /-]{10,}/<time>/' -e 's|\\|/|g' -e "s|^(<time>.*)$2/|\\1<service>/|" \
      -e "s#[A-Za-z]:/[^ ]*/(in|out)/#<service>/\\1/#g" -e "s|$1/|<service>/|g" \
      -e "s#[A-Za-z]:<service>/#<service>/#g"
}
elapsed() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
# A job seen twice (Windows reports a new file as added, then modified) may
# still write its marker again while out/ goes: try again until it has gone.
clear_results() {
  for _ in $(seq 50); do rm -rf "$1/out" "$1/log.txt" 2>/dev/null && break; sleep 0.1; done
  mkdir -p "$1/out"; find "$1/in" -mindepth 1 -delete
}

say "making the jobs"
bash "$repo/bench/corpus.sh" "$kit/gs" "$work/jobs"
add_watermark_jobs "$work/jobs"

settings=(
  "IsConvert=1 Type=2 ImageType=0 PagesMaxCount=3"
  "IsConvert=1 Type=2 ImageType=1 PagesMaxCount=2 LongPixelLength=200"
  "IsConvert=1 Type=2 ImageType=2 PagesMaxCount=2"
  "IsConvert=1 Type=2 ImageType=3 PagesMaxCount=2 Quality=30"
  "IsConvert=1 Type=0"
  "IsConvert=0 WMEnable=1"
  "IsConvert=1 Type=2 ImageType=2 PagesMaxCount=1 IsReport=1"
)

# The Linux side: the same runs as bench/compare_results.sh makes.
linux_run() { run_service_folder "$linux" "$1" "$2" "$kit" "${3:-$work/jobs}"; }

# The Windows side: the package installed once as the service; settings are
# read afresh for every job, so each setting only rewrites settings.ini.
win="$work/Quillaro"
cp -r "$dist" "$win"
win_exe="$(winepath -w "$win/quillaro.exe")"
say "installing the service: sc create Quillaro binPath= $win_exe"
wine sc create Quillaro binpath= "$win_exe" start= demand >/dev/null || fail "sc create"
[ "$(service_state)" = STOPPED ] || fail "a new service is not STOPPED: $(service_state)"
write_settings "$win" "${settings[0]}"
start=$(date +%s.%N)
wine net start Quillaro >/dev/null 2>&1 || fail "net start"
wait_state RUNNING 20 || fail "not RUNNING after net start: $(service_state)"
say "running $(elapsed "$start") s after net start"

export SOURCE_DATE_EPOCH=0
undated() { LC_ALL=C sed -E -e 's/^%%CreationDate: .*//' -e 's#/[A-Z]{6}\+#/SUBSET+#g' "$1"; }
compare_out() {  # linux out, windows out, label
  local name kind same=0 images=0 worst=""
  for name in $(ls "$1"); do
    if [ ! -e "$2/$name" ]; then fail "$3: $name missing on Windows"; continue; fi
    case "$name" in
      *.jpg|*.gif|*.png|*.tiff)
        images=$((images + 1))
        kind=$(python3 "$repo/scripts/image_header.py" "$1/$name" "$2/$name") ||
          { fail "$3: $name: $kind"; continue; }
        worst="$kind" ;;
      *.watermarked)
        # The PostScript writer dates its output and draws its font subset
        # prefixes from the date; the service under the service manager does
        # not get the caller's SOURCE_DATE_EPOCH, so both are masked.
        if cmp -s <(undated "$1/$name") <(undated "$2/$name"); then
          same=$((same + 1))
        else
          fail "$3: $name differs"
        fi ;;
      *_report.json)
        if cmp -s <(masked_report "$1/$name") <(masked_report "$2/$name"); then
          same=$((same + 1))
        else
          fail "$3: $name differs"; diff <(masked_report "$1/$name") <(masked_report "$2/$name") | head -10 || true
        fi ;;
      *)
        if cmp -s "$1/$name" "$2/$name"; then same=$((same + 1)); else
          fail "$3: $name differs"; diff <(od -c "$1/$name" | head -5) <(od -c "$2/$name" | head -5) || true
        fi ;;
    esac
  done
  for name in $(ls "$2"); do [ -e "$1/$name" ] || fail "$3: $name only on Windows"; done
  say "$3: $same text files identical, $images images of the same format and size${worst:+ (last: $worst)}"
}

for i in "${!settings[@]}"; do
  label="${settings[$i]}"
  t0=$(date +%s.%N)
  linux_run "$work/linux$i" "$label"
  linux_seconds=$(elapsed "$t0")
  clear_results "$win"
  write_settings "$win" "$label"
  t0=$(date +%s.%N)
  drop_jobs "$work/jobs" "$win/in" "$work/staging" 120
  say "$label: $(ls "$work/jobs" | grep -vc _watermark.txt) jobs in $(elapsed "$t0") s under Wine, $linux_seconds s on Linux"
  compare_out "$work/linux$i/out" "$win/out" "$label"
  masked_log "$work/linux$i" "$work/linux$i" >"$work/linux$i.log"
  masked_log "$win" "$win" >"$work/win$i.log"
  diff "$work/linux$i.log" "$work/win$i.log" >"$work/log$i.diff" && say "$label: log lines identical" ||
    { fail "$label: log lines differ"; head -n 10 "$work/log$i.diff"; }
done

# Outcomes that depend on the platform, each against the Linux build's.
say "platform outcomes"
mkdir -p "$work/edge"
cp "$work/jobs/a4_3pages.ps" "$work/edge/"
# A job whose interpreter never ends: the run is ended after WaitSeconds + 1.
printf '%%!PS\n{ } loop\n' >"$work/edge/endless.ps"
edge_settings="IsConvert=1 Type=1 ImageType=2 WaitSeconds=10"
linux_run "$work/linux-edge" "$edge_settings" "$work/edge"
clear_results "$win"
write_settings "$win" "$edge_settings"
# A job still being written when it is first seen: 1 KiB every 0.2 s, held open
# by its writer throughout. The writer is a Windows program: Wine enforces
# share modes among Windows processes only, so a Linux process holding the file
# open would go unseen (a real Windows client is always seen).
wine "$slow_writer" "$(winepath -w "$work/jobs/a4_3pages.pdf")" "$(winepath -w "$win/in/slow.pdf")" \
  </dev/null >/dev/null 2>&1 &
writer=$!
drop_jobs "$work/edge" "$win/in" "$work/staging" 60
wait "$writer"
for _ in $(seq 600); do has_marker "$win/out" slow.pdf && break; sleep 0.1; done
for name in $(ls "$work/linux-edge/out"); do
  case "$name" in *.png) continue ;; esac
  cmp -s "$work/linux-edge/out/$name" "$win/out/$name" || fail "edge: $name differs from Linux"
done
[ "$(cat "$win/out/slow_pagescount.txt" 2>/dev/null)" = 3 ] ||
  fail "a job still being written was read early: pages $(cat "$win/out/slow_pagescount.txt" 2>/dev/null)"
sleep 2  # a second, late run of the job would show as a second log line
[ "$(masked_log "$win" "$win" | grep -c 'slow\.pdf')" -eq 2 ] ||
  fail "the job written slowly was not run exactly once: $(masked_log "$win" "$win" | grep 'slow\.pdf')"
say "edge: an endless job and a job still being written give Linux's results"

# 1000 files at once: every one gets its marker.
clear_results "$win"
write_settings "$win" "IsConvert=0"
mkdir -p "$work/many"
for n in $(seq 1000); do printf '%%!PS\n' >"$work/many/j$n.ps"; done
mv "$work/many"/* "$win/in/"
many_markers() { ls "$win/out" | grep -c '^j[0-9]*\.ps_done$'; }
for _ in $(seq 1200); do [ "$(many_markers)" -ge 1000 ] && break; sleep 0.25; done
[ "$(many_markers)" -eq 1000 ] || fail "1000 files at once: $(many_markers) markers"
say "1000 files at once: $(many_markers) markers (out/ also holds: $(ls "$win/out" | grep -v '^j[0-9]*\.ps_done$' | tr '\n' ' '))"

# An unreadable settings.ini counts as every default: a marker only.
clear_results "$win"
printf '\xff\xfe[Set\x00\r\n garbage ===\r\n' >"$win/settings.ini"
cp "$work/jobs/a4_3pages.ps" "$win/in/bad_settings.ps"
for _ in $(seq 300); do has_marker "$win/out" bad_settings.ps && break; sleep 0.1; done
# (A late second run of one of the 1000 files may still land its marker here, seen once in
# four runs; the check is about this job's results.)
[ "$(ls "$win/out" | grep -v '^j[0-9]*\.ps_done$')" = "bad_settings.ps_done" ] ||
  fail "bad settings.ini: $(ls "$win/out" | tr '\n' ' ')"

# A stop during a job: the job under way finishes, the next waits in in/.
clear_results "$win"
write_settings "$win" "IsConvert=1 Type=2 ImageType=2 PagesMaxCount=12"
cp "$work/jobs/doc12.ps" "$work/staging/first.ps"
mv "$work/staging/first.ps" "$win/in/first.ps"
sleep 0.5
wine sc stop Quillaro >/dev/null 2>&1 || fail "sc stop"
cp "$work/jobs/a4_3pages.ps" "$win/in/second.ps"
wait_state STOPPED 60 || fail "not STOPPED 60 s after sc stop: $(service_state)"
has_marker "$win/out" first.ps || fail "the job under way at the stop has no marker"
has_marker "$win/out" second.ps && fail "a job dropped after the stop was processed"
[ -e "$win/in/second.ps" ] || fail "the waiting job left in/"
say "stop during a job: $(service_state); the job under way ended with its marker"

# A hostile watermark job: its PostScript runs to be stamped, and under Wine,
# which applies neither the run's token nor its folder's ACL, Ghostscript's
# safe mode (reads and writes allowed in the run's own folder only) is all
# that stands between it and the files of others. Each file it manages to
# read adds a page to the stamped job; every write, removal, rename and pipe
# is tried on files of others.
say "a hostile watermark job"
clear_results "$win"
write_settings "$win" "IsConvert=1 Type=0 WMEnable=1"
wine net start Quillaro >/dev/null 2>&1 || fail "net start after the stop"
wait_state RUNNING 20 || fail "not RUNNING after net start: $(service_state)"
printf '%%!PS\n%% VICTIM-SECRET\nshowpage\n' >"$win/in/victim.ps"
for _ in $(seq 300); do has_marker "$win/out" victim.ps && break; sleep 0.1; done
printf 7 >"$win/out/victim_pagescount.txt"
cp "$win/in/victim.ps" "$work/before-victim.ps"
cp "$win/settings.ini" "$work/before-settings.ini"
winpath() { local p; p="$(winepath -w "$1" 2>/dev/null)"; echo "${p//\\//}"; }  # forward slashes for PostScript
{
  printf '\033%%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n%%!PS\n'
  for target in "$win/in/victim.ps" "$win/out/victim.ps_done" "$win/out/victim_pagescount.txt" \
                "$win/settings.ini" "$win/log.txt" /etc/passwd; do
    printf '{ (%s) (r) file 100 string readstring pop pop showpage } stopped pop\n' "$(winpath "$target")"
  done
  for target in "$win/out/victim.ps_done" "$win/out/victim_pagescount.txt" "$win/in/injected.ps" \
                "$win/settings.ini"; do
    printf '{ (%s) (w) file dup (forged) writestring closefile } stopped pop\n' "$(winpath "$target")"
  done
  printf '{ (%s) deletefile } stopped pop\n' "$(winpath "$win/in/victim.ps")"
  printf '{ (%s) (%s) renamefile } stopped pop\n' "$(winpath "$win/out/victim_pagescount.txt")" \
    "$(winpath "$win/out/moved.txt")"
  printf '{ (%%pipe%%cmd /c echo x > %s) (w) file closefile } stopped pop\n' "$(winpath "$work/piped.txt")"
  printf '/Helvetica findfont 24 scalefont setfont 72 700 moveto (page) show showpage\n\033%%-12345X'
} >"$work/attackWTR.ps"
printf 'mine\n' >"$win/in/attackWTR.ps_watermark.txt"
mv "$work/attackWTR.ps" "$win/in/attackWTR.ps"
for _ in $(seq 600); do has_marker "$win/out" attackWTR.ps && break; sleep 0.1; done
if [ -f "$win/out/attackWTR.ps_watermark_done_ok" ]; then
  grep -q '^%%Pages: 1$' "$win/out/attackWTR.ps.watermarked" ||
    fail "the hostile job read a file of others: $(grep '^%%Pages:' "$win/out/attackWTR.ps.watermarked")"
else
  fail "the hostile watermark job was not stamped: $(ls "$win/out" | tr '\n' ' ')"
fi
[ "$(cat "$win/out/victim.ps_done")" = done ] && [ "$(cat "$win/out/victim_pagescount.txt")" = 7 ] ||
  fail "the hostile job changed another job's results"
cmp -s "$work/before-victim.ps" "$win/in/victim.ps" && cmp -s "$work/before-settings.ini" "$win/settings.ini" ||
  fail "the hostile job changed another job or settings.ini"
[ ! -e "$win/in/injected.ps" ] && [ ! -e "$win/out/moved.txt" ] && [ ! -e "$work/piped.txt" ] ||
  fail "the hostile job injected a job, moved a result or ran a command"
# What a job prints shares the interpreter's output with the device that
# counts its pages; printed bounding boxes must not count.
printf '%%!PS\n100 { (%%%%BoundingBox: 0 0 612 792\\n%%%%HiResBoundingBox: 0 0 612.0 792.0\\n) print } repeat flush\nshowpage\n' \
  >"$win/in/forged.ps"
for _ in $(seq 300); do has_marker "$win/out" forged.ps && break; sleep 0.1; done
[ "$(cat "$win/out/forged_pagescount.txt" 2>/dev/null)" = 1 ] ||
  fail "printed bounding boxes counted as pages: $(cat "$win/out/forged_pagescount.txt" 2>/dev/null)"
say "a hostile watermark job and printed bounding boxes: done (what they reached, if anything, is listed above)"
wine sc stop Quillaro >/dev/null 2>&1 || fail "sc stop"
wait_state STOPPED 60 || fail "not STOPPED 60 s after sc stop: $(service_state)"

wine sc delete Quillaro >/dev/null 2>&1 || fail "sc delete"
wine sc query Quillaro >/dev/null 2>&1 && fail "the service is still there after sc delete"

# The installer: msiexec /i registers and starts the service with the program
# under Program Files and the data under ProgramData; a job of each language
# gives Linux's results there; msiexec /x stops and removes the service and
# the program and keeps the settings and the results.
if [ -n "$msi" ]; then
  say "the installer: msiexec /i $(basename "$msi")"
  program="$(winepath -u 'C:\Program Files\Quillaro' 2>/dev/null)"
  data="$(winepath -u 'C:\ProgramData\Quillaro' 2>/dev/null)"
  t0=$(date +%s.%N)
  wine msiexec /i "$(winepath -w "$msi")" /qn /l*v "$(winepath -w "$work/msi-install.log")" \
    >/dev/null 2>&1 || { fail "msiexec /i"; iconv -f UTF-16LE -t UTF-8 "$work/msi-install.log" 2>/dev/null | tail -n 20; }
  wait_state RUNNING 30 || fail "not RUNNING after msiexec /i: $(service_state)"
  say "installed and running $(elapsed "$t0") s after msiexec /i"
  [ -f "$program/quillaro.exe" ] && [ -f "$program/urwfonts/$(ls "$dist/urwfonts" | head -n 1)" ] ||
    fail "the program is not under Program Files"
  [ -f "$data/settings.ini" ] && [ -d "$data/in" ] && [ -d "$data/out" ] ||
    fail "settings.ini, in and out are not under ProgramData"
  wine reg query 'HKLM\SOFTWARE\Quillaro' /v DataFolder 2>/dev/null | tr -d '\r' | grep -qi 'ProgramData\\Quillaro' ||
    fail "no DataFolder value naming ProgramData\\Quillaro"
  mkdir -p "$work/msi-jobs"
  for job in a4_3pages.pcl letter_2pages.pxl pjl_xps_a4.prn colour_a4.pdf pjl_ps_a4_qty2.prn; do
    cp "$work/jobs/$job" "$work/msi-jobs/"
  done
  msi_settings="IsConvert=1 Type=2 ImageType=2 PagesMaxCount=2"
  linux_run "$work/linux-msi" "$msi_settings" "$work/msi-jobs"
  write_settings "$data" "$msi_settings"
  drop_jobs "$work/msi-jobs" "$data/in" "$work/staging" 120
  compare_out "$work/linux-msi/out" "$data/out" "installed by the MSI"
  [ -f "$data/log.txt" ] || fail "the installed service wrote no log.txt into ProgramData"
  ls "$program" | grep -qxE 'in|out|log.txt' && fail "the installed service wrote into Program Files"
  # The ledger: two jobs with a report, recorded in ProgramData\Quillaro\ledger\ledger.db;
  # their results leave out\ again, so that the count kept at uninstall is Linux's.
  mkdir -p "$work/ledger-jobs"
  cp "$work/jobs/a4_3pages.pcl" "$work/ledger-jobs/ledger_a.pcl"
  cp "$work/jobs/colour_a4.pdf" "$work/ledger-jobs/ledger_b.pdf"
  linux_run "$work/linux-ledger" "IsConvert=1 Type=0 IsReport=1" "$work/ledger-jobs"
  write_settings "$data" "IsConvert=1 Type=0 IsReport=1"
  drop_jobs "$work/ledger-jobs" "$data/in" "$work/staging" 120
  rm -f "$data"/out/ledger_*
  t0=$(date +%s.%N)
  wine msiexec /x "$(winepath -w "$msi")" /qn >/dev/null 2>&1 || fail "msiexec /x"
  wine sc query Quillaro >/dev/null 2>&1 && fail "the service is still there after msiexec /x"
  [ -e "$program/quillaro.exe" ] && fail "quillaro.exe is still there after msiexec /x"
  wine reg query 'HKLM\SOFTWARE\Quillaro' /v DataFolder >/dev/null 2>&1 &&
    fail "the DataFolder value is still there after msiexec /x"
  [ -f "$data/settings.ini" ] && [ "$(ls "$data/out" | wc -l)" -eq "$(ls "$work/linux-msi/out" | wc -l)" ] ||
    fail "msiexec /x did not keep settings.ini and the results"
  say "uninstalled in $(elapsed "$t0") s: service and program gone, settings.ini and $(ls "$data/out" | wc -l) results kept"
  # Read back with Linux's SQLite: the file Windows' SQLite wrote, kept at uninstall, bills
  # what the Linux service's ledger bills for the same jobs.
  ledger_rows() {
    python3 -c 'import sqlite3, sys
db = sqlite3.connect("file:" + sys.argv[1] + "?mode=ro", uri=True)
print(*db.execute("SELECT j.name, j.user, j.page_count, j.impressions, j.sheets, s.size,"
                  " s.colour, s.impressions FROM jobs j JOIN job_sizes s ON s.job = j.id"
                  " ORDER BY j.name, s.size, s.colour").fetchall())' "$1" 2>&1
  }
  rows=$(ledger_rows "$data/ledger/ledger.db")
  [ -n "$rows" ] && [ "$rows" = "$(ledger_rows "$work/linux-ledger/ledger.db")" ] ||
    fail "the ledger under ProgramData holds $rows, Linux's $(ledger_rows "$work/linux-ledger/ledger.db")"
  say "ledger kept at uninstall, as Linux's: $rows"
  rm -rf "$data"
fi
[ "$failures" -eq 0 ] && say "all checks passed" || say "$failures checks FAILED"
exit $((failures > 0))
