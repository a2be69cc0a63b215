# Shared set-up of the tallyhall end-to-end tests (sourced, not run on its
# own): a run directory, the Wine environment's shutdown on exit, and the
# check and driver helpers.
#   . "$(dirname "$0")/server_common.bash" NAME
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
TALLY_BIN=${TALLY_BIN:-$ROOT/build/win64/bin}
. "$ROOT/tools/wine-env.sh"
RUN=$(mktemp -d "/tmp/tally-$1.XXXXXX")
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
    wine_env_stop
    rm -rf "$RUN"
}
trap cleanup EXIT

FAILED=0
pass() { echo "ok   $1"; }
failed() { echo "FAIL $1"; FAILED=1; }
# check NAME EXPECTED ACTUAL
check() { if [ "$2" = "$3" ]; then pass "$1"; else failed "$1: expected [$2] got [$3]"; fi; }
# drv ARGS...: runs tally_driver; its output (without CRs) in $OUT.
drv() {
    timeout 60 "$WINE" "$TALLY_BIN/tally_driver.exe" "$@" >"$RUN/driver.out" 2>"$RUN/driver.err"
    local rc=$?
    OUT=$(tr -d '\r' <"$RUN/driver.out")
    return $rc
}
