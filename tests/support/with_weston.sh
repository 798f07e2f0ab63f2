#!/usr/bin/env bash
# Runs a command in a private Wayland session, as Debian's GNOME desktop offers one: weston
# on its headless backend, with XWayland for X11 programs. The command gets WAYLAND_DISPLAY,
# DISPLAY and XDG_SESSION_TYPE=wayland, and QT_QPA_PLATFORM is unset, so that each program
# picks its platform as it would on the desktop. Everything ends with the script.
set -euo pipefail
# shellcheck source=SCRIPTDIR/private_server.sh
source "$(dirname "${BASH_SOURCE[0]}")/private_server.sh"

export XDG_RUNTIME_DIR="$dir/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# XWayland listens where every X server does; the folder is the machine's, made as X makes it.
[[ -d /tmp/.X11-unix ]] || mkdir -m 1777 /tmp/.X11-unix 2>/dev/null || true
socket=krepiks-wayland
# weston 10 takes its backend and shell by file name, later versions by name, as --help says.
# The shell: weston 14's kiosk shell crashes now and then as an XWayland window comes up (8
# runs in 12 here), its desktop shell does not; under weston 10's desktop shell Krepiks never
# comes up. The desktop shell comes without its lock screen, start-up fade, panel and
# on-screen keyboard: with them a window now and then never showed.
help=$(weston --help 2>&1 || true)
: >"$dir/weston.ini"
if [[ $help == *headless-backend.so* ]]; then
  backend=headless-backend.so shell=kiosk-shell.so
else
  backend=headless shell=desktop
  printf '%s\n' '[shell]' 'locking=false' 'startup-animation=none' 'panel-position=none' \
    '[input-method]' 'path=' >"$dir/weston.ini"
fi
setpriv --pdeathsig TERM -- \
  weston --config="$dir/weston.ini" --backend="$backend" --shell="$shell" --xwayland --idle-time=0 \
  --socket="$socket" --log="$dir/weston.log" >/dev/null 2>&1 &
server=$!
# weston says which X display its XWayland took once it listens there.
display=
deadline=$((SECONDS + 60))
while [[ -z $display ]]; do
  if ! kill -0 "$server" 2>/dev/null || ((SECONDS > deadline)); then
    echo "weston did not start a session with XWayland:" >&2
    cat "$dir/weston.log" >&2 || true
    exit 1
  fi
  if [[ -S $XDG_RUNTIME_DIR/$socket ]]; then
    display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log" | head -1)
  fi
  [[ -n $display ]] || sleep 0.05
done

export WAYLAND_DISPLAY=$socket DISPLAY=$display XDG_SESSION_TYPE=wayland LIBGL_ALWAYS_SOFTWARE=1
unset QT_QPA_PLATFORM XAUTHORITY
status=0
"$@" || status=$?
# A failure may be the compositor's: its log says whether it, or XWayland, went away.
if ((status != 0)); then
  echo "weston's log:" >&2
  cat "$dir/weston.log" >&2 || true
fi
exit "$status"
