#!/bin/bash
# tallyhall end to end: start with preset settings, take real datagrams over
# loopback, and check the database files, status line, counters, system list
# in each order, the record views, the layout and a screenshot.
. "$(dirname "$0")/common.bash" server_console
server_setup
SHOTS=${TALLY_SCREENSHOT_DIR:-$TALLY_BIN/../screenshots}
mkdir -p "$SHOTS"

# (Under Xvfb without a window manager, Wine restores a maximised window a
# moment later; the state right after opening is the program's.)
check "main window opens" start_server \; maximized main || exit 1
check "opens maximised" same 1 "$OUT"

drv text main - IDC_STATUS_LINE; check "status line at start" same "Program Started" "$OUT"
drv visible main General; check "General page shown" same 1 "$OUT"
drv visible main Hardware; check "Hardware page hidden" same 0 "$OUT"
drv text main "Server Stats" IDC_STATS_PORT; check "Server Stats port" same "$PORT" "$OUT"
drv text main "Server Stats" IDC_STATS_WORKING_DIRECTORY
check "Server Stats working directory" same "$(wine_path "$DATA")" "$OUT"
drv text main Search IDC_SEARCH_HITS; check "hit count of an empty table" same "Search Returned 0 hits" "$OUT"
drv combo-items main - IDC_SORT_SELECTOR
check "sort selector entries" same "System Name|MAC Address|IP Address|selected 0" "$(joined)"

# Three computers from three loopback addresses; PC9 has software and an ID packet.
T0=$(date +%s)
python3 - "$PORT" "$RUN/sent.bin" <<'PY' || check "sending datagrams" false
import sys
from packets import *
m9, m10, ma = bytes([0, 0x11, 0x22, 0x33, 0x44, 0x09]), bytes([0, 0x11, 0x22, 0x33, 0x44, 0x10]), bytes([0x0A, 0, 0, 0, 0, 1])
sends = [
    ('127.0.0.9', hardware(m9, 'PC9', 'alice', 512 << 20, [('a', DRIVE_REMOVABLE, 0, 0), ('c', DRIVE_FIXED, 12800 << 20, 40 * GB),
                                                          ('D', DRIVE_CDROM, 0, 0)], 176527)),
    ('127.0.0.9', id_packet(m9, 'TAG-9', 'SER-9')),
    ('127.0.0.9', software(LIST_START, m9, [('Home Office Suite 2', '11.0'), ('Zip Tool', ' 1.0'), ('Editor', None)])),
    ('127.0.0.10', hardware(m10, 'PC10', 'bob', 128 << 20, [('C', DRIVE_FIXED, 5 * GB, 20 * GB)], 59, refresh=1,
                            interlaced=1, bpp=8)),
    ('127.0.0.2', hardware(ma, 'alpha', 'carol', 256 << 20, [], 3600, version=(6, 0, 6002))),
]
for source, data in sends:
    send(int(sys.argv[1]), [data], source)
open(sys.argv[2], 'wb').write(b''.join(d for _, d in sends if d[0] == HARDWARE))
PY
check "status after three computers" drv wait-text main - IDC_STATUS_LINE "Adding hardware record for 127.0.0.2"
T1=$(date +%s)
drv text main "Server Stats" IDC_STATS_HARDWARE_PACKETS; check "hardware packet count" same 3 "$OUT"
drv text main "Server Stats" IDC_STATS_SOFTWARE_PACKETS; check "software packet count" same 1 "$OUT"
drv text main "Server Stats" IDC_STATS_ID_PACKETS; check "ID packet count" same 1 "$OUT"
drv text main Search IDC_SEARCH_HITS; check "hit count" same "Search Returned 3 hits" "$OUT"

# The database files, byte for byte (Last Update between the send and now).
files_as_sent() {
    python3 - "$DATA" "$RUN/sent.bin" "$T0" "$T1" <<'PY'
import struct, sys
from packets import *
data, sent, t0, t1 = sys.argv[1], open(sys.argv[2], 'rb').read(), int(sys.argv[3]), int(sys.argv[4])
hw = open(data + '/Hardware.Audit', 'rb').read()
sw = open(data + '/Software.Audit', 'rb').read()
assert len(hw) == 3 * RECORD, len(hw)
ips = [bytes([127, 0, 0, 9]), bytes([127, 0, 0, 10]), bytes([127, 0, 0, 2])]
for i in range(3):
    p, r = sent[HW_PACKET * i:HW_PACKET * (i + 1)], hw[RECORD * i:RECORD * (i + 1)]
    e = bytearray(RECORD)
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
    assert bytes(e) == r, (i, [k for k in range(RECORD) if e[k] != r[k]])
m9 = bytes([0, 0x11, 0x22, 0x33, 0x44, 0x09])
expected = entry(m9, 'Home Office Suite 2', '11.0') + entry(m9, 'Zip Tool', ' 1.0') + entry(m9, 'Editor', '')
assert sw == expected, sw
PY
}
check "Hardware.Audit and Software.Audit byte for byte" files_as_sent

drv list-items main - IDC_SYSTEM_LIST; check "list by system name, record 0 selected" same "alpha|PC10|* PC9" "$(joined)"
drv combo main - IDC_SORT_SELECTOR 1 \; list-items main - IDC_SYSTEM_LIST
check "list by MAC address" same "* 00:11:22:33:44:09|00:11:22:33:44:10|0A:00:00:00:00:01" "$(joined)"
drv combo main - IDC_SORT_SELECTOR 2 \; list-items main - IDC_SYSTEM_LIST
check "list by IP address" same "127.0.0.10|127.0.0.2|* 127.0.0.9" "$(joined)"
drv combo main - IDC_SORT_SELECTOR 0 \; list-items main - IDC_SYSTEM_LIST
check "list by system name again" same "alpha|PC10|* PC9" "$(joined)"

# PC9 (record 0, row 2) is the selected record from the start; its pages.
# page_shows NAME PAGE ID=TEXT...: every control shows its text (each waited
# for up to 3 s, in one driver run).
page_shows() {
    local page=$1 args=() pair
    shift
    for pair in "$@"; do args+=(wait-text main "$page" "${pair%%=*}" "${pair#*=}" 3000 ";"); done
    unset 'args[${#args[@]}-1]'
    drv "${args[@]}"
}
check "General page" page_shows General IDC_GEN_COMPUTER_NAME=PC9 IDC_GEN_MAC_ADDRESS=00:11:22:33:44:09 \
    IDC_GEN_IP_ADDRESS=127.0.0.9 IDC_GEN_UP_TIME=49:02:07 IDC_GEN_USER=alice IDC_GEN_SERIAL_NUMBER=SER-9 \
    IDC_GEN_ASSET_TAG=TAG-9 IDC_GEN_CUSTOM_FIELD_1= IDC_GEN_CUSTOM_FIELD_2=
drv text main General IDC_GEN_LAST_UPDATE
check "Last Update as date text [$OUT]" grep -qE '^[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} 20[0-9]{2}' <<<"$OUT"
check "Hardware page" page_shows Hardware IDC_HW_CPUID_RESPONSE=GenuineIntel IDC_HW_CPU_FAMILY=F IDC_HW_CPU_MODEL=2 \
    IDC_HW_CPU_STEPPING=9 IDC_HW_CLOCK_SPEED=2992.60 IDC_HW_TOTAL_RAM=512 IDC_HW_SWAP_SIZE=1024 \
    "IDC_HW_RESOLUTION=1024 x 768" "IDC_HW_BITS_PER_PIXEL=32 (4294967296 colours)" \
    "IDC_HW_REFRESH_RATE=75 (non-interlaced)"
drv text main Hardware IDC_HW_DRIVES
check "drive lines" same "A:	(Removable Disk)/C:	12800 MB Free 40960 MB Total (Hard Disk)/D:	(CDROM)" "$(joined /)"
check "Software page" page_shows Software IDC_SW_MAJOR_VERSION=5 IDC_SW_MINOR_VERSION=1 \
    "IDC_SW_PLATFORM_NAME=Windows XP" IDC_SW_BUILD=2600
drv text main Software IDC_SW_INSTALLED_SOFTWARE
check "installed software" same "Home Office Suite 2 (Version 11.0)/Zip Tool/Editor" "$(joined /)"

# PC10: refresh N/A, 8 bpp; alpha: Vista.
drv list-select main - IDC_SYSTEM_LIST 1
check "selecting PC10" drv wait-text main General IDC_GEN_COMPUTER_NAME PC10 5000
drv list-items main - IDC_SYSTEM_LIST; check "selected entry marked" same "alpha|* PC10|PC9" "$(joined)"
check "PC10 display" page_shows Hardware "IDC_HW_BITS_PER_PIXEL=8 (256 colours)" "IDC_HW_REFRESH_RATE=N/A (Interlaced)"
drv text main General IDC_GEN_UP_TIME; check "PC10 up time" same "0:00:59" "$OUT"
drv list-select main - IDC_SYSTEM_LIST 0
check "selecting alpha" drv wait-text main General IDC_GEN_COMPUTER_NAME alpha 5000
drv text main Software IDC_SW_PLATFORM_NAME; check "NT 6.0 named Windows Vista" same "Windows Vista" "$OUT"
drv text main Software IDC_SW_INSTALLED_SOFTWARE; check "no software" same "" "$OUT"

# A known computer reports again: updated in place, list keeps three entries.
python3 - "$PORT" "$RUN/sent.bin" <<'PY'
import sys
from packets import *
p = bytearray(open(sys.argv[2], 'rb').read()[HW_PACKET:2 * HW_PACKET]); p[12:16] = b'PC1\0'
send(int(sys.argv[1]), [bytes(p)], '127.0.0.3')
PY
check "update status line" drv wait-text main - IDC_STATUS_LINE "Updating hardware record for 127.0.0.3"
drv list-items main - IDC_SYSTEM_LIST; check "renamed computer moves in the list" same "* alpha|PC1|PC9" "$(joined)"
drv text main "Server Stats" IDC_STATS_HARDWARE_PACKETS; check "hardware packet count after update" same 4 "$OUT"

# A software search through the Search page filters the list, also while
# reports arrive; Clear lists every system again.
check "software search hit count" drv set-text main Search IDC_SEARCH_SOFTWARE_TEXT_1 office \; \
    click main Search IDC_SEARCH_SEARCH \; wait-text main Search IDC_SEARCH_HITS "Search Returned 1 hits" 5000
drv list-items main - IDC_SYSTEM_LIST; check "software search lists PC9 only" same PC9 "$OUT"
python3 - "$PORT" "$RUN/sent.bin" <<'PY'
import sys
from packets import *
send(int(sys.argv[1]), [open(sys.argv[2], 'rb').read()[2 * HW_PACKET:3 * HW_PACKET]], '127.0.0.2')
PY
drv wait-text main - IDC_STATUS_LINE "Updating hardware record for 127.0.0.2"
drv list-items main - IDC_SYSTEM_LIST; check "search stays in force as reports arrive" same PC9 "$OUT"
check "Clear lists every system" drv click main Search IDC_SEARCH_CLEAR \; \
    wait-text main Search IDC_SEARCH_HITS "Search Returned 3 hits" 5000
drv list-items main - IDC_SYSTEM_LIST; check "list after Clear" same "* alpha|PC1|PC9" "$(joined)"

# Tabs switch pages.
drv tab main - IDC_TAB_CONTROL 3 \; visible main "Server Stats"; check "Server Stats tab shows its page" same 1 "$OUT"
drv visible main General; check "General page hidden after tab change" same 0 "$OUT"

# Layout: list 118 px wide at the left, status line 18 px high at the bottom right.
# rect_is NAME PAGE ID X Y WIDTH HEIGHT (the window's client size in $W $H).
rect_is() {
    drv rect main "$2" "$3"
    read -r _ W H X Y RW RH <<<"$(joined ' ')"
    check "$1" same "$4 $5 $6 $7" "$X $Y $RW $RH"
}
drv rect main - IDC_SYSTEM_LIST; read -r _ W H _ <<<"$(joined ' ')"
rect_is "system list rectangle" - IDC_SYSTEM_LIST 0 28 118 $((H - 28))
rect_is "status line rectangle" - IDC_STATUS_LINE 120 $((H - 18)) $((W - 120)) 18
rect_is "tab control rectangle" - IDC_TAB_CONTROL 120 0 $((W - 120)) $((H - 20))
# Pages at (4, 25) inside the tab control; their inner boxes sized from the
# main window's client area.
rect_is "installed-software box" Software IDC_SW_INSTALLED_SOFTWARE $((124 + 9)) $((25 + 75)) $((W - 145)) $((H - 135))
rect_is "Installed Software frame" Software IDC_SW_INSTALLED_FRAME $((124 + 4)) $((25 + 55)) $((W - 135)) $((H - 110))
rect_is "disk-drive box" Hardware IDC_HW_DRIVES $((124 + 9)) $((25 + 230)) $((W - 145)) $((H - 290))
rect_is "Disk Drive Information frame" Hardware IDC_HW_DRIVES_FRAME $((124 + 4)) $((25 + 210)) $((W - 135)) $((H - 265))

drv move main 0 0 1100 720 \; tab main - IDC_TAB_CONTROL 0 \; list-select main - IDC_SYSTEM_LIST 2 \; \
    wait-text main General IDC_GEN_COMPUTER_NAME PC9 5000 \; sleep 500 \; text main - IDC_STATUS_LINE
check "status line after resizing" same "Updating hardware record for 127.0.0.2" "$OUT"
WID=$(xwininfo -name "Kestrin's Vodirir Ozozu Server Version 1.35" 2>/dev/null | awk '/Window id:/{print $4}')
shot() { # NAME TAB
    drv tab main - IDC_TAB_CONTROL "$2"
    sleep 0.7
    [ -n "$WID" ] && timeout 20 import -window "$WID" "$SHOTS/$1.png" 2>/dev/null
}
check "screenshot $SHOTS/server_main_window.png" shot server_main_window 0
check "screenshot $SHOTS/server_hardware_page.png" shot server_hardware_page 1
check "screenshot $SHOTS/server_software_page.png" shot server_software_page 2
check "screenshot $SHOTS/server_stats_page.png" shot server_stats_page 3
check "screenshot $SHOTS/server_search_page.png" shot server_search_page 4
# Serial numbers with a computer's first report: an earlier client's ID
# packet before its hardware packet (held until it comes), a current
# client's after it, with memory in MB (64 GB), product type and extension
# packet. (The byte-for-byte check above is of earlier-format packets.)
python3 - "$PORT" <<'PY'
import struct, sys
from packets import *
m11, m12 = bytes([0x0A, 0, 0, 0, 0, 0x11]), bytes([0x0A, 0, 0, 0, 0, 0x12])
hw12 = bytearray(hardware(m12, 'PC12', ram=64 * GB, version=(10, 0, 20348)))
hw12[65] = 3
struct.pack_into('<I', hw12, 252, 65536)
ext = bytearray(320)
ext[0] = 0x45; ext[1:7] = m12; struct.pack_into('<I', ext, 8, 320)
ext[12:61] = text('Test Processor 9', 49); ext[64:128] = text('Maker', 64); ext[128:192] = text('Rack 9', 64)
send(int(sys.argv[1]), [id_packet(m11, 'TAG-11', 'SER-11'), hardware(m11, 'PC11'),
                        bytes(hw12), id_packet(m12, 'TAG-12', 'SER-12'), bytes(ext)], '127.0.0.4', 0.05)
PY
check "two new computers listed" drv wait-text main Search IDC_SEARCH_HITS "Search Returned 5 hits" 5000
check "earlier client: serial number with the first report" select_system PC11 \; \
    wait-text main General IDC_GEN_SERIAL_NUMBER SER-11 3000
check "current client: serial number with the first report" select_system PC12 \; \
    wait-text main General IDC_GEN_SERIAL_NUMBER SER-12 3000
check "current client: true memory, processor, manufacturer, model" page_shows Hardware IDC_HW_TOTAL_RAM=65536 \
    "IDC_HW_PROCESSOR_NAME=Test Processor 9" IDC_HW_MANUFACTURER=Maker "IDC_HW_MODEL=Rack 9"
check "current client: server named by its product type" page_shows Software \
    "IDC_SW_PLATFORM_NAME=Windows Server 2022"
check "Extension.Audit: a side record per hardware record, same index" \
    test "$(stat -c %s "$DATA/Extension.Audit")" = $((5 * 320))

check "main window closes" stop_server
check "exit code after close" same 0 "${SERVER_RC:-}"

# A side file that cannot be written (made unchangeable, even for root): its
# facts are shown, and an extension packet's new facts are not kept, with
# the status line saying why.
if chattr +i "$DATA/Extension.Audit" 2>/dev/null; then
    AT_EXIT+=("chattr -i '$DATA/Extension.Audit'")
    check "main window opens over a read-only side file" start_server
    check "its facts are shown" select_system PC12 \; \
        wait-text main Hardware IDC_HW_MODEL "Rack 9" 3000 \; wait-text main Hardware IDC_HW_MANUFACTURER Maker 3000
    python3 - "$PORT" <<'PY'
import struct, sys
from packets import *
ext = bytearray(320)
ext[0] = 0x45; ext[1:7] = bytes([0x0A, 0, 0, 0, 0, 0x12]); struct.pack_into('<I', ext, 8, 320)
ext[64:128] = text('Other Maker', 64); ext[128:192] = text('Rack 10', 64)
send(int(sys.argv[1]), [bytes(ext)], '127.0.0.4')
PY
    check "the status line says why new facts are not kept" drv wait-text main - IDC_STATUS_LINE \
        "System details received from 127.0.0.4 not kept: Extension.Audit cannot be written" 5000
    check "the facts stay" select_system PC9 \; list-select main - IDC_SYSTEM_LIST PC12 \; \
        wait-text main General IDC_GEN_COMPUTER_NAME PC12 3000 \; wait-text main Hardware IDC_HW_MODEL "Rack 9" 3000
    check "main window closes over a read-only side file" stop_server
    chattr -i "$DATA/Extension.Audit"
else
    echo "skip read-only side file: no chattr here"
fi
finish
