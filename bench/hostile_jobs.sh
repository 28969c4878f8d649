#!/usr/bin/env bash
# The slow hostile jobs that CI leaves out (a 100 MB job of one line, a PJL
# header line of 100 MB), through the real service; prints the service's
# peak memory as the test records it.
#   bench/hostile_jobs.sh [BUILD_FOLDER]     (default build/)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
cd "$build/tests/service"
QUILLARO_SLOW_TESTS=1 ./service_tests --gtest_filter='HostileJobsTest.*' \
  --gtest_output="xml:$build/hostile_jobs.xml"
grep -o 'testcase name="[A-Za-z]*"\|name="service_peak_kib" value="[0-9]*"' "$build/hostile_jobs.xml" |
  sed -E 's/.*value="([0-9]*)"/  service peak \1 KiB/; s/testcase name="([A-Za-z]*)"/[hostile] \1/'
