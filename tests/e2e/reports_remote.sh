#!/bin/bash
# Remote requests live: "Request Update" and "Close Remote Service" send
# exactly 13 and 12 bytes to the port one above the server's, at the address
# the computer name resolves to; a name that does not resolve gives the
# "Host not found" box; a resident scoutly.exe on this machine reports again
# on request and ends on the close request.
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

stop_server
finish
