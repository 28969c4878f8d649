#!/usr/bin/env bash
# Per-job end-to-end times of page measurement and page rendering through the
# Job operations (interp_jobs_bench) against the same interpreter command
# lines run directly from a shell loop, and their ratio.
#   bench/interp_jobs.sh [build folder] [iterations]   (default build, 5)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
iterations="${2:-5}"
bench="$build/bench/interp_jobs_bench"
kit="$build/tests/interp"  # gs, gpcl6, gxps and urwfonts, linked by the build
[ -x "$bench" ] || { echo "build $bench first" >&2; exit 1; }
for tool in gs gpcl6 gxps urwfonts; do
  [ -e "$kit/$tool" ] || { echo "missing $kit/$tool" >&2; exit 1; }
done

# The benchmark's folder plays the service folder.
folder="$build/bench"
for tool in gs gpcl6 gxps urwfonts; do ln -sfn "$(readlink -f "$kit/$tool")" "$folder/$tool"; done
mkdir -p "$folder/out"
printf '[Settings]\nIsConvert=1\nType=1\nPagesMaxCount=10\nWaitSeconds=60\n' >"$folder/settings.ini"
cd "$folder"  # gpcl6 finds urwfonts/ in the working folder

jobs="$(mktemp -d)"
trap 'rm -rf "$jobs"' EXIT
# The stages write their page files beside the job, as in its private folder,
# and the interpreters may run as another user.
chmod 777 "$jobs"
cat >"$jobs/source.ps" <<'PS'
%!PS
/Helvetica findfont 24 scalefont setfont
1 1 3 {
  /page exch def
  0.2 0.4 0.8 setrgbcolor 72 600 200 120 rectfill
  0 setgray 72 760 moveto (Quillaro benchmark page ) show page 3 string cvs show
  newpath 72 72 moveto 520 500 lineto 2 setlinewidth stroke
  showpage
} for
PS
make() {  # device, output
  ./gs -q -dNOPAUSE -dBATCH -dSAFER -sPAPERSIZE=a4 -sDEVICE="$1" -sOutputFile="$jobs/$2" \
    "$jobs/source.ps" >/dev/null
}
make ps2write job_ps.ps
make pdfwrite job_pdf.pdf
make ljet4 job_pcl.tmp
tail -c +3 "$jobs/job_pcl.tmp" >"$jobs/job_pcl.pcl"  # without ESC E, so the content test knows it
make pxlcolor job_pxl.pxl
make xpswrite job_xps.xps
printf '\033%%-12345X@PJL\n@PJL SET QTY=2\n@PJL ENTER LANGUAGE=POSTSCRIPT\n' >"$jobs/job_pjl.prn"
cat "$jobs/job_ps.ps" >>"$jobs/job_pjl.prn"
printf '\033%%-12345X' >>"$jobs/job_pjl.prn"
rm "$jobs/job_pcl.tmp" "$jobs/source.ps"

# Milliseconds per run of "$@", averaged over the iterations.
direct_ms() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < iterations; i++)); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  awk -v t=$((end - start)) -v n="$iterations" 'BEGIN { printf "%.3f", t / n / 1e6 }'
}

# Milliseconds per Job operation, from the benchmark's own timing.
job_ms() {  # stage, job name
  QUILLARO_BENCH_JOBS="$jobs" QUILLARO_BENCH_ITERATIONS="$iterations" "$bench" \
    --benchmark_format=csv --benchmark_filter="^$1/$2/" 2>/dev/null |
    awk -F, -v n="\"$1/$2/" 'index($1, n) == 1 && $9 == "" { print $3 }'
}

# Each Job measurement is followed at once by its direct twin, so that the
# load of a shared machine weighs on both alike.
printf '%-14s %-8s %12s %12s %7s\n' job stage "Job ms" "direct ms" ratio
total_job=0
total_direct=0
for job in "$jobs"/*; do
  name="$(basename "$job")"
  case "$name" in
    *.pcl | *.pxl) tool=./gpcl6 ;;
    *.xps) tool=./gxps ;;
    *) tool=./gs ;;
  esac
  stem="${name%.*}"
  for stage in Measure Render; do
    job=$(job_ms "$stage" "$name")
    [ -n "$job" ] || { echo "no result for $stage/$name" >&2; exit 1; }
    if [ "$stage" = Measure ]; then
      direct=$(direct_ms "$tool" -dNOPAUSE -dBATCH -sDEVICE=bbox "$jobs/$name")
    else
      direct=$(direct_ms "$tool" -dNOPAUSE -dBATCH -dSAFER -r100x100 -sDEVICE=ppmraw \
        "-sOutputFile=$folder/out/${stem}_%d.ppm_" -dFirstPage=1 -dLastPage=10 "$jobs/$name")
    fi
    awk -v j="$job" -v d="$direct" -v n="$name" -v s="$stage" \
      'BEGIN { printf "%-14s %-8s %12.1f %12.1f %7.3f\n", n, s, j, d, j / d }'
    total_job=$(awk -v a="$total_job" -v b="$job" 'BEGIN { print a + b }')
    total_direct=$(awk -v a="$total_direct" -v b="$direct" 'BEGIN { print a + b }')
  done
done
awk -v j="$total_job" -v d="$total_direct" \
  'BEGIN { printf "%-23s %12.1f %12.1f %7.3f\n", "all jobs", j, d, j / d }'
rm -rf "$folder/out"
