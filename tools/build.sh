#!/usr/bin/env bash
# Builds everything: the native core with its tests and benchmarks
# (build/native), the shipped 32-bit Windows programs (build/win32/bin), and,
# on a machine whose Wine runs only 64-bit programs, the 64-bit Windows build
# the tests run there (build/win64/bin).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-$(nproc)}

configure() {  # DIR [cmake args...]
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; return 1; }
}

mkdir -p build
configure build/native
cmake --build build/native -j "$JOBS"

configure build/win32 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake"
cmake --build build/win32 -j "$JOBS"

. "$ROOT/tools/wine-env.sh"
if [ "$TALLY_WIN_ARCH" = x86_64 ]; then
    configure build/win64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake"
    cmake --build build/win64 -j "$JOBS"
fi
