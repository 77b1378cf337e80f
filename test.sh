#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, then runs the unit and
# process-level tests in the normal build and again under the sanitizers, the
# Windows build under wine (scripts/windows-tests.sh), and a short run of every
# fuzz target (FUZZ_SECONDS each, default 30).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh $(cat scripts/build-packages.txt)

for preset in default sanitize; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

scripts/windows-tests.sh

echo "== fuzz targets"
fuzz/run.sh "${FUZZ_SECONDS:-30}"
