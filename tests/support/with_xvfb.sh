#!/usr/bin/env bash
# Runs a command on a private X server with Mesa's software OpenGL, then ends the server.
# KREPIKS_XVFB_ARGS adds options of the server's own (say "-extension GLX", for a display
# without OpenGL).
# The server chooses a free display itself and reports it once it accepts connections, so
# runs beside each other never collide and nothing waits on a guess.
set -euo pipefail
if (($# == 0)); then
  echo "usage: $0 command [arguments...]" >&2
  exit 2
fi
dir=$(mktemp -d)
server=
finish() {
  if [[ -n $server ]]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap finish EXIT
trap 'exit 143' TERM INT

# Only holders of this cookie may connect. The server takes every cookie in its file,
# whatever display it names; clients look theirs up by display, added once it is known.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
: >"$dir/auth"
xauth -q -f "$dir/auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
mkfifo "$dir/display"
# shellcheck disable=SC2086 # the extra options are words of their own
Xvfb -displayfd 3 -nolisten tcp -auth "$dir/auth" -screen 0 1280x1024x24 ${KREPIKS_XVFB_ARGS:-} \
  3>"$dir/display" >"$dir/server.log" 2>&1 &
server=$!
display=
read -r display <"$dir/display" || true
if [[ ! $display =~ ^[0-9]+$ ]]; then
  echo "Xvfb did not start:" >&2
  cat "$dir/server.log" >&2
  exit 1
fi
xauth -q -f "$dir/auth" add ":$display" MIT-MAGIC-COOKIE-1 "$cookie"

export DISPLAY=":$display" XAUTHORITY="$dir/auth"
export QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1
status=0
"$@" || status=$?
exit "$status"
