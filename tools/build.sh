#!/usr/bin/env bash
# Builds the trees named on the command line, one line per stage (the
# compiler's output goes to build/TREE.build.log, shown when a stage fails):
#   native  the portable core with its unit tests and benchmarks (build/native)
#   win32   the shipped 32-bit Windows programs (build/win32/bin)
#   win64   the 64-bit Windows build that the win64 Wine mode runs (build/win64/bin)
# Without names: native, win32, and win64 when tools/wine-env.sh finds the
# win64 mode. TALLY_BUILD_TARGETS (e.g. "tallyhall scoutly") builds only
# those targets of the Windows trees.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-$(nproc)}
[ "$JOBS" -gt 2 ] && JOBS=2

trees=("$@")
if [ ${#trees[@]} -eq 0 ]; then
    . "$ROOT/tools/wine-env.sh"
    trees=(native win32)
    [ "$TALLY_WINE_MODE" = win64 ] && trees+=(win64)
fi

mkdir -p build
for tree in "${trees[@]}"; do
    dir=build/$tree
    args=(-DCMAKE_BUILD_TYPE=Release)
    targets=()
    case "$tree" in
        native) ;;
        win32) args+=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake") ;;
        win64) args+=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake") ;;
        *) echo "build: unknown tree $tree (native, win32 or win64)"; exit 2 ;;
    esac
    if [ "$tree" != native ] && [ -n "${TALLY_BUILD_TARGETS:-}" ]; then
        read -r -a names <<<"$TALLY_BUILD_TARGETS"
        targets=(--target "${names[@]}")
    fi
    echo "build: configuring $dir"
    cmake -S "$ROOT" -B "$dir" "${args[@]}" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
    echo "build: compiling $dir${TALLY_BUILD_TARGETS:+ ($TALLY_BUILD_TARGETS)} (log: $dir.build.log)"
    start=$SECONDS
    if ! cmake --build "$dir" -j "$JOBS" "${targets[@]}" >"$dir.build.log" 2>&1; then
        grep -E 'error|Error' "$dir.build.log" | head -n 30
        echo "build: $dir failed (whole output: $dir.build.log)"
        exit 1
    fi
    echo "build: $dir done ($((SECONDS - start)) s)"
done
