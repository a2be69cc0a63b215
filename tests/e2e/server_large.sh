#!/bin/bash
# tallyhall end to end with 10,000 computers in the database files: the
# virtual system list holds them all in order, a report from a known
# computer moves one entry, and re-sorting the list is timed (the figure is
# printed; the speed goals themselves are shown by bench/search_bench).
. "$(dirname "$0")/server_common.bash" server-large

wine_env_start "$RUN" || { echo "FAIL wine environment"; exit 1; }
TITLE="Kestrin's Vodirir Ozozu Server Version 1.35"
PORT=$(free_udp_port_pair)
DATA=$RUN/data
mkdir -p "$DATA"
python3 - "$DATA" <<'PY'
import struct, sys
hw = bytearray()
for c in range(10000):
    r = bytearray(808)
    r[4:10] = bytes([2, 0, 0, c >> 8, c & 255, 1])
    r[12:16] = bytes([10, 1, c >> 8, c & 255])
    name = ('PC%d' % ((c * 7919) % 10000)).encode()
    r[16:16 + len(name)] = name
    struct.pack_into('<I', r, 92, 256)
    hw += r
open(sys.argv[1] + '/Hardware.Audit', 'wb').write(hw)
open(sys.argv[1] + '/Software.Audit', 'wb').write(b'')
PY
HEX=$(python3 -c "import sys; print(sys.argv[1].encode().ljust(255, b'\0').hex())" "$(wine_path "$DATA")")
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PathName /t REG_BINARY /d "$HEX" /f >/dev/null 2>&1
timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Port /t REG_BINARY \
    /d "$(python3 -c "import struct,sys;print(struct.pack('<H',int(sys.argv[1])).hex())" "$PORT")" /f >/dev/null 2>&1

timeout 200 "$WINE" "$TALLY_BIN/tallyhall.exe" >"$RUN/server.out" 2>&1 &
SERVER_PID=$!
drv wait-window "$TITLE" 30000 || { echo "FAIL main window did not open"; exit 1; }
drv list-count "$TITLE" - 1038; check "10,000 systems listed" "10000" "$OUT"
drv text "$TITLE" Search 1083; check "hit count" "Search Returned 10000 hits" "$OUT"
drv list-rows "$TITLE" - 1038 0 4; check "first rows in text order" "PC0|PC1|PC10|PC100" "$(echo "$OUT" | paste -sd'|')"

drv clock \; combo "$TITLE" - 1044 2 \; clock
read -r A B <<<"$(echo "$OUT" | paste -sd' ')"
echo "info re-sorting 10,000 systems by IP address in the live window: $((B - A)) ms"
drv list-rows "$TITLE" - 1038 0 3; check "first rows by IP address" "10.1.0.0|10.1.0.1|10.1.0.10" "$(echo "$OUT" | paste -sd'|')"
drv combo "$TITLE" - 1044 0

# Record 5 (PC9595) reports again under a new name: one entry moves.
python3 - "$PORT" <<'PY'
import socket, struct, sys
p = bytearray(704); p[0] = 0x54; p[1:7] = bytes([2, 0, 0, 0, 5, 1]); struct.pack_into('<I', p, 8, 704)
p[12:19] = b'AAA-NEW'
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.sendto(bytes(p), ('127.0.0.1', int(sys.argv[1])))
PY
drv wait-text "$TITLE" - 1031 "Updating hardware record for 127.0.0.1" 10000; check "known computer updated" "0" "$?"
drv list-count "$TITLE" - 1038; check "still 10,000 systems" "10000" "$OUT"
drv list-rows "$TITLE" - 1038 0 2; check "renamed entry moved to the top" "AAA-NEW|PC0" "$(echo "$OUT" | paste -sd'|')"

# A burst of reports at log-in time, sent without pause: the raised receive
# buffer holds them until the intake takes them one by one.
python3 - "$PORT" <<'PY'
import socket, struct, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for c in range(1500):
    p = bytearray(704); p[0] = 0x54; p[1:7] = bytes([4, 0, 0, c >> 8, c & 255, 1]); struct.pack_into('<I', p, 8, 704)
    name = ('BURST%04d' % c).encode(); p[12:12 + len(name)] = name
    s.sendto(bytes(p), ('127.0.0.1', int(sys.argv[1])))
PY
drv wait-text "$TITLE" "Server Stats" 1057 1501 30000; check "every report of a burst of 1,500 taken in" "0" "$?"
drv list-count "$TITLE" - 1038; check "11,500 systems listed" "11500" "$OUT"

drv close "$TITLE" 10000 || failed "main window closes"
wait "$SERVER_PID"; check "exit code" "0" "$?"; SERVER_PID=
[ $FAILED -eq 0 ] && echo "server_large: all checks passed"
exit $FAILED
