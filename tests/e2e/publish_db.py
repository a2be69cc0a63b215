#!/usr/bin/env python3
"""The organisation's database of the publishing end-to-end test, compared
with the server's database files (read back here, never from the server).

    publish_db.py equal PGPORT SITE DIR [SECONDS]
                        the site's rows (computers with their facts, programs,
                        change events) equal the store in DIR, within SECONDS
                        (default: at once); the differences otherwise
    publish_db.py having PGPORT PROGRAM VERSION
                        one query over all sites: the computers that have that
                        version of the program, as "SITE<tab>NAME" lines
    publish_db.py expect-having PROGRAM VERSION SITE DIR [SITE DIR]...
                        the same from the stores
    publish_db.py resend PORT SEED FIRST COUNT PROGRAM VERSION
                        computers FIRST to FIRST + COUNT - 1 of the sample fleet
                        SEED report again, with one more program
    publish_db.py name SEED N
                        the name of computer N of the sample fleet SEED
"""
import os
import struct
import subprocess
import sys
import time

from packets import RECORD, ENTRY, cstr, mac_text, send

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from sample_fleet import fleet  # noqa: E402

EXTENSION, EVENT = 320, 256


def sql(port, query):
    """The rows of a query as lists of texts (NULL as empty)."""
    out = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(port), "-U", "postgres", "-d", "inventory", "-X",
                          "-A", "-t", "-F", "\t", "-R", "\x1e", "-v", "ON_ERROR_STOP=1", "-c", query],
                         capture_output=True, timeout=60, env=dict(os.environ, PGCONNECT_TIMEOUT="10"))
    if out.returncode != 0:
        raise RuntimeError(out.stderr.decode(errors="replace").strip())
    text = out.stdout.decode("utf-8").rstrip("\n")
    return [r.split("\t") for r in text.split("\x1e") if r.strip("\n")] if text else []


def text_of(field):
    """A store text as the database holds it (Windows-1252 read as Latin-1 where they agree)."""
    return cstr(field)


def store_computers(directory):
    """MAC text -> the facts the database must hold, from Hardware.Audit and Extension.Audit."""
    hw = open(os.path.join(directory, "Hardware.Audit"), "rb").read()
    path = os.path.join(directory, "Extension.Audit")
    ext = open(path, "rb").read() if os.path.exists(path) else b""
    computers = {}
    for i in range(len(hw) // RECORD):
        r = hw[i * RECORD:(i + 1) * RECORD]
        mac = r[4:10]
        if mac == bytes(6):
            continue
        e = ext[i * EXTENSION:(i + 1) * EXTENSION]
        has_ext = len(e) == EXTENSION and e[0:6] == mac
        total = free = 0
        for k in range(26):
            if struct.unpack_from("<I", r, 152 + 4 * k)[0] == 3:  # fixed disk
                t, f = struct.unpack_from("<Q", r, 464 + 8 * k)[0], struct.unpack_from("<Q", r, 256 + 8 * k)[0]
                total, free = total + (t >> 20), free + (min(f, t) >> 20)
        facts = {
            "name": text_of(r[16:68]), "user": text_of(r[776:802]),
            "ip": ".".join(str(b) for b in r[12:16]), "processor": text_of(r[69:82]),
            "mhz": str(int(struct.unpack_from("<f", r, 88)[0])), "memory": str(struct.unpack_from("<I", r, 92)[0]),
            "windows_version": "%d.%d.%d" % (r[104], r[105], struct.unpack_from("<H", r, 106)[0]),
            "disk_total": str(total), "disk_free": str(free),
            "last_report": str(struct.unpack_from("<I", r, 0)[0]),
            "custom1": text_of(r[676:701]), "custom2": text_of(r[701:726]),
            "serial": text_of(r[726:751]), "asset": text_of(r[751:776]),
            "manufacturer": text_of(e[64:128]) if has_ext else "", "model": text_of(e[128:192]) if has_ext else "",
        }
        computers[mac_text(mac)] = facts
    return computers


def store_programs(directory, macs):
    """(MAC text, program, version) of the computers that have a record, each once."""
    sw = open(os.path.join(directory, "Software.Audit"), "rb").read()
    programs = set()
    for k in range(0, len(sw) - ENTRY + 1, ENTRY):
        e = sw[k:k + ENTRY]
        mac = mac_text(e[:6])
        if e[:6] != bytes(6) and mac in macs:
            programs.add((mac, text_of(e[6:70]), text_of(e[70:102])))
    return programs


def store_events(directory):
    """The sequence numbers of the events of History.Audit that count."""
    path = os.path.join(directory, "History.Audit")
    data = open(path, "rb").read() if os.path.exists(path) else b""
    sequences, last = [], 0
    for k in range(0, len(data) - EVENT + 1, EVENT):
        r = data[k:k + EVENT]
        h = 2166136261
        for w in struct.unpack_from("<63I", r, 0):
            h = ((h ^ w) * 16777619) & 0xFFFFFFFF
        seq = struct.unpack_from("<Q", r, 0)[0]
        if h == struct.unpack_from("<I", r, 252)[0] and seq and r[22] and seq > last:
            sequences.append(seq)
            last = seq
    return sequences


COMPUTER_COLUMNS = ("mac, computer_name, user_name, ip_address, processor, processor_mhz, memory_mb, "
                    "windows_version, disk_total_mb, disk_free_mb, extract(epoch from last_report)::bigint, "
                    "custom_field_1, custom_field_2, serial_number, asset_tag, manufacturer, model")
FACTS = ("name", "user", "ip", "processor", "mhz", "memory", "windows_version", "disk_total", "disk_free",
         "last_report", "custom1", "custom2", "serial", "asset", "manufacturer", "model")


def database_computers(port, site):
    rows = sql(port, "select %s from computers where site = '%s'" % (COMPUTER_COLUMNS, site))
    return {r[0].upper(): dict(zip(FACTS, r[1:])) for r in rows}


def differences(port, site, directory):
    """What the database holds otherwise than the store, as lines (none: equal)."""
    want = store_computers(directory)
    got = database_computers(port, site)
    lines = []
    for mac in sorted(set(want) | set(got)):
        if mac not in got:
            lines.append("computer %s missing" % mac)
        elif mac not in want:
            lines.append("computer %s not in the store" % mac)
        elif want[mac] != got[mac]:
            lines.append("computer %s: %s" % (mac, {k: (want[mac][k], got[mac][k]) for k in FACTS
                                                    if want[mac][k] != got[mac][k]}))
    rows = sql(port, "select mac, program, version from programs where site = '%s'" % site)
    programs = [(r[0].upper(), r[1], r[2] if len(r) > 2 else "") for r in rows]
    if len(programs) != len(set(programs)):
        lines.append("%d program rows twice" % (len(programs) - len(set(programs))))
    expected = store_programs(directory, want)
    for p in sorted(expected ^ set(programs))[:10]:
        lines.append("program %s %s" % ("missing" if p in expected else "not in the store", p))
    sequences = [int(r[0]) for r in sql(port, "select sequence from change_events where site = '%s'" % site)]
    if sorted(sequences) != store_events(directory):
        lines.append("change events: %d in the database (%d distinct), %d in History.Audit"
                     % (len(sequences), len(set(sequences)), len(store_events(directory))))
    return lines


def equal(port, site, directory, seconds):
    end = time.time() + seconds
    while True:
        try:
            lines = differences(port, site, directory)
        except (RuntimeError, OSError, ValueError) as failure:
            lines = ["cannot compare: %s" % failure]
        if not lines or time.time() >= end:
            break
        time.sleep(0.5)
    for line in lines[:20]:
        print("     " + line)
    return not lines


HAVING = ("select c.site, c.computer_name from computers c join programs p on p.site = c.site and p.mac = c.mac "
          "where p.program = '%s' and p.version = '%s' order by 1, 2")


def expect_having(program, version, pairs):
    lines = []
    for site, directory in pairs:
        computers = store_computers(directory)
        macs = {m for m, p, v in store_programs(directory, computers) if p == program and v == version}
        lines += ["%s\t%s" % (site, computers[m]["name"]) for m in macs]
    return sorted(lines)


def resend(port, seed, first, count, program, version):
    for n, (_, ip, datagrams) in enumerate(fleet(first + count, seed, [(program, version)])):
        if n >= first:
            send(port, datagrams, ip, pause=0.002)


def quoted(value):
    return value.replace("'", "''")


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "equal":
        sys.exit(0 if equal(args[0], args[1], args[2], float(args[3]) if len(args) > 3 else 0) else 1)
    elif cmd == "having":
        print("\n".join("\t".join(r) for r in sql(args[0], HAVING % (quoted(args[1]), quoted(args[2])))))
    elif cmd == "expect-having":
        print("\n".join(expect_having(args[0], args[1], list(zip(args[2::2], args[3::2])))))
    elif cmd == "resend":
        resend(int(args[0]), int(args[1]), int(args[2]), int(args[3]), args[4], args[5])
    elif cmd == "name":
        print(cstr(list(fleet(int(args[1]) + 1, int(args[0])))[-1][2][1][12:64]))
    else:
        sys.exit(__doc__)
