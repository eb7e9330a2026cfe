#!/usr/bin/env bash
# Runs every bench program of a build folder and prints one table: figure, target, measured,
# and whether the target holds ("-" for figures only reported). The programs' own lines go to
# BUILD/bench.log. Exits non-zero only when a program could not run.
#
#   bench/run_benches.sh BUILD
set -uo pipefail

build=${1:-build}
bin="$build/bench"
log="$build/bench.log"
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT

run() {
  echo "== $*" >>"$log"
  "$@" 2>>"$log" | tee -a "$log" | grep '^ROW|' >>"$rows"
  local rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || echo "ROW|$(basename "$1") exited with $rc|runs|failed|no" >>"$rows"
}

: >"$log"
load=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo '?')
echo "QUARVEL benchmarks: $(nproc) cores, load average $load before the run; details in $log"

run "$bin/cores_bench"
run "$bin/link_bench" --rounds 5
run "$bin/gang_bench" --ports 8 --large 32
QT_QPA_PLATFORM=offscreen run "$bin/desktop_link_bench" --rounds 5
QT_QPA_PLATFORM=offscreen run "$bin/sampling_idle_bench" 10
# HISTORY_SERVER=postgresql://host/database adds a station of eight ports writing to that server
# (scripts/history-server.sh start makes a throwaway one).
run "$bin/history_bench" ${HISTORY_SERVER:+--server "$HISTORY_SERVER"}
if command -v xvfb-run >/dev/null 2>&1; then
  run xvfb-run -a "$bin/startup_bench" --quarvel "$build/app/quarvel" --floor "$bin/minimal_window" \
    --ctl "$build/cli/quarvelctl" --rounds 5
else
  echo "xvfb-run not found: start-up measured offscreen" >&2
  run "$bin/startup_bench" --quarvel "$build/app/quarvel" --floor "$bin/minimal_window" \
    --ctl "$build/cli/quarvelctl" --rounds 5
fi

echo
awk -F'|' '
  { figure[NR] = $2; target[NR] = $3; measured[NR] = $4; holds[NR] = $5
    if (length($2) > w1) w1 = length($2); if (length($3) > w2) w2 = length($3)
    if (length($4) > w3) w3 = length($4) }
  END {
    if (w1 < 6) w1 = 6; if (w2 < 6) w2 = 6; if (w3 < 8) w3 = 8
    fmt = "%-" w1 "s  %-" w2 "s  %-" w3 "s  %s\n"
    printf fmt, "figure", "target", "measured", "holds"
    line = ""; for (i = 0; i < w1 + w2 + w3 + 11; ++i) line = line "-"; print line
    for (i = 1; i <= NR; ++i) printf fmt, figure[i], target[i], measured[i], holds[i]
  }' "$rows"
echo "load average after the run: $(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo '?')"
echo "targets holding: $(grep -c '|yes$' "$rows") of $(grep -c -E '\|(yes|no)$' "$rows")"
# A figure missing its target is reported, not an error; a program that could not run is.
! grep -q '|failed|no$' "$rows"
