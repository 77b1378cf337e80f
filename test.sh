#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, then runs the unit and
# process-level tests in the normal build (GCC), under the sanitizers and in a
# clang Release build, the Windows build under wine (scripts/windows-tests.sh),
# a short run of every fuzz target (FUZZ_SECONDS each, default 30), the
# browser tests of the console against a real lighttpd setup, and the plugin
# behind each Linux web server with the configurations under deploy/.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh $(cat scripts/build-packages.txt)

for preset in default sanitize clang; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

scripts/windows-tests.sh

echo "== fuzz targets"
fuzz/run.sh "${FUZZ_SECONDS:-30}"

echo "== browser tests"
scripts/ensure-packages.sh lighttpd chromium ca-certificates
command -v node >/dev/null || scripts/ensure-packages.sh nodejs npm
echo "node $(node --version), npm $(npm --version), $(chromium --version 2>/dev/null)"
npm ci --no-audit --no-fund
node --test tests/browser/

echo "== web servers: the deploy/ configurations under lighttpd, Apache httpd (mod_cgid, mod_cgi), nginx + fcgiwrap"
scripts/ensure-packages.sh lighttpd apache2 nginx fcgiwrap chromium
command -v node >/dev/null || scripts/ensure-packages.sh nodejs npm
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
node --test tests/servers/
# The browser full cycle ran under lighttpd above; here under the others.
for server in apache apache-cgi nginx; do
  SERVER=$server node --test tests/browser/cycle.test.mjs
done

echo "== load smoke (8 clients through the demo's web server)"
tests/load/run.sh 8 10
