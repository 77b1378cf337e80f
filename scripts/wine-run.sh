#!/usr/bin/env bash
# ctest's emulator for the Windows test programs: runs one under wine.
#
# A GoogleTest program prints before it runs any test, so a run that ends with
# a failing status and no output at all never started: wine itself could not
# start it. Only such a run is tried again, at most twice, and each retry is
# reported (and counted in WINE_RETRY_LOG when that is set). A run that
# printed anything is never repeated: its failure is the test's.
set -uo pipefail
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  wine "$@" >"$out" 2>"$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  note="wine could not start $(basename "$1") (exit $status, no output); retry $attempt of 2"
  echo "wine-run: $note" >&2
  [ -z "${WINE_RETRY_LOG:-}" ] || echo "$note" >>"$WINE_RETRY_LOG"
done
cat "$out"
cat "$err" >&2
exit "$status"
