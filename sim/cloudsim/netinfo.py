"""How the backup module identifies the machine it runs on, seen from the cloud's side:
the machine's DMI product identifier and the MAC of its first non-loopback IPv4
interface. The simulator names the agent instance so that the module finds it."""

import array
import fcntl
import socket
import struct

SIOCGIFCONF = 0x8912
SIOCGIFHWADDR = 0x8927
IFREQ_SIZE = 40
DMI_PATH = "/sys/class/dmi/id/product_uuid"


def ipv4_interfaces():
    """(name, address) of every interface with an IPv4 address, in kernel order."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        size = 64 * IFREQ_SIZE
        buf = array.array("B", b"\0" * size)
        addr, _ = buf.buffer_info()
        ifconf = struct.pack("iL", size, addr)
        used = struct.unpack("iL", fcntl.ioctl(sock.fileno(), SIOCGIFCONF, ifconf))[0]
        raw = buf.tobytes()[:used]
    finally:
        sock.close()
    result = []
    for off in range(0, len(raw), IFREQ_SIZE):
        entry = raw[off:off + IFREQ_SIZE]
        name = entry[:16].split(b"\0", 1)[0].decode()
        address = socket.inet_ntoa(entry[20:24])
        result.append((name, address))
    return result


def interface_mac(name):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        req = struct.pack("256s", name.encode()[:15])
        res = fcntl.ioctl(sock.fileno(), SIOCGIFHWADDR, req)
    finally:
        sock.close()
    return ":".join("%02x" % b for b in res[18:24])


def first_ipv4_mac():
    """The MAC text (lower-case, ':'-separated) of the first interface whose IPv4
    address is not a loopback address; empty when there is none."""
    try:
        for name, address in ipv4_interfaces():
            if address.startswith("127."):
                continue
            return interface_mac(name)
    except OSError:
        return ""
    return ""


def dmi_instance_id(path=DMI_PATH):
    """The instance id the module derives from the DMI product identifier ("i-" and the
    last 8 characters of the trimmed first line, in upper case), or None when the file
    is missing or its line is shorter than 8 characters."""
    try:
        with open(path, "r", errors="replace") as f:
            line = f.readline().strip()
    except OSError:
        return None
    if len(line) < 8:
        return None
    return "i-" + line[-8:].upper()
