# Sourced by the tests and the main job: the Wine mode of this machine, a
# private Wine prefix and X display for one run, and their clean shutdown.
#
#   . tools/wine-env.sh
#   wine_env_start /tmp/run-dir      # exports WINEPREFIX, DISPLAY, WINEARCH, ...
#   ... timeout 20 "$WINE" "$TALLY_BIN/program.exe" ...
#   wine_env_stop                    # ends the prefix's processes and the X server
#
# Send the output of wine calls to files rather than pipes where possible.
#
# Modes ($TALLY_WINE_MODE; set it to force one, otherwise it is detected):
#   wow64  the shipped 32-bit build (build/win32/bin) in a 64-bit prefix, as
#          the programs run on 64-bit Windows: the default where 32-bit
#          programs run;
#   win64  the 64-bit build of the same sources (build/win64/bin) in a 64-bit
#          prefix: the default where the kernel runs no 32-bit programs;
#   win32  the 32-bit build in a 32-bit prefix, as on 32-bit Windows (one
#          registry view); only where 32-bit programs run.
# Detection starts a 32-bit Windows program (cmd.exe) in a scratch copy of
# the 64-bit prefix; the answer is kept beside that prefix for later runs.
#
# After sourcing: $WINE is the loader of the programs under test, $WINE64 the
# loader of the prefix's own 64-bit tools (regedit, reg) or $WINE in a 32-bit
# prefix, $WINESERVER the server program, $TALLY_BIN the programs' folder
# (unless already set), $TALLY_WINE_MODE the mode.
#
# A prepared prefix is kept in $TALLY_WINE_TEMPLATE (default
# /tmp/tally-wine-template-x86_64 for 64-bit prefixes, ...-i686 for 32-bit
# ones) and copied for each run, which takes about a second instead of fifteen.

_TALLY_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32

_wine_env_base() {
    export WINEARCH=$_tally_winearch WINEDEBUG=${TALLY_WINEDEBUG:--all}
    export WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe=d'
}

# _wine_env_select MODE: the loaders, prefix kind and template of a mode.
_wine_env_select() {
    case "$1" in
        wow64) WINE=/usr/lib/wine/wine WINE64=/usr/lib/wine/wine64 _tally_winearch=win64 ;;
        win64) WINE=/usr/lib/wine/wine64 WINE64=/usr/lib/wine/wine64 _tally_winearch=win64 ;;
        win32) WINE=/usr/lib/wine/wine WINE64=/usr/lib/wine/wine _tally_winearch=win32 ;;
        *) echo "wine-env: unknown mode \"$1\" (TALLY_WINE_MODE is wow64, win64 or win32)" >&2; return 1 ;;
    esac
    _tally_template=${TALLY_WINE_TEMPLATE:-/tmp/tally-wine-template-$([ "$_tally_winearch" = win32 ] && echo i686 || echo x86_64)}
}

# Makes the template prefix once (under a lock, so parallel runs share it).
wine_env_template() {
    _wine_env_base
    (
        flock 9
        if [ ! -f "$_tally_template/.ready" ]; then
            rm -rf "$_tally_template"
            mkdir -p "$_tally_template"
            local boot=$WINE64
            WINEPREFIX="$_tally_template/pfx" DISPLAY= timeout 180 "$boot" wineboot -i >/dev/null 2>&1
            WINEPREFIX="$_tally_template/pfx" timeout 60 "$boot" reg add 'HKCU\Software\Wine\X11 Driver' \
                /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
            WINEPREFIX="$_tally_template/pfx" timeout 30 "$WINESERVER" -w
            [ -f "$_tally_template/pfx/system.reg" ] && touch "$_tally_template/.ready"
        fi
    ) 9>"$_tally_template.lock"
    [ -f "$_tally_template/.ready" ]
}

# Does a 32-bit Windows program start here? Runs cmd.exe through the 32-bit
# loader in a scratch copy of the 64-bit prefix; the answer is kept in the
# template's folder (runs32 or no-runs32).
_wine_env_runs_32bit() {
    _wine_env_select wow64 || return 1
    wine_env_template || return 1
    local answer="$_tally_template/.runs32"
    if [ ! -f "$answer" ] && [ ! -f "$answer.no" ]; then
        local scratch
        scratch=$(mktemp -d /tmp/tally-probe.XXXXXX)
        cp -a "$_tally_template/pfx" "$scratch/pfx"
        if WINEPREFIX="$scratch/pfx" DISPLAY= timeout 60 "$WINE" cmd /c ver </dev/null >"$scratch/out" 2>&1 &&
            grep -q 'Microsoft Windows' "$scratch/out"; then
            touch "$answer"
        else
            touch "$answer.no"
        fi
        WINEPREFIX="$scratch/pfx" timeout 20 "$WINESERVER" -k >/dev/null 2>&1
        WINEPREFIX="$scratch/pfx" timeout 20 "$WINESERVER" -w >/dev/null 2>&1
        rm -rf "$scratch"
    fi
    [ -f "$answer" ]
}

if [ -z "${TALLY_WINE_MODE:-}" ]; then
    if _wine_env_runs_32bit; then TALLY_WINE_MODE=wow64; else TALLY_WINE_MODE=win64; fi
fi
_wine_env_select "$TALLY_WINE_MODE" || return 1
if [ -z "${TALLY_BIN:-}" ]; then
    if [ "$TALLY_WINE_MODE" = win64 ]; then TALLY_BIN=$_TALLY_ROOT/build/win64/bin; else TALLY_BIN=$_TALLY_ROOT/build/win32/bin; fi
fi
export TALLY_WINE_MODE TALLY_BIN WINE WINE64 WINESERVER

# The Windows build tree a mode runs: build/win32 or build/win64.
wine_env_build_tree() { if [ "$TALLY_WINE_MODE" = win64 ]; then echo build/win64; else echo build/win32; fi; }

# wine_env_start RUN_DIR: prefix in RUN_DIR/pfx, an Xvfb display of its own,
# and a persistent wineserver so that later wine calls start fast.
wine_env_start() {
    WINE_RUN_DIR=$1
    mkdir -p "$WINE_RUN_DIR"
    wine_env_template || { echo "wine-env: cannot prepare a Wine prefix" >&2; return 1; }
    rm -rf "$WINE_RUN_DIR/pfx"
    cp -a "$_tally_template/pfx" "$WINE_RUN_DIR/pfx"
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
