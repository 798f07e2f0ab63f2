#!/usr/bin/env bash
# Does in a Debian 13 ("trixie") system what a user of a fresh Debian 13 does with this
# clone: the install script, the normal build and the normal suite (offscreen, inside a
# session bus), the package command, `apt install` of the package, and the package's tests.
# Arguments go to ctest. The package is copied out to build/debian13/.
#
# The system is made with debootstrap when missing and kept between runs in the test
# command's cache folder, $KREPIKS_TEST_CACHE/trixie (default /var/cache/krepiks-test); its
# package lists are refreshed on every run. The clone's files are copied into it (its own
# build folder stays there), so the clone itself is never written from inside.
#
# With --prepare as its first argument it stops once the system is made, its packages are
# refreshed and the install script has run: the part that waits on the network, which the
# test command starts early beside the Debian 12 build.
#
# Needs root (sudo otherwise). Everything runs in mount and PID namespaces of its own, made
# again for each step: the mounts and every process started in the system (debootstrap's,
# D-Bus, PostgreSQL, weston, FreeCAD) end with this script however it ends, killed included.
set -euo pipefail
if [[ $(id -u) -ne 0 ]]; then
  exec sudo --preserve-env=KREPIKS_TEST_CACHE,KREPIKS_DEBIAN_MIRROR -- "$0" "$@"
fi
prepare=false
if [[ ${1:-} == --prepare ]]; then
  prepare=true
  shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${KREPIKS_TEST_CACHE:-/var/cache/krepiks-test}
mirror=${KREPIKS_DEBIAN_MIRROR:-http://deb.debian.org/debian}
system=$cache/trixie
mkdir -p "$cache"

# One run at a time: the next one waits, and may then take what a killed one left.
exec {lock}>"$cache/trixie.lock"
flock "$lock"

# Left by a run killed outside the namespaces (debootstrap mounts /proc and /sys itself):
# processes whose root is inside the cache, then mounts there, deepest first.
sweep() {
  local p r
  for p in /proc/[0-9]*; do
    r=$(readlink "$p/root" 2>/dev/null) || continue
    if [[ $r == "$cache"/* ]]; then kill -KILL "${p#/proc/}" 2>/dev/null || true; fi
  done
  awk -v c="$cache/" 'index($2, c) == 1 { print $2 }' /proc/self/mounts | sort -r |
    while read -r m; do umount -l "$m" || true; done
}
sweep

# Runs a command in namespaces that end with it, and it with this script, however it ends.
isolated() {
  setpriv --pdeathsig KILL -- unshare --mount --pid --fork --kill-child --propagation private "$@" &
  child=$!
  trap 'kill -KILL "$child" 2>/dev/null || true' EXIT
  trap 'exit 143' TERM INT HUP
  local status=0
  wait "$child" || status=$?
  trap - EXIT TERM INT HUP
  return "$status"
}

if [[ ! -e $system/.krepiks-made ]]; then
  command -v debootstrap >/dev/null || "$root/tools/install-deps.sh"
  # A download cut off halfway is tried again, from the start.
  for try in 1 2 3; do
    rm -rf --one-file-system "$system.new" "$system"
    if isolated -- debootstrap --variant=minbase --include=git,ca-certificates trixie \
      "$system.new" "$mirror"; then
      break
    fi
    ((try < 3)) || exit 1
    echo "debian13.sh: debootstrap failed, trying again" >&2
    sweep
  done
  touch "$system.new/.krepiks-made"
  mv "$system.new" "$system"
fi
echo "debian13.sh: the system is there ($SECONDS s in)"
cat >"$system/etc/apt/sources.list" <<EOF
deb $mirror trixie main
deb $mirror trixie-updates main
deb ${mirror%/debian}/debian-security trixie-security main
EOF
cp /etc/resolv.conf "$system/etc/resolv.conf"
# A mirror that drops a connection now and then fails no step.
printf 'Acquire::Retries "5";\n' >"$system/etc/apt/apt.conf.d/80krepiks-retries"
# A system that only runs tests: dpkg need not sync every file it unpacks, nor man-db index
# each page it gets: neither matters to a test, and both lengthen a cold run.
printf 'force-unsafe-io\n' >"$system/etc/dpkg/dpkg.cfg.d/80krepiks-unsafe-io"
rm -f "$system/var/lib/man-db/auto-update"

work=$system/root/krepiks
mkdir -p "$work"
find "$work" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf --one-file-system {} +
git -C "$root" ls-files -z --cached --others --exclude-standard |
  tar -C "$root" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$work" --no-same-owner -xf -

# Inside: the user's steps, first those that bring the system up to date. The copy is made a
# repository of its own for the package command, which takes the clone's files from git.
# shellcheck disable=SC2016
refresh='
stamp() { echo "debian13.sh: $1 ($SECONDS s in)"; }
echo "man-db man-db/auto-update boolean false" | debconf-set-selections
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq upgrade >/dev/null
tools/install-deps.sh
stamp "up to date"
'
# shellcheck disable=SC2016
inside='
git init -q . && git add -A
# D-Bus and Qt want the machine id an installed system has.
[[ -s /etc/machine-id ]] || dbus-uuidgen --ensure=/etc/machine-id
tools/build.sh
stamp "built"
export QT_QPA_PLATFORM=offscreen
status=0
dbus-run-session -- ctest --test-dir build --output-on-failure -LE package "$@" || status=$?
stamp "normal suite run"
tools/package.sh
stamp "packaged"
KREPIKS_DEB=$(ls "$PWD"/build/package/krepiks_*.deb)
export KREPIKS_DEB
# The package installs with apt, and goes again so that the next run starts without it.
DEBIAN_FRONTEND=noninteractive apt-get -y -qq install "$KREPIKS_DEB" >/dev/null
dpkg-query -W krepiks
DEBIAN_FRONTEND=noninteractive apt-get -y -qq purge krepiks >/dev/null
dbus-run-session -- ctest --test-dir build --output-on-failure -L package "$@" || status=$?
stamp "package tests run"
exit "$status"
'
if $prepare; then
  inside=''
fi
status=0
# shellcheck disable=SC2016
isolated -- bash -c '
set -euo pipefail
system=$1
shift
mount -t proc proc "$system/proc"
mount -t sysfs -o ro sysfs "$system/sys"
mount --bind /dev "$system/dev"
mount --bind /dev/pts "$system/dev/pts"
for d in dev/shm tmp run; do mount -t tmpfs -o mode=1777 tmpfs "$system/$d"; done
chmod 755 "$system/run"
chroot "$system" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -c "$@"
' debian13 "$system" "set -euo pipefail; SECONDS=$SECONDS; cd /root/krepiks; $refresh$inside" debian13 -j"$(nproc)" "$@" || status=$?
if $prepare; then
  echo "debian13.sh: the system is made and up to date ($SECONDS s)"
else
  mkdir -p "$root/build/debian13"
  cp "$work"/build/package/krepiks_*.deb "$root/build/debian13/" 2>/dev/null || true
fi
exit "$status"
