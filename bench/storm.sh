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
for f in "$SENDER" "$SERVER_EXE" "$WIN_BIN/storm_receiver.exe" "$WIN_BIN/tally_driver.exe"; do
    [ -x "$f" ] || [ -f "$f" ] || { echo "missing $f: run tools/build.sh first" >&2; exit 1; }
done

RUN=$(mktemp -d /tmp/tally-storm.XXXXXX)
CHILD=
cleanup() {
    [ -n "$CHILD" ] && kill "$CHILD" 2>/dev/null
    wine_env_stop
    rm -rf "$RUN"
}
trap cleanup EXIT
exec 8>/tmp/tally-e2e.lock
wine_env_start "$RUN" || { echo "cannot start the Wine environment" >&2; exit 1; }

drv() {
    timeout 60 "$WINE" "$WIN_BIN/tally_driver.exe" "$@" >"$RUN/driver.out" 2>"$RUN/driver.err"
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

# server SECONDS [manifests]: sets LOSSLESS and LINE.
server() {
    local seconds=$1 mode=${2:-} port data sent total last records entries t_end t_last polls
    port=$(free_udp_port_pair)
    data=$RUN/data
    rm -rf "$data"
    mkdir -p "$data"
    [ "${STORM_HISTORY:-on}" = off ] && mkdir "$data/History.Audit"
    settings "$data" "$port"
    flock 8
    timeout $((${seconds%.*} + 400)) "$WINE" "$SERVER_EXE" >/dev/null 2>&1 &
    CHILD=$!
    drv wait-window "$TITLE" 30000 || { echo "tallyhall did not start" >&2; exit 1; }
    sleep 1
    "$SENDER" send "$port" "$CLIENTS" "$seconds" $mode >"$RUN/send.out"
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
    drv close "$TITLE" 30000
    wait "$CHILD"
    CHILD=
    flock -u 8
    read -r records entries <<<"$("$SENDER" count "$data")"
    LOSSLESS=$([ "$total" = "$sent" ] && [ "$records" = "$CLIENTS" ] && [ "$entries" = "$((CLIENTS * 100))" ] &&
        echo 1 || echo 0)
    LINE=$(printf 'tallyhall : %6d of %6d datagrams taken (%5.1f %%%s); %d of %d computers, %d of %d entries stored; busy %4.1f s after the last send' \
        "$total" "$sent" "$(python3 -c "print(100*$total/$sent)")" \
        "${BASE_GOT:+$(python3 -c "print(', x%.2f of the baseline' % ($total/max(1,$BASE_GOT)))")}" \
        "$records" "$CLIENTS" "$entries" "$((CLIENTS * 100))" "$(python3 -c "print(max(0, ($t_last - $t_end) / 1000))")")
    if [ -n "$mode" ]; then
        LINE="$LINE (with manifests)
            $(sed -n 2p "$RUN/send.out")"
        grep -q " $CLIENTS of $CLIENTS passes acknowledged" "$RUN/send.out" || LOSSLESS=0
    fi
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
        server:* | baseline:*)
            echo "== $CLIENTS clients in ${r#*:} s ($(python3 -c "print(round($CLIENTS * $PER_CLIENT / ${r#*:}))") datagrams/s)"
            "${r%%:*}" "${r#*:}"
            echo "$LINE"
            ;;
        *) echo "unknown row $r" >&2; exit 2 ;;
    esac
done
