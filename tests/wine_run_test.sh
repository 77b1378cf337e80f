#!/usr/bin/env bash
# The wine retry rule of scripts/wine-run.sh, against a stand-in wine that
# plays one row's starts in turn: which runs are tried again, how often, what
# is logged, and what the caller gets.
set -uo pipefail
run=$(cd "$(dirname "$0")/.." && pwd)/scripts/wine-run.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"
# Starts: "ok" prints and succeeds, "silent N" exits N without a byte, "says N"
# exits N after a line on stderr, "killed" dies of SIGKILL without a byte.
cat >"$tmp/bin/wine" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$PLAY.args"
n=$(($(wc -l <"$PLAY.args")))
what=$(sed -n "${n}p" "$PLAY")
case $what in
  ok) echo "out $n" ;;
  silent*) exit "${what#silent }" ;;
  says*) echo "err $n" >&2 && exit "${what#says }" ;;
  killed) kill -KILL $$ ;;
esac
EOF
chmod +x "$tmp/bin/wine"

failed=0
while IFS='|' read -r starts want_runs want_status want_retries want_err want_out; do
  [ -n "$starts" ] || continue
  export PLAY=$tmp/play WINE_RETRY_LOG=$tmp/retries
  rm -f "$PLAY" "$PLAY.args" "$WINE_RETRY_LOG"
  tr ',' '\n' <<<"$starts" >"$PLAY"
  out=$(PATH=$tmp/bin:$PATH "$run" prog.exe --x 2>"$tmp/err")
  status=$?
  runs=$(wc -l <"$PLAY.args")
  retries=$(cat "$WINE_RETRY_LOG" 2>/dev/null | wc -l)
  got="$runs|$status|$retries|$(wc -l <"$tmp/err")|$out"
  want="$want_runs|$want_status|$want_retries|$want_err|$want_out"
  if [ "$got" != "$want" ] || [ "$(sort -u "$PLAY.args")" != "prog.exe --x" ]; then
    echo "FAIL $starts: runs|status|retries|stderr lines|output $got, want $want" >&2
    failed=1
  fi
done <<EOF
ok|1|0|0|0|out 1
silent 3,silent 1,ok|3|0|2|2|out 3
silent 1,silent 1,silent 1,ok|3|1|2|2|
says 1,ok|1|1|0|1|
killed,ok|1|137|0|0|
EOF
exit "$failed"
