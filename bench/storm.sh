#!/bin/bash
# Log-in storm benchmark (run by hand; prints figures, checks nothing).
#
# Synthetic audit clients (ID packet, hardware packet, 100 programs in five
# software packets of 1,205 bytes each) are sent at an even rate on loopback
# to the real tallyhall.exe under Wine, on a fresh store; afterwards the used
# records and entries of the two database files are counted, and the three
# packet counters of the Server Stats page give the datagrams taken in. The
# same load goes to the baseline receiver (bench/storm_receiver_win32.cpp, a
# dialog that only receives and counts), so every figure has its ratio to
# what the platform allows.
#
#   bash bench/storm.sh [ROW...]     rows: 60 30 search (default: all three)
#     60      10,000 clients in 60 s (1,167 datagrams/s)
#     30      10,000 clients in 30 s (2,333 datagrams/s)
#     60m, 30m  the same rows, and tallyhall once more with the clients'
#             pass manifests and receipts (the sender answers receipts as
#             current clients do; its receipt figures follow the line)
#     search  the highest lossless rate of each program for 10,000 clients:
#             bracketed by the rows above, then STORM_STEPS (3) halvings
#     server:S, baseline:S   one program alone, the clients sent in S seconds
#     open:N  a store of N such clients' reports (N x 100 programs): the time
#             from the start of tallyhall until its list shows all N, and the
#             memory it then holds, against the size of the files
#     60s     tallyhall at 60 s with manifests, then with signed manifests
#             (the server given a site key through its settings dialog's
#             "New Key...", the sender the key text the dialog shows)
#     search:LETTERS  the highest lossless rate of each program named, the
#             searches interleaved step by step (doubled from 1,167/s, or
#             from STORM_FROM, a rate taken as lossless, until a run loses
#             or passes STORM_TO, then STORM_STEPS halvings): b baseline receiver,
#             p tallyhall, m with manifests, s with signed manifests, h with
#             manifests into yesterday's store of the same clients (history
#             on, nothing changed), o the same with the history off
#     history rows of 60 s with manifests: the clients once into a fresh
#             store (yesterday), then again into a copy of it with the history
#             on and off: nothing changed, then 5 % of programs updated
#     stopped the real scoutly.exe against a port nobody answers, timed, beside
#             a pass that tallyhall acknowledges (3 runs each, in turn)
#     fleet-rate   5,000 datagrams/s for 60 s into a store of 3,000 computers,
#             with no inventory window open and with Systems and Software
#             Catalogue open (STORM_PAIRS pairs in turn, default 2)
#     fleet-storm  10,000 clients in 60 s with manifests into a store of
#             100,000 x 100, with both windows open and with none
#     fleet-storm-shared, fleet-rate-shared  the same, every client's
#             program p named alike (the catalogue then gains 100 programs,
#             not 100 a client)
#     fleet-holds  10 reports a second for 30 s into that store: the longest
#             time the main window took to answer a message (pings every
#             10 ms), with both windows open and with none; first the same
#             for 30 s without reports (what the machine itself adds)
#     publish, publish:S  10,000 clients in 60 (or S) s with manifests,
#             tallyhall publishing to a private PostgreSQL (tests/pg_cluster.sh)
#             and not, in turn (STORM_PAIRS pairs, default 2): the datagrams
#             taken, and how long after the last send the database held every
#             computer and program
#   The fleet rows time the catalogue's first counting in the real server
#   (from the menu command until every program is counted) and wait for it
#   before the clients send; their stores are made by open_bench and kept in
#   /tmp/tally-open-bench-N for later runs.
# STORM_CLIENTS (10000) changes the number of clients of every run;
# STORM_SERVER_EXE runs another build of tallyhall.exe. STORM_HISTORY=off
# runs tallyhall without its change history (a directory in the place of
# History.Audit, which it then cannot open), for the paired figures.
# Each measurement holds /tmp/tally-e2e.lock (the lock of the Wine tests)
# while it runs. Build first: bash tools/build.sh.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/wine-env.sh"
WIN_BIN=$TALLY_BIN
SENDER=${TALLY_NATIVE_BIN:-$ROOT/build/native/bin}/storm_sender
CLIENTS=${STORM_CLIENTS:-10000}
STEPS=${STORM_STEPS:-3}
TITLE="Kestrin's Vodirir Ozozu Server Version 1.35"
PER_CLIENT=7
SERVER_EXE=${STORM_SERVER_EXE:-$WIN_BIN/tallyhall.exe}
OPEN_BENCH=${TALLY_NATIVE_BIN:-$ROOT/build/native/bin}/open_bench
HISTORY=${STORM_HISTORY:-on}
SEED=         # a directory whose .Audit files each server run starts from
SEED_EXTRA=0  # the computers of the seed that are not among the clients
WINDOWS=      # 1: Systems and Software Catalogue open before the clients send
PING_MS=      # pings the main window while the clients send (fleet-holds)
PUBLISH=off   # on: tallyhall publishes to the private PostgreSQL (publish)
PG_PORT= PG_DIR=
UPDATED=      # the share of programs the clients report in a newer version
SHARED_NAMES= # 1: every client's program p has the same name
KEY=          # the site key's text, once made
for f in "$SENDER" "$SERVER_EXE" "$WIN_BIN/storm_receiver.exe" "$WIN_BIN/tally_driver.exe"; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f: run tools/build.sh first" >&2; exit 1; }
done

RUN=$(mktemp -d /tmp/tally-storm.XXXXXX)
CHILD=
cleanup() {
    [ -n "$CHILD" ] && kill "$CHILD" 2>/dev/null
    wine_env_stop
    [ -n "$PG_DIR" ] && bash "$ROOT/tests/pg_cluster.sh" remove "$PG_DIR" >/dev/null 2>&1
    rm -rf "$RUN"
}
trap cleanup EXIT
exec 8>/tmp/tally-e2e.lock
wine_env_start "$RUN" || { echo "cannot start the Wine environment" >&2; exit 1; }

drv() {
    timeout 200 "$WINE" "$WIN_BIN/tally_driver.exe" "$@" >"$RUN/driver.out" 2>"$RUN/driver.err"
    local rc=$?
    OUT=$(tr -d '\r' <"$RUN/driver.out")
    return $rc
}
now_ms() { date +%s%3N; }
rate_of() { echo $(((CLIENTS * PER_CLIENT + $1 / 2) / $1)); }  # SECONDS -> datagrams/s
seconds_for() { python3 -c "print(round($CLIENTS * $PER_CLIENT / $1, 3))"; }  # RATE -> seconds

# baseline SECONDS: sets LOSSLESS and LINE.
baseline() {
    local seconds=$1 port sent got span
    port=$(free_udp_port_pair)
    rm -f "$RUN/baseline.out"
    flock 8
    timeout $((${seconds%.*} + 200)) "$WINE" "$WIN_BIN/storm_receiver.exe" "$port" "$(wine_path "$RUN/baseline.out")" \
        3 $((${seconds%.*} + 150)) >/dev/null 2>&1 &
    CHILD=$!
    sleep 2
    "$SENDER" send "$port" "$CLIENTS" "$seconds" >"$RUN/send.out"
    wait "$CHILD"
    CHILD=
    flock -u 8
    sent=$(awk '{print $2}' "$RUN/send.out")
    read -r got span <"$RUN/baseline.out" || { got=0; span=0; }
    LOSSLESS=$([ "$got" = "$sent" ] && echo 1 || echo 0)
    BASE_GOT=$got
    LINE=$(printf 'baseline  : %6d of %6d datagrams received (%5.1f %%); busy %5.1f s after the last send' \
        "$got" "$sent" "$(python3 -c "print(100*$got/$sent)")" \
        "$(python3 -c "print(max(0, $span/1000 - $seconds))")")
}

# settings DATA_DIR PORT: tallyhall's working directory and port in the registry.
settings() {
    local hex
    hex=$(python3 -c "import sys; print(sys.argv[1].encode().ljust(255, b'\0').hex())" "$(wine_path "$1")")
    timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$hex" /f >/dev/null 2>&1
    timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY \
        /d "$(python3 -c "import struct,sys;print(struct.pack('<H',int(sys.argv[1])).hex())" "$2")" /f >/dev/null 2>&1
}

# publish_start: a private PostgreSQL on loopback and unixODBC's data source
# "Inventory" for the programs under Wine (the driver of their bitness).
publish_start() {
    [ -n "$PG_PORT" ] && return 0
    PG_DIR=$(mktemp -d /tmp/tally-pg.XXXXXX)  # its server may run as another user
    PG_PORT=$(bash "$ROOT/tests/pg_cluster.sh" start "$PG_DIR") || { echo "no PostgreSQL cluster" >&2; exit 1; }
    local odbc=$RUN/odbc lib=/usr/lib/i386-linux-gnu/odbc
    [ "$TALLY_WINE_MODE" = win64 ] && lib=/usr/lib/x86_64-linux-gnu/odbc
    mkdir -p "$odbc"
    printf '[PostgreSQL Unicode]\nDriver=%s/psqlodbcw.so\n' "$lib" >"$odbc/odbcinst.ini"
    printf '[Inventory]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=%s\nDatabase=inventory\n' \
        "$PG_PORT" >"$odbc/odbc.ini"
    export ODBCSYSINI=$odbc ODBCINI=$odbc/odbc.ini
}
sql() { timeout 60 psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -X -q -tA "$@"; }

# publish_settings: publishing on (a fresh database) or off, as PUBLISH says.
publish_settings() {
    if [ "$PUBLISH" = on ]; then
        sql -d postgres -c "DROP DATABASE IF EXISTS inventory WITH (FORCE)" -c "CREATE DATABASE inventory"
        timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PublishConnection /t REG_SZ \
            /d "DSN=Inventory;UID=postgres" /f >/dev/null 2>&1
        timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PublishSite /t REG_SZ /d STORM /f >/dev/null 2>&1
    fi
    timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Publish /t REG_BINARY \
        /d "$([ "$PUBLISH" = on ] && echo 01 || echo 00)" /f >/dev/null 2>&1
}

# publish_wait T_END: how long after T_END (ms) the database held every
# computer and program of the store (at most 120 s more), into PUBLISH_LINE.
publish_wait() {
    local want=$((CLIENTS + SEED_EXTRA)) computers programs
    for _ in $(seq 1 240); do
        computers=$(sql -d inventory -c "SELECT count(*) FROM computers WHERE site = 'STORM'" 2>/dev/null)
        programs=$(sql -d inventory -c "SELECT count(*) FROM programs WHERE site = 'STORM'" 2>/dev/null)
        [ "${computers:-0}" = "$want" ] && [ "${programs:-0}" = "$((want * 100))" ] && break
        sleep 0.5
    done
    PUBLISH_LINE="database: ${computers:-0} of $want computers, ${programs:-0} of $((want * 100)) programs, $(python3 -c "print(max(0, ($(now_ms) - $1) / 1000))") s after the last send"
}

# server SECONDS [manifests]: sets LOSSLESS and LINE.
server() {
    local seconds=$1 mode=${2:-} port data sent total last records entries t_end t_last polls
    port=$(free_udp_port_pair)
    data=$RUN/data
    rm -rf "$data"
    mkdir -p "$data"
    [ -n "$SEED" ] && cp "$SEED"/*.Audit "$data/"
    [ "$HISTORY" = off ] && rm -rf "$data/History.Audit" && mkdir "$data/History.Audit"
    settings "$data" "$port"
    publish_settings
    flock 8
    timeout $((${seconds%.*} + 400)) "$WINE" "$SERVER_EXE" >/dev/null 2>&1 &
    CHILD=$!
    drv wait-window "$TITLE" 60000 || { echo "tallyhall did not start" >&2; exit 1; }
    [ -n "$SEED_EXTRA" ] && [ "$SEED_EXTRA" != 0 ] && drv list-count "$TITLE" - IDC_SYSTEM_LIST "$SEED_EXTRA" 120000
    WINDOWS_LINE=
    [ -n "$WINDOWS" ] && open_windows
    sleep 1
    [ -n "$PING_MS" ] && ping_main "$PING_MS" &
    local pinger=$!
    # shellcheck disable=SC2046
    if [ "$CLIENTS" = 0 ]; then  # no clients: the server as it stands, for the pings
        sleep "$seconds"
        echo "sent 0 datagrams" >"$RUN/send.out"
    else
        "$SENDER" send "$port" "$CLIENTS" "$seconds" $(sender_mode "$mode") ${UPDATED:+updated $UPDATED} \
            ${SHARED_NAMES:+shared-names} >"$RUN/send.out"
    fi
    t_end=$(now_ms)
    sent=$(awk 'NR == 1 {print $2}' "$RUN/send.out")
    # Until every datagram is counted, or the counters stand still for 5 s
    # (the rest was lost); at most 300 s.
    last=-1
    t_last=$t_end
    polls=0
    while [ $polls -lt 300 ]; do
        polls=$((polls + 1))
        drv text "$TITLE" "Server Stats" 1057 \; text "$TITLE" "Server Stats" 1059 \; text "$TITLE" "Server Stats" 1061
        total=$(echo "$OUT" | awk '{s += $1} END {print s + 0}')
        if [ "$total" != "$last" ]; then
            last=$total
            t_last=$(now_ms)
        fi
        [ "$total" = "$sent" ] && break
        [ $(($(now_ms) - t_last)) -ge 5000 ] && break
        sleep 1
    done
    [ -n "$PING_MS" ] && wait "$pinger"
    PUBLISH_LINE=
    [ "$PUBLISH" = on ] && publish_wait "$t_end"
    drv close "$TITLE" 60000
    wait "$CHILD"
    CHILD=
    flock -u 8
    local want=$((CLIENTS + SEED_EXTRA))
    read -r records entries <<<"$("$SENDER" count "$data")"
    LOSSLESS=$([ "$total" = "$sent" ] && [ "$records" = "$want" ] && [ "$entries" = "$((want * 100))" ] &&
        echo 1 || echo 0)
    LINE=$(printf 'tallyhall : %6d of %6d datagrams taken (%5.1f %%%s); %d of %d computers, %d of %d entries stored; busy %4.1f s after the last send' \
        "$total" "$sent" "$(python3 -c "print(100*$total/max(1,$sent))")" \
        "${BASE_GOT:+$(python3 -c "print(', x%.2f of the baseline' % ($total/max(1,$BASE_GOT)))")}" \
        "$records" "$want" "$entries" "$((want * 100))" "$(python3 -c "print(max(0, ($t_last - $t_end) / 1000))")")
    [ "$HISTORY" = off ] && LINE="$LINE (history off)"
    [ -n "$UPDATED" ] && LINE="$LINE ($UPDATED % of programs updated)"
    [ -n "$PUBLISH_LINE" ] && LINE="$LINE (publishing)
            $PUBLISH_LINE"
    [ -n "$WINDOWS_LINE" ] && LINE="$LINE
            $WINDOWS_LINE"
    [ -n "$PING_MS" ] && LINE="$LINE
            $(read -r longest median count <"$RUN/ping.out" &&
                echo "main window: longest wait for an answer $longest ms (median $median ms, $count pings)")"
    if [ -n "$mode" ]; then
        LINE="$LINE (with $([ "$mode" = signed ] && echo "signed ")manifests)
            $(sed -n 2p "$RUN/send.out")"
        grep -q " $CLIENTS of $CLIENTS passes acknowledged" "$RUN/send.out" || LOSSLESS=0
    fi
}

# sender_mode MODE: the sender's words for a mode of server().
sender_mode() {
    case $1 in
        manifests) echo manifests ;;
        signed) echo signed "$KEY" ;;
    esac
}

# open_windows: Systems and Software Catalogue from the Inventory menu; waits
# until the catalogue has counted every program (its count line no longer
# says "counting", read every 50 ms by one driver; at most 120 s) and sets
# WINDOWS_LINE to the time that took.
open_windows() {
    local t
    drv menu "$TITLE" IDM_SYSTEMS \; wait-window Systems 30000
    if drv clock \; menu "$TITLE" IDM_SOFTWARE_CATALOGUE \; wait-window "Software Catalogue" 30000 \; \
        wait-end "Software Catalogue" - IDC_CATALOGUE_COUNT " programs" 120000 \; clock; then
        t=($OUT)
        WINDOWS_LINE="Systems and Software Catalogue open; the catalogue shows \"$(sed -n 2p <<<"$OUT")\" $((${t[-1]} - ${t[0]})) ms after the menu command"
    else
        WINDOWS_LINE="Systems and Software Catalogue open; the catalogue was still counting after 120 s"
    fi
}

# ping_main MS: the main window's answers to a ping every 10 ms, into ping.out.
ping_main() {
    timeout $(($1 / 1000 + 120)) "$WINE" "$WIN_BIN/tally_driver.exe" ping "$TITLE" "$1" 2>/dev/null | tr -d '\r' >"$RUN/ping.out"
}

# make_key: a site key from the settings dialog's "New Key...", as an
# administrator makes one; the server keeps it sealed in the registry of
# this run's prefix, KEY gets the text the dialog shows.
make_key() {
    [ -n "$KEY" ] && return 0
    mkdir -p "$RUN/keydata"
    settings "$RUN/keydata" "$(free_udp_port_pair)"
    flock 8
    timeout 200 "$WINE" "$SERVER_EXE" >/dev/null 2>&1 &
    CHILD=$!
    drv wait-window "$TITLE" 60000 \; menu "$TITLE" IDM_SETTINGS \; wait-window "Audit Server Settings" \
        \; click "Audit Server Settings" - IDC_SETTINGS_NEW_KEY \; wait-window "New Site Key" \
        \; text "New Site Key" - IDC_SITE_KEY_TEXT && KEY=$(tail -n1 <<<"$OUT")
    drv click "New Site Key" - IDC_SITE_KEY_OK \; wait-gone "New Site Key" \
        \; click "Audit Server Settings" - IDC_SETTINGS_OK \; wait-gone "Audit Server Settings" \; close "$TITLE" 30000
    wait "$CHILD"
    CHILD=
    flock -u 8
    grep -qxE '[0-9A-F]{64}' <<<"$KEY" || { echo "no site key from the settings dialog" >&2; exit 1; }
    echo "site key made in the settings dialog (key identifier $(python3 -c "import hashlib,sys; print(hashlib.sha256(bytes.fromhex(sys.argv[1])).hexdigest()[:8].upper())" "$KEY"))"
}

# open_bench_store N: open_bench's store of N x 100 (kept for later runs).
open_bench_store() {
    local store=/tmp/tally-open-bench-$1
    [ -f "$store/Software.Audit" ] || "$OPEN_BENCH" "$1" 1 "$store" side >/dev/null || exit 1
    echo "$store"
}

# open_store N: prints the time until all N systems are listed, and memory.
open_store() {
    local n=$1 data=$RUN/data t0 shown=0 pid rss=0 hwm=0 files box=
    rm -rf "$data"
    mkdir -p "$data"
    "$SENDER" make-store "$data" "$n" || { echo "cannot write the store" >&2; exit 1; }
    files=$(($(stat -c %s "$data/Hardware.Audit") + $(stat -c %s "$data/Software.Audit")))
    settings "$data" "$(free_udp_port_pair)"
    sync
    flock 8
    t0=$(now_ms)
    timeout 900 "$WINE" "$SERVER_EXE" >/dev/null 2>&1 &
    CHILD=$!
    # At most 600 s; a "Memory Error" box ends the wait.
    while [ $(($(now_ms) - t0)) -lt 600000 ]; do
        if drv list-count "$TITLE" - 1038 && [ "$OUT" = "$n" ]; then shown=$(($(now_ms) - t0)); break; fi
        if drv box "Memory Error" 0 10; then box="\"$OUT\" box"; shown=$(($(now_ms) - t0)); break; fi
        sleep 0.2
    done
    pid=$(pgrep -P "$CHILD" | head -n1)
    if [ -n "$pid" ]; then
        rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
        hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
    fi
    if [ -n "$box" ]; then
        drv box "Memory Error" 1 1000
    else
        drv close "$TITLE" 60000
    fi
    timeout 60 tail --pid="$CHILD" -f /dev/null
    kill "$CHILD" 2>/dev/null
    wait "$CHILD" 2>/dev/null
    CHILD=
    flock -u 8
    printf 'open %d x 100: %s after %.1f s; resident %.0f MiB (peak %.0f MiB) for %.0f MiB of files (x%.2f)\n' \
        "$n" "${box:-all listed}" "$(python3 -c "print($shown / 1000)")" "$(python3 -c "print(${rss:-0} / 1024)")" \
        "$(python3 -c "print(${hwm:-0} / 1024)")" "$(python3 -c "print($files / 1048576)")" \
        "$(python3 -c "print(${rss:-0} * 1024 / $files)")"
}

# row SECONDS: both programs at one rate; sets BASE_OK and SERVER_OK.
row() {
    local seconds=$1
    echo "== $CLIENTS clients in $seconds s ($(python3 -c "print(round($CLIENTS * $PER_CLIENT / $seconds))") datagrams/s)"
    baseline "$seconds"; BASE_OK=$LOSSLESS; echo "$LINE"
    server "$seconds"; SERVER_OK=$LOSSLESS; echo "$LINE"
}

# search PROGRAM LO HI: the highest lossless rate between a lossless LO and
# a lossy HI (0: not known yet, doubled from LO until a run loses).
search() {
    local program=$1 lo=$2 hi=$3 rate step=0
    while [ "$hi" = 0 ]; do
        rate=$((lo * 2))
        "$program" "$(seconds_for $rate)"
        echo "   $rate/s: $LINE"
        if [ "$LOSSLESS" = 1 ]; then lo=$rate; else hi=$rate; fi
    done
    while [ $step -lt "$STEPS" ]; do
        step=$((step + 1))
        rate=$(((lo + hi) / 2))
        "$program" "$(seconds_for $rate)"
        echo "   $rate/s: $LINE"
        if [ "$LOSSLESS" = 1 ]; then lo=$rate; else hi=$rate; fi
    done
    FOUND=$lo
}

# probe LETTER SECONDS: one run of a program of search:LETTERS.
probe() {
    case $1 in
        b) baseline "$2" ;;
        p) server "$2" ;;
        m) server "$2" manifests ;;
        s) server "$2" signed ;;
        h) SEED=$HSEED server "$2" manifests ;;
        o) SEED=$HSEED HISTORY=off server "$2" manifests ;;
    esac
}

# search_all LETTERS: the searches of several programs, step by step in
# turn, so that each program's figure has the others' of the same minutes.
search_all() {
    local letters=$1 l rate step=0 open
    declare -A lo hi
    [[ $letters == *[ho]* ]] && history_seed
    local from=${STORM_FROM:-$(rate_of 60)}
    for l in $(grep -o . <<<"$letters"); do lo[$l]=$from hi[$l]=0; done
    echo "== highest lossless rate, $CLIENTS clients: $letters (doubled from $from/s, then $STEPS halvings)"
    local to=${STORM_TO:-80000} all
    while :; do
        open=0
        # A halving step counts once every program has found a lossy rate.
        all=1
        for l in $(grep -o . <<<"$letters"); do [ "${hi[$l]}" = 0 ] && all=0; done
        for l in $(grep -o . <<<"$letters"); do
            if [ "${hi[$l]}" = 0 ] && [ $((lo[$l] * 2)) -gt "$to" ]; then
                hi[$l]=$((lo[$l] * 2))  # lossless at the highest rate asked for: the search ends there
                continue
            elif [ "${hi[$l]}" = 0 ]; then
                rate=$((lo[$l] * 2))
            elif [ $step -lt "$STEPS" ]; then
                rate=$(((lo[$l] + hi[$l]) / 2))
            else
                continue
            fi
            open=1
            BASE_GOT=
            probe "$l" "$(seconds_for "$rate")"
            echo "   $l $rate/s: $LINE"
            if [ "$LOSSLESS" = 1 ]; then lo[$l]=$rate; else hi[$l]=$rate; fi
        done
        [ $open = 0 ] && break
        [ $all = 1 ] && step=$((step + 1))
    done
    printf 'highest lossless rate (datagrams/s, to within the last halving step):'
    for l in $(grep -o . <<<"$letters"); do printf ' %s %d' "$l" "${lo[$l]}"; done
    echo
    for pair in m/b s/m h/o m/p; do
        [ -n "${lo[${pair%/*}]:-}" ] && [ -n "${lo[${pair#*/}]:-}" ] &&
            echo "   $pair: x$(python3 -c "print(round(${lo[${pair%/*}]} / ${lo[${pair#*/}]}, 2))")"
    done
}

# history_seed: HSEED, yesterday's store: the clients' first reports with
# manifests at 60 s on a fresh store with the history on (made once a run).
HSEED=
history_seed() {
    [ -n "$HSEED" ] && return 0
    SEED= SEED_EXTRA=0 HISTORY=on UPDATED= server 60 manifests
    echo "== yesterday: $LINE"
    [ "$LOSSLESS" = 1 ] || echo "   yesterday's store is not whole: the rows after it compare less"
    HSEED=$RUN/history-seed
    rm -rf "$HSEED"
    cp -a "$RUN/data" "$HSEED"
}

# history_rows: the same clients again, history on and off in turn:
# nothing changed, then 5 % of the programs updated.
history_rows() {
    local seed
    history_seed
    seed=$HSEED
    for updated in "" 5; do
        echo "== $CLIENTS clients in 60 s again with manifests${updated:+, $updated % of programs updated}"
        for h in on off; do
            SEED=$seed HISTORY=$h UPDATED=$updated server 60 manifests
            echo "$LINE"
            [ "$h" = on ] && [ -f "$RUN/data/History.Audit" ] &&
                echo "            History.Audit: $(($(stat -c %s "$RUN/data/History.Audit") / 256)) events (yesterday's $(($(stat -c %s "$seed/History.Audit") / 256)))"
        done
    done
}

# stopped_row: the real client's pass against a port nobody answers, and
# against tallyhall, three times each in turn.
stopped_row() {
    local port data=$RUN/data t0 rc k
    port=$(free_udp_port_pair)
    rm -rf "$data"
    mkdir -p "$data"
    settings "$data" "$port"
    echo "== the real scoutly.exe: a pass against a stopped server, and one that tallyhall acknowledges"
    for k in 1 2 3; do
        flock 8
        t0=$(now_ms)
        timeout 60 "$WINE" "$WIN_BIN/scoutly.exe" "127.0.0.1:$((port + 2))" </dev/null >/dev/null 2>&1
        rc=$?
        echo "   stopped server: $(($(now_ms) - t0)) ms, exit code $rc"
        timeout 200 "$WINE" "$SERVER_EXE" >/dev/null 2>&1 &
        CHILD=$!
        drv wait-window "$TITLE" 60000
        t0=$(now_ms)
        timeout 60 "$WINE" "$WIN_BIN/scoutly.exe" "127.0.0.1:$port" </dev/null >/dev/null 2>&1
        rc=$?
        echo "   tallyhall     : $(($(now_ms) - t0)) ms, exit code $rc"
        drv close "$TITLE" 30000
        wait "$CHILD"
        CHILD=
        flock -u 8
    done
}

# fleet_pair LABEL SECONDS MODE: the same run with no inventory window open
# and with both open, STORM_PAIRS (default 1) times in turn.
fleet_pair() {
    local label=$1 seconds=$2 mode=$3 k
    echo "== $label"
    for k in $(seq 1 "${STORM_PAIRS:-1}"); do
        for w in "" 1; do
            WINDOWS=$w server "$seconds" $mode
            echo "   $([ -n "$w" ] && echo "both windows" || echo "no window   "): $LINE"
        done
    done
}

if [[ " $* " =~ " 60s "|search:[a-z]*s ]]; then make_key; fi
ROWS=${*:-60 30 search}
R60_BASE= R60_SERVER= R30_BASE= R30_SERVER=
BASE_GOT=  # what the baseline took in the same row, for the ratio
for r in $ROWS; do
    case $r in
        60) row 60; R60_BASE=$BASE_OK; R60_SERVER=$SERVER_OK ;;
        30) row 30; R30_BASE=$BASE_OK; R30_SERVER=$SERVER_OK ;;
        60m | 30m) row "${r%m}"; server "${r%m}" manifests; echo "$LINE" ;;
        search)
            rate60=$(rate_of 60)
            rate30=$(rate_of 30)
            echo "== highest lossless rate, $CLIENTS clients"
            # Bracket each search by what the rows found.
            lo=100 hi=0
            [ "$R60_BASE" = 1 ] && lo=$rate60
            [ "$R30_BASE" = 1 ] && lo=$rate30
            [ "$R30_BASE" = 0 ] && hi=$rate30
            [ "$R60_BASE" = 0 ] && hi=$rate60
            search baseline "$lo" "$hi"
            base_rate=$FOUND
            BASE_GOT=
            lo=100 hi=$((base_rate * 2))
            [ "$R60_SERVER" = 1 ] && lo=$rate60
            [ "$R30_SERVER" = 1 ] && lo=$rate30
            [ "$R30_SERVER" = 0 ] && hi=$rate30
            [ "$R60_SERVER" = 0 ] && hi=$rate60
            search server "$lo" "$hi"
            echo "highest lossless rate: baseline $base_rate datagrams/s, tallyhall $FOUND datagrams/s" \
                "(x$(python3 -c "print(round($FOUND / $base_rate, 2))") of the baseline; to within the last halving step)"
            ;;
        open:*) open_store "${r#*:}" ;;
        60s) server 60 manifests; echo "$LINE"; server 60 signed; echo "$LINE" ;;
        search:*) search_all "${r#*:}" ;;
        history) history_rows ;;
        stopped) stopped_row ;;
        publish | publish:*)
            publish_start
            seconds=60
            [ "$r" != publish ] && seconds=${r#*:}
            echo "== $CLIENTS clients in $seconds s with manifests, publishing off and on in turn"
            for _ in $(seq 1 "${STORM_PAIRS:-2}"); do
                PUBLISH=off server "$seconds" manifests; echo "$LINE"
                PUBLISH=on server "$seconds" manifests; echo "$LINE"
            done
            ;;
        fleet-rate)
            SEED=$(open_bench_store 3000) SEED_EXTRA=3000 CLIENTS=42857 STORM_PAIRS=${STORM_PAIRS:-2} \
                fleet_pair "5,000 datagrams/s for 60 s (42,857 clients) into a store of 3,000 computers" 60 ""
            ;;
        fleet-rate-shared)
            SEED=$(open_bench_store 3000) SEED_EXTRA=3000 CLIENTS=42857 STORM_PAIRS=${STORM_PAIRS:-2} SHARED_NAMES=1 \
                fleet_pair "5,000 datagrams/s for 60 s (42,857 clients) into a store of 3,000 computers, program names shared by the clients" 60 ""
            ;;
        fleet-storm)
            SEED=$(open_bench_store 100000) SEED_EXTRA=100000 \
                fleet_pair "$CLIENTS clients in 60 s with manifests into a store of 100,000 x 100" 60 manifests
            ;;
        fleet-storm-shared)
            SEED=$(open_bench_store 100000) SEED_EXTRA=100000 SHARED_NAMES=1 \
                fleet_pair "$CLIENTS clients in 60 s with manifests into a store of 100,000 x 100, program names shared by the clients" 60 manifests
            ;;
        fleet-holds)
            SEED=$(open_bench_store 100000) SEED_EXTRA=100000 CLIENTS=0 PING_MS=30000 \
                fleet_pair "no reports for 30 s, a store of 100,000 x 100: the pings' own noise" 30 ""
            SEED=$(open_bench_store 100000) SEED_EXTRA=100000 CLIENTS=300 PING_MS=35000 \
                fleet_pair "10 reports a second for 30 s into a store of 100,000 x 100" 30 ""
            ;;
        server:* | baseline:*)
            echo "== $CLIENTS clients in ${r#*:} s ($(python3 -c "print(round($CLIENTS * $PER_CLIENT / ${r#*:}))") datagrams/s)"
            "${r%%:*}" "${r#*:}"
            echo "$LINE"
            ;;
        *) echo "unknown row $r" >&2; exit 2 ;;
    esac
done
