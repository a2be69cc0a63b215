#!/bin/bash
# Remote requests live: "Request Update" and "Close Remote Service" send
# exactly 13 and 12 bytes to the port one above the server's, at the address
# the computer name resolves to; a name that does not resolve gives the
# "Host not found" box; a resident scoutly.exe on this machine reports again
# on request and ends on the close request; passes through a lossy relay
# arrive whole and once, and an earlier client's datagrams through it are
# applied as they come.
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

# Through a lossy relay on loopback (tests/e2e/relay.py, fixed seeds; lost
# each way, 5 % repeated, datagrams of a pass reordered), at 1 %, 5 % and
# 20 % lost: every pass the client saw acknowledged holds in Software.Audit
# exactly the programs and versions its manifest listed; one that was not is
# whole (the list before it, or the pass's own), never a mix of two passes.
# A version that changes each pass tells the passes apart.
RELAY_PORT=$(free_udp_port_pair)
timeout 400 python3 - "$RELAY_PORT" "$PORT" "$WINE" "$TALLY_BIN/scoutly.exe" "$DATA" <<'PY' >"$RUN/relayed.txt" 2>&1
import hashlib, subprocess, sys, time
from packets import software_items
from relay import Relay
relay_port, port, wine, exe, data = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Relayed"
failures = 0

def check(name, cond):
    global failures
    print(("ok   " if cond else "FAIL ") + name, flush=True)
    failures += 0 if cond else 1

def wine_run(*args):
    return subprocess.run(["timeout", "60", wine, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode

def cut(b, width):
    return b.split(b"\0")[0][:width - 1]

def listed(sent):
    """The pass's manifest and its programs (name, version), sorted, from what the client sent."""
    manifest = [d for d in sent if d[:1] == b"M"][-1]
    by_digest = {hashlib.sha256(d).digest()[:16]: d for d in sent if d[:1] != b"M"}
    packets = [by_digest.get(manifest[32 + 16 * k:48 + 16 * k], b"") for k in range(manifest[28])]
    return manifest, sorted((cut(n, 64), cut(v or b"", 32)) for d in packets if d[:1] in (b"\xa3", b"\x99")
                            for n, v in software_items(d))

def stored(mac, entries):
    return sorted((cut(entries[k + 6:k + 70], 64), cut(entries[k + 70:k + 102], 32))
                  for k in range(0, len(entries), 102) if entries[k:k + 6] == mac)

def passes(drop, seed, count):
    """Runs the client `count` times through the relay; the acknowledged count and the mixed lists."""
    relay = Relay(relay_port, port, drop=drop, repeat=0.05, reorder=0.15, seed=seed)
    relay.start()
    acknowledged, mixed = 0, []
    try:
        for n in range(count):
            wine_run("reg", "add", UNINSTALL, "/v", "DisplayVersion", "/t", "REG_SZ", "/d", "%g.%d" % (drop, n), "/f")
            mark = relay.mark()
            start = time.time()
            files_before = open(data + "/Software.Audit", "rb").read()
            rc = wine_run(exe, "127.0.0.1:%d" % relay_port)
            time.sleep(0.3)  # datagrams the relay held back
            manifest, want = listed(relay.since(mark, "c"))
            acked = any(d[:1] == b"A" and d[12:28] == manifest[12:28] for d in relay.since(mark, "s"))
            got = stored(manifest[1:7], open(data + "/Software.Audit", "rb").read())
            if rc != 0 or not want or got != want and (acked or got != stored(manifest[1:7], files_before)):
                mixed.append("pass %d: exit code %d, %s, %d of %d programs" %
                             (n, rc, "acknowledged" if acked else "not acknowledged", len(got), len(want)))
            acknowledged += acked
            print("     %g: pass %d %s in %.1f s" % (drop, n, "acknowledged" if acked else "not acknowledged",
                                                    time.time() - start), flush=True)
    finally:
        relay.stop()
    return acknowledged, mixed

wine_run("reg", "add", UNINSTALL, "/v", "DisplayName", "/t", "REG_SZ", "/d", "Relayed Test Program", "/f")
for drop, seed, count, need in ((0.01, 101, 5, 5), (0.05, 18, 5, 5), (0.20, 120, 50, 49)):
    acknowledged, mixed = passes(drop, seed, count)
    check("%d %% lost: %d of %d passes acknowledged (at least %d)" % (drop * 100, acknowledged, count, need),
          acknowledged >= need)
    check("%d %% lost: every list whole, the acknowledged ones exactly as listed %s" % (drop * 100, mixed), not mixed)
sys.exit(1 if failures else 0)
PY
rc=$?
sed -n '/^ok\|^FAIL/p' "$RUN/relayed.txt"
RELAY_FAILED=$(grep -c '^FAIL' "$RUN/relayed.txt")
FAILED=$((FAILED + RELAY_FAILED))
[ "$rc" = 0 ] || [ "$RELAY_FAILED" -gt 0 ] || { cat "$RUN/relayed.txt"; check "the relayed passes ran" false; }
drv text main "Server Stats" IDC_STATS_INCOMPLETE
check "Incomplete Reports: $OUT" test "${OUT:-0}" -le 1

# An earlier client (no manifests: ID, hardware and software packets) through
# the same relay: the server applies what reaches it as it comes, so its
# files for those computers equal what a server given the same datagrams
# straight gives.
python3 - "$RELAY_PORT" "$PORT" "$RUN/delivered" <<'PY'
import socket, sys, time
from packets import *
from relay import Relay
relay = Relay(int(sys.argv[1]), int(sys.argv[2]), drop=0.05, repeat=0.05, reorder=0.15, seed=7)
relay.start()
out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
out.bind(("127.0.0.1", 0))
for c in range(12):
    mac = bytes([0x0A, 0x0E, 0, 0, 0, c])
    programs = [("Earlier program %d" % k, "1.%d" % (k * c)) for k in range(40 + 10 * c)]
    for d in [id_packet(mac, "A-%d" % c, "SN-%d" % c), hardware(mac, "EARLIER-%02d" % c, "user%d" % c)] + \
            software_packets(mac, programs):
        out.sendto(d, ("127.0.0.1", int(sys.argv[1])))
        time.sleep(0.01)
time.sleep(0.5)
relay.stop()
delivered = relay.since(0, "d")
open(sys.argv[3], "w").write("".join(d.hex() + "\n" for d in delivered))
PY
earlier_files() {  # DIR: each earlier computer's record (but its Last Update) and its entries in file order
    python3 - "$1" <<'PY'
import hashlib, sys
hw = open(sys.argv[1] + "/Hardware.Audit", "rb").read()
sw = open(sys.argv[1] + "/Software.Audit", "rb").read()
for k in sorted(range(0, len(hw), 808), key=lambda k: hw[k + 4:k + 10]):
    mac = hw[k + 4:k + 10]
    if mac[:2] == b"\x0a\x0e":
        entries = b"".join(sw[j:j + 102] for j in range(0, len(sw), 102) if sw[j:j + 6] == mac)
        print(mac.hex(), hashlib.sha256(hw[k + 4:k + 808]).hexdigest()[:16], len(entries) // 102,
              hashlib.sha256(entries).hexdigest()[:16])
PY
}
sleep 1
stop_server
RELAYED=$(earlier_files "$DATA")
REFERENCE=$RUN/reference
mkdir -p "$REFERENCE"
server_settings "$REFERENCE" "$PORT"
check "server starts on a fresh directory" start_server || exit 1
python3 - "$PORT" "$RUN/delivered" <<'PY'
import sys
from packets import send
send(int(sys.argv[1]), [bytes.fromhex(l) for l in open(sys.argv[2]).read().split()], pause=0.01)
PY
sleep 1
check "an earlier client's computers through the relay: $(wc -l <<<"$RELAYED") stored as the same datagrams sent straight" \
    same "$(earlier_files "$REFERENCE")" "$RELAYED"
stop_server
finish
