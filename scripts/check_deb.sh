#!/usr/bin/env bash
# Installs the Debian package on a fresh Debian 12 and checks that it gives a
# running, confined service that processes jobs. The machine's own PID 1 need
# not be systemd: the fresh system is a root folder made with mmdebstrap and
# booted with systemd-nspawn, so its systemd runs the unit for real.
#   check_deb.sh [DEB]     (default: the newest dist/quillaro_*.deb)
# Checks, each printed as ok or FAILED, exit 1 on any failure:
#   apt install ./quillaro_*.deb succeeds (dependencies from Debian's archive);
#   the user and group quillaro, in/ out/ log.txt theirs, the program files root's;
#   the unit passes systemd-analyze verify, is enabled and running as quillaro,
#   with no capabilities, no new privileges, a seccomp filter, and Landlock available;
#   PCL, XPS and PostScript jobs get their results; a job using PJL file commands
#   and GSSETSTRING changes nothing; the lock is in /run/quillaro, mode 0600;
#   remove keeps the jobs and results, purge removes them.
# Needs root (mmdebstrap, systemd-nspawn); installs them with install_deps.sh deb.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
deb="${1:-$(ls -t "$repo"/dist/quillaro_*.deb 2>/dev/null | head -n 1)}"
[ -f "$deb" ] || { echo "[check-deb] no package (run scripts/build_deb.sh)" >&2; exit 1; }
deb="$(readlink -f "$deb")"
bash "$repo/scripts/install_deps.sh" deb >&2

work="$(mktemp -d /var/tmp/quillaro-deb-check.XXXXXX)"
root="$work/root"
nspawn_pid=""
cleanup() {
  if [ -n "$nspawn_pid" ]; then kill -TERM "$nspawn_pid" 2>/dev/null || true; wait "$nspawn_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
check() {  # description, command...
  local what="$1"; shift
  if "$@" >>"$work/check.log" 2>&1; then echo "[check-deb] ok: $what"
  else echo "[check-deb] FAILED: $what"; failed=1; fi
}

echo "[check-deb] making a Debian 12 system in $root" >&2
mmdebstrap --variant=apt --include=systemd,ca-certificates bookworm "$root" \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main" >"$work/mmdebstrap.log" 2>&1 \
  || { tail -n 20 "$work/mmdebstrap.log" >&2; exit 1; }
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
cp "$deb" "$root/root/"

# Booted, its systemd is PID 1 there. nspawn's own system-call filter leaves out
# Landlock and seccomp in systemd 252, which would make every unit look like a
# kernel without them: allow them, as a machine's own PID 1 does.
systemd-nspawn -q -D "$root" --boot --console=passive --register=no --keep-unit \
  --machine=quillaro-deb-check \
  --system-call-filter="landlock_create_ruleset landlock_add_rule landlock_restrict_self seccomp" \
  >"$work/nspawn.log" 2>&1 &
nspawn_pid=$!
init=""
for _ in $(seq 100); do
  init=$(pgrep -P "$nspawn_pid" -x systemd || true)
  if [ -n "$init" ] && nsenter -t "$init" -a systemctl is-system-running --wait >/dev/null 2>&1; then break; fi
  sleep 0.3
done
[ -n "$init" ] || { cat "$work/nspawn.log" >&2; echo "[check-deb] the system did not boot" >&2; exit 1; }
inside() { nsenter -t "$init" -a /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

name="$(basename "$deb")"
check "apt install ./$name" inside sh -c "cd /root && apt-get update -qq && apt-get install -y ./$name"
[ "$failed" = 0 ] || { tail -n 30 "$work/check.log" >&2; exit 1; }
check "the system user quillaro" inside sh -c 'getent passwd quillaro | grep -q ":/usr/sbin/nologin$" && getent group quillaro'
check "in/ out/ log.txt are quillaro's, the program files root's" inside sh -c '
  [ "$(stat -c "%U:%G %a" /opt/quillaro/in /opt/quillaro/out /opt/quillaro/log.txt | tr "\n" " ")" = \
    "quillaro:quillaro 2770 quillaro:quillaro 2750 quillaro:quillaro 640 " ] &&
  [ "$(stat -c %U /opt/quillaro /opt/quillaro/quillaro /opt/quillaro/gpcl6 /opt/quillaro/settings.ini | sort -u)" = root ]'
check "systemd-analyze verify" inside systemd-analyze verify /lib/systemd/system/quillaro.service
check "the unit is enabled and running" inside sh -c 'systemctl is-enabled quillaro && systemctl is-active quillaro'
check "it runs as quillaro, no capabilities, no new privileges, a seccomp filter" inside sh -c '
  s=/proc/$(systemctl show -p MainPID --value quillaro)/status
  grep -q "^Uid:\s*$(id -u quillaro)\s" $s && grep -q "^CapEff:\s*0\+$" $s && grep -q "^CapBnd:\s*0\+$" $s &&
  grep -q "^NoNewPrivs:\s*1$" $s && grep -q "^Seccomp:\s*2$" $s'
check "Landlock is available to its interpreter runs" inside sh -c '
  systemctl is-active quillaro && ! journalctl -u quillaro -o cat | grep -q "offers no Landlock"'

# Real jobs, made by Debian's gs there, and a hostile one.
inside bash -c '
  F=/opt/quillaro; cd /root
  sed -i -e "s/^IsConvert=.*/IsConvert=1/" -e "s/^Type=.*/Type=2/" $F/settings.ini
  gs -q -dNOPAUSE -dBATCH -sDEVICE=ljet4 -sOutputFile=doc.pcl -c "/Helvetica findfont 24 scalefont setfont 72 700 moveto (One) show showpage 72 700 moveto (Two) show showpage"
  gs -q -dNOPAUSE -dBATCH -sDEVICE=xpswrite -sOutputFile=doc.xps -c "/Helvetica findfont 24 scalefont setfont 72 700 moveto (XPS) show showpage"
  printf "%%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (PS) show showpage\n" > doc.ps
  # The unit has a /tmp of its own: the job makes the PJL volume folder there itself.
  { printf "\033%%-12345X@PJL JOB\r\n@PJL FSINIT VOLUME=\"0:\"\r\n@PJL FSDOWNLOAD FORMAT:BINARY NAME=\"0:\\\\..\\\\..\\\\opt\\\\quillaro\\\\out\\\\victim.pcl_done\" SIZE=4\r\ndone"
    printf "@PJL GSSETSTRING OutputFile=|touch\${IFS}/opt/quillaro/out/piped\r\n@PJL ENTER LANGUAGE=PCL\r\n"
    cat doc.pcl; printf "\033%%-12345X"; } > hostile.prn
  for j in doc.pcl doc.xps doc.ps hostile.prn; do cp $j $F/in/${j/./_}; done
  for j in doc_pcl doc_xps doc_ps hostile_prn; do
    for i in $(seq 600); do [ -e $F/out/${j}_done ] && break; sleep 0.1; done
  done' >>"$work/check.log" 2>&1
expect_pages() { inside sh -c "[ \"\$(cat /opt/quillaro/out/$1_pagescount.txt)\" = $2 ] && ls /opt/quillaro/out/$1_1.jpg"; }
check "a PCL job: 2 pages counted and rendered" expect_pages doc_pcl 2
check "an XPS job: 1 page" expect_pages doc_xps 1
check "a PostScript job: 1 page" expect_pages doc_ps 1
check "a job with PJL file commands and GSSETSTRING: read, and nothing else changed" inside sh -c '
  [ "$(cat /opt/quillaro/out/hostile_prn_pagescount.txt)" = 2 ] && [ ! -e /opt/quillaro/out/victim.pcl_done ] &&
  [ ! -e /opt/quillaro/out/piped ]'
check "the lock is /run/quillaro's, mode 0600" inside sh -c '
  [ "$(stat -c "%U %a" /run/quillaro/QuillaroUseGhostscriptLibraryMutex)" = "quillaro 600" ]'
check "remove: the unit stops, jobs and results stay" inside sh -c '
  apt-get remove -y quillaro && ! systemctl is-active quillaro && ls /opt/quillaro/out/doc_pcl_done'
check "purge: in/ out/ log.txt go" inside sh -c 'apt-get purge -y quillaro && [ ! -e /opt/quillaro/out ]'

if [ "$failed" != 0 ]; then
  echo "[check-deb] log:" >&2; tail -n 60 "$work/check.log" >&2
  exit 1
fi
echo "[check-deb] all checks passed on a fresh Debian 12 booted with systemd"
