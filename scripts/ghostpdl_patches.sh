# Sourced by the interpreter builds (Linux and Windows). Applies every
# scripts/patches/ghostpdl-*.patch to the GhostPDL source in the current
# folder, in name order; a patch that does not apply cleanly fails the build
# rather than leaving an interpreter without it. Each build script keys its
# cache by a patch level that must be raised when a patch changes.
apply_ghostpdl_patches() {
  local dir patch
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/patches"
  for patch in "$dir"/ghostpdl-*.patch; do
    [ -f "$patch" ] || continue
    echo "[interpreters] applying $(basename "$patch")" >&2
    patch -p1 --forward --batch --silent < "$patch" || return 1
  done
}
