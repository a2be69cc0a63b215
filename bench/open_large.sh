#!/bin/bash
# The real tallyhall.exe under Wine opening a large store: the time from the
# start of the program to a system list that holds every computer, and the
# server's resident memory then, against the files' size. Run by hand, under
# the end-to-end lock:
#   flock /tmp/tally-e2e.lock bash bench/open_large.sh COMPUTERS [RUNS] [scattered|side] [vendor]
# With CATALOGUE=1, each run then opens the Software Catalogue from the
# Inventory menu and times it to a count line that no longer says
# "counting".
# The database files (COMPUTERS x 100 programs, each computer's side by side
# or scattered: see bench/open_bench.cpp) are made natively by
# build/native/bin/open_bench in /tmp/tally-open-bench-COMPUTERS[-scattered]
# and kept for later runs. TALLY_BIN=DIR runs the tallyhall.exe of DIR.
. "$(dirname "$0")/../tests/e2e/common.bash" open_large
COMPUTERS=${1:-50000}
RUNS=${2:-3}
LAYOUT=${3:-side}
MACS=${4:-}
STORE=/tmp/tally-open-bench-$COMPUTERS$([ "$LAYOUT" = scattered ] && echo -scattered)${MACS:+-$MACS}
if [ ! -f "$STORE/Software.Audit" ]; then
    "$ROOT/build/native/bin/open_bench" "$COMPUTERS" 1 "$STORE" "$LAYOUT" $MACS >/dev/null || exit 1
fi
server_setup
# The files are linked into the run's directory: the server opens them as
# they are, and nothing is written to them unless a report arrives.
ln "$STORE/Hardware.Audit" "$STORE/Software.Audit" "$DATA/" 2>/dev/null ||
    cp "$STORE/Hardware.Audit" "$STORE/Software.Audit" "$DATA/"
FILES_KIB=$(( ($(stat -c %s "$DATA/Hardware.Audit" "$DATA/Software.Audit" | paste -sd+)) / 1024 ))

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# time_catalogue: the Software Catalogue from the menu command to its last
# count line (one driver that reads it every 50 ms); sets catalogue to what
# it showed and when (50 s at most). The menu command waits 3 s after the
# list is full: the server's own work after opening is not the catalogue's.
time_catalogue() {
    sleep 3
    if drv clock \; menu main IDM_SOFTWARE_CATALOGUE \; wait-window "Software Catalogue" 30000 \; \
        wait-end "Software Catalogue" - IDC_CATALOGUE_COUNT " programs" 50000 \; clock; then
        local t=($OUT)
        catalogue="; catalogue \"$(sed -n 2p <<<"$OUT")\" $((${t[-1]} - ${t[0]})) ms after the menu command"
    else
        catalogue="; catalogue not counted after 50 s"
    fi
}
times=()
for run in $(seq 1 "$RUNS"); do
    t0=$(now_ms)
    (cd "$RUN" && exec timeout 250 "$WINE" "$TALLY_BIN/tallyhall.exe" </dev/null >"$RUN/server.log" 2>&1) &
    SERVER_PID=$!
    drv wait-window main 120000 || { echo "FAIL no main window"; exit 1; }
    listed=0
    for i in $(seq 1 1200); do
        DRV_QUIET=1 drv list-count main - IDC_SYSTEM_LIST && listed=$OUT
        [ "$listed" = "$COMPUTERS" ] && break
        sleep 0.1
    done
    t1=$(now_ms)
    catalogue=
    [ -n "${CATALOGUE:-}" ] && time_catalogue
    rss_kib=0
    for pid in $(pgrep -P "$SERVER_PID"); do
        kib=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
        [ -n "$kib" ] && [ "$kib" -gt "$rss_kib" ] && rss_kib=$kib
    done
    drv close main
    server_ended || { kill "$SERVER_PID"; wait "$SERVER_PID"; SERVER_PID=; }
    echo "run $run: $listed systems listed $((t1 - t0)) ms after the start; resident $((rss_kib / 1024)) MiB" \
        "for $((FILES_KIB / 1024)) MiB of files (x$(awk "BEGIN {printf \"%.2f\", $rss_kib / $FILES_KIB}"))$catalogue"
    times+=($((t1 - t0)))
done
echo "open and list $COMPUTERS x 100 in the real server: median $(printf '%s\n' "${times[@]}" | sort -n |
    awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}') ms of $RUNS runs"
