#!/usr/bin/env bash
# Publishing figures against a real database: starts a private PostgreSQL
# cluster on loopback (tests/pg_cluster.sh), runs publish_bench natively and,
# when the Windows build is there, as the Windows program under Wine (the
# shipped 32-bit build in the wow64 mode, through Wine's odbc32 and the
# system's unixODBC), then stops and removes the cluster.
#   bash bench/publish.sh [COMPUTERS] [STORM_SECONDS]
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
COMPUTERS=${1:-10000}
STORM=${2:-60}
dir=$(mktemp -d /tmp/tally-publish-bench.XXXXXX)
cleanup() { bash "$ROOT/tests/pg_cluster.sh" remove "$dir/pg"; }
trap cleanup EXIT
port=$(bash "$ROOT/tests/pg_cluster.sh" start "$dir/pg") || { echo "no PostgreSQL cluster"; exit 1; }
connection="DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=$port;DATABASE=inventory;UID=postgres;"
rc=0
echo "== native ($ROOT/build/native/bin/publish_bench)"
timeout 3600 "$ROOT/build/native/bin/publish_bench" "$connection" "$COMPUTERS" "$STORM" || rc=1
. "$ROOT/tools/wine-env.sh"
if [ -f "$TALLY_BIN/publish_bench.exe" ]; then
    echo "== Windows program under Wine ($TALLY_WINE_MODE, $TALLY_BIN/publish_bench.exe)"
    exec 8>/tmp/tally-e2e.lock  # the lock of the Wine tests
    flock 8
    wine_env_start "$dir/wine" || exit 1
    (cd "$TALLY_BIN" && timeout 3600 "$WINE" publish_bench.exe "$connection" "$COMPUTERS" "$STORM") || rc=1
    wine_env_stop
    flock -u 8
fi
exit $rc
