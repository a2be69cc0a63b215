#!/usr/bin/env bash
# The main job: builds tallyhall and scoutly, starts the audit server under
# Wine on the working directory ./work/data (UDP port 54333, or $PORT), runs
# the audit client once against it and, with --sample N, sends the reports of
# a sample fleet of N computers; then keeps the server running until Ctrl-C
# (or for $RUN_SECONDS seconds when that is set).
#
#   bash tools/run.sh [--sample [N]]      (N: 300 when left out)
#
# The window shows on the X display in $DISPLAY when there is one, else on a
# virtual display whose number is printed (see the README for a VNC viewer);
# work/server.png is a screenshot taken once the reports are in.
set -u -o pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
PORT=${PORT:-54333}
SAMPLE=0
while [ $# -gt 0 ]; do
    case "$1" in
        --sample)
            SAMPLE=300
            if [[ ${2:-} =~ ^[0-9]+$ ]]; then SAMPLE=$2; shift; fi ;;
        --sample=*) SAMPLE=${1#--sample=} ;;
        -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option $1 (bash tools/run.sh [--sample [N]])"; exit 2 ;;
    esac
    shift
done
[[ $SAMPLE =~ ^[0-9]+$ ]] && [ "$SAMPLE" -le 20000 ] || { echo "--sample takes a number of computers up to 20000"; exit 2; }
[[ $PORT =~ ^[0-9]+$ ]] && [ "$PORT" -ge 1 ] && [ "$PORT" -le 65534 ] || { echo "PORT must be 1 to 65534"; exit 2; }
stage() { echo "== $*"; }

# The server takes PORT, the client sends from PORT+1: both must be free.
port_user() {  # PORT -> "free" or the reason
    python3 - "$1" <<'PY'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try:
    s.bind(("0.0.0.0", int(sys.argv[1])))
    print("free")
except OSError as e:
    print(e.strerror)
PY
}
for p in "$PORT" $((PORT + 1)); do
    state=$(port_user "$p")
    if [ "$state" != free ]; then
        echo "UDP port $p is already in use ($state): is another tallyhall running?"
        echo "The server needs port $PORT and the client port $((PORT + 1)); choose others with e.g. PORT=$((PORT + 10)) bash tools/run.sh"
        exit 1
    fi
done

stage "checking the Debian packages (tools/install-deps.sh)"
bash tools/install-deps.sh || { echo "cannot install the packages"; exit 1; }
stage "finding how Wine runs programs here (first time: about 30 s)"
. tools/wine-env.sh || exit 1
echo "Wine mode: $TALLY_WINE_MODE ($([ "$TALLY_WINE_MODE" = win64 ] && echo "the 64-bit build" || echo "the shipped 32-bit programs"))"
tree=$(wine_env_build_tree)
stage "building tallyhall, scoutly and the window driver in $tree (first time: a few minutes)"
TALLY_BUILD_TARGETS="tallyhall scoutly tally_driver" bash tools/build.sh "${tree#build/}" || exit 1
BIN=$TALLY_BIN

WORK="$ROOT/work"
mkdir -p "$WORK/data"
USER_DISPLAY=${DISPLAY:-}
stage "preparing the Wine prefix ($WORK/wine) and a display"
wine_env_start "$WORK/wine" || exit 1
VIRTUAL=yes
if [ -n "$USER_DISPLAY" ] && xdpyinfo -display "$USER_DISPLAY" >/dev/null 2>&1; then
    export DISPLAY=$USER_DISPLAY
    VIRTUAL=
fi
SERVER_PID=
trap 'wine_env_stop' EXIT
trap 'exit 0' INT TERM
drv() { timeout 60 "$WINE" "$BIN/tally_driver.exe" "$@" </dev/null 2>"$WORK/driver.err" | tr -d '\r'; }

# The server's settings: working directory and port.
path_hex=$(python3 tests/e2e/packets.py regvalue "$(wine_path "$WORK/data")")
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$path_hex" /f >/dev/null 2>&1
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY \
    /d "$(printf '%02x%02x' $((PORT & 255)) $((PORT >> 8)))" /f >/dev/null 2>&1

stage "starting tallyhall on UDP port $PORT, working directory $WORK/data, display $DISPLAY"
(cd "$WORK" && exec "$WINE" "$BIN/tallyhall.exe" </dev/null >"$WORK/tallyhall.log" 2>&1) &
SERVER_PID=$!
if ! drv wait-window main 30000 >/dev/null; then
    echo "the server window did not appear (see $WORK/tallyhall.log)"
    exit 1
fi
if box=$(drv box "Network Error" 0 1500); then
    echo "tallyhall cannot receive on UDP port $PORT: \"$box\""
    echo "Another program took the port; choose another with e.g. PORT=$((PORT + 10)) bash tools/run.sh"
    exit 1
fi

stage "running scoutly 127.0.0.1:$PORT (this computer's report)"
timeout 60 "$WINE" "$BIN/scoutly.exe" "127.0.0.1:$PORT" >"$WORK/scoutly.log" 2>&1
echo "scoutly ended with exit code $?"
if [ "$SAMPLE" -gt 0 ]; then
    stage "sending the reports of a sample fleet of $SAMPLE computers"
    python3 tools/sample_fleet.py "$PORT" "$SAMPLE" || echo "the sample fleet could not be sent"
fi
# Wait until the intake has taken every report: the hit count stays put.
hits= last=
for _ in $(seq 1 60); do
    sleep 1
    hits=$(drv text main Search IDC_SEARCH_HITS)
    [ -n "$hits" ] && [ "$hits" = "$last" ] && break
    last=$hits
done
echo "tallyhall lists: ${hits#Search Returned }"
ls -l "$WORK/data"

drv maximize main >/dev/null
sleep 1
wid=$(xwininfo -name "Kestrin's Vodirir Ozozu Server Version 1.35" 2>/dev/null | awk '/Window id:/{print $4}')
if [ -n "$wid" ] && timeout 20 import -window "$wid" "$WORK/server.png" 2>/dev/null; then
    echo "screenshot: $WORK/server.png"
fi
if [ -n "$VIRTUAL" ]; then
    echo "The window is on the virtual display $DISPLAY. To look at it (x11vnc, see the README):"
    echo "    x11vnc -display $DISPLAY -localhost -rfbport 5900 -forever -shared -nopw -bg"
    echo "    vncviewer 127.0.0.1:5900        (from another machine: ssh -L 5900:127.0.0.1:5900 this-host)"
fi

if [ -n "${RUN_SECONDS:-}" ]; then
    echo "server runs for $RUN_SECONDS s"
    sleep "$RUN_SECONDS"
else
    echo "server running (pid $SERVER_PID); Ctrl-C ends it"
    wait "$SERVER_PID"
fi
