#!/usr/bin/env bash
# Makes the README's pictures from the real programs: the design window with M12x70 chosen
# (docs/design-window.png), and the CAD window once it has built that bolt
# (docs/cad-window.png). They run on a private X server with Mesa's software OpenGL
# (tests/support/with_xvfb.sh) and a session bus of their own, so nothing on your desktop is
# touched. Needs a build first (tools/build.sh) and ImageMagick and x11-utils (installed
# with the rest by tools/install-deps.sh).
#
#   tools/screenshots.sh [--build BUILD_FOLDER] [OUTPUT_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [[ ${1:-} == --build ]]; then
  build=$2
  shift 2
fi
build=$(cd "$build" && pwd)
out=${1:-$root/docs}
mkdir -p "$out"
out=$(cd "$out" && pwd)
driver=$build/tests/screenshots/libkrepiks_screenshot_driver.so
for file in "$build/krepiks" "$build/krepiks-cad" "$build/krepiks-catalogue" "$driver"; do
  if [[ ! -e $file ]]; then
    echo "screenshots.sh: $file is missing; build first (tools/build.sh)" >&2
    exit 1
  fi
done

# Once more, on the private display and bus.
if [[ -z ${KREPIKS_SCREENSHOTS_DISPLAY:-} ]]; then
  export KREPIKS_SCREENSHOTS_DISPLAY=private
  exec dbus-run-session -- "$root/tests/support/with_xvfb.sh" "$0" --build "$build" "$out"
fi

work=$(mktemp -d)
cad=
finish() {
  # The CAD program outlives Krepiks, as it does for a person; it must not outlive this.
  if [[ -n $cad ]] && kill -0 "$cad" 2>/dev/null; then
    kill "$cad" 2>/dev/null || true
    for _ in $(seq 300); do
      kill -0 "$cad" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$cad" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

export LC_ALL=C.UTF-8
"$build/krepiks-catalogue" sample "$work/bolti.mdb" >/dev/null
# The part template beside the catalogue, named as such, so that the picture shows no path of
# this machine's.
cp "$build/share/krepiks/part.kprt" "$work/part.kprt"
sqlite3 "$work/bolti.mdb" "update swApp set path_templete_detal = 'part.kprt'"
status=0
# A sanitizer build would refuse the preloaded driver ahead of its own runtime.
(cd "$work" && KREPIKS_SCREENSHOT_DIR="$out" KREPIKS_SCREENSHOT_REPORT="$work/report" \
  ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" \
  LD_PRELOAD="$driver" "$build/krepiks") || status=$?
report=$(cat "$work/report" 2>/dev/null || true)
cad=$(sed -n 's/^cad-pid \([0-9]*\)$/\1/p' <<<"$report")
if ((status != 0)) || [[ -z $cad ]] || grep -q '^error\|^box' <<<"$report"; then
  echo "screenshots.sh: the build in Krepiks did not finish (exit code $status):" >&2
  echo "${report:-no report}" >&2
  exit 1
fi

# The CAD window: the shown top-level window of krepiks-cad, the only program left on the
# display. No window manager runs, so nothing covers it.
window=
for id in $(xwininfo -root -children | awk '/\("krepiks-cad" / {print $1}'); do
  info=$(xwininfo -id "$id")
  width=$(awk '/^ *Width:/ {print $2}' <<<"$info")
  if grep -q 'Map State: IsViewable' <<<"$info" && ((width >= 400)); then
    window=$id
  fi
done
if [[ -z $window ]]; then
  echo "screenshots.sh: the CAD window is not on the display" >&2
  exit 1
fi
import -silent -window "$window" "$out/cad-window.png"
echo "Pictures: $out/design-window.png $out/cad-window.png"
