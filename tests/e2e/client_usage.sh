#!/bin/bash
# scoutly.exe under Wine without a usable server: the usage message box
# (caption "Error", lines separated by carriage returns) and exit code 1
# once it is answered; nothing is sent.
. "$(dirname "$0")/common.bash" client_usage
need "$TALLY_BIN/scoutly.exe" "$TALLY_BIN/tally_driver.exe"
wine_start

python3 - >"$RUN/expected.txt" <<'PY'
import sys
lines = ["Invalid Parameters", "",
         "An IP or computer name address is required.  Command line should be executed as follows", "",
         "scoutly Server[:Port] [-R]", "",
         "Server\tIP address or host name of computer running server software (required)",
         "Port\tPort number server is listening on. Leave blank for default (optional)",
         "-R\tif you want the program to remain resident for remote update requests (optional)",
         "Examples", ""]
sys.stdout.write("\r".join(lines) + "\r")
PY

# usage_case NAME ARGS...: runs scoutly, answers the box, checks text and exit code.
usage_case() {
    local name=$1
    shift
    timeout 60 "$WINE" "$TALLY_BIN/scoutly.exe" "$@" >"$RUN/scoutly.out" 2>&1 &
    local pid=$!
    drv box-icon Error 15000
    local icon=$OUT
    timeout 30 "$WINE" "$TALLY_BIN/tally_driver.exe" box Error IDOK 15000 >"$RUN/box.txt" 2>"$RUN/driver.err"
    local drc=$?
    wait "$pid"
    local rc=$?
    check "$name: usage box captioned Error answered" same 0 "$drc"
    check "$name: exit code 1 (got $rc)" same 1 "$rc"
    check "$name: stop icon ($icon)" same stop "$icon"
    python3 - "$RUN/box.txt" "$RUN/expected.txt" >"$RUN/cmp.txt" <<'PY'
import re, sys
text = open(sys.argv[1], "rb").read()
if text.endswith(b"\r\n"):
    text = text[:-2]
elif text.endswith(b"\n"):
    text = text[:-1]
head = open(sys.argv[2], "rb").read()
ok = (text.startswith(head) and b"\n" not in text
      and re.fullmatch(rb"scoutly \d+\.\d+\.\d+\.\d+\rscoutly [A-Za-z][\w.-]*:54543 -R", text[len(head):]))
print("ok" if ok else "mismatch: %r" % text)
PY
    check "$name: usage text, carriage-return lines and tabs ($(cat "$RUN/cmp.txt"))" grep -qx ok "$RUN/cmp.txt"
}

usage_case "empty command line"
usage_case "command line starting with a colon" ":1234"
usage_case "host name not found" "no-such-host.invalid:1234" "-R"

finish
