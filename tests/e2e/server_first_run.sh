#!/bin/bash
# tallyhall end to end: first run without settings (the settings dialog and
# its rules, the registry values it writes), a real scoutly report, the
# Settings command (socket reopened, store reloaded, list rebuilt), the
# delete confirmation, a restart with stored settings, and a second server
# on a taken port ("Display only mode").
. "$(dirname "$0")/common.bash" server_first_run
need "$TALLY_BIN/tallyhall.exe" "$TALLY_BIN/scoutly.exe" "$TALLY_BIN/tally_driver.exe"
wine_start
SETTINGS="Audit Server Settings"
PORT=$(free_udp_port_pair)
OTHER=$RUN/other
mkdir -p "$OTHER"
reg_value() { # NAME -> hex bytes of the value, or nothing
    timeout 60 "$WINE" reg query 'HKLM\Software\Kestrin' /v "$1" >"$RUN/reg.out" 2>/dev/null || return 0
    tr -d '\r' <"$RUN/reg.out" | awk -v n="$1" '$1 == n { print toupper($3) }'
}

(cd "$RUN" && exec timeout 200 "$WINE" "$TALLY_BIN/tallyhall.exe" </dev/null >"$RUN/server.log" 2>&1) &
SERVER_PID=$!
check "first run shows the settings dialog" drv wait-window "$SETTINGS" 20000 || exit 1
drv text "$SETTINGS" - IDC_SETTINGS_PORT; check "port box shows the default" same 54333 "$OUT"
drv text "$SETTINGS" - IDC_SETTINGS_DIRECTORY; check "directory box empty" same "" "$OUT"

check "Cancel with no directory brings the dialog back" \
    drv click "$SETTINGS" - IDC_SETTINGS_CANCEL \; sleep 500 \; wait-window "$SETTINGS"
check "OK with an empty port box keeps the dialog open" \
    drv set-text "$SETTINGS" - IDC_SETTINGS_PORT "" \; set-text "$SETTINGS" - IDC_SETTINGS_DIRECTORY "$(wine_path "$DATA")" \; \
    click "$SETTINGS" - IDC_SETTINGS_OK \; sleep 500 \; wait-window "$SETTINGS" 2000
# A port above 65535 is stored as its low 16 bits; one trailing backslash goes.
drv set-text "$SETTINGS" - IDC_SETTINGS_PORT "$((PORT + 65536))" \; \
    set-text "$SETTINGS" - IDC_SETTINGS_DIRECTORY "$(wine_path "$DATA")\\" \; click "$SETTINGS" - IDC_SETTINGS_OK
check "OK starts the server" drv wait-window main 20000 || exit 1

check "Audit_PathName: 255 bytes, path without trailing backslash" \
    same "$(python3 "$HERE/packets.py" regvalue "$(wine_path "$DATA")" | tr a-f A-F)" "$(reg_value Audit_PathName)"
check "Audit_Port: 2 bytes, low 16 bits little-endian" \
    same "$(printf '%02X%02X' $((PORT & 255)) $((PORT >> 8)))" "$(reg_value Audit_Port)"
drv text main "Server Stats" IDC_STATS_PORT; check "Server Stats port" same "$PORT" "$OUT"
drv text main "Server Stats" IDC_STATS_WORKING_DIRECTORY; check "Server Stats directory" same "$(wine_path "$DATA")" "$OUT"

# With an empty hardware table the record commands act on nothing.
drv set-text main General IDC_GEN_CUSTOM_FIELD_1 "typed" \; click main General IDC_GEN_UPDATE_CUSTOM_FIELDS \; \
    menu main IDM_DELETE_RECORD \; sleep 500
check "no delete confirmation for an empty table" not drv box "Delete Record" IDNO 1000
check "Update Custom Fields writes nothing to an empty table" same 0 "$(stat -c %s "$DATA/Hardware.Audit")"

# A real client reports, with a program installed for the user alone.
timeout 60 "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\UserApp' /v DisplayName \
    /d "Per-User Program" /f >/dev/null 2>&1
timeout 60 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" >"$RUN/scoutly.out" 2>&1
check "scoutly exit code" same 0 "$?"
check "hardware packet from scoutly" drv wait-text main "Server Stats" IDC_STATS_HARDWARE_PACKETS 1
drv list-items main - IDC_SYSTEM_LIST; LIST=$OUT
check "one system listed" same 1 "$(grep -c . <<<"$LIST")"
drv text main General IDC_GEN_COMPUTER_NAME; check "General page names the listed computer" same "* $OUT" "$LIST"
drv text main General IDC_GEN_IP_ADDRESS; check "IP address of the report" same 127.0.0.1 "$OUT"
check "one record in Hardware.Audit" same 808 "$(stat -c %s "$DATA/Hardware.Audit")"
# Its memory as this machine has it (above 4 GB here), its processor's name.
MEM_MB=$(awk '/^MemTotal/ { print int(($2 + 1023) / 1024) }' /proc/meminfo)
drv text main Hardware IDC_HW_TOTAL_RAM
check "true memory: $OUT MB (machine $MEM_MB MB)" test "$(( ${OUT:-0} - MEM_MB ))" -ge -1 -a "$(( ${OUT:-0} - MEM_MB ))" -le 1
BRAND=$(awk -F': ' '/^model name/ { sub(/ +$/, "", $2); print $2; exit }' /proc/cpuinfo)
drv text main Hardware IDC_HW_PROCESSOR_NAME; check "processor name" same "$BRAND" "$OUT"
drv text main Software IDC_SW_INSTALLED_SOFTWARE; check "the per-user program arrived" grep -qx "Per-User Program" <<<"$OUT"

# Delete Record, answered No: nothing changes.
drv menu main IDM_DELETE_RECORD \; box "Delete Record" IDNO
check "delete confirmation text [$OUT]" \
    grep -qxE 'Are you sure you wish to delete ([0-9A-F]{2}:){5}[0-9A-F]{2} from the database\?' <<<"$OUT"
drv sleep 300 \; list-items main - IDC_SYSTEM_LIST; check "No keeps the list" same 1 "$(grep -c . <<<"$OUT")"

# Settings from the menu while running: same port, another (empty) directory.
drv menu main IDM_SETTINGS \; wait-window "$SETTINGS" \; \
    set-text "$SETTINGS" - IDC_SETTINGS_DIRECTORY "$(wine_path "$OTHER")" \; click "$SETTINGS" - IDC_SETTINGS_OK \; sleep 1000
drv list-items main - IDC_SYSTEM_LIST; check "list rebuilt from the reloaded (empty) store" same "" "$OUT"
drv text main Search IDC_SEARCH_HITS; check "hit count after reload" same "Search Returned 0 hits" "$OUT"
drv text main "Server Stats" IDC_STATS_WORKING_DIRECTORY
check "Server Stats keeps the directory of creation" same "$(wine_path "$DATA")" "$OUT"
python3 -c "import sys; from packets import *; send(int(sys.argv[1]), [hardware(bytes([2, 0, 0, 0, 0, 7]), 'LATER')])" "$PORT"
check "reopened socket receives" drv wait-text main - IDC_STATUS_LINE "Adding hardware record for 127.0.0.1"
drv list-items main - IDC_SYSTEM_LIST; check "new store lists the new computer" same "* LATER" "$OUT"
check "new store's file written" same 808 "$(stat -c %s "$OTHER/Hardware.Audit" 2>/dev/null)"

check "main window closes" stop_server
check "exit code" same 0 "${SERVER_RC:-}"

# Restart: stored settings, no dialog; a second server cannot bind the port.
check "restart opens the main window directly" start_server
drv list-items main - IDC_SYSTEM_LIST; check "restart loads the stored directory" same "* LATER" "$OUT"
timeout 100 "$WINE" "$TALLY_BIN/tallyhall.exe" >"$RUN/server2.out" 2>&1 &
SECOND_PID=$!
AT_EXIT+=('kill "$SECOND_PID" 2>/dev/null')
drv box "Network Error" IDOK 20000
check "second server on the same port" \
    same "Unable to bind application to port to recieve requests. Program is running in Display only mode" "$OUT"
sleep 0.5
kill "$SECOND_PID" 2>/dev/null
stop_server

# A stored path that cannot be opened (255 characters, so stored without its
# terminator) offers the settings dialog after the store's box instead of
# ending; there a directory too long for the registry value is refused.
server_settings "/$(printf 'x%.0s' $(seq 252))" "$PORT"  # Z:\ and 252 characters
(cd "$RUN" && exec timeout 200 "$WINE" "$TALLY_BIN/tallyhall.exe" </dev/null >"$RUN/server.log" 2>&1) &
SERVER_PID=$!
check "an unopenable stored path shows the store's box" drv box "File Error" IDOK 20000
check "then the settings dialog" drv wait-window "$SETTINGS" 20000
drv set-text "$SETTINGS" - IDC_SETTINGS_DIRECTORY "$(wine_path "$DATA")\\$(printf 'y%.0s' $(seq 300))" \; \
    click "$SETTINGS" - IDC_SETTINGS_OK \; box "Settings Error" IDOK 5000
check "a 300-character directory is refused at OK" \
    same "The working directory can be at most 254 characters long. Please choose a shorter path." "$OUT"
drv set-text "$SETTINGS" - IDC_SETTINGS_DIRECTORY "$(wine_path "$DATA")" \; click "$SETTINGS" - IDC_SETTINGS_OK
check "a working directory then starts the server" drv wait-window main 20000
drv list-items main - IDC_SYSTEM_LIST; check "on that directory's store" same 1 "$(grep -c . <<<"$OUT")"
stop_server
finish
