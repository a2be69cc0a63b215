#!/bin/bash
# The change history live: a computer reports, then reports again with two
# programs added, one removed, one updated, more memory and a new user; the
# Changes window and the computer's timeline show exactly those six events
# (after its "first seen"), the export reads back equal with Python's csv
# module, the catalogue finds the computer that updated a program, a restart keeps them, and an event older than the retention is
# purged at start-up, leaving one marker.
. "$(dirname "$0")/common.bash" server_history
server_setup
MAC=00:1B:21:00:19:01
report() {  # report USER RAM_MB PROGRAMS...: one earlier client's pass (hardware packet, software list)
    python3 - "$PORT" "$@" <<'PY'
import sys
from packets import *
port, user, ram, items = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4:]
mac = bytes([0x00, 0x1B, 0x21, 0x00, 0x19, 0x01])
programs = [tuple(i.split("=")) for i in items]
hw = bytearray(hardware(mac, "PC-HIST", user, ram << 20))
struct.pack_into("<I", hw, 92, 1 << 30)  # the same page file each time
send(port, [bytes(hw)] + ([software(LIST_START, mac, programs)] if programs else []), "127.0.0.1", 0.05)
PY
}
# rows TITLE: the kind, what, old and new value of every row, sorted.
rows() { drv list-cells "$1" - IDC_CHANGES_LIST && OUT=$(printf '%s\n' "$OUT" | cut -f3-6 | LC_ALL=C sort); }
T=$'\t'
EXPECTED=$(LC_ALL=C sort <<EOF2
First seen${T}First report${T}${T}
Hardware${T}Memory${T}256 MB${T}512 MB
Identity${T}User${T}alice${T}bob
Program added${T}Disk Tool${T}${T}4.0
Program added${T}Mail${T}${T}2.5
Program removed${T}Viewer${T}2.0${T}
Program updated${T}Editor${T}1.0${T}1.1
EOF2
)
save_as() { drv set-text "$1" - cmb13 "$(wine_path "$2")" \; click "$1" - IDOK \; wait-gone "$1" && wait_file "$2.csv"; }

check "main window opens" start_server
report alice 256 "Editor=1.0" "Viewer=2.0" "Zip=9"
report bob 512 "Editor=1.1" "Zip=9" "Mail=2.5" "Disk Tool=4.0"
# The next report's hardware packet settles the one before it (an earlier client sends no pass manifest).
report bob 512
check "the Changes window opens" drv menu main IDM_CHANGES \; wait-window Changes
drv wait-text Changes - IDC_CHANGES_COUNT "7 of 7 changes listed"
check "the window follows the intake" test $? -eq 0
rows Changes; check "first seen and exactly the six changes" same "$EXPECTED" "$OUT"
drv set-text Changes - IDC_CHANGES_FIND "mail"; rows Changes
check "the find box" same "Program added${T}Mail${T}${T}2.5" "$OUT"
drv set-text Changes - IDC_CHANGES_FIND ""
drv list-cells Changes - IDC_CHANGES_LIST; printf '%s\n' "$OUT" >"$RUN/shown"
check "export of the rows shown" drv click Changes - IDC_CHANGES_EXPORT \; wait-window "Export Changes"
save_as "Export Changes" "$RUN/changes"
check "the export reads back equal" python3 - "$RUN/changes.csv" "$RUN/shown" <<'PY'
import csv, io, sys
data = open(sys.argv[1], newline="", encoding="latin-1").read()
assert data.endswith("\r\n") and data.count("\n") == data.count("\r\n"), "CRLF lines"
table = list(csv.reader(io.StringIO(data, newline="")))
assert table[0] == ["Time", "Computer", "Kind", "What", "Old Value", "New Value"], table[0]
shown = [l.split("\t") for l in open(sys.argv[2]).read().splitlines()]
assert table[1:] == shown, (table[1:], shown)
assert all(r[1] == "PC-HIST" for r in shown), shown
PY
check "the timeline opens from the Record menu" select_system PC-HIST \; menu main IDM_TIMELINE \; wait-window Timeline
rows Timeline; check "the timeline shows the same events" same "$EXPECTED" "$OUT"
drv close Timeline; drv close Changes
check "the catalogue opens" drv menu main IDM_SOFTWARE_CATALOGUE \; wait-window "Software Catalogue"
drv list-select "Software Catalogue" - IDC_CATALOGUE_PROGRAMS "Editor" \; \
    set-text "Software Catalogue" - IDC_CATALOGUE_INSTALLED_DAYS 7 \; text "Software Catalogue" - IDC_CATALOGUE_SET_TEXT
check "the computers that installed a program in the last 7 days" \
    same "Editor: 1 computer installed in the last 7 days" "$OUT"
drv list-select "Software Catalogue" - IDC_CATALOGUE_PROGRAMS "Zip" \; text "Software Catalogue" - IDC_CATALOGUE_SET_TEXT
check "none for a program installed before the history began" same "Zip: 0 computers installed in the last 7 days" "$OUT"
drv close "Software Catalogue"
check "the server ends" stop_server

# An event older than 5 days is purged at start-up; one marker says so.
check "an old event added to History.Audit" python3 - "$DATA/History.Audit" "$(date +%s)" <<'PY'
import struct, sys
path, now = sys.argv[1], int(sys.argv[2])
data = open(path, "rb").read()
assert len(data) % 256 == 0 and len(data) // 256 >= 7, len(data)
last = max(struct.unpack_from("<Q", data, k)[0] for k in range(0, len(data), 256))
r = bytearray(256)
struct.pack_into("<QQ", r, 0, last + 1, now - 10 * 86400)
r[16:22] = bytes([0x00, 0x1B, 0x21, 0x00, 0x19, 0x01])
r[22], r[23] = 5, 1
r[24:31], r[76:82] = b"PC-HIST", b"Memory"
h = 2166136261
for k in range(0, 252, 4):
    h = ((h ^ struct.unpack_from("<I", r, k)[0]) * 16777619) & 0xFFFFFFFF
struct.pack_into("<I", r, 252, h)
open(path, "ab").write(bytes(r))
PY
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_HistoryDays /t REG_BINARY /d 05000000 /f >/dev/null 2>&1
check "main window opens again" start_server
check "the Changes window opens" drv menu main IDM_CHANGES \; wait-window Changes
drv set-text Changes - IDC_CHANGES_DAYS ""; rows Changes
check "a restart keeps the events; the old one is purged, a marker left" \
    same "$(printf '%s\nHistory purged\tHistory purged\t1 events\t' "$EXPECTED" | LC_ALL=C sort)" "$OUT"
check "the file holds the kept events and the marker" test "$(stat -c %s "$DATA/History.Audit")" -eq $((8 * 256))
drv close Changes
check "the server ends" stop_server
finish
