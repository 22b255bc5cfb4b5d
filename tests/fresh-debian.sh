#!/bin/sh
# fresh-debian.sh
# Runs README's two set-up commands as a new user would meet them: in a
# freshly bootstrapped minimal Debian 12 root, with nothing installed beyond
# the base system; then makes the Debian packages there and installs them
# into a second fresh root, where the commands and `import velmora` must
# work with what the packages' dependencies bring. Needs root and
# debootstrap; the mirror is the one this machine's own apt configuration
# names, and DNS and the trust for TLS are this machine's own. With a
# folder as its argument, leaves there the packages made in the root and
# the page they hold, for checks outside it.
#
# With VELMORA_FRESH_CACHE naming a folder that persists between runs on one
# machine, the roots take their Debian packages from it where the mirror
# still offers the very same files (debootstrap and apt check every one
# against the mirror's signed lists, and download only what is new), and
# every compilation in the first root goes through ccache with its cache
# there. What is installed, built and run stays the same; only repeated
# downloads and compilations are saved. ccache is installed into the first
# root for this, beside what README's commands install; none of the build's
# packages depends on it.
set -eu
# In a mount namespace of the script's own: whatever it mounts goes with
# it however it ends, even killed outright, and no folder of the cache can
# stay mounted in a stray tree that someone later removes.
if [ -z "${VELMORA_FRESH_NAMESPACE-}" ]; then
  VELMORA_FRESH_NAMESPACE=1 exec unshare --mount --propagation private sh "$0" "$@"
fi
src=$(cd "$(dirname "$0")/.." && pwd)
out=${1-}
if [ -n "$out" ] && [ ! -d "$out" ]; then
  echo "fresh-debian: '$out' is not a folder" >&2
  exit 2
fi
# Their real paths, as /proc/mounts names what is mounted in them.
root=$(cd "$(mktemp -d "${TMPDIR:-/tmp}/velmora-fresh.XXXXXX")" && pwd -P)
installed=$(cd "$(mktemp -d "${TMPDIR:-/tmp}/velmora-installed.XXXXXX")" && pwd -P)

cleanup() {
  # Every tree gets its turn, whatever fails in another.
  set +e
  # The second root's bootstrap ends on its own within a minute; stopping
  # only its shell would leave debootstrap writing into the tree.
  wait
  for tree in "$root" "$installed"; do
    # What is mounted in the tree, the innermost first: /proc, the cache's
    # folders, or debootstrap's own mounts when it was stopped midway.
    awk -v tree="$tree/" 'index($2, tree) == 1 { print $2 }' /proc/mounts |
      sort -r | while read -r mounted; do umount "$mounted"; done
    # Never remove a tree that still has something mounted in it: the
    # cache's folders would go with it.
    kept=
    for point in proc var/cache/apt/archives var/cache/velmora-ccache; do
      if mountpoint -q "$tree/$point"; then kept=1; fi
    done
    if [ -z "$kept" ] && ! grep -q " $tree/" /proc/mounts; then rm -rf "$tree"; fi
  done
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# sed stops at the first match itself: no reader that leaves early.
mirror=$(sed -n '/^URIs:/{s/^URIs: *\([^ ]*\).*/\1/p;q;}' \
  /etc/apt/sources.list.d/*.sources 2>/dev/null)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' \
  /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || { echo "fresh-debian: no mirror in the apt configuration" >&2; exit 1; }

cache=${VELMORA_FRESH_CACHE-}
if [ -n "$cache" ]; then
  mkdir -p "$cache"
  cache=$(cd "$cache" && pwd -P)
  # One run at a time: debootstrap and apt download under the same names.
  exec 9>"$cache/lock"
  if ! flock -n 9; then
    echo "fresh-debian: another run is using $cache; this one goes without it" >&2
    cache=
  fi
fi
debs=
if [ -n "$cache" ]; then
  mkdir -p "$cache/debs" "$cache/ccache"
  debs=$cache/debs
  # A package the mirror no longer offers is never taken again: those that
  # came more than a month ago go (a file's change time is when it came;
  # its modification time, the mirror's).
  find "$debs" -name '*.deb' -ctime +30 -delete
fi

seconds() { date +%s; }
# A minimal Debian 12 in the folder $1.
# A root thrown away after the test: dpkg need not sync every file it
# unpacks to the disk.
bootstrap() {
  debootstrap --variant=minbase ${debs:+--cache-dir="$debs"} bookworm "$1" "$mirror" \
    >"$1.log" 2>&1 || { tail -n 20 "$1.log" >&2; rm -f "$1.log"; exit 1; }
  rm -f "$1.log"
  echo force-unsafe-io >"$1/etc/dpkg/dpkg.cfg.d/unsafe-io"
  # apt's downloads kept with debootstrap's, under the names both give them.
  if [ -n "$debs" ]; then mount --bind "$debs" "$1/var/cache/apt/archives"; fi
}
t0=$(seconds)
bootstrap "$root"
echo "fresh-debian: bootstrapped in $(($(seconds) - t0)) s"
# The second root, for the packages, meanwhile: mostly a wait on the
# network beside the first root's builds.
bootstrap "$installed" &
second=$!

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
compiler_cache=
if [ -n "$cache" ]; then
  mkdir -p "$root/var/cache/velmora-ccache"
  mount --bind "$cache/ccache" "$root/var/cache/velmora-ccache"
  # A compiler told apart by what it says of itself (-v), its Debian
  # revision included: em++ is a script whose file stays the same when the
  # clang under it changes.
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    CCACHE_DIR=/var/cache/velmora-ccache \
    sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends ccache &&
      ccache --set-config compiler_check="%compiler% -v" && ccache --zero-stats' \
    >"$root/ccache.log" 2>&1 || { tail -n 20 "$root/ccache.log" >&2; exit 1; }
  compiler_cache="CCACHE_DIR=/var/cache/velmora-ccache CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086 # $node_ca and $compiler_cache: words of env
in_root() { chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 $node_ca $compiler_cache sh -c "cd /root/velmora && $1"; }

t0=$(seconds)
dialogue=$(printf '5\n1000\n' | in_root './setup start' 2>"$root/setup.log") ||
  { tail -n 30 "$root/setup.log" >&2; exit 1; }
echo "fresh-debian: ./setup start gave its result in $(($(seconds) - t0)) s"
case "
$dialogue
" in
*"
 Number of coicidences = 707
"*) ;;
*)
  echo "fresh-debian: unexpected dialogue:" >&2
  echo "$dialogue" >&2
  exit 1
  ;;
esac

t0=$(seconds)
in_root './setup test'
echo "fresh-debian: ./setup test passed in $(($(seconds) - t0)) s"
if [ -n "$cache" ]; then
  # A fault that bypassed the cache would otherwise show only as time.
  in_root 'ccache --print-stats' | awk -F '\t' '
    $1 ~ /_cache_hit$/ { hits += $2 } $1 == "cache_miss" { misses += $2 }
    END { printf "fresh-debian: compilations from the cache: %d of %d\n", hits, hits + misses }'
fi

# The packages made in the first root, installed with apt into a second
# one: their dependencies must bring all that the commands and the module
# need.
t0=$(seconds)
# The root has no git to name the commit's author as the packages'
# maintainer: the name is handed over in a file, read as data.
git -C "$src" log -1 '--format=%an <%ae>' >"$root/root/maintainer"
# shellcheck disable=SC2016 # expanded in the root, from its file
in_root 'VELMORA_MAINTAINER=$(cat /root/maintainer) cmake --workflow --preset package >/dev/null'
if [ -n "$out" ]; then
  cp "$root"/root/velmora/build/package/*.deb "$root/root/velmora/build/web/velmora.html" "$out/"
fi
wait "$second" || { echo "fresh-debian: the second root did not bootstrap" >&2; exit 1; }
cp /etc/resolv.conf "$installed/etc/resolv.conf"
cp "$root"/root/velmora/build/package/*.deb "$installed/root/"
mount -t proc proc "$installed/proc"
in_installed() { chroot "$installed" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive sh -c "cd /root && $1"; }
in_installed 'apt-get update -q >/dev/null && apt-get install -y -q ./velmora_*.deb ./python3-velmora_*.deb >/dev/null'
module=$(in_installed "python3 -c 'import velmora; print(velmora.__version__, velmora.efficiency(5, 1000))'")
counted=$(printf '5\n1000\n' | in_installed velmora | tail -n 3)
echo "fresh-debian: the packages installed and ran in $(($(seconds) - t0)) s: $module"
case "$module" in
*"Efficiency(coincidences=707, efficiency=0.707)") ;;
*) echo "fresh-debian: import velmora gave: $module" >&2; exit 1 ;;
esac
case "$counted" in
*" Number of coicidences = 707"*) ;;
*) echo "fresh-debian: the installed velmora gave: $counted" >&2; exit 1 ;;
esac
