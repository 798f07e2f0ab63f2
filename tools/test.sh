#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on Qt's offscreen platform.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
cd "$root/build"
export QT_QPA_PLATFORM=offscreen
# A private session bus, so tests never touch the developer's own.
exec dbus-run-session -- ctest --output-on-failure -j"$(nproc)" "$@"
