#!/usr/bin/env bash
# Runs the tests in stages; installs what the chosen stages need first.
#
#   ./test.sh              every stage, in the order below (CI runs this)
#   ./test.sh quick        the default build's unit and process tests only
#   ./test.sh STAGE...     the stages named
#   ./test.sh --list       the stages and what each runs
#
# Each stage prints its time; the run ends with a table of them.
set -euo pipefail
cd "$(dirname "$0")"

stages=(default sanitize clang windows fuzz scripts browser servers load)
declare -A about=(
  [default]="unit and process tests, GCC build (build/)"
  [sanitize]="the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-sanitize/)"
  [clang]="the same in a clang Release build (build-clang/)"
  [windows]="the Windows build under wine (scripts/windows-tests.sh)"
  [fuzz]="every fuzz target for FUZZ_SECONDS each, default 30 (fuzz/run.sh)"
  [scripts]="our scripts' command lines and the docs' links (tests/scripts/)"
  [browser]="the console in chromium behind lighttpd (tests/browser/)"
  [servers]="the deploy/ configurations under lighttpd, Apache httpd and nginx"
  [load]="8 clients for 10 s through the demo's web server (tests/load/run.sh)"
)
# What each stage needs: lines of scripts/packages.txt.
declare -A needs=(
  [default]=build [sanitize]=build [clang]=build [windows]="build windows"
  [fuzz]=fuzz [scripts]=node [browser]="build browser node"
  [servers]="build servers node" [load]="build demo node"
)

list() {
  echo "stages (./test.sh runs them all, in this order):"
  for s in "${stages[@]}"; do printf '  %-9s %s\n' "$s" "${about[$s]}"; done
  echo "  quick     the default stage alone"
}

[ "${1:-}" != --list ] || { list && exit 0; }
[ $# -gt 0 ] || set -- "${stages[@]}"
chosen=()
# Every name is checked before anything runs: a typo costs no build.
for s; do
  [ "$s" != quick ] || s=default
  [ -n "$s" ] && [ -n "${about[$s]+set}" ] || { echo "test.sh: no stage '$s'" >&2 && list >&2 && exit 2; }
  chosen+=("$s")
done

preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}
# The stages that serve the console run the default build.
built() { cmake --preset default >/dev/null && cmake --build --preset default; }
node_modules() { [ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund; }

stage_default() { preset default; }
stage_sanitize() { preset sanitize; }
stage_clang() { preset clang; }
stage_windows() { scripts/windows-tests.sh; }
stage_fuzz() { fuzz/run.sh "${FUZZ_SECONDS:-30}"; }
stage_scripts() { node --test tests/scripts/; }
stage_browser() {
  built
  echo "node $(node --version), npm $(npm --version), $(chromium --version 2>/dev/null)"
  npm ci --no-audit --no-fund
  node --test tests/browser/
}
stage_servers() {
  built
  node_modules
  node --test tests/servers/
  # The browser's full cycle ran under lighttpd in the browser stage.
  for server in apache apache-cgi nginx; do
    SERVER=$server node --test tests/browser/cycle.test.mjs
  done
}
stage_load() {
  built
  tests/load/run.sh 8 10
}

rows=()
table() {
  echo "== stage times"
  printf '  %-9s %5s s\n' "${rows[@]}"
}
running=""
started=$SECONDS
# A failing command ends the run (set -e); the table still says where.
trap 'if [ -n "$running" ]; then rows+=("$running" "FAILED after $((SECONDS - since))"); table; fi' EXIT

running=packages since=$SECONDS
wanted=()
for s in "${chosen[@]}"; do wanted+=(${needs[$s]}); done
scripts/ensure-packages.sh "${wanted[@]}"
rows+=(packages $((SECONDS - since)))
for s in "${chosen[@]}"; do
  echo "== $s: ${about[$s]}"
  running=$s since=$SECONDS
  "stage_$s"
  rows+=("$s" $((SECONDS - since)))
  echo "== $s: passed in $((SECONDS - since)) s"
done
running=""
rows+=(total $((SECONDS - started)))
table
