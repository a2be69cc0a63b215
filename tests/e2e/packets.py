#!/usr/bin/env python3
"""The datagrams and database files of tallyhall and scoutly, built and read
for the end-to-end tests and the main job's sample fleet (tools/sample_fleet.py).

    packets.py write DIR [N [local]]  the sample Hardware.Audit / Software.Audit:
                                      four computers, N more programs for
                                      PC-1024 and, with "local", a fifth
                                      computer named localhost
    packets.py record DIR I           record I of Hardware.Audit as name=value lines
    packets.py entries DIR            Software.Audit as one "MAC name" line per entry
    packets.py regvalue TEXT          the 255-byte Audit_PathName value in hex

Scripts import it (the folder is on PYTHONPATH) for the builders below.
"""
import hashlib
import hmac
import os
import socket
import struct
import subprocess
import sys
import time

HW_PACKET, ID_PACKET, RECORD, ENTRY = 704, 64, 808, 102
HARDWARE, ID, LIST_START, CONTINUATION = 0x54, 0x32, 0xA3, 0x99
GB = 1 << 30
DRIVE_REMOVABLE, DRIVE_FIXED, DRIVE_CDROM = 2, 3, 5


def text(s, width):
    """A NUL-padded text field of `width` bytes (at most width - 1 characters)."""
    return s.encode("latin-1")[: width - 1].ljust(width, b"\0")


def cstr(b):
    return b.split(b"\0", 1)[0].decode("latin-1")


def mac_text(m):
    return ":".join("%02X" % b for b in m)


def hardware(mac, name, user="", ram=256 << 20, drives=(), up=3600, speed=2992.6, code=0x0F29, bpp=32,
             refresh=75, interlaced=0, version=(5, 1, 2600), platform=2, width=1024, height=768,
             vendor="GenuineIntel", levels=13):
    """The 704-byte hardware packet; drives are (letter, kind, free, total)."""
    p = bytearray(HW_PACKET)
    p[0] = HARDWARE
    p[1:7] = mac
    struct.pack_into("<I", p, 8, HW_PACKET)
    p[12:62] = text(name, 50)
    struct.pack_into("<H", p, 62, 0x0202)
    p[64] = levels
    p[68:80] = vendor.encode()[:12].ljust(12, b"\0")
    # Memory sizes in bytes, capped at 4 GB - 1 as scoutly caps them.
    struct.pack_into("<IfII", p, 80, code, speed, min(ram, 0xFFFFFFFF), min(2 * ram, 0xFFFFFFFF))
    p[96], p[97] = version[0], version[1]
    struct.pack_into("<HIIII", p, 98, version[2], platform, bpp, width, height)
    struct.pack_into("<H", p, 116, refresh)
    p[118] = interlaced
    for k, (letter, kind, free, total) in enumerate(drives):
        p[119 + k] = ord(letter)
        struct.pack_into("<I", p, 148 + 4 * k, kind)
        struct.pack_into("<Q", p, 256 + 8 * k, free)
        struct.pack_into("<Q", p, 464 + 8 * k, total)
    struct.pack_into("<I", p, 672, up)
    p[676:701] = text(user, 25)
    return bytes(p)


def id_packet(mac, asset="", serial=""):
    p = bytearray(ID_PACKET)
    p[0] = ID
    p[1:7] = mac
    struct.pack_into("<I", p, 8, ID_PACKET)
    p[12:37] = text(asset, 25)
    p[37:62] = text(serial, 25)
    return bytes(p)


def software(lead, mac, items):
    """One software packet; items are (name, version or None)."""
    p = bytearray([lead]) + mac
    for name, version in items:
        p += b"L" + bytes([len(name) + 1]) + name.encode("latin-1") + b"\0"
        if version is not None:
            p += b"X" + bytes([len(version) + 1]) + version.encode("latin-1") + b"\0"
    return bytes(p)


def software_packets(mac, items, full=1205):
    """A whole list as scoutly packs it: a list start, then continuations,
    each sent once it holds `full` bytes or the next item would pass 1500."""
    packets, batch = [], []
    for item in items:
        if batch and len(software(LIST_START, mac, batch + [item])) > 1500:
            packets.append(batch)
            batch = []
        batch.append(item)
        if len(software(LIST_START, mac, batch)) >= full:
            packets.append(batch)
            batch = []
    if batch:
        packets.append(batch)
    return [software(LIST_START if k == 0 else CONTINUATION, mac, b) for k, b in enumerate(packets)]


def software_items(packet):
    """The (name, version or None) byte strings of a software packet."""
    items, i = [], 7
    while i + 1 < len(packet):
        n = packet[i + 1]
        name, i = packet[i + 2:i + 2 + n], i + 2 + n
        version = None
        if i < len(packet) and packet[i] == ord("X"):
            m = packet[i + 1]
            version, i = packet[i + 2:i + 2 + m], i + 2 + m
        items.append((name, version))
    return items


def send(port, datagrams, source="127.0.0.1", pause=0.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    for d in datagrams:
        s.sendto(d, ("127.0.0.1", port))
        if pause:
            time.sleep(pause)
    s.close()


# --- signing

def key_id(key):
    """The first 4 bytes of SHA-256 of the site key."""
    return hashlib.sha256(key).digest()[:4]


def sign(data, key, clock=None):
    """data followed by its 44-byte signature block: key identifier, time, HMAC-SHA-256 over all before the tag."""
    head = bytes(data) + key_id(key) + struct.pack("<Q", int(time.time() if clock is None else clock))
    return head + hmac.new(key, head, hashlib.sha256).digest()


def signed_request(mac, request, key, clock=None, nonce=None):
    """The 72-byte signed request (1 update, 2 close) for a computer."""
    body = b"Q" + bytes(mac) + bytes([request]) + struct.pack("<I", 72) + (nonce or os.urandom(16))
    return sign(body, key, clock)


def manifest(mac, datagrams, key=None, pass_id=None):
    """The pass manifest of these datagrams, signed with the key when one is given."""
    size = 32 + 16 * len(datagrams) + (44 if key else 0)
    m = b"M" + bytes(mac) + bytes([1 if key else 0]) + struct.pack("<I", size) + (pass_id or os.urandom(16)) + \
        bytes([len(datagrams), 0, 0, 0]) + b"".join(hashlib.sha256(d).digest()[:16] for d in datagrams)
    return sign(m, key) if key else m


def send_request(port, data, source="127.0.0.1"):
    send(port, [data], source)


class Checks:
    """A script's checks: one "ok" or "FAIL" line each, and its exit code."""

    def __init__(self):
        self.failures = 0

    def __call__(self, name, cond):
        print(("ok   " if cond else "FAIL ") + name, flush=True)
        self.failures += 0 if cond else 1

    def exits(self, name, proc, seconds):
        """Checks that the process ends with exit code 0 within the time."""
        try:
            rc = proc.wait(seconds)
        except subprocess.TimeoutExpired:
            rc = None
        self("%s (got %s)" % (name, rc), rc == 0)

    def exit(self):
        sys.exit(1 if self.failures else 0)


def stop(proc):
    """Ends the process if it still runs."""
    if proc.poll() is None:
        proc.kill()
        proc.wait()


class Listener:
    """The server's socket as a test plays the server: passes as they arrive."""

    def __init__(self, port):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", port))

    def arrivals(self, seconds):
        """The (datagram, sender) pairs that arrive within the time."""
        end = time.time() + seconds
        while time.time() < end:
            self.socket.settimeout(max(0.01, end - time.time()))
            try:
                yield self.socket.recvfrom(4096)
            except socket.timeout:
                return

    def receive_pass(self, seconds):
        """The datagrams of one pass: up to its list start, or what came before the time-out."""
        got = []
        for d, _ in self.arrivals(seconds):
            got.append(d)
            if d[0] == LIST_START:
                break
        return got

    def quiet(self, seconds):
        """No new pass begins (no hardware packet) within the time."""
        return all(d[0] != HARDWARE for d, _ in self.arrivals(seconds))


# --- database files

def record(name, mac, ip=(10, 0, 0, 1), ram=256, code=0x0F29, speed=2992.6, user="", levels=2, updated=1141740309):
    """An 808-byte record of Hardware.Audit (RAM in MB)."""
    r = bytearray(RECORD)
    struct.pack_into("<I", r, 0, updated)
    r[4:10] = mac
    r[12:16] = bytes(ip)
    r[16:68] = text(name, 52)
    r[68] = levels
    r[69:82] = text("GenuineIntel", 13)
    struct.pack_into("<IfII", r, 84, code, speed, ram, ram * 2)
    struct.pack_into("<I", r, 100, 2)
    r[104], r[105] = 5, 1
    struct.pack_into("<HIII", r, 106, 2600, 32, 1024, 768)
    struct.pack_into("<H", r, 120, 60)
    r[123] = ord("C")
    struct.pack_into("<I", r, 152, DRIVE_FIXED)
    struct.pack_into("<Q", r, 256, 1000 << 20)
    struct.pack_into("<Q", r, 464, 4000 << 20)
    struct.pack_into("<I", r, 672, 90061)
    r[776:802] = text(user, 26)
    return bytes(r)


def entry(mac, name, version):
    """A 102-byte entry of Software.Audit."""
    return mac + text(name, 64) + text(version, 32)


# The sample database: name, last MAC byte, RAM MB, CPUID code, speed, programs.
MACHINES = [
    ("PC-128", 0x11, 128, 0x0F29, 2992.6, [("Home Office Suite 2", "11.0"), ("Zip Tool", "9")]),
    ("PC-256", 0x12, 256, 0x0F29, 1000.0, [("Editor Pro", "2.1")]),
    ("PC-512", 0x13, 512, 0x10676, 3000.0, [("Office Viewer", "1"), ("Player", "")]),
    ("PC-1024", 0x14, 1024, 0x0F29, 2400.0, []),
]


def sample_mac(last):
    return bytes([0x00, 0x0C, 0x29, 0x00, 0x00, last])


def write(directory, extra=0, local=False):
    hw, sw = b"", b""
    machines = MACHINES + ([("localhost", 0x15, 64, 0x0F29, 500.0, [])] if local else [])
    for name, last, ram, code, speed, programs in machines:
        hw += record(name, sample_mac(last), (10, 0, 0, last), ram, code, speed, "user" + str(last))
        for p, v in programs:
            sw += entry(sample_mac(last), p, v)
    for k in range(extra):
        sw += entry(sample_mac(0x14), "Tool number %d" % k, "1.%d" % k)
    open(directory + "/Hardware.Audit", "wb").write(hw)
    open(directory + "/Software.Audit", "wb").write(sw)


def show_record(directory, i):
    data = open(directory + "/Hardware.Audit", "rb").read()
    r = data[i * RECORD:(i + 1) * RECORD]
    print("size=%d" % len(data))
    print("mac=" + mac_text(r[4:10]))
    print("zero=%d" % (r == bytes(RECORD)))
    for label, off in (("name", 16), ("custom1", 676), ("custom2", 701), ("serial", 726), ("asset", 751)):
        width = 52 if off == 16 else 25
        print("%s=%s" % (label, cstr(r[off:off + width])))


def show_entries(directory):
    data = open(directory + "/Software.Audit", "rb").read()
    print("size=%d" % len(data))
    for k in range(0, len(data), ENTRY):
        e = data[k:k + ENTRY]
        print(mac_text(e[:6]) + " " + cstr(e[6:70]))


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "write":
        write(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 0, sys.argv[4:5] == ["local"])
    elif cmd == "record":
        show_record(sys.argv[2], int(sys.argv[3]))
    elif cmd == "entries":
        show_entries(sys.argv[2])
    elif cmd == "regvalue":
        print(sys.argv[2].encode("latin-1").ljust(255, b"\0").hex())
    else:
        sys.exit(__doc__)
