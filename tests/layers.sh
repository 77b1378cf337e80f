#!/usr/bin/env bash
# Fails on any include under src/ that points against the layers: a file may
# include its own folder's headers and those of folders ranked below its own
# (a higher number), never one of the same rank or above. Each wrong include
# is named with its file and line.
# Usage: tests/layers.sh [SRC_DIR]   (default: the src/ beside tests/)
set -uo pipefail
[ $# -gt 0 ] || cd "$(dirname "$0")/.."
src=${1:-src}
src=${src%/}

# The layers, top (the request's entry) to bottom (what everything uses).
declare -A rank=(
  [request]=0 # entry, gate, routes, page, operator options
  [actions]=1 # what each action does and answers
  [status]=2  # locations, status record and document, collection
  [login]=2   # what a pasted code means
  [tool]=3    # the tools' words, the command line, the runner
  [cgi]=4     # query, request body, response writers
  [platform]=5
  [support]=6
)

shopt -s nullglob
quoted_or_angled='["<]([^">]*)[">]'
failures=0
fail() {
  echo "$1" >&2
  failures=$((failures + 1))
}

for dir in "$src"/*/; do
  folder=$(basename "$dir")
  [ -n "${rank[$folder]+set}" ] || fail "$src/$folder: a folder missing from the layer table in $0"
done
for file in "$src"/*; do
  [ -d "$file" ] || fail "$file: every source lives in a folder of the layer table"
done

# file:line:text of every include, quoted or angled.
includes=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "$src" \
  --include='*.h' --include='*.cpp' || true)
while IFS= read -r found; do
  [ -n "$found" ] || continue
  file=${found%%:*}
  rest=${found#*:}
  line=${rest%%:*}
  text=${rest#*:}
  folder=${file#"$src"/}
  folder=${folder%%/*}
  [ -n "${rank[$folder]+set}" ] || continue # said above
  [[ $text =~ $quoted_or_angled ]] || continue
  target=${BASH_REMATCH[1]}
  to=${target%%/*}
  where="$file:$line"
  if [ "$to" = "$target" ]; then
    # No folder: only a unit test may use one of the tests' own headers.
    [[ $text == *'"'* && $file != *_test.cpp ]] &&
      fail "$where: \"$target\" names no folder; program code includes by folder"
    continue
  fi
  if [ -z "${rank[$to]+set}" ]; then
    [[ $text == *'"'* ]] && fail "$where: \"$target\" is in no folder of the layer table"
    continue
  fi
  [ "$to" = "$folder" ] && continue
  if [ "${rank[$to]}" -le "${rank[$folder]}" ]; then
    fail "$where: $folder (rank ${rank[$folder]}) includes \"$target\" of $to (rank ${rank[$to]}); an include may point only to a folder ranked below its own"
  fi
done <<<"$includes"

if [ "$failures" -gt 0 ]; then
  echo "layers: $failures include(s) or folder(s) against the layers" >&2
  exit 1
fi
echo "layers: every include under $src points down"
