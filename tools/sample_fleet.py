#!/usr/bin/env python3
"""The main job's sample fleet: realistic reports of N computers (names,
users, Windows 7 to 11, memory, disks, 50 to 150 programs each with
versions), sent to tallyhall on 127.0.0.1:PORT as real datagrams, each
computer from a loopback address of its own.

    sample_fleet.py PORT N [SEED]
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from packets import DRIVE_CDROM, DRIVE_FIXED, GB, hardware, id_packet, send, software_packets  # noqa: E402

FIRST = ["anna", "ben", "carla", "dev", "emil", "fatma", "georg", "hana", "ivan", "jana", "karl", "lena", "mehmet",
         "nora", "oskar", "paula", "rafael", "sofia", "tomas", "ursula", "viktor", "wanda", "yusuf", "zoe"]
LAST = ["adler", "berg", "costa", "dietz", "eriksen", "fischer", "garcia", "huber", "ito", "jung", "keller",
        "lang", "meyer", "novak", "olsen", "petrov", "quinn", "richter", "schmid", "tanaka", "vogel", "weber"]
SITES = ["ACC", "DEV", "HR", "LAB", "OPS", "SALES", "SUP", "WH"]
# Windows version (major, minor, build) with its share of the fleet.
WINDOWS = [((6, 1, 7601), 10), ((6, 2, 9200), 3), ((6, 3, 9600), 12), ((10, 0, 19045), 55), ((10, 0, 22631), 20)]
CPUS = [("GenuineIntel", 0x306C3, 3400.0), ("GenuineIntel", 0x906EA, 3600.0), ("GenuineIntel", 0x806C1, 2800.0),
        ("AuthenticAMD", 0x870F10, 3600.0), ("AuthenticAMD", 0xA50F00, 3800.0), ("GenuineIntel", 0x206A7, 2500.0)]
SCREENS = [(1366, 768), (1600, 900), (1920, 1080), (1920, 1200), (2560, 1440)]
VENDORS = ["Northwind", "Contoso", "Fabrikam", "Litware", "Tailspin", "Adatum", "Proseware", "Woodgrove", "Lucerne",
           "Wingtip", "Fourth Coffee", "Blue Yonder", "Humongous", "Alpine", "Margie", "Trey", "Coho", "Relecloud"]
PRODUCTS = ["Office Suite", "PDF Reader", "Web Browser", "Mail Client", "Zip Tool", "Image Viewer", "Media Player",
            "Antivirus", "Backup Agent", "VPN Client", "Remote Desktop", "Runtime", "Visual C++ Redistributable",
            "Java Runtime", "Database Client", "Accounting", "CAD Viewer", "Photo Editor", "Text Editor",
            "Password Manager", "Chat", "Video Conferencing", "Printer Driver", "Scanner Tools", "Font Pack",
            "Spreadsheet Add-in", "Inventory Agent", "Terminal", "Diagram Designer", "Notes", "Update Service",
            "Audio Driver", "Graphics Driver", "Network Monitor", "Screen Recorder", "Dictionary", "Calendar Sync",
            "Cloud Drive", "Firewall", "Language Pack"]


def fleet(count, seed=1, extra=()):
    """(mac, source address, datagrams) of `count` computers; `extra` are
    (program, version) items every computer lists besides its own."""
    rnd = random.Random(seed)
    catalogue = ["%s %s" % (v, p) for v in VENDORS for p in PRODUCTS]
    rnd.shuffle(catalogue)
    common = catalogue[:40]
    for n in range(count):
        mac = bytes([0x00, 0x1B, 0x21, 0x40 + n // 65536 % 64, n // 256 % 256, n % 256])
        site = SITES[n % len(SITES)]
        name = "%s-%s-%03d" % (site, "LT" if rnd.random() < 0.4 else "PC", n + 1)
        user = "%s.%s" % (rnd.choice(FIRST), rnd.choice(LAST))
        version = rnd.choices([w for w, _ in WINDOWS], [s for _, s in WINDOWS])[0]
        vendor, code, mhz = rnd.choice(CPUS)
        ram = rnd.choice([1, 2, 2, 3, 4, 4, 8, 8, 8, 16, 16, 32]) << 30
        if version[0] == 6 and version[1] == 1:
            ram = min(ram, 4 << 30)
        width, height = rnd.choice(SCREENS)
        total = rnd.choice([120, 250, 256, 500, 512, 1000]) * GB
        drives = [("C", DRIVE_FIXED, int(total * rnd.uniform(0.05, 0.7)), total)]
        if rnd.random() < 0.3:
            drives.append(("D", DRIVE_FIXED, rnd.randint(50, 900) * GB, 1000 * GB))
        if rnd.random() < 0.4:
            drives.append(("E", DRIVE_CDROM, 0, 0))
        programs = sorted(set(common[:rnd.randint(20, 40)] + rnd.sample(catalogue, rnd.randint(30, 110))))
        items = [(p, None if rnd.random() < 0.08 else "%d.%d.%d" % (rnd.randint(1, 24), rnd.randint(0, 9),
                                                                     rnd.randint(0, 9999))) for p in programs]
        items += list(extra)
        ip = "127.0.%d.%d" % (1 + n // 250, 1 + n % 250)
        datagrams = [id_packet(mac, "AT-%05d" % (n + 1), "SN%08X" % rnd.getrandbits(32)),
                     hardware(mac, name, user, ram=ram, drives=drives, up=rnd.randint(300, 30 * 86400),
                              speed=mhz * rnd.uniform(0.97, 1.01), code=code, vendor=vendor,
                              refresh=rnd.choice([60, 60, 75, 144]), version=version, width=width, height=height,
                              levels=rnd.choice([13, 16, 22, 27]))] + software_packets(mac, items)
        yield mac, ip, datagrams


def send_fleet(port, count, seed=1):
    for _, ip, datagrams in fleet(count, seed):
        send(port, datagrams, ip, pause=0.002)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    send_fleet(int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]) if len(sys.argv) > 3 else 1)
