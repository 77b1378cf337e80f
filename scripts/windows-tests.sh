#!/usr/bin/env bash
# Builds the Windows programs (static .exe, mingw-w64) and tests them under
# wine: the unit tests through ctest with wine as the emulator, then the
# native process-level suite run against the .exe files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh build windows
start=$SECONDS

echo "== windows build"
cmake --preset windows >/dev/null
cmake --build --preset windows
# The process-level suite forks, so it is the native program of the default build.
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target process_tests

# Only DLLs that every Windows node has may be imported: a runtime DLL missing
# on the node kills the program before main, without a word.
win=build-windows
for exe in "$win/plugin_quorincode_login.exe" "$win/tools/quorin-login-standin.exe" \
  "$win/tools/quorin-refresh-standin.exe"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')
  echo "$exe: $(stat -c %s "$exe") bytes, imports: $dlls"
  for dll in $dlls; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | ws2_32.dll | shell32.dll) ;;
      *)
        echo "$exe imports $dll, which is not a system DLL" >&2
        exit 1
        ;;
    esac
  done
done

# A fresh wine prefix for every run, complete before the first test: wineboot
# makes it, and the first wine start returns while wineboot's own processes
# are still writing the registry and starting services; a test started then
# may find no program to start. So wait until every one of them has ended and
# the server with them (wineserver -w), and only then start the persistent
# server the tests share (without one each start brings up its own).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or HTML engine prompts
WINEPREFIX=$(mktemp -d /tmp/wine-prefix-XXXXXX)
export WINEPREFIX
unset DISPLAY
WINE_RETRY_LOG=$(mktemp /tmp/wine-retries-XXXXXX)
export WINE_RETRY_LOG
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$WINE_RETRY_LOG"' EXIT
wineboot --init >/dev/null 2>&1
wineserver -w
wineserver -p
wine cmd /c exit >/dev/null 2>&1

# Wine starts, not tests, are retried, by scripts/wine-run.sh for the unit
# tests and the plugin alike: at most twice, each retry said, never a run that
# printed anything. The process suite's harness adds what only a reply shows,
# a suite tool that wine did not start.
echo "== windows unit tests (wine)"
ctest --preset windows

echo "== windows process-level tests (wine)"
abs=$(pwd)/$win
PLUGIN_TARGET=windows PLUGIN_LAUNCHER=$(pwd)/scripts/wine-run.sh \
  PLUGIN_UNDER_TEST=$abs/plugin_quorincode_login.exe \
  FAKE_TOOL_UNDER_TEST=$abs/tests/fake_tool.exe \
  LOGIN_STANDIN_UNDER_TEST=$abs/tools/quorin-login-standin.exe \
  REFRESH_STANDIN_UNDER_TEST=$abs/tools/quorin-refresh-standin.exe \
  ctest --test-dir build -L process --output-on-failure

echo "== wine start failures retried: $(wc -l <"$WINE_RETRY_LOG")"
cat "$WINE_RETRY_LOG"
echo "== windows part took $((SECONDS - start)) s"
