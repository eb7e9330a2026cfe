#!/usr/bin/env bash
# The history of a line on a real PostgreSQL server (scripts/history-server.sh): two stations
# program at once; the server is stopped in the middle of the run and started again, and every
# record spooled meanwhile must arrive once, in each station's order; a wrong password is
# refused before the first frame, with a clear message. Each station has a home of its own (its
# spool). Run by .ci/run; by hand:
#
#   tests/history/server_end_to_end.sh build/cli/quarvelctl
set -euo pipefail
ctl=$(realpath "${1:-build/cli/quarvelctl}")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
chmod 755 "$work" # the server's own user (postgres, under root) reaches its folder in here
server="$work/server"
trap '"$root/scripts/history-server.sh" remove "$server" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "history server end-to-end: FAILED: $*" >&2; exit 1; }

"$root/scripts/history-server.sh" start "$server" >/dev/null
url=$(cat "$server/url")
export PGPASSFILE="$server/pgpass"
psql() { /usr/lib/postgresql/*/bin/psql -h "$server" -U quarvel -d history -Atqc "$1"; }

# A coin data file: the selector's factory memory as a read leaves it.
XDG_DATA_HOME="$work/setup" "$ctl" read --port sim --no-history -o "$work/coins.cdt"

per_station=12
station() { # station NAME: one gang attempt after another, each recorded
  local name=$1 i
  for ((i = 1; i <= per_station; i++)); do
    XDG_DATA_HOME="$work/$name" XDG_CONFIG_HOME="$work/$name" \
      "$ctl" gang --port sim --station "$name" --history "$url" "$work/coins.cdt" \
      >>"$work/$name.out" 2>>"$work/$name.err" || fail "station $name, attempt $i: $(tail -n 3 "$work/$name.err")"
    # Half-way the server goes away for a while (station A's turn to say when).
    if [ "$name" = A ] && [ "$i" -eq 4 ]; then touch "$work/stop-now"; fi
  done
}

station A &
a=$!
station B &
b=$!
while [ ! -e "$work/stop-now" ]; do sleep 0.1; done
"$root/scripts/history-server.sh" stop "$server"
sleep 3
"$root/scripts/history-server.sh" start "$server" >/dev/null
wait "$a" || fail "station A"
wait "$b" || fail "station B"
grep -q "records\? waiting for the server" "$work/A.err" "$work/B.err" ||
  fail "no station said that records wait for the server"

# Anything still spooled goes with the next attempt of its station.
for name in A B; do
  XDG_DATA_HOME="$work/$name" "$ctl" read --port sim --history "$url" >/dev/null 2>>"$work/$name.err" ||
    fail "the last read of station $name"
done

total=$((2 * per_station + 2))
rows=$(psql "SELECT COUNT(*) FROM operations")
distinct=$(psql "SELECT COUNT(DISTINCT id) FROM operations")
[ "$rows" -eq "$total" ] || fail "$rows rows on the server, $total attempts made"
[ "$distinct" -eq "$rows" ] || fail "$rows rows but $distinct attempts"
for name in A B; do
  # Arrival order (seq) is the order the attempts were made in (their time).
  out_of_order=$(psql "SELECT COUNT(*) FROM (SELECT at_utc, LAG(at_utc) OVER (ORDER BY seq) AS before
                       FROM operations WHERE station = '$name') t WHERE before > at_utc")
  [ "$out_of_order" -eq 0 ] || fail "station $name: $out_of_order records arrived out of order"
done

# A wrong password: refused before the port is opened, said plainly, nothing recorded.
set +e
PGPASSFILE=/dev/null PGPASSWORD=wrong XDG_DATA_HOME="$work/C" \
  "$ctl" read --port sim --trace --history "$url" >"$work/C.out" 2>"$work/C.err"
code=$?
set -e
[ "$code" -eq 1 ] || fail "a wrong password: exit code $code, not 1"
grep -q "refused the login" "$work/C.err" || fail "a wrong password: $(cat "$work/C.err")"
grep -q "wrong" "$work/C.err" && fail "the password was printed"
grep -q " -> \|<- " "$work/C.err" && fail "a frame was sent: $(cat "$work/C.err")"
[ "$(psql "SELECT COUNT(*) FROM operations")" -eq "$total" ] || fail "a refused login recorded something"

echo "history server end-to-end: $rows records from two stations, the server stopped and started in between: none lost, none doubled, each station's in order; a wrong password refused"
