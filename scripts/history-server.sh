#!/usr/bin/env bash
# A throwaway PostgreSQL server for the history of a line of stations: for the end-to-end test,
# the bench and a developer's hands. It listens on a Unix socket in DIR only (no TCP port), runs
# as an unprivileged user (as root: Debian's postgres account) and keeps everything in DIR.
#
#   scripts/history-server.sh start DIR    make the server in DIR if it is not there, start it,
#                                          and print the lines to use it (URL, PGPASSFILE)
#   scripts/history-server.sh stop DIR     stop it; its data stay, start brings it back
#   scripts/history-server.sh remove DIR   stop it and delete DIR
#
# The login is quarvel with a password made at random, kept in DIR/pgpass (mode 0600, libpq's
# password file): PGPASSFILE=DIR/pgpass quarvelctl ... --history "$(cat DIR/url)".
set -euo pipefail

action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { sed -n '2,13p' "$0" >&2; exit 1; }

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "history-server: PostgreSQL is not installed (apt-get install postgresql)" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

start() {
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    local password
    password=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
    umask 077
    printf '%s\n' "$password" >"$dir/password"
    printf '*:*:*:quarvel:%s\n' "$password" >"$dir/pgpass"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir/password"
    as_owner "$bin/initdb" -D "$dir/data" -U quarvel --pwfile="$dir/password" \
      --auth-local=scram-sha-256 --auth-host=reject >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    rm -f "$dir/password"
    umask 022
  fi
  # Unix socket only, in DIR; reachable by whoever runs the programs.
  chmod 755 "$dir"
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-c listen_addresses= -k $dir -c unix_socket_permissions=0777" start >/dev/null
  local encoded
  encoded=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$dir")
  if ! PGPASSFILE="$dir/pgpass" "$bin/psql" -h "$dir" -U quarvel -d postgres -Atqc \
       "SELECT 1 FROM pg_database WHERE datname = 'history'" | grep -q 1; then
    PGPASSFILE="$dir/pgpass" "$bin/createdb" -h "$dir" -U quarvel history
  fi
  echo "postgresql://quarvel@$encoded/history" >"$dir/url"
  echo "history server in $dir: --history $(cat "$dir/url") with PGPASSFILE=$dir/pgpass"
}

stop() {
  [ -f "$dir/data/postmaster.pid" ] || return 0
  as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
}

case "$action" in
  start) start ;;
  stop) stop ;;
  remove) stop; rm -rf "$dir" ;;
  *) echo "history-server: start, stop or remove, not $action" >&2; exit 1 ;;
esac
