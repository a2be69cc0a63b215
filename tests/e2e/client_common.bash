# Shared set-up of the scoutly end-to-end tests (sourced, not run on its own):
# a run directory whose Wine environment ends on exit, and the check helper.
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
. "$ROOT/tools/wine-env.sh"
TALLY_BIN=${TALLY_BIN:-$ROOT/build/win64/bin}
RUN=$(mktemp -d)
trap 'wine_env_stop; rm -rf "$RUN"' EXIT

failures=0
check() {  # check NAME COMMAND...
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
