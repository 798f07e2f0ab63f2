#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on Qt's offscreen platform: the
# normal build and the Debian package made from it, then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets for a bounded time
# each. Prints how long each stage took.
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
  local line
  while read -r line; do
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
      failed=$((failed + BASH_REMATCH[1]))
      passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
  done < <(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log")
  rm -f "$log"
  return "$code"
}
# ctest inside a private session bus, so tests never touch the developer's own.
suite() {
  counted dbus-run-session -- ctest "$@"
}
trap report EXIT

stage "installs" "$root/tools/install-deps.sh"
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
