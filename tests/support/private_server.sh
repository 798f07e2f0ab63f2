# shellcheck shell=bash
# Sourced by the scripts that run a command beside a private display server (with_xvfb.sh,
# with_weston.sh): the usage check, a folder of the script's own, and the end that takes the
# server, the folder and the reaper (when the script starts one) with it however the script
# ends. The script sets server to the server's pid, and reaper to the reaper's pipe.
if (($# == 0)); then
  echo "usage: $0 command [arguments...]" >&2
  exit 2
fi
dir=$(mktemp -d)
server=
reaper=
finish() {
  if [[ -n $server ]]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$dir"
  # Let go of the reaper only now that nothing is left for it.
  if [[ -n $reaper ]]; then
    exec {reaper}>&-
  fi
}
trap finish EXIT
trap 'exit 143' TERM INT

# Runs the command and exits with its status. The command must not hold the reaper's pipe:
# the reaper would wait for it too.
run_command() {
  local status=0
  # What the command's programs leave in the temporary folder (FreeCAD's start page leaves
  # a folder each time) goes with the script's folder.
  mkdir "$dir/tmp"
  export TMPDIR="$dir/tmp"
  if [[ -n $reaper ]]; then
    "$@" {reaper}>&- || status=$?
  else
    "$@" || status=$?
  fi
  exit "$status"
}
