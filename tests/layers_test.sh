#!/usr/bin/env bash
# The layer check on trees of one file: each row plants a file with one
# include on its second line, and gives the check's exit status and what it
# must name.
set -uo pipefail
check=$(dirname "$0")/layers.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failed=0
while IFS='|' read -r file text want said; do
  [ -n "$file" ] || continue
  rm -rf "$tmp/src"
  mkdir -p "$(dirname "$tmp/src/$file")"
  printf '// planted\n%s\n' "$text" >"$tmp/src/$file"
  out=$("$check" "$tmp/src" 2>&1)
  status=$?
  if [ "$status" != "$want" ] || [[ $out != *"$said"* ]]; then
    echo "FAIL $file [$text]: exit $status (want $want), output: $out" >&2
    failed=1
  fi
done <<EOF
status/a.cpp|#include "status/b.h"|0|points down
status/a.cpp|#include "support/buf.h"|0|points down
status/a.cpp|#include <sys/stat.h>|0|points down
status/a_test.cpp|#include "test_support.h"|0|points down
status/a.cpp|#include "actions/actions.h"|1|src/status/a.cpp:2: status (rank 2) includes "actions/actions.h" of actions (rank 1)
status/a.cpp|#include "login/code.h"|1|status (rank 2) includes "login/code.h" of login (rank 2)
support/a.h|  #  include <tool/runner.h>|1|src/support/a.h:2: support (rank 6) includes "tool/runner.h"
status/a.cpp|#include "test_support.h"|1|src/status/a.cpp:2: "test_support.h" names no folder
status/a.cpp|#include "nowhere/x.h"|1|"nowhere/x.h" is in no folder of the layer table
extra/a.cpp|#include "support/buf.h"|1|src/extra: a folder missing from the layer table
a.cpp|#include "support/buf.h"|1|src/a.cpp: every source lives in a folder
EOF
exit "$failed"
