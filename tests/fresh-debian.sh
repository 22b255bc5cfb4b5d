#!/bin/sh
# fresh-debian.sh
# Runs README's two set-up commands as a new user would meet them: in a
# freshly bootstrapped minimal Debian 12 root, with nothing installed beyond
# the base system. Needs root and debootstrap; the mirror is the one this
# machine's own apt configuration names, and DNS and the trust for TLS are
# this machine's own.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/velmora-fresh.XXXXXX")

cleanup() {
  if mountpoint -q "$root/proc"; then umount "$root/proc"; fi
  # Never remove a tree that still has something mounted in it.
  if ! grep -q " $root/" /proc/mounts; then rm -rf "$root"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# sed stops at the first match itself: no reader that leaves early.
mirror=$(sed -n '/^URIs:/{s/^URIs: *\([^ ]*\).*/\1/p;q;}' \
  /etc/apt/sources.list.d/*.sources 2>/dev/null)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' \
  /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || { echo "fresh-debian: no mirror in the apt configuration" >&2; exit 1; }

seconds() { date +%s; }
t0=$(seconds)
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -n 20 "$root.log" >&2; rm -f "$root.log"; exit 1; }
rm -f "$root.log"
echo "fresh-debian: bootstrapped in $(($(seconds) - t0)) s"

cp /etc/resolv.conf "$root/etc/resolv.conf"
# This machine's trust for TLS, for npm in the root: on a network whose proxy
# re-signs connections, only the machine's own store knows its authority.
node_ca=
if [ -r /etc/ssl/certs/ca-certificates.crt ]; then
  cp /etc/ssl/certs/ca-certificates.crt "$root/root/machine-ca-certificates.crt"
  node_ca=NODE_EXTRA_CA_CERTS=/root/machine-ca-certificates.crt
fi
mount -t proc proc "$root/proc"
# What is committed, as a clone would bring it.
git clone -q "$src" "$root/root/velmora"
in_root() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 $node_ca sh -c "cd /root/velmora && $1"; }

t0=$(seconds)
out=$(printf '5\n1000\n' | in_root './setup start' 2>"$root/setup.log") ||
  { tail -n 30 "$root/setup.log" >&2; exit 1; }
echo "fresh-debian: ./setup start gave its result in $(($(seconds) - t0)) s"
case "
$out
" in
*"
 Number of coicidences = 707
"*) ;;
*)
  echo "fresh-debian: unexpected dialogue:" >&2
  echo "$out" >&2
  exit 1
  ;;
esac

t0=$(seconds)
in_root './setup test'
echo "fresh-debian: ./setup test passed in $(($(seconds) - t0)) s"
