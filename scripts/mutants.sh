#!/usr/bin/env bash
# Shows that the tests catch real faults: applies small deliberate faults to
# risky places, one at a time, rebuilds the test program that should notice,
# runs it, and puts the source back. Every fault must make a test fail.
#   mutants.sh [number ...]     (default: every fault)
# Needs a configured build in build/ (bash scripts/setup.sh).
set -uo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build"
[ -f "$build/CMakeCache.txt" ] || { echo "[mutants] run bash scripts/setup.sh first" >&2; exit 1; }

# Each fault: file, exact text (found exactly once), replacement, test
# program, gtest filter, and what the fault means.
declare -a F_FILE F_FROM F_TO F_PROG F_FILTER F_WHAT
fault() {
  F_FILE+=("$1"); F_FROM+=("$2"); F_TO+=("$3"); F_PROG+=("$4"); F_FILTER+=("$5"); F_WHAT+=("$6")
}
fault src/platform/semaphore_linux.cc \
  'if (count == 0 || count > maximum_ - count_) return count == 0;' 'if (count == 0) return true;' \
  platform 'CountingSemaphore*' 'the semaphore passes its maximum count'
fault src/service/change_watcher.cc \
  'if (backlog.empty() && queue.Push(record)) return;' 'if (queue.Push(record) || true) return;' \
  service 'ChangeWatcher*' 'records that do not fit the full queue are lost'
fault src/service/change_watcher.cc \
  'RescanFolder(it->first, it->second);' '(void)it->second;' \
  service 'ChangeWatcher*' 'files that came while in/ was gone are never found'
fault src/inspect/text_mode_reader.cc \
  'if (c == kEndOfData) {' 'if (false) {' \
  inspect '*' 'the text-mode reader reads past a 0x1A byte'
fault src/inspect/paper_sizes.cc \
  'return measured_height > height - height_margin;' \
  'return double{measured_height} > double{height} - double{height_margin};' \
  inspect 'PaperSizes*' 'the paper tolerance is computed in double precision'
fault src/platform/command_line.cc \
  "argument.append(backslashes / 2, '\\\\');" "argument.append(backslashes, '\\\\');" \
  platform 'SplitCommandLine*' 'backslashes before a quote are not halved'
fault src/service/last_name_filter.cc \
  'if (path == last_name_) return false;' 'if (path.empty()) return false;' \
  service 'LastNameFilter*' 'a repeated change record dispatches the job again'
fault src/inspect/pjl_header.cc \
  'if (value.empty()) return 1;' 'if (value.empty()) return 0;' \
  inspect 'PjlHeader*' 'a job without a quantity line counts no copies'
fault src/inspect/language_detection.cc \
  'return byte >= 0x21 && byte <= 0x2F;' 'return byte >= 0x21 && byte <= 0x30;' \
  inspect 'LanguageDetection*' 'ESC 0 is taken for a PCL command'
fault src/service/worker_pool.cc \
  '> limits_.run_limit_ms) Terminate(i);' '> limits_.run_limit_ms * 1000ull) Terminate(i);' \
  service 'WorkerPool*' 'an overdue worker is never terminated'
fault src/service/aged_file_cleanup.cc \
  'if (!entry.creation_seconds || waiting.contains(entry.name)) continue;' \
  'if (!entry.creation_seconds) continue;' \
  security 'NoJobLostTest.TheCleanup*' 'the cleanup deletes jobs that were never processed'
fault src/service/inbox_watcher.cc \
  'filter.Accept(path) && !IsUploadInProgress(path) && queued_' 'filter.Accept(path) && queued_' \
  security 'NoJobLostTest.TheInbox*' 'an upload in progress is taken for a job'
fault src/service/inbox_watcher.cc \
  'if (in_flight_.contains(path) || !queued_.insert(path).second) continue;' \
  'if (!queued_.insert(path).second) continue;' \
  security 'NoJobLostTest.TheInbox*' 'a rescan starts a job under way a second time'
fault src/service/inbox_watcher.cc \
  'QueueWaitingJobs(false);' 'QueueWaitingJobs(true);' \
  security 'NoJobLostTest.ABurst*' 'forgetting finished jobs hands out a burst twice'
fault src/config/job_settings.cc \
  'if (WaitSeconds > 60) WaitSeconds = 60;' 'if (WaitSeconds > 61) WaitSeconds = 60;' \
  config 'JobSettings*' 'WaitSeconds 61 is not clamped to 60'

selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=($(seq 1 ${#F_FILE[@]}))
restore=""
trap '[ -n "$restore" ] && cp "$restore" "$repo/${F_FILE[$current]}"' EXIT
survived=0
for n in "${selected[@]}"; do
  current=$((n - 1))
  file="$repo/${F_FILE[$current]}"
  restore="$(mktemp)"
  cp "$file" "$restore"
  if ! python3 - "$file" "${F_FROM[$current]}" "${F_TO[$current]}" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(f"the text to change is found {text.count(old)} times")
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
  then
    echo "[mutants] $n: does not apply (${F_FILE[$current]})"; survived=$((survived + 1))
    rm -f "$restore"; restore=""; continue
  fi
  program="${F_PROG[$current]}_tests"
  if ! cmake --build "$build" -j"$(nproc)" --target "$program" >"$build/mutant.log" 2>&1; then
    # A fault the compiler refuses proves nothing about the tests.
    verdict="DOES NOT BUILD (see $build/mutant.log)"; survived=$((survived + 1))
  elif (cd "$build/tests/${F_PROG[$current]}" &&
        timeout 600 "./$program" --gtest_filter="${F_FILTER[$current]}" >>"$build/mutant.log" 2>&1); then
    verdict="SURVIVED"; survived=$((survived + 1))
  else
    verdict="killed"
  fi
  cp "$restore" "$file"; rm -f "$restore"; restore=""
  echo "[mutants] $n: $verdict: ${F_WHAT[$current]} (${F_FILE[$current]}, $program ${F_FILTER[$current]})"
done
trap - EXIT
# Leave the build as the sources are.
cmake --build "$build" -j"$(nproc)" >/dev/null 2>&1
echo "[mutants] ${#selected[@]} faults, $survived not caught"
[ "$survived" -eq 0 ]
