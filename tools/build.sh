#!/usr/bin/env bash
# Configures and builds into build/ with both cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The Debian package's compiler flags (debian/rules' hardening), so that the package build
# finds every object it shares with this one in ccache instead of compiling it again.
flags=()
if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cppflags=$(cd "$root" && dpkg-buildflags --get CPPFLAGS)
  flags=(-DCMAKE_C_FLAGS="$(cd "$root" && dpkg-buildflags --get CFLAGS) $cppflags"
    -DCMAKE_CXX_FLAGS="$(cd "$root" && dpkg-buildflags --get CXXFLAGS) $cppflags")
fi
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$root/build" -j"$(nproc)"
