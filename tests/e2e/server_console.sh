#!/bin/bash
# tallyhall end to end: start with preset settings, take real datagrams over
# loopback, and check the database files, status line, counters, system list
# in each order, the record views, the layout and a screenshot.
. "$(dirname "$0")/server_common.bash" server-console

wine_env_start "$RUN" || { echo "FAIL wine environment"; exit 1; }
TITLE="Kestrin's Vodirir Ozozu Server Version 1.35"
PORT=$(free_udp_port_pair)
DATA=$RUN/data
mkdir -p "$DATA"
SHOTS=${TALLY_SCREENSHOT_DIR:-$TALLY_BIN/../screenshots}
mkdir -p "$SHOTS"

driver() { timeout 60 "$WINE" "$TALLY_BIN/tally_driver.exe" "$@" >"$RUN/driver.out" 2>"$RUN/driver.err"; }
# drv ARGS...: runs the driver, output in $OUT (CR removed).
drv() { driver "$@"; local rc=$?; OUT=$(tr -d '\r' <"$RUN/driver.out"); return $rc; }

HEX=$(python3 -c "import sys; print(sys.argv[1].encode().ljust(255, b'\0').hex())" "$(wine_path "$DATA")")
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$HEX" /f >/dev/null 2>&1
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY \
    /d "$(python3 -c "import struct,sys;print(struct.pack('<H',int(sys.argv[1])).hex())" "$PORT")" /f >/dev/null 2>&1

timeout 200 "$WINE" "$TALLY_BIN/tallyhall.exe" >"$RUN/server.out" 2>&1 &
SERVER_PID=$!
drv wait-window "$TITLE" 20000 \; maximized "$TITLE" || { echo "FAIL main window did not open"; cat "$RUN/driver.err"; exit 1; }
pass "main window opens"
# (Under Xvfb without a window manager, Wine restores a maximised window a
# moment later; the state right after opening is the program's.)
check "opens maximised" "1" "$OUT"

drv text "$TITLE" - 1031; check "status line at start" "Program Started" "$OUT"
drv visible "$TITLE" General; check "General page shown" "1" "$OUT"
drv visible "$TITLE" Hardware; check "Hardware page hidden" "0" "$OUT"
drv text "$TITLE" "Server Stats" 1058; check "Server Stats port" "$PORT" "$OUT"
drv text "$TITLE" "Server Stats" 1060; check "Server Stats working directory" "$(wine_path "$DATA")" "$OUT"
drv text "$TITLE" Search 1083; check "hit count of an empty table" "Search Returned 0 hits" "$OUT"
drv combo-items "$TITLE" - 1044
check "sort selector entries" "System Name|MAC Address|IP Address|selected 0" "$(echo "$OUT" | paste -sd'|')"

# Three computers from three loopback addresses; PC9 has software and an ID packet.
T0=$(date +%s)
python3 - "$PORT" "$DATA" <<'PY' || failed "sending datagrams"
import socket, struct, sys
port = int(sys.argv[1])

def hw(mac, name, user, ram, drives, up, speed=2992.6, code=0x0F29, bpp=32, refresh=75, inter=0,
       ver=(5, 1, 2600), platform=2, w=1024, h=768):
    p = bytearray(704)
    p[0] = 0x54; p[1:7] = mac; struct.pack_into('<I', p, 8, 704)
    p[12:12 + len(name)] = name.encode()
    struct.pack_into('<H', p, 62, 0x0202); p[64] = 13; p[68:80] = b'GenuineIntel'
    struct.pack_into('<I', p, 80, code); struct.pack_into('<f', p, 84, speed)
    struct.pack_into('<I', p, 88, ram); struct.pack_into('<I', p, 92, 2 * ram)
    p[96], p[97] = ver[0], ver[1]; struct.pack_into('<H', p, 98, ver[2])
    struct.pack_into('<I', p, 100, platform); struct.pack_into('<I', p, 104, bpp)
    struct.pack_into('<I', p, 108, w); struct.pack_into('<I', p, 112, h)
    struct.pack_into('<H', p, 116, refresh); p[118] = inter
    for k, (letter, kind, free, total) in enumerate(drives):
        p[119 + k] = ord(letter); struct.pack_into('<I', p, 148 + 4 * k, kind)
        struct.pack_into('<Q', p, 256 + 8 * k, free); struct.pack_into('<Q', p, 464 + 8 * k, total)
    struct.pack_into('<I', p, 672, up)
    p[676:676 + len(user)] = user.encode()
    return bytes(p)

def sw(lead, mac, items):
    p = bytearray([lead]) + mac
    for name, version in items:
        p += b'L' + bytes([len(name) + 1]) + name.encode() + b'\0'
        if version is not None:
            p += b'X' + bytes([len(version) + 1]) + version.encode() + b'\0'
    return bytes(p)

def id_packet(mac, asset, serial):
    p = bytearray(64); p[0] = 0x32; p[1:7] = mac; struct.pack_into('<I', p, 8, 64)
    p[12:12 + len(asset)] = asset.encode(); p[37:37 + len(serial)] = serial.encode()
    return bytes(p)

GB = 1 << 30
m9, m10, ma = bytes([0, 0x11, 0x22, 0x33, 0x44, 0x09]), bytes([0, 0x11, 0x22, 0x33, 0x44, 0x10]), bytes([0x0A, 0, 0, 0, 0, 1])
sends = [
    ('127.0.0.9', hw(m9, 'PC9', 'alice', 512 << 20, [('a', 2, 0, 0), ('c', 3, 12800 << 20, 40 * GB), ('D', 5, 0, 0)], 176527)),
    ('127.0.0.9', id_packet(m9, 'TAG-9', 'SER-9')),
    ('127.0.0.9', sw(0xA3, m9, [('Home Office Suite 2', '11.0'), ('Zip Tool', ' 1.0'), ('Editor', None)])),
    ('127.0.0.10', hw(m10, 'PC10', 'bob', 128 << 20, [('C', 3, 5 * GB, 20 * GB)], 59, refresh=1, inter=1, bpp=8)),
    ('127.0.0.2', hw(ma, 'alpha', 'carol', 256 << 20, [], 3600, ver=(6, 0, 6002))),
]
for source, data in sends:
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    s.sendto(data, ('127.0.0.1', port))
    s.close()
open(sys.argv[2] + '/../sent.bin', 'wb').write(b''.join(d for _, d in sends if d[0] == 0x54))
PY
drv wait-text "$TITLE" - 1031 "Adding hardware record for 127.0.0.2" 10000 || failed "status after three computers: $(cat "$RUN/driver.err")"
T1=$(date +%s)
drv text "$TITLE" "Server Stats" 1057; check "hardware packet count" "3" "$OUT"
drv text "$TITLE" "Server Stats" 1059; check "software packet count" "1" "$OUT"
drv text "$TITLE" "Server Stats" 1061; check "ID packet count" "1" "$OUT"
drv text "$TITLE" Search 1083; check "hit count" "Search Returned 3 hits" "$OUT"

# The database files, byte for byte (Last Update between the send and now).
python3 - "$DATA" "$RUN/sent.bin" "$T0" "$T1" <<'PY' && pass "Hardware.Audit and Software.Audit byte for byte" || failed "database files"
import struct, sys
data, sent, t0, t1 = sys.argv[1], open(sys.argv[2], 'rb').read(), int(sys.argv[3]), int(sys.argv[4])
hw = open(data + '/Hardware.Audit', 'rb').read()
sw = open(data + '/Software.Audit', 'rb').read()
assert len(hw) == 3 * 808, len(hw)
ips = [bytes([127, 0, 0, 9]), bytes([127, 0, 0, 10]), bytes([127, 0, 0, 2])]
for i in range(3):
    p, r = sent[704 * i:704 * (i + 1)], hw[808 * i:808 * (i + 1)]
    e = bytearray(808)
    e[4:10] = p[1:7]; e[12:16] = ips[i]; e[16:66] = p[12:62]; e[68] = p[64]; e[69:81] = p[68:80]
    e[84:92] = p[80:88]
    e[92:96] = struct.pack('<I', (struct.unpack_from('<I', p, 88)[0] + 1048575) // 1048576)
    e[96:100] = struct.pack('<I', (struct.unpack_from('<I', p, 92)[0] + 1048575) // 1048576)
    e[100:104] = p[100:104]; e[104:106] = p[96:98]; e[106:108] = p[98:100]; e[108:123] = p[104:119]
    e[123:149] = p[119:145]; e[152:256] = p[148:252]; e[256:672] = p[256:672]; e[672:676] = p[672:676]
    e[776:801] = p[676:701]
    if i == 0:
        e[726:731] = b'SER-9'; e[751:756] = b'TAG-9'
        # Shown as the selected record before the ID packet wrote it back:
        # its drive letters were upper-cased in memory by the record views.
        e[123:149] = bytes(e[123:149]).upper()
    t = struct.unpack_from('<I', r, 0)[0]
    assert t0 - 1 <= t <= t1 + 1, (i, t)
    e[0:4] = r[0:4]
    # reserved bytes carry no meaning
    for a, b in ((10, 12), (82, 84), (149, 152), (802, 808)):
        e[a:b] = r[a:b]
    assert bytes(e) == r, (i, [k for k in range(808) if e[k] != r[k]])
def entry(mac, name, version):
    return mac + name.encode().ljust(64, b'\0') + version.encode().ljust(32, b'\0')
m9 = bytes([0, 0x11, 0x22, 0x33, 0x44, 0x09])
expected = entry(m9, 'Home Office Suite 2', '11.0') + entry(m9, 'Zip Tool', ' 1.0') + entry(m9, 'Editor', '')
assert sw == expected, sw
PY

drv list-items "$TITLE" - 1038; check "list by system name, record 0 selected" "alpha|PC10|* PC9" "$(echo "$OUT" | paste -sd'|')"
drv combo "$TITLE" - 1044 1 && drv list-items "$TITLE" - 1038
check "list by MAC address" "* 00:11:22:33:44:09|00:11:22:33:44:10|0A:00:00:00:00:01" "$(echo "$OUT" | paste -sd'|')"
drv combo "$TITLE" - 1044 2 && drv list-items "$TITLE" - 1038
check "list by IP address" "127.0.0.10|127.0.0.2|* 127.0.0.9" "$(echo "$OUT" | paste -sd'|')"
drv combo "$TITLE" - 1044 0 && drv list-items "$TITLE" - 1038
check "list by system name again" "alpha|PC10|* PC9" "$(echo "$OUT" | paste -sd'|')"

# PC9 (record 0, row 2) is the selected record from the start; its pages.
drv wait-text "$TITLE" General 1051 PC9 5000 || failed "General page shows the selected record"
# check_page NAME PAGE ID=TEXT...: every control shows its text (each waited
# for up to 3 s, in one driver run).
check_page() {
    local name=$1 page=$2; shift 2; local args=() pair
    for pair in "$@"; do args+=(wait-text "$TITLE" "$page" "${pair%%=*}" "${pair#*=}" 3000 ";"); done
    unset 'args[${#args[@]}-1]'
    if drv "${args[@]}"; then pass "$name"; else failed "$name: $(cat "$RUN/driver.err")"; fi
}
check_page "General page" General 1051=PC9 1049=00:11:22:33:44:09 1050=127.0.0.9 1053=49:02:07 1054=alice 1089=SER-9 \
    1090=TAG-9 1091= 1092=
drv text "$TITLE" General 1052
case "$OUT" in [A-Z][a-z][a-z]\ [A-Z][a-z][a-z]\ [0-9][0-9]\ [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\ 20[0-9][0-9]*) pass "Last Update as date text";; *) failed "Last Update as date text: [$OUT]";; esac
check_page "Hardware page" Hardware 1045=GenuineIntel 1046=F 1047=2 1048=9 1051=2992.60 1049=512 1050=1024 \
    "1052=1024 x 768" "1053=32 (4294967296 colours)" "1054=75 (non-interlaced)"
drv text "$TITLE" Hardware 1060
check "drive lines" "A:	(Removable Disk)/C:	12800 MB Free 40960 MB Total (Hard Disk)/D:	(CDROM)" "$(echo "$OUT" | paste -sd'/')"
check_page "Software page" Software 1047=5 1049=1 "1048=Windows XP" 1046=2600
drv text "$TITLE" Software 1038
check "installed software" "Home Office Suite 2 (Version 11.0)/Zip Tool/Editor" "$(echo "$OUT" | paste -sd'/')"

# PC10: refresh N/A, 8 bpp; alpha: Vista.
drv list-select "$TITLE" - 1038 1
drv wait-text "$TITLE" General 1051 PC10 5000 || failed "selecting PC10"
drv list-items "$TITLE" - 1038; check "selected entry marked" "alpha|* PC10|PC9" "$(echo "$OUT" | paste -sd'|')"
check_page "PC10 display" Hardware "1053=8 (256 colours)" "1054=N/A (Interlaced)"
drv text "$TITLE" General 1053; check "PC10 up time" "0:00:59" "$OUT"
drv list-select "$TITLE" - 1038 0
drv wait-text "$TITLE" General 1051 alpha 5000 || failed "selecting alpha"
drv text "$TITLE" Software 1048; check "NT 6.0 named Windows Vista" "Windows Vista" "$OUT"
drv text "$TITLE" Software 1038; check "no software" "" "$OUT"

# A known computer reports again: updated in place, list keeps three entries.
python3 - "$PORT" "$RUN/sent.bin" <<'PY'
import socket, sys
p = bytearray(open(sys.argv[2], 'rb').read()[704:1408]); p[12:16] = b'PC1\0'
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.3', 0)); s.sendto(bytes(p), ('127.0.0.1', int(sys.argv[1])))
PY
drv wait-text "$TITLE" - 1031 "Updating hardware record for 127.0.0.3" 10000 || failed "update status line"
drv list-items "$TITLE" - 1038; check "renamed computer moves in the list" "* alpha|PC1|PC9" "$(echo "$OUT" | paste -sd'|')"
drv text "$TITLE" "Server Stats" 1057; check "hardware packet count after update" "4" "$OUT"

# A software search through the Search page filters the list, also while
# reports arrive; Clear lists every system again.
drv set-text "$TITLE" Search 1074 office \; click "$TITLE" Search 1078 \; wait-text "$TITLE" Search 1083 "Search Returned 1 hits" 5000
check "software search hit count" "0" "$?"
drv list-items "$TITLE" - 1038; check "software search lists PC9 only" "PC9" "$OUT"
python3 - "$PORT" "$RUN/sent.bin" <<'PY'
import socket, sys
p = open(sys.argv[2], 'rb').read()[1408:2112]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.2', 0)); s.sendto(p, ('127.0.0.1', int(sys.argv[1])))
PY
drv wait-text "$TITLE" - 1031 "Updating hardware record for 127.0.0.2" 10000
drv list-items "$TITLE" - 1038; check "search stays in force as reports arrive" "PC9" "$OUT"
drv click "$TITLE" Search 1079 \; wait-text "$TITLE" Search 1083 "Search Returned 3 hits" 5000; check "Clear lists every system" "0" "$?"
drv list-items "$TITLE" - 1038; check "list after Clear" "* alpha|PC1|PC9" "$(echo "$OUT" | paste -sd'|')"

# Tabs switch pages.
drv tab "$TITLE" - 1043 3; drv visible "$TITLE" "Server Stats"; check "Server Stats tab shows its page" "1" "$OUT"
drv visible "$TITLE" General; check "General page hidden after tab change" "0" "$OUT"

# Layout: list 118 px wide at the left, status line 18 px high at the bottom right.
drv rect "$TITLE" - 1038; LIST=$(echo "$OUT" | paste -sd' ')
read -r _ W H X Y LW LH <<<"$LIST"
check "system list rectangle" "0 28 118 $((H - 28))" "$X $Y $LW $LH"
drv rect "$TITLE" - 1031; read -r _ _ _ X Y SW_ SH <<<"$(echo "$OUT" | paste -sd' ')"
check "status line rectangle" "120 $((H - 18)) $((W - 120)) 18" "$X $Y $SW_ $SH"
drv rect "$TITLE" - 1043; read -r _ _ _ X Y TW TH <<<"$(echo "$OUT" | paste -sd' ')"
check "tab control rectangle" "120 0 $((W - 120)) $((H - 20))" "$X $Y $TW $TH"
# Pages at (4, 25) inside the tab control; their inner boxes sized from the
# main window's client area.
rect_is() { # NAME PAGE ID X Y WIDTH HEIGHT
    drv rect "$TITLE" "$2" "$3"; read -r _ _ _ X Y RW RH <<<"$(echo "$OUT" | paste -sd' ')"
    check "$1" "$4 $5 $6 $7" "$X $Y $RW $RH"
}
rect_is "installed-software box" Software 1038 $((124 + 9)) $((25 + 75)) $((W - 145)) $((H - 135))
rect_is "Installed Software frame" Software 1062 $((124 + 4)) $((25 + 55)) $((W - 135)) $((H - 110))
rect_is "disk-drive box" Hardware 1060 $((124 + 9)) $((25 + 230)) $((W - 145)) $((H - 290))
rect_is "Disk Drive Information frame" Hardware 1061 $((124 + 4)) $((25 + 210)) $((W - 135)) $((H - 265))

drv move "$TITLE" 0 0 1100 720
drv tab "$TITLE" - 1043 0
drv list-select "$TITLE" - 1038 2
drv wait-text "$TITLE" General 1051 PC9 5000
sleep 0.5
drv text "$TITLE" - 1031; check "status line after resizing" "Updating hardware record for 127.0.0.2" "$OUT"
WID=$(xwininfo -name "$TITLE" 2>/dev/null | awk '/Window id:/{print $4}')
shot() { # NAME TAB
    drv tab "$TITLE" - 1043 "$2"; sleep 0.7
    if [ -n "$WID" ] && timeout 20 import -window "$WID" "$SHOTS/$1.png" 2>/dev/null; then
        pass "screenshot $SHOTS/$1.png"
    else
        failed "screenshot $1"
    fi
}
shot server_main_window 0
shot server_hardware_page 1
shot server_software_page 2
shot server_stats_page 3
shot server_search_page 4
drv close "$TITLE" 10000 || failed "main window closes"
for _ in $(seq 1 100); do kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
wait "$SERVER_PID"; RC=$?; SERVER_PID=
check "exit code after close" "0" "$RC"

[ $FAILED -eq 0 ] && echo "server_console: all checks passed"
exit $FAILED
