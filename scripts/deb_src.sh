# Sourced by the scripts that build from Debian's source packages
# (build_interpreters.sh, build_windows_interpreters.sh,
# build_windows_sqlite.sh); the caller defines fail().

# Debian's sources file has only binary entries; add the matching deb-src
# ones, once (/etc/apt/sources.list.d/quillaro-deb-src.sources).
ensure_deb_src() {
  local src=/etc/apt/sources.list.d/quillaro-deb-src.sources
  if [ -f "$src" ]; then return; fi
  [ -f /etc/apt/sources.list.d/debian.sources ] || fail "no /etc/apt/sources.list.d/debian.sources to derive deb-src from"
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$src"
  apt-get update -qq || fail "apt-get update after adding deb-src"
}
