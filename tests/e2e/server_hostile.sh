#!/bin/bash
# tallyhall under hostile traffic and on a full disk: a flood of software
# packets from one host is cut at the per-computer bound without a box, while
# the real computers reporting meanwhile are all stored; on a small tmpfs that
# fills up, the records that cannot be written wait in memory and reach the
# file, whole, once there is room again.
. "$(dirname "$0")/common.bash" server_hostile
server_setup
check "main window opens" start_server || exit 1

# 6,000 continuation packets of 497 empty items each (about 1,500 a second)
# from one host, with 20 real computers reporting in between.
python3 - "$PORT" <<'PY'
import sys
from packets import *
flood = software(CONTINUATION, bytes([6, 0, 0, 0, 0, 1]), [("", None)] * 497)
datagrams = []
for k in range(6000):
    datagrams.append(flood)
    if k % 300 == 150:
        c = len([d for d in datagrams if d[0] == HARDWARE]) + 1
        datagrams.append(hardware(bytes([8, 0, 0, 0, 0, c]), 'REAL%02d' % c))
send(int(sys.argv[1]), datagrams, pause=1 / 1500)
PY
check "every real computer counted" drv wait-text main "Server Stats" IDC_STATS_HARDWARE_PACKETS 20 30000
drv list-count main - IDC_SYSTEM_LIST 20 3000; check "every real computer listed" same 20 "$OUT"
drv text main "Server Stats" IDC_STATS_DROPPED; check "dropped packets counted" test "${OUT:-0}" -gt 0
drv windows; check "no box" not grep -q "Memory Error" <<<"$OUT"
check "the flooding host holds 5,000 programs" same $((5000 * 102)) "$(stat -c %s "$DATA/Software.Audit")"
check "main window closes" stop_server
check "exit code" same 0 "${SERVER_RC:-}"

# A 100 KB file system: 300 new computers do not fit until it grows.
DISK=$RUN/disk
mkdir -p "$DISK"
if ! mount -t tmpfs -o size=100k tmpfs "$DISK" 2>/dev/null; then
    echo "skip full disk: mounting a tmpfs is not allowed here"
    finish
fi
AT_EXIT+=("umount '$DISK' 2>/dev/null")
server_settings "$DISK" "$PORT"
check "main window opens on the small disk" start_server || exit 1
python3 -c "import sys; from packets import *
send(int(sys.argv[1]), [hardware(bytes([9, 0, 0, 0, c >> 8, c & 255]), 'DISK%03d' % c) for c in range(300)], pause=0.002)" "$PORT"
check "300 computers counted" drv wait-text main "Server Stats" IDC_STATS_HARDWARE_PACKETS 300 30000
drv text main "Server Stats" IDC_STATS_UNWRITTEN; check "records await writing" test "${OUT:-0}" -gt 0
drv text main - IDC_STATUS_LINE
check "status line names the disk" same "Unable to write the database files - the disk is full or failing" "$OUT"
check "only whole records in the file" same 0 $(($(stat -c %s "$DISK/Hardware.Audit") % 808))
mount -o remount,size=1m "$DISK"
check "the waiting records are written once there is room" \
    drv wait-text main "Server Stats" IDC_STATS_UNWRITTEN 0 20000
check "every counted computer in the file" same $((300 * 808)) "$(stat -c %s "$DISK/Hardware.Audit")"
drv list-count main - IDC_SYSTEM_LIST 300 3000; check "300 systems listed" same 300 "$OUT"
check "main window closes" stop_server
finish
