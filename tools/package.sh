#!/usr/bin/env bash
# Builds the Debian package build/package/krepiks_<version>_<arch>.deb from this clone with
# Debian's own tools, then has lintian check it, failing on an error or a warning. Installs
# what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"

out="$root/build/package"
# dpkg-buildpackage writes the package beside its source folder, so the source is a copy
# of the clone's files (new files included, build folders not) in a folder of its own.
source="$out/krepiks"
rm -rf "$out"
mkdir -p "$source"
git -C "$root" ls-files -z --cached --others --exclude-standard |
  tar -C "$root" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$source" -xf -
# debhelper gives the build a home of its own; the compiler cache stays the user's.
if command -v ccache >/dev/null; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CCACHE_DIR
fi
(cd "$source" && DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" dpkg-buildpackage -b -uc -us)
shopt -s nullglob
packages=("$out"/krepiks_*.deb)
if ((${#packages[@]} != 1)); then
  echo "package.sh: expected one package in $out" >&2
  exit 1
fi
lintian --fail-on error,warning --display-info "${packages[0]}"
echo "Package: ${packages[0]}"
