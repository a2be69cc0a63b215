#!/bin/bash
# Remote requests live: "Request Update" and "Close Remote Service" send
# exactly 13 and 12 bytes to the port one above the server's, at the address
# the computer name resolves to; a name that does not resolve gives the
# "Host not found" box; a resident scoutly.exe on this machine reports again
# on request and ends on the close request; passes through a lossy relay
# arrive whole and once.
. "$(dirname "$0")/common.bash" reports_remote
need "$TALLY_BIN/scoutly.exe"
server_setup
python3 "$HERE/packets.py" write "$DATA" 0 local
check "server starts" start_server || exit 1
drv wait-text main Search IDC_SEARCH_HITS "Search Returned 5 hits"

# A receiver in place of a resident client, on 127.0.0.1 port P+1.
timeout 30 python3 - "$((PORT + 1))" >"$RUN/received" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.settimeout(20)
for _ in range(2):
    data, addr = s.recvfrom(4096)
    print(len(data), data.decode("latin-1"))
    sys.stdout.flush()
PY
RECEIVER=$!
sleep 0.5
select_system localhost \; menu main IDM_REQUEST_UPDATE \; sleep 300 \; menu main IDM_CLOSE_REMOTE_SERVICE
wait "$RECEIVER"
check "Request Update sends 13 bytes to port P+1" same "13 Update Please" "$(sed -n 1p "$RUN/received")"
check "Close Remote Service sends 12 bytes" same "12 Close Please" "$(sed -n 2p "$RUN/received")"

select_system PC-128 \; menu main IDM_REQUEST_UPDATE \; box "Host not found" IDOK 30000
check "an unknown name gives the Host not found box" same "Unable to find computer on the network" "$OUT"

# A resident client on this machine: its first report adds it to the list.
(cd "$RUN" && exec timeout 120 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" -R </dev/null >"$RUN/scout.log" 2>&1) &
SCOUT_PID=$!
AT_EXIT+=('kill "$SCOUT_PID" 2>/dev/null')
check "the resident client reports" drv wait-text main Search IDC_SEARCH_HITS "Search Returned 6 hits" 30000
NAME=$(systems | tr ' ' '\n' | grep -vxE 'PC-128|PC-256|PC-512|PC-1024|localhost' | head -n 1)
select_system "$NAME" \; text main "Server Stats" IDC_STATS_HARDWARE_PACKETS
BEFORE=$OUT
check "Request Update brings a fresh report from $NAME" drv menu main IDM_REQUEST_UPDATE \; \
    wait-text main "Server Stats" IDC_STATS_HARDWARE_PACKETS "$((BEFORE + 1))" 30000
drv menu main IDM_CLOSE_REMOTE_SERVICE
for i in $(seq 1 100); do kill -0 "$SCOUT_PID" 2>/dev/null || break; sleep 0.1; done
check "Close Remote Service ends the resident client" not kill -0 "$SCOUT_PID" 2>/dev/null

# Through a lossy relay on loopback (fixed seeds: 5 % lost each way, repeats,
# datagrams of a pass reordered): every pass ends acknowledged and the
# computer's programs in Software.Audit are exactly those its pass listed.
RELAY_PORT=$(free_udp_port_pair)
timeout 200 python3 - "$RELAY_PORT" "$PORT" "$RUN/relay.log" "$RUN/relay.stop" <<'PY' &
import os, random, select, socket, sys, time
listen, server_port, log_path, stop = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
up = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
up.bind(("127.0.0.1", listen))
down = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
down.bind(("127.0.0.1", 0))
rng = random.Random(18)
client, held = None, []
log = open(log_path, "w")
while not os.path.exists(stop):
    ready, _, _ = select.select([up, down], [], [], 0.05)
    if not ready and held:  # a held-back datagram goes after a pause
        down.sendto(held.pop(0), ("127.0.0.1", server_port))
    for s in ready:
        d, a = s.recvfrom(4096)
        if s is up:
            client = a
            log.write("c " + d.hex() + "\n")
            if rng.random() < 0.05:
                continue
            copies = 2 if rng.random() < 0.05 else 1
            if rng.random() < 0.15:
                held.append(d)  # overtaken by the next datagram
                continue
            for _ in range(copies):
                down.sendto(d, ("127.0.0.1", server_port))
            while held and rng.random() < 0.7:
                down.sendto(held.pop(0), ("127.0.0.1", server_port))
        else:
            if rng.random() < 0.05 or client is None:
                continue
            log.write("s " + d.hex() + "\n")
            up.sendto(d, client)
    log.flush()
PY
RELAY=$!
AT_EXIT+=('touch "$RUN/relay.stop"')
timeout 30 "$WINE" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Relayed' \
    /v DisplayName /t REG_SZ /d "Relayed Test Program" /f >"$RUN/reg.out" 2>&1
for pass in 1 2 3; do
    timeout 60 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$RELAY_PORT" </dev/null >"$RUN/relayed.log" 2>&1
    rc=$?
    verdict=$(python3 - "$RUN/relay.log" "$DATA/Software.Audit" <<'PY'
import hashlib, sys
from packets import software_items
lines = [l.split() for l in open(sys.argv[1]) if l.strip()]
sent = [bytes.fromhex(h) for k, h in lines if k == "c"]
manifest = [d for d in sent if d[:1] == b"M"][-1]
mac, pass_id = manifest[1:7], manifest[12:28]
listed = [manifest[32 + 16 * k:48 + 16 * k] for k in range(manifest[28])]
by_digest = {hashlib.sha256(d).digest()[:16]: d for d in sent if d[:1] != b"M"}
acked = any(d[:1] == b"A" and d[12:28] == pass_id for d in (bytes.fromhex(h) for k, h in lines if k == "s"))
software = [by_digest.get(x, b"") for x in listed]
want = sorted(n.split(b"\0")[0][:63] for d in software if d[:1] in (b"\xa3", b"\x99") for n, v in software_items(d))
data = open(sys.argv[2], "rb").read()
got = sorted(data[k + 6:k + 70].split(b"\0")[0] for k in range(0, len(data), 102) if data[k:k + 6] == mac)
print("acknowledged" if acked else "never acknowledged", "same" if got == want and want else "differs %d/%d" % (len(got), len(want)))
PY
)
    check "relayed pass $pass: exit code $rc, $verdict" same "0 acknowledged same" "$rc $verdict"
done
touch "$RUN/relay.stop"
timeout 10 tail --pid="$RELAY" -f /dev/null
drv text main "Server Stats" IDC_STATS_INCOMPLETE
check "Incomplete Reports: $OUT" same 0 "$OUT"

stop_server
finish
