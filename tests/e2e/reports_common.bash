# Shared set-up of the reports end-to-end tests (sourced, not run on its
# own): a Wine environment in a fresh directory, the sample database, the
# server's settings, and helpers to start and stop tallyhall and to check.
set -u
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
TALLY_BIN=${TALLY_BIN:-$REPO/build/win64/bin}
. "$REPO/tools/wine-env.sh"
RUN=$(mktemp -d /tmp/tally-reports-e2e.XXXXXX)
DATA=$RUN/data
mkdir -p "$DATA"
FAILED=0
SERVER_PID=
trap 'reports_cleanup' EXIT

reports_cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
    wine_env_stop
    rm -rf "$RUN"
}

check() {  # check NAME COMMAND...: one line per check
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; FAILED=1; fi
}

# driver ARGS...: runs tally_driver, its output in $RUN/out (never a pipe).
driver() {
    timeout 60 "$WINE" "$TALLY_BIN/tally_driver.exe" "$@" >"$RUN/out" 2>"$RUN/err" </dev/null
}
out() { tr -d '\r' <"$RUN/out"; }

reports_setup() {  # reports_setup PORT [N [local]]: environment, database and settings
    wine_env_start "$RUN" || exit 1
    python3 "$REPO/tests/e2e/reports_fixture.py" write "$DATA" "${2:-0}" ${3:-}
    local hex port_hex
    hex=$(python3 "$REPO/tests/e2e/reports_fixture.py" regvalue "$(wine_path "$DATA")")
    port_hex=$(python3 -c "import struct,sys; print(struct.pack('<H', int(sys.argv[1])).hex())" "$1")
    timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$hex" /f >/dev/null 2>&1
    timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY /d "$port_hex" /f >/dev/null 2>&1
}

start_server() {
    (cd "$RUN" && exec timeout 250 "$WINE" "$TALLY_BIN/tallyhall.exe" </dev/null >"$RUN/server.log" 2>&1) &
    SERVER_PID=$!
    driver wait-window "Kestrin's Vodirir Ozozu Server Version 1.35" 20000
}

stop_server() {
    driver rp-close-window "Kestrin's Vodirir Ozozu Server Version 1.35"
    local i
    for i in $(seq 1 100); do
        kill -0 "$SERVER_PID" 2>/dev/null || break
        sleep 0.1
    done
    SERVER_PID=
}
