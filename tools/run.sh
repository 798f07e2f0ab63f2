#!/usr/bin/env bash
# Installs what is missing, builds, prepares the working folder run/ with a sample
# catalogue (never overwriting one that exists) and starts Krepiks there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"

work="$root/run"
mkdir -p "$work"
template="$work/part.kprt"
if [[ -f "$root/resources/templates/part.kprt" && ! -f "$template" ]]; then
  cp "$root/resources/templates/part.kprt" "$template"
fi
if [[ ! -e "$work/bolti.mdb" ]]; then
  escaped=${template//\'/\'\'}
  sed "s|@TEMPLATE_PATH@|${escaped//|/\\|}|" "$root/resources/sample_catalogue.sql" |
    sqlite3 "$work/bolti.mdb"
  echo "Sample catalogue written to $work/bolti.mdb"
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
