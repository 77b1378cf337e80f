#!/usr/bin/env bash
# Runs the whole process-level suite under strace and proves that the plugin's
# own processes (the plugin and the supervisor it forks for each tool run)
# never open a file for writing, nor create, rename, link or delete one. The
# CLIs may; they are other processes once they have been exec'd.
#   no_write_check.sh PROCESS_TESTS PLUGIN_PATH
set -euo pipefail
suite=$1
plugin=$2
trace=$(mktemp) log=$(mktemp)
trap 'rm -f "$trace" "$log"' EXIT

# Tests that bound a run's time are left out: ptrace slows every process it
# follows, and their bounds are checked where they run untraced.
strace -f -q -o "$trace" \
  -e trace=clone,clone3,fork,vfork,execve,open,openat,creat,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,rmdir,truncate,link,linkat,symlink,symlinkat \
  "$suite" --gtest_brief=1 --gtest_filter='-ToolDeadline.*:Body.AStalledSenderDoesNotHoldTheProcess' \
  >"$log" 2>&1 || {
  echo "the process suite failed under strace:" >&2
  cat "$log" >&2
  exit 1
}

awk -v plugin="$plugin" '
  # First pass: which process started which; a pid is taken again after it
  # ends, so each of its lives counts apart.
  FNR == NR && $2 == "+++" { life[$1]++; next }
  FNR == NR { if ($0 ~ /(clone3?|v?fork)(\(| resumed>).*= [0-9]+$/) parent[$NF, life[$NF] + 0] = $1; next }
  # A pid belongs to the plugin from its exec of the plugin, or from its start
  # by a pid of the plugin, until it execs anything else or ends.
  !($1 in seen) {
    seen[$1] = 1
    if ((($1, now[$1] + 0) in parent) && (parent[$1, now[$1] + 0] in mine)) mine[$1] = 1
  }
  $2 ~ /^execve\(/ { split($0, q, "\""); if (q[2] == plugin) { mine[$1] = 1; runs++ } else delete mine[$1]; next }
  $2 == "+++" { delete mine[$1]; delete seen[$1]; now[$1]++; next }
  !($1 in mine) { next }
  $0 ~ /"\/dev\/null"/ { next }  # the standard streams of a tool run
  $2 ~ /^(open|openat|creat)\(/ && $0 ~ /O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND/ { print "write-open: " $0; bad++ }
  $2 ~ /^(creat|rename|renameat|renameat2|unlink|unlinkat|mkdir|mkdirat|rmdir|truncate|link|linkat|symlink|symlinkat)\(/ { print "changes a file: " $0; bad++ }
  END {
    printf "plugin runs traced: %d, writes by the plugin itself: %d\n", runs, bad
    exit (bad > 0 || runs < 100)
  }' "$trace" "$trace"
