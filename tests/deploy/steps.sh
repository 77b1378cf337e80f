#!/usr/bin/env bash
# Prints the command blocks of a document that are marked for one setup, in
# the document's order, as one script. A marked block is a ```sh fence right
# after a line "<!-- deploy-test: SETUP... -->". Fails when a marker is not
# followed by a block, or when no block is marked for the setup.
#
#   tests/deploy/steps.sh DOC SETUP
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 DOC SETUP" >&2; exit 2; }
awk -v setup="$2" '
  inblock && /^```$/ { inblock = 0; next }
  inblock { if (want) print; next }
  armed {
    if ($0 != "```sh") { print FILENAME ":" NR ": a deploy-test marker without a ```sh block" > "/dev/stderr"; exit 3 }
    armed = 0; inblock = 1; next
  }
  /^<!-- deploy-test: .* -->$/ {
    n = split(substr($0, 19, length($0) - 22), names, " ")
    want = 0
    for (i = 1; i <= n; i++) if (names[i] == setup) want = 1
    found += want; armed = 1; next
  }
  END {
    if (armed || inblock) { print FILENAME ": the last marked block is not closed" > "/dev/stderr"; exit 3 }
    if (!found) { print FILENAME ": no block is marked for " setup > "/dev/stderr"; exit 3 }
  }
' "$1"
