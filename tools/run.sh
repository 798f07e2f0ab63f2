#!/usr/bin/env bash
# Installs what is missing, builds, prepares the working folder run/ with a sample
# catalogue (never overwriting one that exists) and starts Krepiks there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"

work="$root/run"
mkdir -p "$work"
if [[ ! -e "$work/bolti.mdb" ]]; then
  # Its part template is the build folder's copy, build/share/krepiks/part.kprt.
  "$root/build/krepiks-catalogue" sample "$work/bolti.mdb"
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "krepiks: no display found (set DISPLAY or WAYLAND_DISPLAY, or run under Xvfb)" >&2
  exit 1
fi
cd "$work"
# krepiks-cad, the CAD application, is reached over the session bus that every desktop has;
# where there is none, give the program one of its own (the CAD program then ends with it).
if [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]]; then
  exec dbus-run-session -- "$root/build/krepiks"
fi
exec "$root/build/krepiks"
