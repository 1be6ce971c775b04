"""Hosts in network namespaces made for the occasion (tests and the demo).

Every host gets one interface eth0 with an address in 198.18.0.0/24 (the range set aside
for network tests), plugged into one bridge in a namespace of its own. The addresses exist
only inside these namespaces, and everything is removed again by close().

By default the bridge floods multicast to every port. With forget_groups_after=N it is a
switch that snoops IGMP without a querier that refreshes the memberships, as a snooping switch
on a network without a router: it forwards a group only to the ports that reported it, floods
no unknown group, and forgets a port N seconds after its last report (260 s on most switches).
"""

import os
import re
import subprocess

SUBNET = "198.18.0"


def ip(*args, check=True):
    return subprocess.run(["ip"] + list(args), check=check, capture_output=True, text=True)


# The bridge's own querier, switched on so that it trusts its membership table (without a
# querier a Linux bridge floods every group), answers within 1 s and never asks again: its
# queries would make the hosts report, which is what a network without a querier lacks.
NEVER_CS = "1000000"  # centiseconds: hours, far beyond any test
FORGETFUL_SWITCH = ["mcast_snooping", "1", "mcast_query_response_interval", "100",
                    "mcast_query_interval", NEVER_CS, "mcast_startup_query_interval", NEVER_CS]


class Network:
    def __init__(self, hosts, forget_groups_after=None):
        self.prefix = "ob%d" % (os.getpid() % 100000)
        self.switch = self.prefix + "sw"
        self.snooping = forget_groups_after is not None
        self.namespaces = []
        self.addr = {}
        try:
            self._add_ns(self.switch)
            ip("-n", self.switch, "link", "add", "br0", "type", "bridge")
            bridge = ["-n", self.switch, "link", "set", "br0", "type", "bridge"]
            if self.snooping:
                ip(*bridge, *FORGETFUL_SWITCH, "mcast_membership_interval",
                   str(int(forget_groups_after * 100)))
                ip(*bridge, "mcast_querier", "1")  # after the intervals it starts with
            else:
                # Multicast is flooded to every port: no querier runs on this test network.
                ip(*bridge, "mcast_snooping", "0")
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
        if self.snooping:
            ip("-n", self.switch, "link", "set", port, "type", "bridge_slave", "mcast_flood", "off")
            # A host repeats its membership report within a second (IGMPv3's interval; IGMPv2
            # would wait up to 10 s), so that the switch forgets it at a known time.
            for version in ("igmpv2", "igmpv3"):
                self.run(host, ["sysctl", "-qw", "net.ipv4.conf.eth0.%s_unsolicited_report_"
                                "interval=1000" % version], check=True)
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
