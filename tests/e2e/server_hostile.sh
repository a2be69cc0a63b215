#!/bin/bash
# tallyhall under hostile traffic and on a full disk: a flood of software
# packets from one host is cut at the per-computer bound without a box, while
# the real computers reporting meanwhile are all stored; with a site key made
# in the settings dialog, unsigned reports are refused or accepted as the
# setting says, and forged ones for a computer that signs (unsigned, signed
# with another key, or a signed pass sent again) change nothing, and its
# resident client obeys the server's signed close request only; on
# a small tmpfs that fills up, the records that cannot be written wait in
# memory and reach the file, whole, once there is room again.
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

# A site key: made and shown once in the settings dialog, kept sealed.
SETTINGS="Audit Server Settings"
NEW_KEY="New Site Key"
SIGNED=$RUN/signed
mkdir -p "$SIGNED"
server_settings "$SIGNED" "$PORT"
check "main window opens for signing" start_server || exit 1
drv menu main IDM_SETTINGS \; wait-window "$SETTINGS" \; text "$SETTINGS" - IDC_SETTINGS_KEY_STATE
check "no key at first" same "No site key: reports are not signed" "$OUT"
drv click "$SETTINGS" - IDC_SETTINGS_NEW_KEY \; wait-window "$NEW_KEY" \; text "$NEW_KEY" - IDC_SITE_KEY_TEXT
KEY=$OUT
check "the new key is shown as 64 hexadecimal digits" grep -qxE '[0-9A-F]{64}' <<<"$KEY"
KEY_ID=$(python3 -c "import sys; from packets import *; print(key_id(bytes.fromhex(sys.argv[1])).hex().upper())" "$KEY")
drv click "$NEW_KEY" - IDC_SITE_KEY_OK \; wait-gone "$NEW_KEY" \; text "$SETTINGS" - IDC_SETTINGS_KEY_STATE
check "the dialog names the key in use" same "Site key $KEY_ID" "$OUT"
timeout 60 "$WINE" reg query 'HKLM\Software\Kestrin' /v Audit_SiteKey >"$RUN/key.reg" 2>&1
check "the key is stored" grep -q REG_BINARY "$RUN/key.reg"
check "sealed, not as it is" not grep -qi "$KEY" <(tr -d ' \r\n' <"$RUN/key.reg")
# Unsigned reports refused (the box unchecked), then an earlier client's report.
drv click "$SETTINGS" - IDC_SETTINGS_ACCEPT_UNSIGNED \; click "$SETTINGS" - IDC_SETTINGS_OK \; wait-gone "$SETTINGS"
python3 -c "import sys; from packets import *
send(int(sys.argv[1]), [hardware(bytes([2, 0, 0, 0, 0, 0x51]), 'EARLIER')], source='127.0.0.78')" "$PORT"
check "an unsigned report is refused when the setting says so" \
    drv wait-text main - IDC_STATUS_LINE "Refused packet from 127.0.0.78: not signed"
drv text main "Server Stats" IDC_STATS_REFUSED; check "and counted" same 1 "$OUT"
check "and changes nothing" same 0 "$(stat -c %s "$SIGNED/Hardware.Audit")"
check "main window closes" stop_server
check "the key and the rule hold after a restart" start_server
python3 -c "import sys; from packets import *
send(int(sys.argv[1]), [hardware(bytes([2, 0, 0, 0, 0, 0x51]), 'EARLIER')], source='127.0.0.78')" "$PORT"
check "refused after the restart" drv wait-text main - IDC_STATUS_LINE "Refused packet from 127.0.0.78: not signed"
drv menu main IDM_SETTINGS \; wait-window "$SETTINGS" \; text "$SETTINGS" - IDC_SETTINGS_KEY_STATE
check "the same key after the restart" same "Site key $KEY_ID" "$OUT"
drv click "$SETTINGS" - IDC_SETTINGS_ACCEPT_UNSIGNED \; click "$SETTINGS" - IDC_SETTINGS_OK \; wait-gone "$SETTINGS"
python3 -c "import sys; from packets import *
send(int(sys.argv[1]), [hardware(bytes([2, 0, 0, 0, 0, 0x51]), 'EARLIER')], source='127.0.0.78')" "$PORT"
check "accepted when the setting says so" drv wait-text main - IDC_STATUS_LINE "Adding hardware record for 127.0.0.78"
# The real client with the key in its policy key: its signed pass is applied
# and the computer marked as signing; then a forged unsigned report for its
# MAC Address from another address changes nothing and is counted.
VIEW=/reg:64
[ "$TALLY_WINE_MODE" = win32 ] && VIEW=
timeout 30 "$WINE" reg add 'HKLM\Software\Policies\Kestrin\scoutly' /v SiteKey /t REG_SZ /d "$KEY" /f $VIEW \
    >/dev/null 2>&1
# Its pass goes through a relay that loses nothing, which keeps a copy.
RELAY_PORT=$(free_udp_port_pair)
python3 - "$RELAY_PORT" "$PORT" "$WINE" "$TALLY_BIN/scoutly.exe" "$RUN/captured" <<'PY'
import subprocess, sys
from relay import Relay
relay = Relay(int(sys.argv[1]), int(sys.argv[2]), drop=0, repeat=0, reorder=0)
relay.start()
rc = subprocess.run(["timeout", "90", sys.argv[3], sys.argv[4], "127.0.0.1:" + sys.argv[1]], stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
relay.stop()
open(sys.argv[5], "w").write("".join(d.hex() + "\n" for d in relay.since(0, "c")))
sys.exit(rc)
PY
check "the client with a key ends with exit code 0" same 0 "$?"
signer() {  # the MAC Address (hex) and name of the computer marked as signing, from the files
    python3 - "$SIGNED" <<'PY'
import sys
d = sys.argv[1]
hw, ext = open(d + "/Hardware.Audit", "rb").read(), open(d + "/Extension.Audit", "rb").read()
for i in range(len(ext) // 320):
    e = ext[320 * i:320 * (i + 1)]
    if e[7] & 2 and hw[808 * i + 4:808 * i + 10] == e[:6]:
        print(e[:6].hex(), hw[808 * i + 16:808 * i + 66].split(b"\0")[0].decode("latin-1"))
PY
}
SIGNER=$(signer)
check "its signed pass is applied and the computer marked as signing [$SIGNER]" test -n "$SIGNER"
python3 -c "import sys; from packets import *
send(int(sys.argv[1]), [hardware(bytes.fromhex(sys.argv[2]), 'EVIL-PC')], source='127.0.0.77')" "$PORT" "${SIGNER%% *}"
check "a forged report for it is refused" drv wait-text main - IDC_STATUS_LINE \
    "Refused packet from 127.0.0.77: not signed, from a computer that signs its reports" 15000
check "and changes nothing" same "$SIGNER" "$(signer)"
drv text main "Server Stats" IDC_STATS_REFUSED; check "refusals counted" test "${OUT:-0}" -ge 2
files() { cat "$SIGNED/Hardware.Audit" "$SIGNED/Software.Audit" "$SIGNED/Extension.Audit" | sha256sum; }
# The captured pass sent again from another address: acknowledged again,
# nothing changes (not even Last Update).
FILES=$(files)
sleep 1.1
check "a replayed signed pass is acknowledged again" python3 - "$PORT" "$RUN/captured" <<'PY'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.77", 0))
s.settimeout(5)
captured = [bytes.fromhex(l) for l in open(sys.argv[2]).read().split()]
manifest = [d for d in captured if d[:1] == b"M"][0]
for d in captured:
    s.sendto(d, ("127.0.0.1", int(sys.argv[1])))
while True:
    d = s.recv(4096)
    if d[:1] == b"A" and d[12:28] == manifest[12:28]:
        break
PY
sleep 0.5
check "and changes nothing" same "$FILES" "$(files)"
# Forged passes for its MAC Address from another address, with a manifest
# unsigned or signed with another key under the site key's identifier:
# refused whole (the manifest and each datagram), nothing changes.
drv text main "Server Stats" IDC_STATS_REFUSED
REFUSED=$OUT
python3 - "$PORT" "${SIGNER%% *}" "$KEY" <<'PY'
import os, sys
from packets import *
port, mac, key = int(sys.argv[1]), bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3])
forged = [[hardware(mac, "EVIL-PC%d" % n, "mallory"), software(LIST_START, mac, [("Totally Legit Tool", "6.6.%d" % n)])]
          for n in range(2)]
wrong_key = bytearray(manifest(mac, forged[1], os.urandom(32)))
wrong_key[-44:-40] = key_id(key)
send(port, [manifest(mac, forged[0])] + forged[0] + [bytes(wrong_key)] + forged[1], source="127.0.0.77", pause=0.05)
PY
check "forged passes are refused and counted: manifests and datagrams" \
    drv wait-text main "Server Stats" IDC_STATS_REFUSED "$((REFUSED + 6))" 15000
check "and change nothing" same "$FILES" "$(files)"
# The same client resident: a close request from the server's address in
# the old form, or signed with another key, is ignored; the server's own
# signed request ends it.
(cd "$RUN" && exec timeout 120 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" -R </dev/null >/dev/null 2>&1) &
SCOUT_PID=$!
AT_EXIT+=('kill "$SCOUT_PID" 2>/dev/null')
drv text main "Server Stats" IDC_STATS_HARDWARE_PACKETS
check "the resident client with a key reports" \
    drv wait-text main "Server Stats" IDC_STATS_HARDWARE_PACKETS "$((OUT + 1))" 30000
python3 - "$((PORT + 1))" "${SIGNER%% *}" <<'PY'
import os, sys
from packets import *
port, mac = int(sys.argv[1]), bytes.fromhex(sys.argv[2])
send_request(port, b"Close Please")
send_request(port, signed_request(mac, 2, os.urandom(32)))
PY
sleep 1.5
check "forged close requests are ignored" kill -0 "$SCOUT_PID"
select_system "${SIGNER#* }" \; menu main IDM_CLOSE_REMOTE_SERVICE
for i in $(seq 1 100); do kill -0 "$SCOUT_PID" 2>/dev/null || break; sleep 0.1; done
check "the server's signed close request ends it" not kill -0 "$SCOUT_PID" 2>/dev/null
check "main window closes" stop_server

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
