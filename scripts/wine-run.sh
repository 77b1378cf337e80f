#!/usr/bin/env bash
# Runs one Windows program under wine: ctest's emulator for the Windows test
# programs, and the process suite's launcher of the plugin. The one place of
# the rule for retrying a start that wine itself failed.
#
# A GoogleTest program prints before it runs any test, and the plugin prints
# on every path, so a run that ends with a failing status and no output at
# all never started: wine could not start it. Only such a run is tried again,
# at most twice, and each retry is said on standard error (and appended to
# WINE_RETRY_LOG when that is set). A run that printed anything is never
# repeated: its failure is the program's. Nor is a run ended by a signal,
# which a test sent on purpose; this script then ends by the same signal.
set -uo pipefail
: "${PATH:=/usr/bin:/bin}" # a caller's clean environment may have none
dir=$(mktemp -d)
out=$dir/out err=$dir/err
trap 'rm -rf "$dir"' EXIT
for attempt in 1 2 3; do
  # The outer redirection keeps bash's own note of a killed run ("Killed")
  # from the caller's standard error.
  { wine "$@" >"$out" 2>"$err"; } 2>/dev/null
  status=$?
  if [ "$status" -eq 0 ] || [ "$status" -gt 128 ] || [ -s "$out" ] || [ -s "$err" ] ||
    [ "$attempt" -eq 3 ]; then
    break
  fi
  note="wine could not start $(basename "$1") (exit $status, no output); retry $attempt of 2"
  echo "wine-run: $note" >&2
  [ -z "${WINE_RETRY_LOG:-}" ] || echo "$note" >>"$WINE_RETRY_LOG"
done
# Each cat only when needed: one process less for each run of a suite.
[ ! -s "$out" ] || cat "$out"
[ ! -s "$err" ] || cat "$err" >&2
if [ "$status" -gt 128 ]; then
  rm -rf "$dir"
  trap - EXIT
  kill -s "$((status - 128))" $$ 2>/dev/null
fi
exit "$status"
