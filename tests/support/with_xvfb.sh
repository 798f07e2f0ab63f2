#!/usr/bin/env bash
# Runs a command on a private X server with Mesa's software OpenGL, then ends the server.
# KREPIKS_XVFB_ARGS adds options of the server's own (say "-extension GLX", for a display
# without OpenGL).
# The server chooses a free display itself and reports it once it accepts connections, so
# runs beside each other never collide and nothing waits on a guess.
# The server ends with the script however the script ends; so does its folder when
# KREPIKS_TEST_REAPER names krepiks-test-reaper (the tests set it). The command finds the
# server's pid in KREPIKS_XVFB_PID.
set -euo pipefail
# shellcheck source=SCRIPTDIR/private_server.sh
source "$(dirname "${BASH_SOURCE[0]}")/private_server.sh"

# Only holders of this cookie may connect. The server takes every cookie in its file,
# whatever display it names; clients look theirs up by display, added once it is known.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
: >"$dir/auth"
xauth -q -f "$dir/auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
mkfifo "$dir/display"
# Killed with the script, even by SIGKILL.
# shellcheck disable=SC2086 # the extra options are words of their own
setpriv --pdeathsig TERM -- \
  Xvfb -displayfd 3 -nolisten tcp -auth "$dir/auth" -screen 0 1280x1024x24 ${KREPIKS_XVFB_ARGS:-} \
  3>"$dir/display" >"$dir/server.log" 2>&1 &
server=$!
# The reaper reads a pipe that only this script writes: at its end, once the script is gone,
# it ends the server and removes the folder.
if [[ -n ${KREPIKS_TEST_REAPER:-} ]]; then
  exec {reaper}> >(exec "$KREPIKS_TEST_REAPER" --pid "$server" --remove "$dir")
  if ! wait $!; then
    exec {reaper}>&-
    reaper=
    # A server already gone is reported below, with its log.
    if kill -0 "$server" 2>/dev/null; then
      echo "krepiks-test-reaper did not start" >&2
      exit 1
    fi
  fi
fi
display=
read -r display <"$dir/display" || true
if [[ ! $display =~ ^[0-9]+$ ]]; then
  echo "Xvfb did not start:" >&2
  cat "$dir/server.log" >&2
  exit 1
fi
xauth -q -f "$dir/auth" add ":$display" MIT-MAGIC-COOKIE-1 "$cookie"

export DISPLAY=":$display" XAUTHORITY="$dir/auth"
export QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 KREPIKS_XVFB_PID=$server
run_command "$@"
