# Sourced by the end-to-end tests: a private Wine prefix and X display for one
# test run, and their clean shutdown.
#
#   . tools/wine-env.sh
#   wine_env_start /tmp/run-dir      # exports WINEPREFIX, DISPLAY, WINEARCH, ...
#   ... timeout 20 "$WINE" program.exe ...
#   wine_env_stop                    # ends the prefix's processes and the X server
#
# Send the output of wine calls to files rather than pipes where possible.
#
# Where the machine can run 32-bit programs, the prefix is win32 and the tests
# run the shipped 32-bit build; where it cannot (a kernel without 32-bit
# support makes Wine's 32-bit loader fail with "Exec format error"), the
# prefix is win64 and the tests run the 64-bit build of the same sources.
# After sourcing: $WINE is the loader to call, $WINESERVER the server program,
# $TALLY_WIN_ARCH is i686 or x86_64.
#
# A prepared prefix is kept in $TALLY_WINE_TEMPLATE (default
# /tmp/tally-wine-template-ARCH) and copied for each run, which takes about a
# second instead of eight.

if [ -z "${TALLY_WIN_ARCH:-}" ]; then
    if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
        TALLY_WIN_ARCH=i686
    else
        TALLY_WIN_ARCH=x86_64
    fi
fi
if [ "$TALLY_WIN_ARCH" = i686 ]; then
    WINE=/usr/lib/wine/wine
    WINESERVER=wineserver
    _tally_winearch=win32
else
    WINE=/usr/lib/wine/wine64
    WINESERVER=/usr/lib/wine/wineserver64
    _tally_winearch=win64
fi
export TALLY_WIN_ARCH WINE WINESERVER
TALLY_WINE_TEMPLATE=${TALLY_WINE_TEMPLATE:-/tmp/tally-wine-template-$TALLY_WIN_ARCH}

_wine_env_base() {
    export WINEARCH=$_tally_winearch WINEDEBUG=-all
    export WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe=d'
}

# Makes the template prefix once (under a lock, so parallel runs share it).
wine_env_template() {
    _wine_env_base
    (
        flock 9
        if [ ! -f "$TALLY_WINE_TEMPLATE/.ready" ]; then
            rm -rf "$TALLY_WINE_TEMPLATE"
            mkdir -p "$TALLY_WINE_TEMPLATE"
            WINEPREFIX="$TALLY_WINE_TEMPLATE/pfx" DISPLAY= timeout 180 "$WINE" wineboot -i >/dev/null 2>&1
            WINEPREFIX="$TALLY_WINE_TEMPLATE/pfx" timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' \
                /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
            WINEPREFIX="$TALLY_WINE_TEMPLATE/pfx" timeout 30 "$WINESERVER" -w
            [ -f "$TALLY_WINE_TEMPLATE/pfx/system.reg" ] && touch "$TALLY_WINE_TEMPLATE/.ready"
        fi
    ) 9>"$TALLY_WINE_TEMPLATE.lock"
    [ -f "$TALLY_WINE_TEMPLATE/.ready" ]
}

# wine_env_start RUN_DIR: prefix in RUN_DIR/pfx, an Xvfb display of its own,
# and a persistent wineserver so that later wine calls start fast.
wine_env_start() {
    WINE_RUN_DIR=$1
    mkdir -p "$WINE_RUN_DIR"
    wine_env_template || { echo "wine-env: cannot prepare a Wine prefix" >&2; return 1; }
    rm -rf "$WINE_RUN_DIR/pfx"
    cp -a "$TALLY_WINE_TEMPLATE/pfx" "$WINE_RUN_DIR/pfx"
    export WINEPREFIX="$WINE_RUN_DIR/pfx"
    rm -f "$WINE_RUN_DIR/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WINE_RUN_DIR/display" >/dev/null 2>&1 &
    WINE_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        [ -s "$WINE_RUN_DIR/display" ] && break
        sleep 0.05
    done
    [ -s "$WINE_RUN_DIR/display" ] || { echo "wine-env: Xvfb did not start" >&2; wine_env_stop; return 1; }
    export DISPLAY=":$(head -n1 "$WINE_RUN_DIR/display")"
    timeout 30 "$WINESERVER" -p >/dev/null 2>&1 || true
    # Start the prefix's services now, detached from the caller's output: a
    # service started by a later call would keep that call's pipe open.
    timeout 60 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
    return 0
}

wine_env_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true
        timeout 20 "$WINESERVER" -w >/dev/null 2>&1 || true
    fi
    if [ -n "${WINE_XVFB_PID:-}" ]; then
        kill "$WINE_XVFB_PID" 2>/dev/null || true
        wait "$WINE_XVFB_PID" 2>/dev/null || true
        WINE_XVFB_PID=
    fi
}

# Linux path -> Windows path of the prefix (Z:\...).
wine_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

# A free UDP port on 127.0.0.1 whose successor is free too (client binds P+1).
free_udp_port_pair() {
    python3 - <<'PY'
import socket, random
for _ in range(200):
    p = random.randint(20000, 60000)
    try:
        a = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); a.bind(("0.0.0.0", p))
        b = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); b.bind(("0.0.0.0", p + 1))
        a.close(); b.close(); print(p); break
    except OSError:
        pass
PY
}
