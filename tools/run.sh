#!/usr/bin/env bash
# The main job: builds both programs, starts the audit server tallyhall under
# Wine on the working directory ./work/data (port 54333, or $PORT), runs the
# audit client scoutly once against it, and keeps the server running until
# Ctrl-C (or for $RUN_SECONDS seconds when that is set). Uses the X display in
# $DISPLAY when there is one, else a virtual one (screenshot: work/server.png).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
PORT=${PORT:-54333}

bash tools/install-deps.sh
bash tools/build.sh >work.build.log 2>&1 || { tail -n 40 work.build.log; echo "build failed (work.build.log)"; exit 1; }
rm -f work.build.log
. tools/wine-env.sh
BIN="$ROOT/build/win32/bin"
[ "$TALLY_WIN_ARCH" = x86_64 ] && BIN="$ROOT/build/win64/bin"

WORK="$ROOT/work"
mkdir -p "$WORK/data"
USER_DISPLAY=${DISPLAY:-}
wine_env_start "$WORK/wine" || exit 1
if [ -n "$USER_DISPLAY" ] && xdpyinfo -display "$USER_DISPLAY" >/dev/null 2>&1; then
    export DISPLAY=$USER_DISPLAY
fi
trap 'wine_env_stop' EXIT
trap 'exit 0' INT TERM

# The server's settings: working directory and port.
path_hex=$(python3 -c "import sys; print(sys.argv[1].encode().ljust(255, b'\0')[:255].hex())" "$(wine_path "$WORK/data")")
port_hex=$(python3 -c "import struct,sys; print(struct.pack('<H', int(sys.argv[1])).hex())" "$PORT")
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$path_hex" /f >/dev/null 2>&1
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY /d "$port_hex" /f >/dev/null 2>&1

echo "starting tallyhall on UDP port $PORT, working directory $WORK/data (display $DISPLAY)"
"$WINE" "$BIN/tallyhall.exe" >"$WORK/tallyhall.log" 2>&1 &
SERVER_PID=$!
timeout 30 "$WINE" "$BIN/tally_driver.exe" wait-window "Kestrin's Vodirir Ozozu Server Version 1.35" 20000 \
    >/dev/null 2>&1 || echo "the server window did not appear (see $WORK/tallyhall.log)"

echo "running scoutly 127.0.0.1:$PORT"
timeout 60 "$WINE" "$BIN/scoutly.exe" "127.0.0.1:$PORT" >"$WORK/scoutly.log" 2>&1
echo "scoutly ended with exit code $?"
sleep 1
ls -l "$WORK/data"
if [ -z "$USER_DISPLAY" ]; then
    import -display "$DISPLAY" -window root "$WORK/server.png" 2>/dev/null && echo "screenshot: $WORK/server.png"
fi

if [ -n "${RUN_SECONDS:-}" ]; then
    echo "server runs for $RUN_SECONDS s"
    sleep "$RUN_SECONDS"
else
    echo "server running (pid $SERVER_PID); Ctrl-C ends it"
    wait "$SERVER_PID"
fi
