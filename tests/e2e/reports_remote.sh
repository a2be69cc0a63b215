#!/bin/bash
# Remote requests live: "Request Update" and "Close Remote Service" send
# exactly 13 and 12 bytes to the port one above the server's, at the address
# the computer name resolves to; a name that does not resolve gives the
# "Host not found" box; a resident scoutly.exe on this machine reports again
# on request and ends on the close request.
. "$(dirname "$0")/reports_common.bash"
PORT=$(free_udp_port_pair)
reports_setup "$PORT" 0 local
SCOUT_PID=
trap 'reports_cleanup; [ -n "$SCOUT_PID" ] && kill "$SCOUT_PID" 2>/dev/null; true' EXIT
check "server starts" start_server
driver rp-wait-text Search 1083 "Search Returned 5 hits"

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
driver rp-select-system localhost \; rp-wait-text General 1051 localhost \; rp-menu 40015 \; sleep 300 \; rp-menu 40016
wait "$RECEIVER"
check "Request Update sends 13 bytes to port P+1" test "$(sed -n 1p "$RUN/received")" = "13 Update Please"
check "Close Remote Service sends 12 bytes" test "$(sed -n 2p "$RUN/received")" = "12 Close Please"

driver rp-select-system PC-128 \; rp-wait-text General 1051 PC-128 \; rp-menu 40015 \; box "Host not found" 1 30000
check "an unknown name gives the Host not found box" test "$(out)" = "Unable to find computer on the network"

# A resident client on this machine: its first report adds it to the list.
(cd "$RUN" && exec timeout 120 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" -R </dev/null >"$RUN/scout.log" 2>&1) &
SCOUT_PID=$!
driver rp-wait-text Search 1083 "Search Returned 6 hits" 30000
check "the resident client reports" test $? -eq 0
driver rp-list
NAME=$(out | grep -vxE 'PC-128|PC-256|PC-512|PC-1024|localhost' | head -n 1)
driver rp-select-system "$NAME" \; rp-wait-text General 1051 "$NAME" \; rp-text "Server Stats" 1057
BEFORE=$(out)
driver rp-menu 40015 \; rp-wait-text "Server Stats" 1057 "$((BEFORE + 1))" 30000
check "Request Update brings a fresh report from $NAME" test $? -eq 0
driver rp-menu 40016
for i in $(seq 1 100); do kill -0 "$SCOUT_PID" 2>/dev/null || break; sleep 0.1; done
check "Close Remote Service ends the resident client" test "$(kill -0 "$SCOUT_PID" 2>/dev/null && echo running)" = ""
SCOUT_PID=

stop_server
exit $FAILED
