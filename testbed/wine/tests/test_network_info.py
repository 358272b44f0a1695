"""Wine tier: the port list through the real IP helper adapter (oscheck.exe: GetAdaptersAddresses
with the size question first, then NetworkInfo::Refresh and the port order).

Wine lists the Linux interfaces, so the list is checked against what Linux itself reports:
every Ethernet-type interface is listed with its MAC, loopback never is, an interface that is up
carries one of its IPv4 addresses, and the list is in port order. The machine may have one
interface or several; the ordering rules themselves are host-tested against the fake.

Needs ORVSVC_BIN_DIR holding oscheck.exe (and optionally ORVSVC_BUILD_DIR for the prefix).
"""

import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import winebed as wb  # noqa: E402

SYS_NET = Path("/sys/class/net")
ARPHRD_ETHER = 1
ARPHRD_LOOPBACK = 772

bed = None


def setUpModule():
    global bed
    bed = wb.module_bed("network", {"oscheck.exe": wb.TOOLS_DIR})


def tearDownModule():
    if bed is not None:
        bed.close()


def read_sys(interface, name):
    try:
        return (SYS_NET / interface / name).read_text().strip()
    except OSError:
        return ""


def linux_interfaces():
    """{name: (mac upper-case, arp type, up)} for every interface Linux lists."""
    interfaces = {}
    for path in sorted(SYS_NET.iterdir()):
        kind = read_sys(path.name, "type")
        interfaces[path.name] = (read_sys(path.name, "address").upper(),
                                 int(kind) if kind.isdigit() else -1,
                                 read_sys(path.name, "operstate") == "up")
    return interfaces


def linux_ipv4():
    """{interface: set of IPv4 addresses} from `ip -4 -o addr`."""
    try:
        out = subprocess.run(["ip", "-4", "-o", "addr", "show"], capture_output=True, text=True,
                             timeout=10, check=True).stdout
    except (OSError, subprocess.SubprocessError):
        return None
    addresses = {}
    for line in out.splitlines():
        m = re.match(r"\d+:\s+(\S+)\s+inet\s+([\d.]+)/", line)
        if m:
            addresses.setdefault(m.group(1).split("@")[0], set()).add(m.group(2))
    return addresses


def run_oscheck_net():
    result = bed.run([wb.OSCHECK, "net"], timeout=60, check=True)
    raw, ports, device = None, [], None
    for line in result.out.replace("\r\n", "\n").splitlines():
        fields = line.split("\t")
        if fields[0] == "raw":
            raw = [int(f) for f in fields[2:]]
            assert int(fields[1]) == len(raw), line
        elif fields[0] == "port":
            ports.append({"mac": fields[1], "has": fields[2] == "1", "address": fields[3],
                          "dns": fields[4], "gateway": fields[5], "description": fields[6],
                          "counter": fields[7]})
        elif fields[0] == "device":
            device = fields[1] if len(fields) > 1 else ""
    sys.stderr.write("\nports through the IP helper adapter:\n")
    for port in ports:
        sys.stderr.write("  %(mac)s has=%(has)d ip=%(address)s dns=%(dns)s gw=%(gateway)s %(description)s\n"
                         % port)
    return raw, ports, device


def port_order(macs):
    """The agent's port order, written again from its rule: by the last three bytes, then the
    first three; ports ending FFFFFF first when a port ending 000000 exists."""
    def key(mac):
        b = bytes.fromhex(mac.replace(":", ""))
        return (int.from_bytes(b[3:], "big"), int.from_bytes(b[:3], "big"))
    ordered = sorted(macs, key=key)
    tails = [key(m)[0] for m in ordered]
    if 0 in tails and 0xFFFFFF in tails:
        first_last = tails.index(0xFFFFFF)
        ordered = ordered[first_last:] + ordered[:first_last]
    return ordered


class NetworkInfoTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.raw, cls.ports, cls.device = run_oscheck_net()
        cls.linux = linux_interfaces()

    def test_every_ethernet_interface_is_listed_and_loopback_never(self):
        macs = [p["mac"] for p in self.ports]
        ethernet = {mac for mac, kind, _ in self.linux.values()
                    if kind == ARPHRD_ETHER and re.fullmatch(r"([0-9A-F]{2}:){5}[0-9A-F]{2}", mac)}
        loopback = {name for name, (_, kind, _) in self.linux.items() if kind == ARPHRD_LOOPBACK}
        self.assertTrue(self.raw, "the adapter listed nothing")
        self.assertEqual(set(macs), ethernet)
        for port in self.ports:
            self.assertNotIn(port["description"], loopback)
            self.assertNotEqual(port["mac"], "00:00:00:00:00:00")
        # What the adapter gave with another length is not a port.
        self.assertEqual(len(self.ports), sum(1 for length in self.raw if length == 6))

    def test_ports_are_in_port_order_and_the_device_mac_is_the_first(self):
        macs = [p["mac"] for p in self.ports]
        self.assertEqual(macs, port_order(macs))
        self.assertEqual(self.device, macs[0] if macs else "")

    def test_up_ports_carry_one_of_their_ipv4_addresses(self):
        addresses = linux_ipv4()
        if addresses is None:
            self.skipTest("`ip` is not available")
        by_mac = {}
        for name, (mac, _, up) in self.linux.items():
            by_mac.setdefault(mac, []).append((name, up))
        for port in self.ports:
            with self.subTest(mac=port["mac"]):
                interfaces = by_mac.get(port["mac"], [])
                mine = set().union(*(addresses.get(name, set()) for name, _ in interfaces))
                up = any(u for _, u in interfaces)
                if port["has"]:
                    self.assertIn(port["address"], mine)
                else:
                    self.assertEqual(port["address"], "0.0.0.0")
                    self.assertFalse(up and mine, "an up port with IPv4 %s listed without one" % mine)
                if not up:
                    self.assertEqual((port["dns"], port["gateway"]), ("0.0.0.0", "0.0.0.0"))
                self.assertEqual(port["counter"], port["description"].replace("(", "[")
                                 .replace(")", "]").replace("#", "_"))


if __name__ == "__main__":
    unittest.main()
