# Functions shared by the scripts that run whole service folders over the
# bench corpus (sourced, not run):
#   add_watermark_jobs JOBS        adds WTR_ copies of a few corpus jobs with their texts
#   drop_jobs JOBS IN STAGING [S]  hands every job of JOBS to the service one at a time
#                                  (copied to STAGING, then renamed into IN, so the
#                                  service sees it whole) and waits up to S seconds
#                                  (default 60) for its completion marker

# Watermark jobs with their texts: PJL jobs of each language (stamped), and one
# without PJL and one without a text (refused).
add_watermark_jobs() {
  local jobs="$1" job
  for job in pjl_ps_a4_qty2.prn pjl_pcl_letter_qty3.prn pjl_pdf_letter.prn pjl_pcl_a4_notrailer.prn \
             letter_2pages.pxl pjl_xps_a4.prn a4_3pages.ps; do
    cp "$jobs/$job" "$jobs/WTR_$job"
    printf 'SAMPLE (%s)\n' "$job" >"$jobs/WTR_${job}_watermark.txt"
  done
  cp "$jobs/pjl_ps_a4_qty2.prn" "$jobs/WTR_without_text.prn"
}

# True once out/ holds the completion marker of job NAME.
has_marker() {
  ls "$1/$2"_* 2>/dev/null | grep -qE '_(done|watermark_done_ok|watermark_done_error)$'
}

drop_jobs() {
  local jobs="$1" in="$2" staging="$3" seconds="${4:-60}" path name tries
  local out="$in/../out"
  mkdir -p "$staging"
  for path in "$jobs"/*; do
    name="$(basename "$path")"
    case "$name" in *_watermark.txt) continue ;; esac
    [ -e "$jobs/${name}_watermark.txt" ] && cp "$jobs/${name}_watermark.txt" "$in/"
    cp "$path" "$staging/$name"
    mv "$staging/$name" "$in/$name"
    tries=$((seconds * 20))
    until has_marker "$out" "$name" || [ "$tries" -eq 0 ]; do sleep 0.05; tries=$((tries - 1)); done
    [ "$tries" -gt 0 ] || echo "[jobs] no marker for $name after $seconds s" >&2
  done
}
