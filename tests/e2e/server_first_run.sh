#!/bin/bash
# tallyhall end to end: first run without settings (the settings dialog and
# its rules, the registry values it writes), a real scoutly report, the
# Settings command (socket reopened, store reloaded, list rebuilt), the
# delete confirmation, a restart with stored settings, and a second server
# on a taken port ("Display only mode").
. "$(dirname "$0")/server_common.bash" server-first-run
reg_value() { # NAME -> hex bytes of the value, or nothing
    timeout 60 "$WINE" reg query 'HKLM\Software\Kestrin' /v "$1" >"$RUN/reg.out" 2>/dev/null || return 0
    tr -d '\r' <"$RUN/reg.out" | awk -v n="$1" '$1 == n { print $3 }'
}

wine_env_start "$RUN" || { echo "FAIL wine environment"; exit 1; }
TITLE="Kestrin's Vodirir Ozozu Server Version 1.35"
SETTINGS="Audit Server Settings"
PORT=$(free_udp_port_pair)
DATA=$RUN/data
OTHER=$RUN/other
mkdir -p "$DATA" "$OTHER"

timeout 200 "$WINE" "$TALLY_BIN/tallyhall.exe" >"$RUN/server.out" 2>&1 &
SERVER_PID=$!
drv wait-window "$SETTINGS" 20000 && pass "first run shows the settings dialog" || { failed "no settings dialog"; exit 1; }
drv text "$SETTINGS" - 1058; check "port box shows the default" "54333" "$OUT"
drv text "$SETTINGS" - 1096; check "directory box empty" "" "$OUT"

drv click "$SETTINGS" - 1009 \; sleep 500 \; wait-window "$SETTINGS" 10000
check "Cancel with no directory brings the dialog back" "0" "$?"
drv set-text "$SETTINGS" - 1058 "" \; set-text "$SETTINGS" - 1096 "$(wine_path "$DATA")" \; click "$SETTINGS" - 1011 \; sleep 500 \; wait-window "$SETTINGS" 2000
check "OK with an empty port box keeps the dialog open" "0" "$?"
# A port above 65535 is stored as its low 16 bits; one trailing backslash goes.
drv set-text "$SETTINGS" - 1058 "$((PORT + 65536))" \; set-text "$SETTINGS" - 1096 "$(wine_path "$DATA")\\" \; click "$SETTINGS" - 1011
drv wait-window "$TITLE" 20000 && pass "OK starts the server" || { failed "main window after OK"; cat "$RUN/driver.err"; exit 1; }

PATH_HEX=$(python3 -c "import sys; print(sys.argv[1].encode().ljust(255, b'\0').hex().upper())" "$(wine_path "$DATA")")
check "Audit_PathName: 255 bytes, path without trailing backslash" "$PATH_HEX" "$(reg_value Audit_PathName | tr a-f A-F)"
check "Audit_Port: 2 bytes, low 16 bits little-endian" \
    "$(python3 -c "import struct,sys;print(struct.pack('<H',int(sys.argv[1])).hex().upper())" "$PORT")" \
    "$(reg_value Audit_Port | tr a-f A-F)"
drv text "$TITLE" "Server Stats" 1058; check "Server Stats port" "$PORT" "$OUT"
drv text "$TITLE" "Server Stats" 1060; check "Server Stats directory" "$(wine_path "$DATA")" "$OUT"

# With an empty hardware table the record commands act on nothing.
drv set-text "$TITLE" General 1091 "typed" \; click "$TITLE" General 1095 \; menu "$TITLE" 40013 \; sleep 500
if drv box "Delete Record" 7 1000; then failed "no delete confirmation for an empty table"; else pass "no delete confirmation for an empty table"; fi
check "Update Custom Fields writes nothing to an empty table" "0" "$(stat -c %s "$DATA/Hardware.Audit")"

# A real client reports.
if [ -x "$TALLY_BIN/scoutly.exe" ]; then
    timeout 60 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" >"$RUN/scoutly.out" 2>&1
    check "scoutly exit code" "0" "$?"
    drv wait-text "$TITLE" "Server Stats" 1057 1 10000; check "hardware packet from scoutly" "0" "$?"
    drv list-items "$TITLE" - 1038; LIST=$OUT
    check "one system listed" "1" "$(echo "$LIST" | grep -c .)"
    drv text "$TITLE" General 1051; NAME=$OUT
    check "General page names the listed computer" "* $NAME" "$LIST"
    drv text "$TITLE" General 1050; check "IP address of the report" "127.0.0.1" "$OUT"
    check "one record in Hardware.Audit" "808" "$(stat -c %s "$DATA/Hardware.Audit")"
else
    failed "scoutly.exe not built in $TALLY_BIN"
fi

# Delete Record, answered No: nothing changes.
drv menu "$TITLE" 40013 \; box "Delete Record" 7
case "$OUT" in "Are you sure you wish to delete "??:??:??:??:??:??" from the database?") pass "delete confirmation text";;
    *) failed "delete confirmation text [$OUT]";; esac
sleep 0.3
drv list-items "$TITLE" - 1038; check "No keeps the list" "1" "$(echo "$OUT" | grep -c .)"

# Settings from the menu while running: same port, another (empty) directory.
drv menu "$TITLE" 40003 \; wait-window "$SETTINGS" 10000 \; set-text "$SETTINGS" - 1096 "$(wine_path "$OTHER")" \; click "$SETTINGS" - 1011
sleep 1
drv list-items "$TITLE" - 1038; check "list rebuilt from the reloaded (empty) store" "" "$OUT"
drv text "$TITLE" Search 1083; check "hit count after reload" "Search Returned 0 hits" "$OUT"
drv text "$TITLE" "Server Stats" 1060; check "Server Stats keeps the directory of creation" "$(wine_path "$DATA")" "$OUT"
python3 - "$PORT" <<'PY'
import socket, struct, sys
p = bytearray(704); p[0] = 0x54; p[1:7] = bytes([2, 0, 0, 0, 0, 7]); struct.pack_into('<I', p, 8, 704); p[12:17] = b'LATER'
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.sendto(bytes(p), ('127.0.0.1', int(sys.argv[1])))
PY
drv wait-text "$TITLE" - 1031 "Adding hardware record for 127.0.0.1" 10000; check "reopened socket receives" "0" "$?"
drv list-items "$TITLE" - 1038; check "new store lists the new computer" "* LATER" "$OUT"
check "new store's file written" "808" "$(stat -c %s "$OTHER/Hardware.Audit" 2>/dev/null)"

drv close "$TITLE" 10000 || failed "main window closes"
for _ in $(seq 1 100); do kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
wait "$SERVER_PID"; check "exit code" "0" "$?"; SERVER_PID=

# Restart: stored settings, no dialog; a second server cannot bind the port.
timeout 200 "$WINE" "$TALLY_BIN/tallyhall.exe" >"$RUN/server.out" 2>&1 &
SERVER_PID=$!
drv wait-window "$TITLE" 20000 && pass "restart opens the main window directly" || failed "restart"
drv list-items "$TITLE" - 1038; check "restart loads the stored directory" "* LATER" "$OUT"
timeout 100 "$WINE" "$TALLY_BIN/tallyhall.exe" >"$RUN/server2.out" 2>&1 &
SECOND_PID=$!
drv box "Network Error" 1 20000
check "second server on the same port" "Unable to bind application to port to recieve requests. Program is running in Display only mode" "$OUT"
sleep 0.5
kill "$SECOND_PID" 2>/dev/null
drv close "$TITLE" 10000
wait "$SERVER_PID" 2>/dev/null; SERVER_PID=

[ $FAILED -eq 0 ] && echo "server_first_run: all checks passed"
exit $FAILED
