#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 60) from its seed
# corpus, after replaying every kept regression input. The corpus in the
# repository is never changed; new inputs go to a scratch folder.
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(json query code scan_creds last_json_line request tool_args)

scripts/ensure-packages.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  bin=build-fuzz/fuzz/fuzz_$t
  regressions=(fuzz/regressions/$t/*)
  if [ -e "${regressions[0]}" ]; then
    "$bin" "${regressions[@]}" >"$work/$t.replay.log" 2>&1 || { cat "$work/$t.replay.log"; exit 1; }
  fi
  mkdir -p "$work/$t"
  cp fuzz/corpus/$t/* "$work/$t/"
  if ! "$bin" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/$t-" \
      "$work/$t" >"$work/$t.log" 2>&1; then
    tail -40 "$work/$t.log"
    echo "fuzz_$t: finding kept in $work (copy it to fuzz/regressions/$t/)" >&2
    trap - EXIT
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$t.log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" | tail -1 | grep -o '[0-9]*')
  edges=$(grep -o 'Loaded 1 modules *([0-9]* inline 8-bit counters' "$work/$t.log" | grep -o '[0-9]* inline' | grep -o '[0-9]*')
  echo "fuzz_$t: ${seconds}s, $runs executions, $cov of $edges edges covered, no findings"
done
