#!/usr/bin/env bash
# Lays out the pod's shared service folder (an emptyDir, $1, default
# /srv/quillaro) and runs the unchanged service from it, keeping its status
# lines in $1/status.txt for the liveness probe as well as on standard error.
set -euo pipefail
service="${1:-/srv/quillaro}"
mkdir -p "$service/in" "$service/out"
install -m 755 /opt/quillaro-image/quillaro "$service/quillaro"
install -m 644 /etc/quillaro/settings.ini "$service/settings.ini"
for link in gs gpcl6 gxps urwfonts; do
  ln -sfn "$(readlink /opt/quillaro-image/$link)" "$service/$link"
done
exec "$service/quillaro" 2> >(tee "$service/status.txt" >&2)
