#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on Qt's offscreen platform: the
# normal build, then the same suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets for a bounded time each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
cd "$root"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
# A private session bus, so tests never touch the developer's own.
dbus-run-session -- ctest --test-dir build --output-on-failure -j"$jobs" "$@"

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
dbus-run-session -- ctest --preset asan -j"$jobs" "$@"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
dbus-run-session -- ctest --preset fuzz -j"$jobs" "$@"
