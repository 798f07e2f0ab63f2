#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on Qt's offscreen platform: the
# normal build and the Debian package made from it, then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets for a bounded time
# each; and, beside all of these from the start, all of it but the sanitizers and fuzzing in
# a Debian 13 system (tools/debian13.sh), whose downloads and test waits leave the cores
# free often enough. Prints how long each stage took.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
timings=()
passed=0
failed=0
stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  timings+=("$(printf '%-32s %4d s' "$name" $((SECONDS - start)))")
}
report() {
  echo "Stage times:"
  printf '  %s\n' "${timings[@]}"
  printf '  %-32s %4d s\n' "whole command" "$SECONDS"
  echo "Tests: $passed passed, $failed failed"
}
# A command that runs ctest, each of whose summaries is counted into the closing line.
counted() {
  local log
  log=$(mktemp)
  set +e
  "$@" 2>&1 | tee "$log"
  local code=${PIPESTATUS[0]}
  set -e
  count "$log"
  rm -f "$log"
  return "$code"
}
# Adds the summaries of every ctest run in a log to the closing line.
count() {
  local line
  while read -r line; do
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
      failed=$((failed + BASH_REMATCH[1]))
      passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
  done < <(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1")
}
# ctest inside a private session bus, so tests never touch the developer's own.
suite() {
  counted dbus-run-session -- ctest "$@"
}
# The Debian 13 jobs run in the background, so that a signal here is acted on at once; they
# are ended with the command, and end their system's mounts and processes themselves
# (setpriv: also when this command is killed outright).
debian13_jobs=()
debian13_logs=$(mktemp -d)
finish() {
  local code=$?
  if ((${#debian13_jobs[@]})); then
    kill -TERM "${debian13_jobs[@]}" 2>/dev/null || true
    wait "${debian13_jobs[@]}" 2>/dev/null || true
  fi
  rm -rf "$debian13_logs"
  report
  exit "$code"
}
# No trap on TERM: one would wait for a running Debian 12 stage to end; bash runs this on
# the signal at once.
trap finish EXIT

stage "installs" "$root/tools/install-deps.sh"
# The Debian 13 system made and up to date, then its build, normal suite, package and the
# package's tests; shown in the last stage.
debian13_began=$(date +%s)
setpriv --pdeathsig TERM -- "$root/tools/debian13.sh" "$@" >"$debian13_logs/run" 2>&1 &
debian13_jobs+=($!)
# Seconds: every C and C++ file as the committed .clang-format lays it out.
stage "format check" "$root/tools/check-format.sh"
stage "normal build" "$root/tools/build.sh"
# The Debian package, which the normal suite then takes apart and runs (label "package").
stage "package build" "$root/tools/package.sh"
KREPIKS_DEB=$(ls "$root"/build/package/krepiks_*.deb)
export KREPIKS_DEB
stage "normal suite" suite --test-dir build --output-on-failure -j"$jobs" "$@"

stage "sanitizer build" bash -c "cmake --preset asan >/dev/null && cmake --build --preset asan -j$jobs"
stage "sanitizer suite" suite --preset asan -j"$jobs" -LE package "$@"

stage "fuzz build" bash -c "cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j$jobs"
stage "fuzz runs" suite --preset fuzz -j"$jobs" "$@"

# Waits for the Debian 13 run started after the installs, then shows what it printed.
debian13() {
  local status=0
  wait "${debian13_jobs[0]}" || status=$?
  timings+=("$(printf '%-32s %4d s' "debian 13 (beside, all of it)" \
    $(($(stat -c %Y "$debian13_logs/run") - debian13_began)))")
  cat "$debian13_logs/run"
  count "$debian13_logs/run"
  return "$status"
}
stage "debian 13 (waited for)" debian13
