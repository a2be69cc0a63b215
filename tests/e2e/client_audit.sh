#!/bin/bash
# scoutly.exe under Wine, one audit pass against a receiver of this test on
# 127.0.0.1 that never answers (as an earlier server): the pass manifest
# listing every datagram, resent after each silence until the bounded wait
# ends with exit code 0, then the 704-byte hardware packet, the ID packet,
# the extension packet and the software packets with exactly the uninstall entries put
# into the registry: into both views in a 64-bit prefix (the 32-bit view is
# Wow6432Node), into the only one in a 32-bit prefix, then the user's own.
. "$(dirname "$0")/common.bash" client_audit
need "$TALLY_BIN/scoutly.exe"
wine_start
PORT=$(free_udp_port_pair)
echo "info prefix: $WINEARCH (mode $TALLY_WINE_MODE)"

python3 - "$RUN/entries.reg" "$RUN/expected.txt" "$WINEARCH" <<'PY'
import sys, json
reg_path, expected_path, winearch = sys.argv[1], sys.argv[2], sys.argv[3]
key64 = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
key32 = r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall"
keyuser = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall"
view64 = {}
for i in range(1, 41):
    view64["App%02d" % i] = {"DisplayName": "Tally Test Program %02d with a name long enough for packing" % i,
                             "DisplayVersion": "1.%d.0" % i}
view64["NoVersion"] = {"DisplayName": "Program Without Version"}
view64["NoName"] = {"DisplayVersion": "9.9"}
view64["LongName"] = {"DisplayName": "N" * 300, "DisplayVersion": "1.0"}
view64["LongVersion"] = {"DisplayName": "Program With Long Version", "DisplayVersion": "V" * 300}
view64["EmptyName"] = {"DisplayName": ""}
view64["Name254"] = {"DisplayName": "M" * 254, "DisplayVersion": "2.54"}
view64["DwordVersion"] = {"DisplayName": "Dword Version Program", "DisplayVersion": 0x0102}
# Subkey names outside the ANSI code page, and of 255 characters.
view64["\u7a0b\u5e8f"] = {"DisplayName": "Program Under A Wide Name", "DisplayVersion": "7.0"}
view64["K" * 255] = {"DisplayName": "Program Under A Long Name"}
view32 = {"Legacy32": {"DisplayName": "Legacy 32-bit Program", "DisplayVersion": "3.2"},
          "Other32": {"DisplayName": "Second 32-bit Program"}}
views = ((key64, view64), (key32, view32))
if winearch == "win32":  # one view: every entry under the one key
    views = ((key64, dict(view64, **view32)),)
# Programs installed for the user alone come after the machine's.
views += ((keyuser, {"UserApp": {"DisplayName": "Per-User Program", "DisplayVersion": "5.0"}}),)

def value_bytes(v):
    if isinstance(v, int):
        return v.to_bytes(4, "little")
    return v.encode() + b"\0"

lines = ["Windows Registry Editor Version 5.00", ""]
expected = []
for base, view in views:
    for sub in sorted(view, key=str.lower):
        vals = view[sub]
        lines.append("[%s\\%s]" % (base, sub))
        for k, v in vals.items():
            lines.append('"%s"=dword:%08x' % (k, v) if isinstance(v, int) else '"%s"="%s"' % (k, v))
        lines.append("")
        if "DisplayName" not in vals:
            continue
        name = value_bytes(vals["DisplayName"])
        if len(name) > 255:
            continue
        ver = value_bytes(vals["DisplayVersion"]) if "DisplayVersion" in vals else None
        if ver is not None and len(ver) > 255:
            ver = None
        expected.append([name.hex(), None if ver is None else ver.hex()])
open(reg_path, "w", encoding="utf-16").write("\r\n".join(lines) + "\r\n")
json.dump(expected, open(expected_path, "w"))
PY
# The prefix's own regedit and reg (64-bit in a 64-bit prefix) see the keys
# as written; a 64-bit prefix has two views to look into.
VIEW32=(/reg:32) VIEW64=(/reg:64)
[ "$WINEARCH" = win32 ] && VIEW32=() VIEW64=()
timeout 60 "$WINE64" regedit /S "$(wine_path "$RUN/entries.reg")" >"$RUN/regedit.out" 2>&1
timeout 30 "$WINE64" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Legacy32' "${VIEW32[@]}" \
    >"$RUN/q32.out" 2>&1
check "32-bit view entries in place" grep -q 'Legacy 32-bit Program' "$RUN/q32.out"
timeout 30 "$WINE64" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\App40' "${VIEW64[@]}" \
    >"$RUN/q64.out" 2>&1
check "64-bit view entries in place" grep -q 'Tally Test Program 40' "$RUN/q64.out"
timeout 60 "$WINE" winecfg -v win10 >"$RUN/winecfg.out" 2>&1

# Receiver: every datagram with its source, until scoutly has ended.
python3 - "$PORT" "$RUN/got.txt" "$RUN/done" <<'PY' &
import socket, sys, time, os
port, out, done = int(sys.argv[1]), sys.argv[2], sys.argv[3]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", port))
s.settimeout(0.1)
end = time.time() + 60
quiet_since = None
with open(out, "w") as f:
    f.write("ready\n"); f.flush()
    while time.time() < end:
        if os.path.exists(done):
            quiet_since = quiet_since or time.time()
            if time.time() - quiet_since > 0.5:
                break
        try:
            d, a = s.recvfrom(4096)
        except socket.timeout:
            continue
        f.write("%s %d %s\n" % (a[0], a[1], d.hex())); f.flush()
PY
RECEIVER=$!
for _ in $(seq 1 50); do grep -q ready "$RUN/got.txt" 2>/dev/null && break; sleep 0.1; done

START=$SECONDS
timeout 60 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" >"$RUN/scoutly.out" 2>&1
rc=$?
ELAPSED=$((SECONDS - START))
touch "$RUN/done"
timeout 10 tail --pid="$RECEIVER" -f /dev/null
check "exit code 0 after one pass (got $rc)" same 0 "$rc"
# The wait for a receipt is bounded (5 s), Wine's start included.
check "a server that never answers costs the bounded wait (${ELAPSED} s)" test "$ELAPSED" -le 20

python3 - "$RUN/got.txt" "$RUN/expected.txt" "$PORT" <<'PY' >"$RUN/checks.txt"
import sys, json, struct, os, pwd, socket, hashlib
from packets import software_items
got_path, expected_path, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
packets = []
for line in open(got_path).read().split("\n")[1:]:
    if line:
        ip, sport, data = line.split()
        packets.append((ip, int(sport), bytes.fromhex(data)))
expected = json.load(open(expected_path))

def check(name, cond):
    print(("ok   " if cond else "FAIL ") + name)

manifests = [p[2] for p in packets if p[2][:1] == b"M"]
first = manifests[0] if manifests else bytes(32)
check("the pass manifest comes first", packets and packets[0][2][:1] == b"M")
check("the manifest is resent after each silence, unchanged (%d times)" % len(manifests),
      9 <= len(manifests) <= 12 and all(m == first for m in manifests))
packets = [p for p in packets if p[2][:1] != b"M"]
n = first[28]
check("manifest: size field, flags 0, %d datagrams listed, their digests in sending order" % n,
      struct.unpack_from("<I", first, 8)[0] == len(first) == 32 + 16 * n and first[7] == 0
      and first[29:32] == bytes(3) and n == len(packets)
      and all(first[32 + 16 * k:48 + 16 * k] == hashlib.sha256(p[2]).digest()[:16] for k, p in enumerate(packets)))

def last_ethernet_mac():
    rows = []
    for ifname in os.listdir("/sys/class/net"):
        d = "/sys/class/net/" + ifname
        try:
            if open(d + "/type").read().strip() != "1":
                continue
            mac = bytes.fromhex(open(d + "/address").read().strip().replace(":", ""))
            rows.append((int(open(d + "/ifindex").read()), mac))
        except OSError:
            continue
    rows = [r for r in sorted(rows) if len(r[1]) >= 6 and any(r[1][:6])]
    return rows[-1][1][:6] if rows else bytes(6)

check("all datagrams come from port P+1", packets and all(p[1] == port + 1 for p in packets))
check("hardware packet first, then the ID packet and the extension packet",
      len(packets) >= 3 and [p[2][:1] for p in packets[:3]] == [b"T", b"2", b"E"])
hw = packets[0][2] if packets else bytes(704)
idp = packets[1][2] if len(packets) > 1 else b""
ext = packets[2][2] if len(packets) > 2 else bytes(320)
mac = last_ethernet_mac()
check("ID packet is 64 bytes with size field 64", len(idp) == 64 and struct.unpack_from("<I", idp, 8)[0] == 64)
check("ID packet: no enclosure strings under Wine", idp[12:64] == bytes(52))
check("hardware packet is 704 bytes with size field 704",
      len(hw) == 704 and struct.unpack_from("<I", hw, 8)[0] == 704)
check("MAC address of the last Ethernet adapter %s" % mac.hex(":"),
      hw[1:7] == mac and idp[1:7] == mac and ext[1:7] == mac and first[1:7] == mac)
name = hw[12:62].split(b"\0")[0].decode("latin-1")
check("computer name %r" % name, name == socket.gethostname().split(".")[0].upper()[:15])
user = hw[676:701].split(b"\0")[0].decode("latin-1")
check("user name %r" % user, user in (pwd.getpwuid(os.getuid()).pw_name, os.environ.get("USER", ""))
      and hw[701:704] == bytes(3))
check("Winsock version 2.2", hw[62:64] == bytes([2, 2]))
vendor = ""
for line in open("/proc/cpuinfo"):
    if line.startswith("vendor_id"):
        vendor = line.split(":")[1].strip(); break
check("processor vendor %r and signature" % hw[68:80], hw[68:80] == vendor.encode()
      and hw[64] >= 1 and struct.unpack_from("<I", hw, 80)[0] != 0)
speed = struct.unpack_from("<f", hw, 84)[0]
check("clock measured (%.0f MHz)" % speed, 100 < speed < 10000)
ram, page = struct.unpack_from("<II", hw, 88)
check("memory sizes (%d, %d)" % (ram, page), ram > 64 * 2**20 and page > 0)
mem_kb = int(open("/proc/meminfo").readline().split()[1])
ram_mb, page_mb = struct.unpack_from("<I", hw, 252)[0], int.from_bytes(hw[145:148], "little")
check("true memory %d MB (machine %d MB), page file %d MB" % (ram_mb, mem_kb // 1024, page_mb),
      abs(ram_mb - (mem_kb + 1023) // 1024) <= 1 and page_mb >= ram_mb
      and (ram_mb > 4096 or mem_kb <= 4 * 2**20))
check("product type workstation", hw[65] == 1)
major, minor, build, platform = hw[96], hw[97], struct.unpack_from("<H", hw, 98)[0], struct.unpack_from("<I", hw, 100)[0]
check("Windows version %d.%d build %d platform %d" % (major, minor, build, platform),
      (major, minor, platform) == (10, 0, 2) and build > 9200)
bpp, w, h = struct.unpack_from("<III", hw, 104)
check("display %dx%dx%d" % (w, h, bpp), (w, h) == (1280, 1024) and bpp in (24, 32))
letters = hw[119:145]
drives = {}
for i in range(26):
    if letters[i]:
        drives[chr(letters[i])] = (struct.unpack_from("<I", hw, 148 + 4 * i)[0],
                                   struct.unpack_from("<Q", hw, 256 + 8 * i)[0],
                                   struct.unpack_from("<Q", hw, 464 + 8 * i)[0])
used = [i for i in range(26) if letters[i]]
check("drive slots filled from slot 0", used == list(range(len(used))))
check("drives C and Z listed: %s" % sorted(drives), "C" in drives and "Z" in drives)
c = drives.get("C", (0, 0, 0))
check("drive C fixed with sizes", c[0] == 3 and c[2] > 0 and c[1] <= c[2])
check("no sizes for drives that are not fixed",
      all(v[1] == v[2] == 0 for v in drives.values() if v[0] != 3))
check("up time set", struct.unpack_from("<I", hw, 672)[0] > 0)
check("reserved bytes zero", hw[7] == 0 and hw[66:68] == bytes(2) and hw[701:704] == bytes(3))
brand = ""
for line in open("/proc/cpuinfo"):
    if line.startswith("model name"):
        brand = line.split(":", 1)[1].strip(); break
text = lambda o, w: ext[o:o + w].split(b"\0")[0].decode("latin-1")
check("extension packet: 320 bytes, size field, processor %r" % text(12, 49),
      len(ext) == 320 and struct.unpack_from("<I", ext, 8)[0] == 320 and text(12, 49) == brand)

sw = [p[2] for p in packets[3:]]
check("%d software packets: list start, then continuations" % len(sw),
      len(sw) >= 3 and sw[0][0] == 0xA3 and all(p[0] == 0x99 for p in sw[1:]))
check("software packets carry the MAC address", all(p[1:7] == mac for p in sw))
check("no software packet over 1500 bytes", all(len(p) <= 1500 for p in sw))
check("every packet but the last holds 1205 bytes or more", all(len(p) >= 1205 for p in sw[:-1]))
items = [[n.hex(), None if v is None else v.hex()] for p in sw for n, v in software_items(p)]
check("software items are exactly the uninstall entries (%d of %d)" % (len(items), len(expected)),
      items == expected)
if items != expected:
    for a, b in zip(items, expected):
        if a != b:
            print("  first difference: got %s expected %s" % (a, b)); break
PY

# Without the SNMP agent library the adapter address is the same.
python3 - "$PORT" "$RUN/got2.txt" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.settimeout(30)
with open(sys.argv[2], "w") as f:
    f.write("ready\n"); f.flush()
    try:
        while True:
            d, a = s.recvfrom(4096)
            if d[0] == 0x54:
                f.write(d[1:7].hex() + "\n"); break
    except socket.timeout:
        pass
PY
RECEIVER=$!
for _ in $(seq 1 50); do grep -q ready "$RUN/got2.txt" 2>/dev/null && break; sleep 0.1; done
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;inetmib1=" timeout 60 "$WINE" "$TALLY_BIN/scoutly.exe" "127.0.0.1:$PORT" \
    >"$RUN/scoutly2.out" 2>&1
rc2=$?
timeout 35 tail --pid="$RECEIVER" -f /dev/null
expected_mac=$(sed -n 's/^ok   MAC address of the last Ethernet adapter //p' "$RUN/checks.txt" | tr -d ':')
got_mac=$(sed -n 2p "$RUN/got2.txt")
fallback_ok=no
[ -n "$expected_mac" ] && [ "$got_mac" = "$expected_mac" ] && [ "$rc2" = 0 ] && fallback_ok=yes
check "without inetmib1.dll: same MAC address from the adapter list ($got_mac), exit code $rc2" \
    same yes "$fallback_ok"

cat "$RUN/checks.txt"
[ -s "$RUN/checks.txt" ] || check "the packets could be checked" false
FAILED=$((FAILED + $(grep -c '^FAIL' "$RUN/checks.txt")))
finish
