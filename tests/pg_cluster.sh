#!/usr/bin/env bash
# A private PostgreSQL cluster for the database tests, in a scratch folder,
# listening on loopback only:
#   pg_cluster.sh start DIR   makes the cluster in DIR the first time (UTF-8,
#                             trust for local users), starts it on a free port
#                             of 127.0.0.1 (the same port again on a restart;
#                             a running cluster is left running),
#                             makes the database "inventory", writes
#                             DIR/odbc.ini with the data source "tally_test"
#                             (driver "PostgreSQL Unicode") and prints the port
#   pg_cluster.sh stop DIR    stops it (nothing when it is not running)
#   pg_cluster.sh remove DIR  stops it and removes DIR
# PostgreSQL refuses to run as root: as root the server runs as user postgres.
# Exit code 77 when the PostgreSQL binaries are missing (PG_BIN, default
# /usr/lib/postgresql/15/bin).
set -eu
BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
command=${1:?start, stop or remove}
dir=${2:?the cluster folder}

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

stop_cluster() {
    [ -f "$dir/data/postmaster.pid" ] || return 0
    as_owner "$BIN/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null 2>&1 || true
}

case "$command" in
start)
    [ -x "$BIN/initdb" ] && [ -x "$BIN/pg_ctl" ] || { echo "no PostgreSQL binaries in $BIN" >&2; exit 77; }
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        as_owner "$BIN/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C >"$dir/initdb.log" 2>&1 ||
            { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    [ -f "$dir/port" ] || free_port >"$dir/port"
    port=$(cat "$dir/port")
    if ! as_owner "$BIN/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
        as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
            -o "-p $port -k $dir -c listen_addresses=127.0.0.1" start >/dev/null ||
            { tail -n 20 "$dir/server.log" >&2; exit 1; }
    fi
    psql=("$BIN/psql" -h 127.0.0.1 -p "$port" -U postgres -X -q -t -A)
    if [ "$("${psql[@]}" -d postgres -c "SELECT 1 FROM pg_database WHERE datname = 'inventory'")" != 1 ]; then
        "${psql[@]}" -d postgres -c "CREATE DATABASE inventory ENCODING 'UTF8' TEMPLATE template0" >/dev/null
    fi
    cat >"$dir/odbc.ini" <<INI
[tally_test]
Driver = PostgreSQL Unicode
Servername = 127.0.0.1
Port = $port
Database = inventory
Username = postgres
INI
    echo "$port"
    ;;
stop)
    stop_cluster
    ;;
remove)
    stop_cluster
    rm -rf "$dir"
    ;;
*)
    echo "pg_cluster.sh: unknown command $command (start, stop or remove)" >&2
    exit 2
    ;;
esac
