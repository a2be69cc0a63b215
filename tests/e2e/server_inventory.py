"""The store of the inventory windows' end-to-end test, and what the windows
and exports must show for it, read back from the database files.

    server_inventory.py write DIR NOW     300 computers with up to 7 programs
    server_inventory.py rows DIR NOW [FIND [DAYS [ip]]]
                                          the Systems window's rows (name, user,
                                          IP, MAC, days, serial, asset), by name
                                          or by IP address as numbers
    server_inventory.py programs DIR      the catalogue: name, computers, versions
    server_inventory.py version DIR PROGRAM VERSION
                                          that version's computers, by name
    server_inventory.py sheet KIND CSV DIR [ARGS...]
                                          a spreadsheet export equals the store
"""
import csv
import io
import ipaddress
import re
import struct
import sys

from packets import RECORD, ENTRY, cstr, entry, mac_text, record, text

USERS = ["anna.adler", "ben.berg", "carla.huber", "dev.ito", "emil.jung", "fatma.keller", "georg.lang"]
PROGRAMS = [("Web Browser", ["109.0", "110.0", "9.5"]), ("Office Suite", ["16.0", "15.0"]),
            ("Zip Tool", ["19.00", ""]), ("PDF Reader", ["2023.1"]), ("Media Player", ["12", "11"]),
            ("Chat, Meetings", ['4 "Pro"'])]


def write(directory, now):
    hw, sw = b"", b""
    for i in range(300):
        mac = bytes([0x00, 0x1B, 0x21, 0x00, (i + 1) >> 8, (i + 1) & 255])
        ip = (10, i % 3, i // 50, i % 50 + 1)
        days = (i * 7) % 45
        r = bytearray(record("WS-%03d" % i, mac, ip, ram=256 << (i % 4), user=USERS[i % len(USERS)],
                             updated=now - days * 86400 - 3600))
        r[726:751] = text("SN%05d" % (i * 13), 25)
        r[751:776] = text("AT-%d" % i, 25)
        hw += bytes(r)
        for k, (name, versions) in enumerate(PROGRAMS):
            if i % (k + 2) != 0:
                sw += entry(mac, name, versions[(i // 3 + k) % len(versions)])
        if i % 25 == 0:
            sw += entry(mac, "Web Browser", "109.0")  # listed twice: one computer all the same
    open(directory + "/Hardware.Audit", "wb").write(hw)
    open(directory + "/Software.Audit", "wb").write(sw)


def natural(s):
    return [(0, int(p)) if p.isdigit() else (1, p.lower()) for p in re.split(r"(\d+)", s) if p != ""], s


def computers(directory):
    hw = open(directory + "/Hardware.Audit", "rb").read()
    out = []
    for i in range(len(hw) // RECORD):
        r = hw[i * RECORD:(i + 1) * RECORD]
        if r[4:10] == bytes(6):
            continue
        out.append(dict(index=i, mac=r[4:10], name=cstr(r[16:68]), user=cstr(r[776:802]),
                        ip=".".join(str(b) for b in r[12:16]), updated=struct.unpack_from("<I", r, 0)[0],
                        serial=cstr(r[726:751]), asset=cstr(r[751:776])))
    return out


def entries(directory):
    sw = open(directory + "/Software.Audit", "rb").read()
    return [(sw[k:k + 6], cstr(sw[k + 6:k + 70]), cstr(sw[k + 70:k + 102])) for k in range(0, len(sw), ENTRY)
            if sw[k:k + 6] != bytes(6)]


def rows(directory, now, find="", days=0, by_ip=False):
    out = []
    for c in computers(directory):
        age = (now - c["updated"]) // 86400
        fields = [c["name"], c["user"], c["ip"], mac_text(c["mac"]), c["serial"], c["asset"]]
        if find and not any(find.lower() in f.lower() for f in fields):
            continue
        if age < days:
            continue
        out.append((ipaddress.ip_address(c["ip"]) if by_ip else natural(c["name"]), c["index"],
                    [c["name"], c["user"], c["ip"], mac_text(c["mac"]), str(age), c["serial"], c["asset"]]))
    return [r[2] for r in sorted(out, key=lambda r: (r[0], r[1]))]


def catalogue(directory):
    """{program: {version: set of record indices}}"""
    index = {c["mac"]: c["index"] for c in computers(directory)}
    programs = {}
    for mac, name, version in entries(directory):
        if mac in index:
            programs.setdefault(name, {}).setdefault(version, set()).add(index[mac])
    return programs


def program_lines(directory):
    out = []
    for name, versions in sorted(catalogue(directory).items(), key=lambda p: natural(p[0])):
        out.append("%s\t%d\t%d" % (name, len(set().union(*versions.values())), len(versions)))
    return out


def version_names(directory, program, version):
    by_index = {c["index"]: c for c in computers(directory)}
    chosen = catalogue(directory)[program][version]
    return sorted((by_index[i]["name"] for i in chosen), key=natural)


def sheet(kind, path, directory, args):
    with open(path, newline="", encoding="latin-1") as f:
        data = f.read()
    assert data.endswith("\r\n") and data.count("\n") == data.count("\r\n"), "CRLF lines"
    table = list(csv.reader(io.StringIO(data, newline="")))
    header, body = table[0], table[1:]
    if kind == "systems":  # the shown rows: name, user, IP, MAC, ..., days, serial, asset
        assert header[:4] == ["Computer Name", "User", "IP Address", "MAC Address"], header
        assert len(header) == 23 and header[12] == "Days Since", header
        got = [[r[0], r[1], r[2], r[3], r[12], r[13], r[14]] for r in body]
        want = rows(directory, int(args[0]), "", int(args[1]))
    elif kind == "programs":
        assert header == ["Program", "Computers", "Version", "Version Computers"], header
        got = body
        want = []
        for name, versions in sorted(catalogue(directory).items(), key=lambda p: natural(p[0])):
            total = len(set().union(*versions.values()))
            for version, chosen in sorted(versions.items(), key=lambda v: natural(v[0])):
                want.append([name, str(total), version, str(len(chosen))])
    elif kind == "computers":
        assert header == ["Computer Name", "MAC Address", "IP Address", "User", "Program", "Version"], header
        by_index = {c["index"]: c for c in computers(directory)}
        chosen = sorted(catalogue(directory)[args[0]][args[1]])
        got = body
        want = [[by_index[i]["name"], mac_text(by_index[i]["mac"]), by_index[i]["ip"], by_index[i]["user"], args[0],
                 args[1]] for i in chosen]
    else:  # the full inventory: every program of every computer
        assert header == ["Computer Name", "MAC Address", "Program", "Version"], header
        index = {c["mac"]: c for c in computers(directory)}
        listed = [(index[m]["index"], k, index[m]["name"], mac_text(m), n, v)
                  for k, (m, n, v) in enumerate(entries(directory)) if m in index]
        got = body
        want = [list(r[2:]) for r in sorted(listed)]
    if got != want:
        print("sheet %s: %d rows, expected %d; first difference:" % (kind, len(got), len(want)))
        for g, w in zip(got + [None] * len(want), want + [None] * len(got)):
            if g != w:
                print("  got     ", g)
                print("  expected", w)
                break
        sys.exit(1)


if __name__ == "__main__":
    cmd, a = sys.argv[1], sys.argv[2:]
    if cmd == "write":
        write(a[0], int(a[1]))
    elif cmd == "rows":
        for r in rows(a[0], int(a[1]), a[2] if len(a) > 2 else "", int(a[3]) if len(a) > 3 else 0, a[4:5] == ["ip"]):
            print("\t".join(r))
    elif cmd == "programs":
        print("\n".join(program_lines(a[0])))
    elif cmd == "version":
        print("\n".join(version_names(a[0], a[1], a[2])))
    elif cmd == "sheet":
        sheet(a[0], a[1], a[2], a[3:])
    else:
        sys.exit(__doc__)
