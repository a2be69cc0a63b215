#!/bin/bash
# The Systems and Software Catalogue windows on a store of 300 computers:
# find by user, sort by IP address as numbers, Enter selecting the computer
# in the main window, the 30-day filter and the bulk deletion (files checked
# in place), the catalogue's counts and one version's computers handed to the
# main list and the Systems window, a report followed live, each export read
# back with Python's csv module and compared with the store, the catalogue
# following 100 reports as a fresh open counts them, screenshots.
. "$(dirname "$0")/common.bash" server_inventory
server_setup
SHOTS=${TALLY_SCREENSHOT_DIR:-$TALLY_BIN/../screenshots}
mkdir -p "$SHOTS"
NOW=$(date +%s)
python3 "$HERE/server_inventory.py" write "$DATA" "$NOW"
inv() { python3 "$HERE/server_inventory.py" "$1" "$DATA" "${@:2}"; }
# sheet_equals KIND CSV ARGS...: a spreadsheet export read back equals the store.
sheet_equals() { python3 "$HERE/server_inventory.py" sheet "$1" "$2" "$DATA" "${@:3}"; }
# cells TITLE ID [FIELDS]: the rows of a report list, only the given columns.
cells() { drv list-cells "$1" - "$2" && OUT=$(printf '%s\n' "$OUT" | cut -f"${3:-1-}"); }
GRID_FIELDS=1,2,3,4,13,14,15  # name, user, IP, MAC, days, serial, asset
# save_as TITLE PATH: saves PATH.csv through the save dialog and waits until it is written whole.
save_as() { drv set-text "$1" - cmb13 "$(wine_path "$2")" \; click "$1" - IDOK \; wait-gone "$1" && wait_file "$2.csv"; }
shot() {  # shot TITLE FILE: a screenshot of one window into $SHOTS, not blank
    local wid
    sleep 0.7
    wid=$(timeout 10 xwininfo -root -tree 2>/dev/null | grep -F "\"$1\": (\"tallyhall.exe\"" | awk '{print $1; exit}')
    [ -n "$wid" ] && timeout 20 import -window "$wid" "$SHOTS/$2.png" 2>/dev/null &&
        [ "$(timeout 20 identify -format '%k' "$SHOTS/$2.png" 2>/dev/null)" -gt 10 ]
}

check "main window opens" start_server
check "the Systems window opens" drv menu main IDM_SYSTEMS \; wait-window Systems
drv text Systems - IDC_SYSTEMS_COUNT; check "every computer is listed" same "300 of 300 systems listed" "$OUT"
cells Systems IDC_SYSTEMS_LIST "$GRID_FIELDS"
check "the rows by name" same "$(inv rows "$NOW")" "$OUT"

# --- find by user, sort by IP address, Enter
drv set-text Systems - IDC_SYSTEMS_FIND "CARLA.huber"; cells Systems IDC_SYSTEMS_LIST "$GRID_FIELDS"
check "find by user, either case" same "$(inv rows "$NOW" carla.huber)" "$OUT"
drv set-text Systems - IDC_SYSTEMS_FIND ""; drv header-click Systems - IDC_SYSTEMS_LIST 2
cells Systems IDC_SYSTEMS_LIST "$GRID_FIELDS"
check "sorted by IP address as numbers" same "$(inv rows "$NOW" "" 0 ip)" "$OUT"
FIRST=$(inv rows "$NOW" "" 0 ip | sed -n 1p | cut -f1)
check "Enter selects the computer in the main window" \
    drv list-select Systems - IDC_SYSTEMS_LIST 0 \; menu Systems IDOK \; \
    wait-text main General IDC_GEN_COMPUTER_NAME "$FIRST"
drv header-click Systems - IDC_SYSTEMS_LIST 0

# --- not reported for 30 days: export the rows shown, then delete them
drv set-text Systems - IDC_SYSTEMS_DAYS 30; cells Systems IDC_SYSTEMS_LIST "$GRID_FIELDS"
STALE=$(inv rows "$NOW" "" 30 | wc -l)
check "the 30-day filter" same "$(inv rows "$NOW" "" 30)" "$OUT"
drv text Systems - IDC_SYSTEMS_DELETE; check "the deletion names the count" same "Delete the $STALE listed systems..." "$OUT"
check "export of the rows shown" drv click Systems - IDC_SYSTEMS_EXPORT \; wait-window "Export Systems"
save_as "Export Systems" "$RUN/systems"
check "the rows shown, read back with csv" sheet_equals systems "$RUN/systems.csv" "$NOW" 30
cp "$DATA/Hardware.Audit" "$RUN/hw.before"; cp "$DATA/Software.Audit" "$RUN/sw.before"
inv rows "$NOW" "" 30 | cut -f4 >"$RUN/stale.macs"
drv click Systems - IDC_SYSTEMS_DELETE \; box "Delete Systems" IDYES
check "one confirmation naming the count" \
    same "Are you sure you wish to delete the $STALE listed systems and their software from the database?" "$OUT"
drv wait-text Systems - IDC_SYSTEMS_COUNT "0 of $((300 - STALE)) systems listed"
check "the window follows the deletion" test $? -eq 0
check "deleted in place in both files" python3 - "$RUN" "$DATA" <<'PY'
import sys
from packets import RECORD, ENTRY, mac_text
run, data = sys.argv[1:]
stale = set(open(run + '/stale.macs').read().split())
hw0, hw = open(run + '/hw.before', 'rb').read(), open(data + '/Hardware.Audit', 'rb').read()
sw0, sw = open(run + '/sw.before', 'rb').read(), open(data + '/Software.Audit', 'rb').read()
assert len(hw) == len(hw0) and len(sw) == len(sw0), 'no file changes length'
for i in range(len(hw) // RECORD):
    old, new = hw0[i * RECORD:(i + 1) * RECORD], hw[i * RECORD:(i + 1) * RECORD]
    assert new == (bytes(RECORD) if mac_text(old[4:10]) in stale else old), i
for k in range(0, len(sw), ENTRY):
    old, new = sw0[k:k + ENTRY], sw[k:k + ENTRY]
    if mac_text(old[:6]) in stale:
        assert new[:6] == bytes(6) and new[70] == 0 and new[6:70] == old[6:70], k
    else:
        assert new == old, k
PY
drv list-count main - IDC_SYSTEM_LIST "$((300 - STALE))" 3000; check "the main list follows" same "$((300 - STALE))" "$OUT"
drv set-text Systems - IDC_SYSTEMS_DAYS ""

# --- the catalogue
check "the catalogue opens" drv menu main IDM_SOFTWARE_CATALOGUE \; wait-window "Software Catalogue"
cells "Software Catalogue" IDC_CATALOGUE_PROGRAMS
check "programs with their computers and versions" same "$(inv programs)" "$OUT"
drv list-select "Software Catalogue" - IDC_CATALOGUE_PROGRAMS "Web Browser" \; \
    list-select "Software Catalogue" - IDC_CATALOGUE_VERSIONS "109.0" \; text "Software Catalogue" - IDC_CATALOGUE_SET_TEXT
CHOSEN=$(inv version "Web Browser" 109.0)
check "one version's count" same "Web Browser 109.0: $(printf '%s\n' "$CHOSEN" | wc -l) computers" "$OUT"
cells "Software Catalogue" IDC_CATALOGUE_COMPUTERS 1
check "one version's computers" same "$CHOSEN" "$OUT"
drv click "Software Catalogue" - IDC_CATALOGUE_TO_MAIN_LIST \; sleep 300
check "handed to the main list as a search result" same "$(printf '%s\n' "$CHOSEN" | sort | paste -sd' ')" "$(systems)"
drv click "Software Catalogue" - IDC_CATALOGUE_TO_SYSTEMS \; sleep 300 \; text Systems - IDC_SYSTEMS_COUNT
check "handed to the Systems window" same "$(printf '%s\n' "$CHOSEN" | wc -l) of $((300 - STALE)) systems listed" "$OUT"
drv click Systems - IDC_SYSTEMS_SHOW_ALL

for sheet in programs computers inventory; do
    case $sheet in
        programs) BUTTON=IDC_CATALOGUE_EXPORT_PROGRAMS TITLE="Export Programs" ;;
        computers) BUTTON=IDC_CATALOGUE_EXPORT_COMPUTERS TITLE="Export Computers" ;;
        inventory) BUTTON=IDC_CATALOGUE_EXPORT_INVENTORY TITLE="Export Software Inventory" ;;
    esac
    drv click "Software Catalogue" - $BUTTON \; wait-window "$TITLE" && save_as "$TITLE" "$RUN/$sheet"
    check "export of the $sheet, read back with csv" sheet_equals $sheet "$RUN/$sheet.csv" "Web Browser" 109.0
done

# --- a report arrives: both windows follow it
python3 - "$PORT" <<'PY'
import sys
from packets import *
mac = bytes([0x00, 0x1B, 0x21, 0x00, 0x7F, 0x01])
send(int(sys.argv[1]), [hardware(mac, 'WS-NEW', 'zoe.weber'),
                        software(LIST_START, mac, [('Web Browser', '109.0'), ('Brand New Tool', '1')])], '127.0.0.77')
PY
check "a new computer appears in the Systems window" \
    drv wait-text Systems - IDC_SYSTEMS_COUNT "$((301 - STALE)) of $((301 - STALE)) systems listed"
drv set-text Systems - IDC_SYSTEMS_FIND zoe.weber; cells Systems IDC_SYSTEMS_LIST 1,2,3
check "with its row" same "WS-NEW	zoe.weber	127.0.0.77" "$OUT"
drv set-text "Software Catalogue" - IDC_CATALOGUE_FIND "brand" \; sleep 1500; cells "Software Catalogue" IDC_CATALOGUE_PROGRAMS
check "its program appears in the catalogue" same "Brand New Tool	1	1" "$OUT"
drv set-text "Software Catalogue" - IDC_CATALOGUE_FIND "" \; set-text Systems - IDC_SYSTEMS_FIND ""

# --- 100 reports while the catalogue is open: it shows what a fresh open shows
python3 - "$PORT" <<'PY'
import sys
from packets import *
datagrams = []
for n in range(100):
    c = n % 60  # 60 computers, 40 of them report twice with other programs
    mac = bytes([0x00, 0x1B, 0x21, 0x01, 0x00, c])
    items = [('Storm Tool %d' % ((c + k + n // 60) % 7), '%d.%d' % (n // 60, k)) for k in range(3)]
    items.append(('Web Browser', '109.0' if (c + n // 60) % 2 else '110.0'))
    datagrams += [hardware(mac, 'STORM%02d' % c, 'storm.user'), software(LIST_START, mac, items)]
send(int(sys.argv[1]), datagrams, '127.0.0.78', 0.005)
PY
check "the 100 reports are taken" \
    drv wait-text Systems - IDC_SYSTEMS_COUNT "$((361 - STALE)) of $((361 - STALE)) systems listed" 20000
sleep 1.5
cells "Software Catalogue" IDC_CATALOGUE_PROGRAMS; LIVE=$OUT
check "the catalogue followed them: the counts the files hold" same "$(inv programs)" "$LIVE"
drv close "Software Catalogue" \; menu main IDM_SOFTWARE_CATALOGUE \; wait-window "Software Catalogue"
cells "Software Catalogue" IDC_CATALOGUE_PROGRAMS
check "the same counts as a fresh open" same "$LIVE" "$OUT"

drv list-select "Software Catalogue" - IDC_CATALOGUE_PROGRAMS "Web Browser" \; \
    list-select "Software Catalogue" - IDC_CATALOGUE_VERSIONS "109.0" \; list-select Systems - IDC_SYSTEMS_LIST 3 \; \
    move Systems 0 0 1270 500 \; move "Software Catalogue" 0 505 1270 515  # resized, side by side
check "screenshot $SHOTS/inventory_systems.png" shot Systems inventory_systems
check "screenshot $SHOTS/inventory_catalogue.png" shot "Software Catalogue" inventory_catalogue
# Escape (27) in the find box reaches the window as a dialog key: it closes.
check "Escape closes the Systems window" drv key Systems - IDC_SYSTEMS_FIND 27 \; wait-gone Systems
check "the catalogue closes" drv close "Software Catalogue"
check "the server ends" stop_server
finish
