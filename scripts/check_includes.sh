#!/usr/bin/env bash
# Fails when a source folder includes a header from a folder above it. The
# folders depend one way, each only on those listed before it:
#   platform < config < inspect < interp < (imaging, watermark) < report < service
# and the programs built on them (node, report_tool) on any of those, not on
# each other. imaging and watermark stand side by side: neither includes
# the other.
#   check_includes.sh   (exit 1 with one line per offending include)
set -euo pipefail
cd "$(dirname "$0")/../src"
declare -A rank=([platform]=0 [config]=1 [inspect]=2 [interp]=3 [imaging]=4 [watermark]=4
                 [report]=5 [service]=6 [node]=7 [report_tool]=7)
bad=0
for folder in "${!rank[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    used="${text#*\"}"
    used="${used%%/*}"
    [ "$used" != "$folder" ] || continue
    # A folder that is not one of ours is a library's (nlohmann/, gtest/).
    [ -n "${rank[$used]:-}" ] || continue
    if [ "${rank[$used]}" -ge "${rank[$folder]}" ]; then
      echo "src/$file:$line: $folder may not include from $used: $text" >&2
      bad=1
    fi
  done < <(grep -rnE '^#include "[a-z_]+/' "$folder" || true)
done
[ "$bad" -eq 0 ] || { echo "[includes] FAILED: a folder includes one above it" >&2; exit 1; }
echo "[includes] every folder includes only those below it"
