# Shared set-up of the end-to-end tests (sourced, not run on its own):
#   . "$(dirname "$0")/common.bash" NAME
# A run directory, the Wine environment (tools/wine-env.sh) and its shutdown
# on exit, the check helpers, the driver wrapper and the server's set-up.
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
TEST_NAME=$1
. "$ROOT/tools/wine-env.sh" || exit 1
export PYTHONPATH="$HERE${PYTHONPATH:+:$PYTHONPATH}"  # packets.py for the Python parts
RUN=$(mktemp -d "/tmp/tally-$TEST_NAME.XXXXXX")
DATA=$RUN/data
mkdir -p "$DATA"
SERVER_PID=
AT_EXIT=()  # more commands for the shutdown, run first, last added first
FAILED=0
OUT=

_common_cleanup() {
    local i
    for ((i = ${#AT_EXIT[@]} - 1; i >= 0; i--)); do eval "${AT_EXIT[i]}"; done
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
    wine_env_stop
    rm -rf "$RUN"
}
trap _common_cleanup EXIT

# check NAME COMMAND...: one line per check, "ok   NAME" or "FAIL NAME".
check() {
    if "${@:2}"; then echo "ok   $1"; return 0; fi
    echo "FAIL $1"
    FAILED=$((FAILED + 1))
    return 1
}
# same EXPECTED ACTUAL: equal texts, or both shown.
same() {
    [ "$1" = "$2" ] && return 0
    echo "     expected [$1]"
    echo "     got      [$2]"
    return 1
}
# not COMMAND...: succeeds when the command fails (the driver's complaint
# is then expected and not shown).
not() { local DRV_QUIET=1; ! "$@"; }
# need FILE...: every file is there, or the test ends with the reason.
need() {
    local f
    for f in "$@"; do
        [ -e "$f" ] || { echo "FAIL $TEST_NAME needs $f, which is missing (build it first)"; exit 1; }
    done
}
# python_checks RC FILE WHAT: shows the checks a Python part wrote to FILE and
# counts its failures; a part that ended badly (RC) without a failed check
# fails WHAT.
python_checks() {
    cat "$2"
    local failed
    failed=$(grep -c '^FAIL' "$2")
    FAILED=$((FAILED + failed))
    [ "$1" = 0 ] || [ "$failed" -gt 0 ] || check "$3" false
}
# finish: the closing line and the exit code.
finish() {
    if [ "$FAILED" -eq 0 ]; then echo "$TEST_NAME: all checks passed"; else echo "$TEST_NAME: $FAILED failed"; fi
    [ "$FAILED" -eq 0 ]
    exit
}

# drv ARGS...: runs tally_driver (see tests/driver/driver.h); its output
# without CRs in $OUT, its complaints in $RUN/driver.err.
drv() {
    timeout 60 "$WINE" "$TALLY_BIN/tally_driver.exe" "$@" >"$RUN/driver.out" 2>"$RUN/driver.err" </dev/null
    local rc=$?
    OUT=$(tr -d '\r' <"$RUN/driver.out")
    [ $rc -eq 0 ] || [ -n "${DRV_QUIET:-}" ] || sed 's/^/     /' "$RUN/driver.err"
    return $rc
}
# wait_file PATH: the file exists and its size has stopped changing (within
# 10 s): a program writes it after its save dialog has closed.
wait_file() {
    local i size last=-1
    for i in $(seq 1 100); do
        size=$(stat -c %s "$1" 2>/dev/null) && [ "$size" = "$last" ] && return 0
        last=${size:--1}
        sleep 0.1
    done
    return 1
}
# joined [SEPARATOR]: the lines of $OUT on one line ("|" between them).
joined() { printf '%s\n' "$OUT" | paste -sd"${1:-|}"; }
# the system list's entries without the selection mark, sorted, on one line.
systems() { drv list-items main - IDC_SYSTEM_LIST && printf '%s\n' "$OUT" | sed 's/^\* //' | sort | paste -sd' '; }

# select_system NAME [; MORE DRIVER COMMANDS]: selects the system list's
# entry NAME and waits until the General page shows it.
select_system() {
    drv list-select main - IDC_SYSTEM_LIST "$1" \; wait-text main General IDC_GEN_COMPUTER_NAME "$1" "${@:2}"
}

# wine_start: the Wine environment of the run, or the test ends.
wine_start() { wine_env_start "$RUN" || { echo "FAIL $TEST_NAME: no Wine environment"; exit 1; }; }

# server_setup [PORT]: Wine environment, and the server's settings (working
# directory $DATA, port $PORT: a free one unless given).
server_setup() {
    need "$TALLY_BIN/tallyhall.exe" "$TALLY_BIN/tally_driver.exe"
    wine_start
    PORT=${1:-$(free_udp_port_pair)}
    server_settings "$DATA" "$PORT"
}
# server_settings DIR PORT: Audit_PathName and Audit_Port, in the registry
# view the server reads (reg runs through the server's own loader).
server_settings() {
    local path_hex
    path_hex=$(python3 "$HERE/packets.py" regvalue "$(wine_path "$1")")
    timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$path_hex" /f \
        >/dev/null 2>&1 &&
        timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY \
            /d "$(printf '%02x%02x' $(($2 & 255)) $(($2 >> 8 & 255)))" /f >/dev/null 2>&1 ||
        { echo "FAIL $TEST_NAME: cannot write the server's settings"; exit 1; }
}
# start_server [; MORE DRIVER COMMANDS]: tallyhall in $RUN until its main
# window shows.
start_server() {
    (cd "$RUN" && exec timeout 250 "$WINE" "$TALLY_BIN/tallyhall.exe" </dev/null >"$RUN/server.log" 2>&1) &
    SERVER_PID=$!
    drv wait-window main 20000 "$@"
}
# server_ended: the server process has ended (within 10 s).
server_ended() {
    local i
    for i in $(seq 1 100); do
        kill -0 "$SERVER_PID" 2>/dev/null || { wait "$SERVER_PID"; SERVER_RC=$?; SERVER_PID=; return 0; }
        sleep 0.1
    done
    return 1
}
# stop_server: closes the main window; the server ends.
stop_server() { drv close main && server_ended; }
