"""Hosts in network namespaces made for the occasion (tests and the demo).

Every host gets one interface eth0 with an address in 198.18.0.0/24 (the range set aside
for network tests), plugged into one bridge in a namespace of its own. The addresses exist
only inside these namespaces, and everything is removed again by close().
"""

import os
import re
import subprocess

SUBNET = "198.18.0"


def ip(*args, check=True):
    return subprocess.run(["ip"] + list(args), check=check, capture_output=True, text=True)


class Network:
    def __init__(self, hosts):
        self.prefix = "ob%d" % (os.getpid() % 100000)
        self.switch = self.prefix + "sw"
        self.namespaces = []
        self.addr = {}
        try:
            self._add_ns(self.switch)
            ip("-n", self.switch, "link", "add", "br0", "type", "bridge")
            # Multicast is flooded to every port: no querier runs on this test network.
            ip("-n", self.switch, "link", "set", "br0", "type", "bridge", "mcast_snooping", "0")
            ip("-n", self.switch, "link", "set", "br0", "up")
            for index, host in enumerate(hosts):
                self._add_host(host, index + 1)
        except Exception:
            self.close()
            raise

    def _add_ns(self, name):
        ip("netns", "add", name)
        self.namespaces.append(name)
        ip("-n", name, "link", "set", "lo", "up")

    def _add_host(self, host, number):
        ns = self.ns(host)
        self._add_ns(ns)
        port = "%sp%d" % (self.prefix, number)
        ip("link", "add", "eth0", "netns", ns, "type", "veth", "peer", "name", port,
           "netns", self.switch)
        ip("-n", self.switch, "link", "set", port, "master", "br0", "up")
        address = "%s.%d" % (SUBNET, number)
        ip("-n", ns, "addr", "add", address + "/24", "dev", "eth0")
        ip("-n", ns, "link", "set", "eth0", "up")
        ip("-n", ns, "route", "add", "224.0.0.0/3", "dev", "eth0")
        self.addr[host] = address

    def ns(self, host):
        return self.prefix + host

    def run(self, host, argv, **kw):
        return subprocess.run(["ip", "netns", "exec", self.ns(host)] + argv, **kw)

    def popen(self, host, argv, **kw):
        return subprocess.Popen(["ip", "netns", "exec", self.ns(host)] + argv, **kw)

    def socket_memory(self, host, port=4956):
        """rb (receive buffer granted) and d (drops) of the UDP socket bound to port on host,
        from ss; None for what is not found."""
        out = self.run(host, ["ss", "-uamn", "sport = :%d" % port], capture_output=True,
                       text=True).stdout
        rb = re.search(r"rb(\d+)", out)
        d = re.search(r"\bd(\d+)", out)
        return (int(rb.group(1)) if rb else None), (int(d.group(1)) if d else None)

    def close(self):
        for name in reversed(self.namespaces):
            ip("netns", "del", name, check=False)
        self.namespaces = []
