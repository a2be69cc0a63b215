#!/bin/bash
# scoutly.exe -R under Wine: each pass starts with its manifest and ends with
# the test's receipt; after the first pass an update request from the
# server's address runs a second pass, 13- and 12-byte datagrams from another
# address change nothing, and a close request ends the client with exit code 0.
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
port, wine, exe, run = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
server.bind(("127.0.0.1", port))
failures = 0

def check(name, cond):
    global failures
    print(("ok   " if cond else "FAIL ") + name, flush=True)
    failures += 0 if cond else 1

def receive_pass(seconds):
    """The packet types of one pass, until the software packet or time-out;
    then the 'A' receipt to where the manifest came from."""
    kinds = []
    manifest, sender = None, None
    end = time.time() + seconds
    while time.time() < end:
        server.settimeout(max(0.01, end - time.time()))
        try:
            d, a = server.recvfrom(4096)
        except socket.timeout:
            break
        if d[:1] == b"M" and manifest is not None:
            continue  # a resend of the manifest
        kinds.append(d[:1].hex())
        if d[:1] == b"M":
            manifest, sender = d, a
        if d[0] == 0xA3:
            break
    if manifest is not None:
        receipt = b"A" + manifest[1:7] + b"\0" + (32).to_bytes(4, "little") + manifest[12:28] + bytes(4)
        server.sendto(receipt, sender)
    return kinds

def quiet(seconds):
    """Nothing but a late resend of the last manifest comes."""
    end = time.time() + seconds
    while time.time() < end:
        server.settimeout(max(0.01, end - time.time()))
        try:
            d, a = server.recvfrom(4096)
        except socket.timeout:
            return True
        if d[:1] != b"M":
            return False
    return True

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
    try:
        rc = proc.wait(20)
    except subprocess.TimeoutExpired:
        rc = None
    check("close request ends the client with exit code 0 (got %s)" % rc, rc == 0)
finally:
    if proc.poll() is None:
        proc.kill()
        proc.wait()
sys.exit(1 if failures else 0)
PY
rc=$?
cat "$RUN/checks.txt"
FAILED=$(grep -c '^FAIL' "$RUN/checks.txt")
[ "$rc" = 0 ] || [ "$FAILED" -gt 0 ] || check "the resident checks ran" false
finish
