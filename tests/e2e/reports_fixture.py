#!/usr/bin/env python3
"""Database files and checks for the reports end-to-end tests.

    reports_fixture.py write DIR [N [local]]
                                      the sample Hardware.Audit / Software.Audit,
                                      with N more programs for PC-1024 and, with
                                      "local", a fifth computer named localhost
    reports_fixture.py record DIR I   record I of Hardware.Audit as name=value lines
    reports_fixture.py entries DIR    Software.Audit as one "MAC name" line per entry
    reports_fixture.py regvalue TEXT  the 255-byte Audit_PathName value in hex
"""
import struct
import sys

RECORD, ENTRY = 808, 102

# name, last MAC byte, RAM MB, CPUID code, speed, programs
MACHINES = [
    ("PC-128", 0x11, 128, 0x0F29, 2992.6, [("Home Office Suite 2", "11.0"), ("Zip Tool", "9")]),
    ("PC-256", 0x12, 256, 0x0F29, 1000.0, [("Editor Pro", "2.1")]),
    ("PC-512", 0x13, 512, 0x10676, 3000.0, [("Office Viewer", "1"), ("Player", "")]),
    ("PC-1024", 0x14, 1024, 0x0F29, 2400.0, []),
]


def mac(last):
    return bytes([0x00, 0x0C, 0x29, 0x00, 0x00, last])


def text(s, width):
    return s.encode("latin-1")[: width - 1].ljust(width, b"\0")


def record(name, last, ram, code, speed):
    r = bytearray(RECORD)
    struct.pack_into("<I", r, 0, 1141740309)
    r[4:10] = mac(last)
    r[12:16] = bytes([10, 0, 0, last])
    r[16:68] = text(name, 52)
    r[68] = 2
    r[69:82] = text("GenuineIntel", 13)
    struct.pack_into("<IfII", r, 84, code, speed, ram, ram * 2)
    struct.pack_into("<I", r, 100, 2)
    r[104], r[105] = 5, 1
    struct.pack_into("<HIII", r, 106, 2600, 32, 1024, 768)
    struct.pack_into("<H", r, 120, 60)
    r[123] = ord("C")
    struct.pack_into("<I", r, 152, 3)
    struct.pack_into("<QQ", r, 256, 0, 0)
    struct.pack_into("<Q", r, 256, 1000 << 20)
    struct.pack_into("<Q", r, 464, 4000 << 20)
    struct.pack_into("<I", r, 672, 90061)
    r[776:802] = text("user" + str(last), 26)
    return bytes(r)


def entry(m, name, version):
    return m + text(name, 64) + text(version, 32)


def write(directory, extra=0, local=False):
    hw, sw = b"", b""
    machines = MACHINES + ([("localhost", 0x15, 64, 0x0F29, 500.0, [])] if local else [])
    for name, last, ram, code, speed, programs in machines:
        hw += record(name, last, ram, code, speed)
        for p, v in programs:
            sw += entry(mac(last), p, v)
    for k in range(extra):
        sw += entry(mac(0x14), "Tool number %d" % k, "1.%d" % k)
    open(directory + "/Hardware.Audit", "wb").write(hw)
    open(directory + "/Software.Audit", "wb").write(sw)


def cstr(b):
    return b.split(b"\0", 1)[0].decode("latin-1")


def show_record(directory, i):
    data = open(directory + "/Hardware.Audit", "rb").read()
    r = data[i * RECORD:(i + 1) * RECORD]
    print("size=%d" % len(data))
    print("mac=" + ":".join("%02X" % b for b in r[4:10]))
    print("zero=%d" % (r == bytes(RECORD)))
    for label, off in (("name", 16), ("custom1", 676), ("custom2", 701), ("serial", 726), ("asset", 751)):
        width = 52 if off == 16 else 25
        print("%s=%s" % (label, cstr(r[off:off + width])))


def show_entries(directory):
    data = open(directory + "/Software.Audit", "rb").read()
    print("size=%d" % len(data))
    for k in range(0, len(data), ENTRY):
        e = data[k:k + ENTRY]
        print(":".join("%02X" % b for b in e[:6]) + " " + cstr(e[6:70]))


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
