#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# short time on a corpus seeded with small job heads.
#   run_fuzz.sh [seconds per target]   (default 60)
set -euo pipefail
seconds="${1:-60}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build-fuzz"
CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLARO_FUZZ=ON -DQUILLARO_TESTS=OFF -DQUILLARO_WERROR=ON \
  -DQUILLARO_CCACHE_DIR="${QUILLARO_CACHE:-/var/cache/quillaro}/ccache" >/dev/null
cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 \
  || { tail -n 40 "$build/build.log" >&2; exit 1; }

corpus="$build/fuzz-corpus/inspect"
mkdir -p "$corpus"
uel=$'\e%-12345X'
printf '%s' "$uel@PJL JOB"$'\r\n'"@PJL SET PAPER=a4"$'\r\n'"@PJL SET QTY = 3"$'\n'"@PJL ENTER LANGUAGE=POSTSCRIPT"$'\n'"%!PS"$'\n'"$uel" >"$corpus/pjl_ps"
printf '%s' "$uel@PJL ENTER LANGUAGE = PCL"$'\n\e'"E"$'\n\e'"&l1X"$'\x1a'"$uel" >"$corpus/pjl_pcl"
printf '%s' "$uel"$'\n'"PK"$'\x03\x04' >"$corpus/pjl_xps"
printf '%s' ") HP-PCL XL;2;0"$'\n' >"$corpus/pclxl"
printf '%s' "%PDF-1.7"$'\n'"%%HiResBoundingBox: 0.000000 0.000000 594.990000 841.980000"$'\r\n' >"$corpus/pdf_bbox"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
for fuzzer in "$build"/fuzz/*_fuzz; do
  name="$(basename "$fuzzer")"
  echo "[fuzz] $name for ${seconds}s"
  (cd "$build" && "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
     "$corpus" 2>"$build/$name.log") \
    || { tail -n 60 "$build/$name.log" >&2; echo "[fuzz] $name FAILED (inputs in $build)" >&2; exit 1; }
  grep -E "stat::number_of_executed_units|Done" "$build/$name.log" || true
done
