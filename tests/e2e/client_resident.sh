#!/bin/bash
# scoutly.exe -R under Wine: each pass starts with its manifest and ends with
# the test's receipt; after the first pass an update request from the
# server's address runs a second pass, 13- and 12-byte datagrams from another
# address change nothing, and a close request ends the client with exit code 0.
# With a site key in its policy key, the client ignores those requests and
# forged signed ones, and obeys the server's signed requests only.
. "$(dirname "$0")/common.bash" client_resident
need "$TALLY_BIN/scoutly.exe"
wine_start
PORT=$(free_udp_port_pair)
timeout 30 "$WINE" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Resident' \
    /v DisplayName /t REG_SZ /d "Resident Test Program" /f >"$RUN/reg.out" 2>&1

# The test plays the server: it receives on 127.0.0.1:PORT and sends the
# requests to PORT+1, from 127.0.0.1 or, as a stranger, from 127.0.0.2.
python3 - "$PORT" "$WINE" "$TALLY_BIN/scoutly.exe" "$RUN" <<'PY' >"$RUN/checks.txt" 2>&1
import socket, subprocess, sys, time
from packets import Checks, Listener, stop
port, wine, exe, run = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
server = Listener(port)
check = Checks()

def receive_pass(seconds):
    """The packet types of one pass, until the software packet or time-out;
    then the 'A' receipt to where the manifest came from."""
    kinds = []
    manifest, sender = None, None
    for d, a in server.arrivals(seconds):
        if d[:1] == b"M" and manifest is not None:
            continue  # a resend of the manifest
        kinds.append(d[:1].hex())
        if d[:1] == b"M":
            manifest, sender = d, a
        if d[0] == 0xA3:
            break
    if manifest is not None:
        receipt = b"A" + manifest[1:7] + b"\0" + (32).to_bytes(4, "little") + manifest[12:28] + bytes(4)
        server.socket.sendto(receipt, sender)
    return kinds

def quiet(seconds):
    """Nothing but a late resend of the last manifest comes."""
    return all(d[:1] == b"M" for d, _ in server.arrivals(seconds))

def send_from(addr, data):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, 0))
    s.sendto(data, ("127.0.0.1", port + 1))
    s.close()

out = open(run + "/scoutly.out", "w")
proc = subprocess.Popen(["timeout", "90", wine, exe, "127.0.0.1:%d" % port, "-R"],
                        stdin=subprocess.DEVNULL, stdout=out, stderr=out)
full_pass = ["4d", "54", "32", "45", "a3"]
try:
    check("first pass: manifest, hardware, ID, extension and software packets", receive_pass(20) == full_pass)
    time.sleep(0.3)
    check("client stays resident", proc.poll() is None)
    send_from("127.0.0.2", b"Update Please")
    check("update request from another address changes nothing", quiet(1.5) and proc.poll() is None)
    send_from("127.0.0.1", b"Update Please!")
    check("a 14-byte datagram from the server changes nothing", quiet(1.0) and proc.poll() is None)
    send_from("127.0.0.1", b"X" * 40)
    check("a datagram longer than the buffer changes nothing", quiet(1.0) and proc.poll() is None)
    send_from("127.0.0.1", b"Update Please")
    check("update request runs a second pass", receive_pass(20) == full_pass)
    send_from("127.0.0.1", b"whatever13byt")
    check("any 13 bytes from the server run a pass", receive_pass(20) == full_pass)
    send_from("127.0.0.2", b"Close Please")
    time.sleep(1.0)
    check("close request from another address changes nothing", proc.poll() is None)
    send_from("127.0.0.1", b"Close Please")
    check.exits("close request ends the client with exit code 0", proc, 20)
finally:
    stop(proc)
check.exit()
PY
python_checks $? "$RUN/checks.txt" "the resident checks ran"

# The site key where Group Policy puts it (the 64-bit view where there is one).
KEY=$(python3 -c 'import os; print(os.urandom(32).hex().upper())')
VIEW=/reg:64
[ "$TALLY_WINE_MODE" = win32 ] && VIEW=
check "site key in the client's policy key" timeout 30 "$WINE" reg add 'HKLM\Software\Policies\Kestrin\scoutly' \
    /v SiteKey /t REG_SZ /d "$KEY" /f $VIEW >"$RUN/reg.out" 2>&1
python3 - "$PORT" "$WINE" "$TALLY_BIN/scoutly.exe" "$RUN" "$KEY" <<'PY' >"$RUN/signed.txt" 2>&1
import subprocess, sys, time
from packets import *
port, wine, exe, run, key = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], bytes.fromhex(sys.argv[5])
server = Listener(port)
check = Checks()

out = open(run + "/scoutly-key.out", "w")
proc = subprocess.Popen(["timeout", "90", wine, exe, "127.0.0.1:%d" % port, "-R"],
                        stdin=subprocess.DEVNULL, stdout=out, stderr=out)
try:
    first = server.receive_pass(20)
    check("a client with a key reports", first and first[-1][0] == 0xA3)
    mac = first[0][1:7]
    time.sleep(0.3)
    send_request(port + 1, b"Close Please")
    check("12 bytes from the server's address are ignored", server.quiet(1.5) and proc.poll() is None)
    send_request(port + 1, signed_request(mac, 2, os.urandom(32)), source="127.0.0.9")
    check("a close signed with another key is ignored", server.quiet(1.0) and proc.poll() is None)
    send_request(port + 1, signed_request(mac, 1, key, clock=time.time() - 600))
    check("an update signed 10 minutes ago is ignored", server.quiet(1.0) and proc.poll() is None)
    update = signed_request(mac, 1, key)
    send_request(port + 1, update)
    again = server.receive_pass(20)
    check("the server's signed update runs a pass", again and again[-1][0] == 0xA3)
    send_request(port + 1, update)
    check("the same signed update again is ignored", server.quiet(1.5) and proc.poll() is None)
    send_request(port + 1, signed_request(mac, 2, key), source="127.0.0.9")
    check.exits("the server's signed close ends the client with exit code 0", proc, 20)
finally:
    stop(proc)
check.exit()
PY
python_checks $? "$RUN/signed.txt" "the signed request checks ran"
finish
