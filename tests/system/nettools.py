"""Small network tools that system tests run inside a test host's namespace.

  send DEST PORT COUNT SIZE [INTERVAL]   sends COUNT datagrams of SIZE bytes (pattern 0x55)
  flood DEST PORT COUNT BURST PAUSE SIZES  sends COUNT datagrams in bursts of BURST back to back,
                                         PAUSE seconds apart, cycling through SIZES (comma list)
  sniff IFACE PORT COUNT TIMEOUT         prints one JSON line per UDP datagram seen on IFACE
                                         to PORT: {"tos", "length", "head", "tail"}
  capture IFACE FILE COUNT TIMEOUT PORT...  writes the Ethernet frames of UDP datagrams to
                                         the PORTs seen on IFACE as a pcap file; prints
                                         "ready" once it listens
  send_hex DEST PORT HEX                 sends one datagram with the given bytes
"""

import json
import signal
import socket
import struct
import sys
import time


def send(dest, port, count, size, interval=0.01):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    payload = bytes([0x02, 0x00, 0x02, 0xC1]) + bytes([0xD5]) * max(0, size - 4)
    for _ in range(count):
        s.sendto(payload[:size], (dest, port))
        time.sleep(interval)


def flood(dest, port, count, burst, pause, sizes):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    payloads = [(bytes([0x02, 0x00, 0x02, 0xC1]) + bytes([0xD5]) * max(0, n - 4))[:n]
                for n in sizes]
    sent = 0
    while sent < count:
        for _ in range(min(burst, count - sent)):
            s.sendto(payloads[sent % len(payloads)], (dest, port))
            sent += 1
        time.sleep(pause)


def sniff(iface, port, count, timeout):
    ETH_P_IP = 0x0800
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_IP))
    s.bind((iface, 0))
    s.settimeout(0.5)
    deadline = time.monotonic() + timeout
    seen = 0
    while seen < count and time.monotonic() < deadline:
        try:
            frame = s.recv(65535)
        except socket.timeout:
            continue
        ip = frame[14:]
        if len(ip) < 28 or ip[9] != 17:
            continue
        ihl = (ip[0] & 0x0F) * 4
        udp = ip[ihl:]
        dport = struct.unpack("!H", udp[2:4])[0]
        if dport != port:
            continue
        payload = udp[8:struct.unpack("!H", udp[4:6])[0]]
        print(json.dumps({"tos": ip[1], "length": len(payload), "head": payload[:4].hex(),
                          "tail": payload[772:776].hex(), "src": socket.inet_ntoa(ip[12:16]),
                          "dst": socket.inet_ntoa(ip[16:20])}), flush=True)
        seen += 1


def udp_dport(frame):
    """The UDP destination port of an Ethernet frame of IPv4, or None."""
    if len(frame) < 14 + 28 or frame[12:14] != b"\x08\x00" or frame[14 + 9] != 17:
        return None
    ihl = (frame[14] & 0x0F) * 4
    return struct.unpack("!H", frame[14 + ihl + 2:14 + ihl + 4])[0]


def capture(iface, path, count, timeout, ports):
    ETH_P_ALL = 0x0003
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    s.bind((iface, 0))
    s.settimeout(0.5)
    # TERM ends the capture between two frames, so the file stays whole.
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    print("ready", flush=True)
    deadline = time.monotonic() + timeout
    seen = 0
    with open(path, "wb") as f:
        # pcap file header: magic, version 2.4, zone 0, accuracy 0, snap length, Ethernet.
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        while seen < count and time.monotonic() < deadline and not stop:
            try:
                frame = s.recv(65535)
            except socket.timeout:
                continue
            # One interface shows each frame once, whether it arrives or leaves.
            if udp_dport(frame) not in ports:
                continue
            now = time.time()
            f.write(struct.pack("<IIII", int(now), int((now % 1) * 1e6), len(frame), len(frame)))
            f.write(frame)
            f.flush()
            seen += 1


def send_hex(dest, port, hextext):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.sendto(bytes.fromhex(hextext), (dest, port))


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "send":
        send(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]),
             float(sys.argv[6]) if len(sys.argv) > 6 else 0.01)
    elif cmd == "flood":
        flood(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]),
              float(sys.argv[6]), [int(n) for n in sys.argv[7].split(",")])
    elif cmd == "sniff":
        sniff(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]))
    elif cmd == "capture":
        capture(sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5]),
                {int(p) for p in sys.argv[6:]})
    elif cmd == "send_hex":
        send_hex(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    else:
        sys.exit("unknown command " + cmd)
