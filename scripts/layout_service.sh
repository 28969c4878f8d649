#!/usr/bin/env bash
# Lays out a service folder: the binary (copied: the service finds its folder
# from its own real path, so a link would point back into the build tree),
# in/, out/, settings.ini (kept when present: it is the operator's), and links
# to gs, gpcl6, gxps and the font kit.
#   layout_service.sh SERVICE_DIR QUILLARO_BINARY INTERPRETER_BIN FONT_KIT
set -euo pipefail
service="$1" binary="$2" interp_bin="$3" font_kit="$4"
repo="$(cd "$(dirname "$0")/.." && pwd)"

mkdir -p "$service/in" "$service/out"
install -m 755 "$binary" "$service/quillaro"
[ -f "$service/settings.ini" ] || install -m 644 "$repo/packaging/settings.ini" "$service/settings.ini"
ln -sfn "$(command -v gs)" "$service/gs"
ln -sfn "$interp_bin/gpcl6" "$service/gpcl6"
ln -sfn "$interp_bin/gxps" "$service/gxps"
ln -sfn "$font_kit" "$service/urwfonts"
echo "[layout] service folder ready: $service"
