#!/usr/bin/env bash
# A private PostgreSQL server for the tests.
#
#   postgres_fixture.sh start STATE_DIR   make a cluster in a fresh temporary folder, start it
#                                          and write STATE_DIR/connection
#   postgres_fixture.sh stop STATE_DIR    stop that server and remove its folder
#
# The server listens only on a Unix socket in its own folder (no TCP), trusts local
# connections, and runs as an unprivileged user: the caller itself, or "nobody" when
# the caller is root (PostgreSQL refuses to run as root). STATE_DIR/connection holds
# the connection details, one "key=value" a line: host (the socket folder), port, user,
# dbname. A start first stops a server that an interrupted earlier run left behind.
set -euo pipefail

action=${1:-}
state=${2:-}
if [ -z "$action" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
fi
port=5432
user=tabrix
dbname=tabrix

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

pg_bin() {
  local dir
  dir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
  if [ -z "$dir" ] || [ ! -x "$dir/initdb" ]; then
    echo "postgres_fixture: the PostgreSQL server programs are missing (install postgresql; scripts/setup.sh does)" >&2
    exit 1
  fi
  echo "$dir"
}

stop_server() {
  local root
  [ -f "$state/root" ] || return 0
  root=$(cat "$state/root")
  if [ -d "$root/data" ] && [ -f "$root/data/postmaster.pid" ]; then
    cd /
    as_owner "$(pg_bin)/pg_ctl" -D "$root/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  case "$root" in
    /tmp/tabrix-pg.*) rm -rf "$root" ;;
  esac
  rm -f "$state/root" "$state/connection"
}

state=$(realpath -m "$state")
case "$action" in
  start)
    mkdir -p "$state"
    stop_server
    bin=$(pg_bin)
    root=$(mktemp -d /tmp/tabrix-pg.XXXXXX)
    echo "$root" > "$state/root"
    # A start that fails half-way leaves nothing running.
    trap 'stop_server' ERR INT TERM
    mkdir -p "$root/data" "$root/socket"
    if [ "$(id -u)" -eq 0 ]; then chown -R nobody "$root"; fi
    # The server's user may not be allowed into the caller's folder.
    cd "$root"
    as_owner "$bin/initdb" -D "$root/data" -U "$user" -A trust -E UTF8 --locale=C --no-sync >"$state/initdb.log" 2>&1 \
      || { cat "$state/initdb.log" >&2; false; }
    as_owner "$bin/pg_ctl" -D "$root/data" -l "$root/server.log" -w -t 60 \
      -o "-k $root/socket -p $port -c listen_addresses= -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
      start >/dev/null || { cat "$root/server.log" >&2; false; }
    "$bin/createdb" -h "$root/socket" -p "$port" -U "$user" "$dbname"
    printf 'host=%s\nport=%s\nuser=%s\ndbname=%s\n' "$root/socket" "$port" "$user" "$dbname" > "$state/connection"
    trap - ERR INT TERM
    echo "postgres_fixture: server running, socket in $root/socket"
    ;;
  stop)
    stop_server
    echo "postgres_fixture: server stopped"
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
