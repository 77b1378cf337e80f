#!/usr/bin/env bash
# Measures every request against a baseline that sets its floor, in one run,
# and writes the table of medians and ratios to docs/performance.md.
#   bench/run.sh            full run (about 5 minutes)
#   bench/run.sh --smoke    a short run that fails only on a gross regression
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
smoke=0
[ "${1:-}" = "--smoke" ] && smoke=1
runs=$([ $smoke = 1 ] && echo 30 || echo 300)
wrk_seconds=$([ $smoke = 1 ] && echo 2 || echo 5)

scripts/ensure-packages.sh build bench node
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
build=$repo/build
plugin=$build/plugin_quorincode_login
standin=$build/tools/quorin-login-standin

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

# Baselines, built with the same compiler as the plugin and linked statically
# like it, so that a row compares the work and not the loader.
cc=${CC:-gcc}
version_line=$(env -i "$plugin" --version)
$cc -O2 -static -DLINE="\"$version_line\\n\"" bench/hello.c -o "$work/hello"
env -i "$plugin" >"$work/page.bytes"
{
  echo '#include <stdio.h>'
  echo 'static const unsigned char page[] = {'
  od -An -v -tu1 "$work/page.bytes" | tr -s ' \n' ',,' | sed 's/^,//; s/,$//'
  echo '};'
  echo 'int main(void) { fwrite(page, 1, sizeof page, stdout); return 0; }'
} >"$work/page.c"
$cc -O2 -static "$work/page.c" -o "$work/page"
$cc -O2 bench/cgi_baseline.c -o "$work/cgi_baseline"
# The least any CGI program can do here: exist as a process of its own, start
# the tool directly as the plugin does, and write its reply (static, like the
# plugin): two process starts, as a status request needs.
$cc -O2 -static bench/cgi_floor.c -o "$work/cgi_floor"

# A normal node: signed in, a profile, and 64 named accounts.
node_with() {  # DIR ACCOUNTS CREDS_BYTES
  local dir=$1 accounts=$2 bytes=$3 expires
  expires=$(( ($(date +%s) + 3600) * 1000 ))
  mkdir -p "$dir/.quorin/accounts" "$dir/.quorin/tellumar-env"
  printf 'PROVIDER=quorin_code\n' >"$dir/.quorin/tellumar-env/quorin_code.txt"
  local creds="{\"quorinAiOauth\":{\"accessToken\":\"a\",\"refreshToken\":\"r\",\"expiresAt\":$expires,\"subscriptionType\":\"pro\",\"scopes\":[\"user:inference\"]}"
  local pad=$(( bytes - ${#creds} - 14 ))
  [ $pad -gt 0 ] || pad=0
  { printf '%s,"padding":"' "$creds"; head -c "$pad" /dev/zero | tr '\0' 'x'; printf '"}\n'; } \
    >"$dir/.quorin/.credentials.json"
  for i in $(seq 1 "$accounts"); do
    printf '{"quorinAiOauth":{"accessToken":"a","expiresAt":%s}}\n' "$expires" \
      >"$dir/.quorin/accounts/acct$i.json"
  done
}
node_with "$work/node" 64 1024

median() { jq -r '.results[0].median' "$1"; }
peak_kib() { { /usr/bin/time -f %M "$@" 2>&1 >/dev/null || true; } | tail -1; }
time_cmd() {  # NAME JSON -- COMMAND...
  local json=$1; shift
  hyperfine -N -w 20 -r "$runs" --export-json "$json" "$@" >/dev/null 2>&1
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
export QUORIN_CREDS_PATH="$work/node/.quorin/.credentials.json" QUORIN_LOGIN_BIN="$standin"
unset QUERY_STRING BOT_PASSWORD

time_cmd "$work/v_base.json" "$work/hello"
time_cmd "$work/v_plug.json" "$plugin --version"
QUERY_STRING= time_cmd "$work/p_base.json" "$work/page"
QUERY_STRING= time_cmd "$work/p_plug.json" "$plugin"
time_cmd "$work/s_direct.json" "$standin --status"
time_cmd "$work/s_base.json" "/bin/sh -c '\"$standin\" --status 2>/dev/null'"
QUERY_STRING=action=status time_cmd "$work/s_plug.json" "$plugin"
time_cmd "$work/s_floor.json" "$work/cgi_floor"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v s="$1" 'BEGIN { printf "%.3f", s * 1000 }'; }
v_ratio=$(ratio "$(median "$work/v_plug.json")" "$(median "$work/v_base.json")")
p_ratio=$(ratio "$(median "$work/p_plug.json")" "$(median "$work/p_base.json")")
d_ratio=$(ratio "$(median "$work/s_plug.json")" "$(median "$work/s_direct.json")")
s_ratio=$(ratio "$(median "$work/s_plug.json")" "$(median "$work/s_base.json")")
f_ratio=$(ratio "$(median "$work/s_floor.json")" "$(median "$work/s_direct.json")")
pf_ratio=$(ratio "$(median "$work/s_plug.json")" "$(median "$work/s_floor.json")")

# Through the demo's web server: the plugin, then the baseline CGI in its place.
rps() {  # BUILD_DIR -> requests per second at 2 concurrent clients
  local port dir=$work/serve-$RANDOM
  port=$(node -e "const s=require('net').createServer().listen(0,'127.0.0.1',()=>{console.log(s.address().port);s.close()})")
  BUILD_DIR=$1 scripts/serve.sh "$dir" "$port" >/dev/null 2>&1 &
  local server=$!
  for _ in $(seq 100); do [ -e "$dir/node" ] && break; sleep 0.05; done
  node_with "$dir/node" 64 1024
  sleep 0.3
  wrk -t2 -c2 -d"${wrk_seconds}s" "http://127.0.0.1:$port/plugin_quorincode_login?action=status" |
    awk '/Requests\/sec/ { print $2 }'
  kill $server; wait $server 2>/dev/null || true
}
mkdir -p "$work/baseline-build/tools"
cp "$work/cgi_baseline" "$work/baseline-build/plugin_quorincode_login"
ln -s "$build/tools/quorin-login-standin" "$build/tools/quorin-refresh-standin" "$work/baseline-build/tools/"
# Three rounds, plugin and baseline back to back, the median of each: on a
# shared machine the load moves between two runs of several seconds.
w_plug_runs=() w_base_runs=()
for _ in 1 2 3; do
  w_plug_runs+=("$(rps "$build")")
  w_base_runs+=("$(rps "$work/baseline-build")")
done
middle() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
w_plug=$(middle "${w_plug_runs[@]}")
w_base=$(middle "${w_base_runs[@]}")
w_ratio=$(ratio "$w_plug" "$w_base")

row() { printf '| %s | %s | %s | %s | %s | %s |\n' "$@"; }
check() { awk -v r="$1" -v op="$2" -v t="$3" 'BEGIN { ok = op == "<=" ? r <= t : r >= t; print ok ? "met" : "NOT met" }'; }

if [ $smoke = 1 ]; then
  echo "bench smoke: --version $v_ratio, page $p_ratio, status $d_ratio (stand-in alone)," \
    "$pf_ratio (floor), web $w_ratio (x of baseline)"
  # Only a gross regression fails: three times the floor, or a third of its
  # rate. The status against the stand-in alone is shown, not judged: it also
  # counts a process start of its own (the plugin's), whose cost swings with
  # the machine's load far more than the plugin's work does.
  awk -v a="$v_ratio" -v b="$p_ratio" -v c="$pf_ratio" -v d="$w_ratio" \
    'BEGIN { exit !(a < 3 && b < 3 && c < 3 && d > 0.33) }'
  exit
fi

# Memory of each action on a normal node, and growth with the node's size.
QUERY_STRING= peak_page=$(QUERY_STRING= peak_kib "$plugin")
declare -A peak
for action in status start finish cancel refresh; do
  peak[$action]=$(QUERY_STRING="action=$action&code=x" peak_kib "$plugin")
done
growth=()
for n in 0 16 64 1000 200000; do
  node_with "$work/g$n" "$(( n > 1000 ? 0 : n ))" 1024
  # A large folder is made at once; empty files list as signed out.
  [ "$n" -gt 1000 ] && seq -f "$work/g$n/.quorin/accounts/acct%06g.json" 1 "$n" | xargs touch
  QUORIN_CREDS_PATH="$work/g$n/.quorin/.credentials.json" QUERY_STRING=action=status \
    time_cmd "$work/g$n.json" "$plugin"
  growth+=("| $n account files, 1 KiB credentials | $(ms "$(median "$work/g$n.json")") ms |")
done
# The plugin's own peak while the listing is done: the login CLI sleeps, so the
# plugin has read every account file when its high-water mark is taken.
printf '#!/bin/sh\nsleep 2\n' >"$work/slow-cli"
chmod +x "$work/slow-cli"
plugin_hwm() {  # NODE_DIR -> KiB
  QUORIN_CREDS_PATH="$1/.quorin/.credentials.json" QUORIN_LOGIN_BIN="$work/slow-cli" \
    QUERY_STRING=action=status "$plugin" >/dev/null &
  local pid=$!
  sleep 1
  awk '/VmHWM/ { print $2 }' "/proc/$pid/status"
  wait $pid
}
listing_hwm=()
for n in 64 200000; do listing_hwm+=("| $n account files | $(plugin_hwm "$work/g$n") KiB |"); done
for size in 1024 1048576 8388000; do
  node_with "$work/c$size" 0 "$size"
  QUORIN_CREDS_PATH="$work/c$size/.quorin/.credentials.json" QUERY_STRING=action=status \
    time_cmd "$work/c$size.json" "$plugin"
  growth+=("| 0 account files, $size-byte credentials | $(ms "$(median "$work/c$size.json")") ms |")
done

{
  echo "# Performance"
  echo
  echo "Measured by \`bench/run.sh\` on $(date -u +%Y-%m-%d): $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"
  echo "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory, $(uname -sr), $($cc --version | head -1)."
  echo "Medians of $runs runs each (hyperfine), baselines measured in the same run. Ratios only"
  echo "matter: absolute times vary from machine to machine."
  echo
  echo "| Request | Plugin | Baseline | Baseline is | Ratio | Target |"
  echo "|---|---|---|---|---|---|"
  row '`--version`' "$(ms "$(median "$work/v_plug.json")") ms" "$(ms "$(median "$work/v_base.json")") ms" \
    "a static C program printing the same line" "$v_ratio" "≤ 1.2: $(check "$v_ratio" "<=" 1.2)"
  row "console page" "$(ms "$(median "$work/p_plug.json")") ms" "$(ms "$(median "$work/p_base.json")") ms" \
    "a static C program printing the page's $(stat -c %s "$work/page.bytes") bytes" "$p_ratio" "≤ 1.2: $(check "$p_ratio" "<=" 1.2)"
  row "status, stand-in login CLI, 64 named accounts" "$(ms "$(median "$work/s_plug.json")") ms" \
    "$(ms "$(median "$work/s_direct.json")") ms" "the stand-in's \`--status\` run directly" "$d_ratio" \
    "≤ 2.0: $(check "$d_ratio" "<=" 2.0)"
  row "status, the same" "$(ms "$(median "$work/s_plug.json")") ms" \
    "$(ms "$(median "$work/s_floor.json")") ms" "the floor: a static C program that starts the stand-in directly and writes its reply" "$pf_ratio" \
    "≤ 1.2: $(check "$pf_ratio" "<=" 1.2)"
  row "status, the same" "$(ms "$(median "$work/s_plug.json")") ms" \
    "$(ms "$(median "$work/s_base.json")") ms" "the stand-in run through \`/bin/sh -c\`" "$s_ratio" \
    "≤ 1.3: $(check "$s_ratio" "<=" 1.3)"
  row "status through the demo's web server, 2 clients (median of 3 rounds of ${wrk_seconds} s)" "$w_plug req/s" "$w_base req/s" \
    "a C CGI running the stand-in through the shell" "$w_ratio" "≥ 0.9: $(check "$w_ratio" ">=" 0.9)"
  echo
  echo "The status floor (\`bench/cgi_floor.c\`): a static C program that starts the same"
  echo 'stand-in directly (`posix_spawnp`, no shell), reads its reply and writes it under a'
  echo "header block: two process starts, as a status request needs, and nothing else. It"
  echo "takes $f_ratio times the stand-in alone; the plugin takes $pf_ratio times the floor. What it"
  echo "does beyond the floor: forking the supervisor that starts the tool and ends its"
  echo "tree (a third process, though without an exec), reading the credentials, the"
  echo "profile and the 64 account files, and writing the status document."
  echo "Starting a static process costs $(ms "$(median "$work/v_base.json")") ms here (the first row's baseline)."
  echo
  echo "The machine is shared with other jobs and was loaded while this ran (load average"
  echo "$load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after, on $(nproc) cores): absolute times are inflated and"
  echo "ratios move from run to run; plugin and baseline of a row are measured back to back."
  echo
  echo "## Peak resident memory (normal node)"
  echo
  echo "GNU time's maximum resident set size: the largest of the plugin and the tools it"
  echo "waited for (for the actions that run a CLI, that is the CLI)."
  echo
  echo "| Action | Peak RSS |"
  echo "|---|---|"
  echo "| console page | $peak_page KiB |"
  for action in status start finish cancel refresh; do echo "| $action | ${peak[$action]} KiB |"; done
  echo
  echo "## The plugin's own peak with many account files"
  echo
  echo "Only the 64 listed names are kept, whatever the folder holds. The plugin's high-water"
  echo "mark (VmHWM) once it has listed the folder, its login CLI still running:"
  echo
  echo "| Accounts folder | Plugin's peak RSS |"
  echo "|---|---|"
  printf '%s\n' "${listing_hwm[@]}"
  echo
  echo "## Status time by node size"
  echo
  echo "The account files are read while the login CLI runs, so their count only shows"
  echo "once reading them takes longer than the CLI; the credentials file is read by both"
  echo "the plugin and the stand-in, so its size shows in full."
  echo
  echo "| Node | Median |"
  echo "|---|---|"
  printf '%s\n' "${growth[@]}"
} >docs/performance.md
cat docs/performance.md
