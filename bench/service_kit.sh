# Functions shared by the scripts that run whole service folders over the
# bench corpus (sourced, not run):
#   add_watermark_jobs JOBS        adds WTR_ copies of a few corpus jobs with their texts
#   drop_jobs JOBS IN STAGING [S]  hands every job of JOBS to the service one at a time
#                                  (copied to STAGING, then renamed into IN, so the
#                                  service sees it whole) and waits up to S seconds
#                                  (default 60) for its completion marker
#   run_service_folder BINARY FOLDER SETTINGS KIT JOBS
#                                  lays out a service folder of BINARY with the
#                                  interpreters of KIT, writes SETTINGS ("Key=Value ...",
#                                  then IsLog=1 and WaitSeconds=30 unless set), runs
#                                  it over JOBS and stops it

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

# A job report on standard output with what differs from run to run masked:
# when the job came and how long each stage took.
masked_report() {
  sed -E -e 's/^(  "received": )"[^"]*"/\1"<time>"/' \
    -e '/^  "timings_ms": \{/,/^  \}/ s/: [0-9]+/: <ms>/' "$1"
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

run_service_folder() {
  local binary="$1" service="$2" settings="$3" kit="$4" jobs="$5" link
  mkdir -p "$service/in" "$service/out"
  cp "$binary" "$service/quillaro"
  for link in gs gpcl6 gxps urwfonts; do ln -s "$(readlink -f "$kit/$link")" "$service/$link"; done
  # A key's first line counts: the defaults come after the settings asked for.
  { echo "[Settings]"; tr ' ' '\n' <<<"$settings"; echo "IsLog=1"; echo "WaitSeconds=30"; } >"$service/settings.ini"
  # The interpreters stamp what they write with the time unless told a fixed one.
  (cd "$service" && SOURCE_DATE_EPOCH=0 exec ./quillaro 2>stderr.txt) &
  local pid=$!
  until grep -q running "$service/stderr.txt" 2>/dev/null; do sleep 0.05; done
  sleep 0.5  # older builds report running before in/ is watched
  drop_jobs "$jobs" "$service/in" "$service/staging"
  kill -TERM "$pid"; wait "$pid" || true
}
