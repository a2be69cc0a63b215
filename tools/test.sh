#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds what the Wine mode
# needs, then runs
#   1. the native unit tests (ctest),
#   2. the intake fuzz target under AddressSanitizer and UBSan for a bounded time,
#   3. the unit tests as a Windows program under Wine,
#   4. a check that the shipped .exe files import system DLLs only, and that
#      the server imports ODBC's plain entry points, not the ...A ones,
#   5. every end-to-end test tests/e2e/*.sh under Wine and Xvfb,
#   6. in the wow64 mode, the client's audit test once more in a 32-bit prefix.
# The Wine mode (tools/wine-env.sh; TALLY_WINE_MODE=wow64|win64|win32 forces
# one) is printed first and on the line before the closing line
# "N passed, N failed" (one count per step and e2e script).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
passed=0
failed=0
failures=()

step() {  # NAME COMMAND...
    local name=$1
    shift
    echo "=== $name"
    local start=$SECONDS
    if "$@"; then
        passed=$((passed + 1))
        echo "--- PASS $name ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1))
        failures+=("$name")
        echo "--- FAIL $name ($((SECONDS - start)) s)"
    fi
}

bash tools/install-deps.sh || { echo "cannot install the build dependencies"; echo "0 passed, 1 failed"; exit 1; }
FORCED=${TALLY_WINE_MODE:+, forced by TALLY_WINE_MODE}
. tools/wine-env.sh || { echo "no Wine mode"; echo "0 passed, 1 failed"; exit 1; }
case "$TALLY_WINE_MODE" in
    wow64) MODE="wow64 (+win32 client audit$FORCED)" ;;
    win64) MODE="win64 (64-bit build${FORCED:-; 32-bit programs do not run here})" ;;
    *) MODE="$TALLY_WINE_MODE (32-bit prefix$FORCED)" ;;
esac
echo "mode: $MODE"
if ! bash tools/build.sh; then
    echo "build failed"
    echo "mode: $MODE"
    echo "0 passed, 1 failed"
    exit 1
fi
export TALLY_NATIVE_BIN="$ROOT/build/native/bin"

native_tests() { (cd build/native && ctest --output-on-failure -j 2 --timeout 300); }
step "native unit tests" native_tests

fuzz_intake() {
    local dir="$ROOT/build/fuzz"
    mkdir -p "$dir"
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLY_FUZZ=ON \
        -DTALLY_TESTS=OFF -DTALLY_BENCH=OFF >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" --target intake_fuzz -j 2 >"$dir.build.log" 2>&1 || { cat "$dir.build.log"; return 1; }
    local corpus
    corpus=$(mktemp -d)
    cp fuzz/corpus/* "$corpus"/
    timeout $((FUZZ_SECONDS + 120)) "$dir/bin/intake_fuzz" -max_total_time="$FUZZ_SECONDS" -max_len=8192 \
        -print_final_stats=1 "$corpus" >"$dir.run.log" 2>&1
    local rc=$?
    tail -n 8 "$dir.run.log"
    # libFuzzer's own figure: the instrumented edges of intake, store and
    # packet code that the inputs reached.
    echo "coverage reached: $(grep -o 'cov: [0-9]*' "$dir.run.log" | tail -n 1 | cut -d' ' -f2) edges"
    rm -rf "$corpus"
    return $rc
}
step "intake fuzz target (${FUZZ_SECONDS} s, ASan+UBSan)" fuzz_intake

windows_unit_tests() {
    local run
    run=$(mktemp -d)
    wine_env_start "$run/wine" || return 1
    (cd "$TALLY_BIN" && timeout 300 "$WINE" unit_tests.exe --gtest_brief=1 >"$run/out.txt" 2>&1)
    local rc=$?
    wine_env_stop
    tail -n 20 "$run/out.txt"
    grep -q '^\[  PASSED  \]' "$run/out.txt" && ! grep -q '^\[  FAILED  \]' "$run/out.txt" || rc=1
    rm -rf "$run"
    return $rc
}
step "unit tests as a Windows program under Wine ($TALLY_WINE_MODE)" windows_unit_tests

system_dlls_only() {
    local ok=0 exe
    for exe in build/win32/bin/scoutly.exe build/win32/bin/tallyhall.exe; do
        [ -f "$exe" ] || { echo "missing $exe"; ok=1; continue; }
        if i686-w64-mingw32-objdump -p "$exe" | grep 'DLL Name' | grep -qiE 'libgcc|libstdc|libwinpthread'; then
            echo "$exe needs compiler run-time DLLs"
            ok=1
        fi
        i686-w64-mingw32-objdump -f "$exe" | grep -q 'pei-i386' || { echo "$exe is not a 32-bit program"; ok=1; }
    done
    return $ok
}
step "shipped programs are 32-bit and import system DLLs only" system_dlls_only

# Wine's odbc32 has ODBC's plain entry points but not the ...A-suffixed ones,
# which end the program: the server must import none of those.
plain_odbc_names() {
    local ok=0 exe dump names
    for exe in build/win32/bin/tallyhall.exe build/win64/bin/tallyhall.exe; do
        [ -f "$exe" ] || continue
        dump=i686-w64-mingw32-objdump
        [[ $exe == build/win64/* ]] && dump=x86_64-w64-mingw32-objdump
        names=$("$dump" -p "$exe" | grep -oE '\bSQL[A-Za-z]+\b' | sort -u)
        [ -n "$names" ] || { echo "$exe imports no ODBC entry point"; ok=1; }
        if grep -E 'A$' <<<"$names"; then echo "$exe imports ...A-suffixed ODBC names"; ok=1; fi
    done
    return $ok
}
step "the server imports ODBC's plain entry points only" plain_odbc_names

for script in tests/e2e/*.sh; do
    [ -f "$script" ] || continue
    step "end-to-end $(basename "$script" .sh)" timeout 300 bash "$script"
done
if [ "$TALLY_WINE_MODE" = wow64 ]; then
    step "end-to-end client_audit in a 32-bit prefix" \
        env TALLY_WINE_MODE=win32 TALLY_BIN="$ROOT/build/win32/bin" timeout 300 bash tests/e2e/client_audit.sh
fi

echo
if [ ${#failures[@]} -gt 0 ]; then
    printf 'failed: %s\n' "${failures[@]}"
fi
echo "mode: $MODE"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
