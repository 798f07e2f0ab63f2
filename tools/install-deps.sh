#!/usr/bin/env bash
# Installs the Debian packages Krepiks needs to build, run and test (Debian 12 and 13 alike),
# skipping those already present. Uses sudo when not run as root. The names carry no version
# wherever the unversioned one exists: the release's own default then comes along.
set -euo pipefail

packages=(
  build-essential cmake g++ make pkg-config ccache
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libgl-dev
  libjpeg62-turbo-dev libsqlite3-dev sqlite3 libpq-dev postgresql
  libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
  libocct-visualization-dev libocct-ocaf-dev libocct-data-exchange-dev libtbb-dev
  libfontconfig-dev
  libgtest-dev libbenchmark-dev
  clang clang-format libclang-rt-dev lld
  fonts-dejavu-core fonts-liberation2 dbus dbus-daemon
  xvfb xauth libgl1-mesa-dri libx11-dev
  freecad
  mdbtools mdbtools-dev
  debhelper dpkg-dev lintian fakeroot debootstrap
  weston xwayland qt6-wayland
  imagemagick x11-utils
  qt6-svg-dev libdxflib-dev fonts-osifont poppler-utils python3-ezdxf
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  # A name this release does not offer is said plainly, before apt installs anything.
  lacking=()
  for p in "${missing[@]}"; do
    candidate=$(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: //p')
    [[ -n $candidate && $candidate != "(none)" ]] || lacking+=("$p")
  done
  if ((${#lacking[@]})); then
    echo "install-deps.sh: this release offers no package named: ${lacking[*]}" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
