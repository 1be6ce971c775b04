"""The Wireshark dissector (dist/obrabi.lua) under tshark, on a capture of two bridges.

Two bridges talk in network namespaces while a capture of host B's interface is written as a
pcap file; a third host adds datagrams that a bridge drops (short, long, wrong head bytes).
tshark with the dissector must show every bridge datagram as obraBi audio without expert
info, with consecutive frame counters, and flag each odd datagram.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from obrabi import SOURCE, BoardTestCase, wait_until
from test_bridge import TestNetwork, require_namespaces

sys.path.insert(0, os.path.join(SOURCE, "scripts", "lib"))
import obrabi_audio as audio  # noqa: E402

DISSECTOR = os.path.join(SOURCE, "dist", "obrabi.lua")
FIELDS = ("frame.number", "ip.src", "udp.dstport", "udp.length", "frame.protocols",
          "obrabi.head0", "obrabi.head1", "obrabi.marker", "obrabi.counter",
          "obrabi.counter_gap", "obrabi.silent", "_ws.expert.message")
FRAMES = 30               # frames each bridge must have played before the capture ends
GOOD = "02" + "00" + "02c1" + "d5" * 768 + "00000000"
# What a third host sends: (what, port, payload as hex, text of the expected expert info).
ODD = (("short", 4956, GOOD[:200], "Datagram of 100 bytes, not 776"),
       ("long", 4956, GOOD + "00" * 224, "Datagram of 1000 bytes, not 776"),
       ("wrong head", 4956, "03000200" + GOOD[8:], "Head bytes 03 00 02 00, expected"),
       ("multicast port", 49501, GOOD, None))


def tshark_or_skip():
    path = shutil.which("tshark")
    if path is None:
        if os.environ.get("CI"):
            raise AssertionError("tshark is missing (scripts/setup installs it)")
        raise unittest.SkipTest("tshark is not installed")
    return path


class DissectorTest(BoardTestCase):
    @classmethod
    def setUpClass(cls):
        require_namespaces()
        cls.tshark = tshark_or_skip()
        cls.net = TestNetwork(["a", "b", "c"])

    @classmethod
    def tearDownClass(cls):
        cls.net.close()

    def intercom(self, host, peer, seed):
        me, other = self.net.addr[host], self.net.addr[peer]
        b = self.board(para={"OUT_DEST": other, "OUT_SRC": me, "IN_DEST": me, "IN_SRC": other})
        audio.write_wav(b.path("/sim/mic.wav"), audio.speech_like(2, seed=seed))
        b.configure(variant="0x2D52", capture="mic.wav", capture_loop=1, playback="speaker.wav",
                    frame_us=20000, playback_log="playback.log")
        p = self.start(b, netns=self.net.ns(host))
        return b, p

    def played(self, board):
        return len([e for e in audio.read_events(board.path("/sim/playback.log"))
                    if e[0] == "play" and not e[3]])

    def dissect(self, pcap):
        args = [self.tshark, "-n", "-r", pcap, "-X", "lua_script:" + DISSECTOR, "-T", "fields",
                "-E", "separator=|", "-E", "occurrence=a", "-E", "aggregator=,"]
        for field in FIELDS:
            args += ["-e", field]
        r = subprocess.run(args, capture_output=True, text=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn("Lua: Error", r.stderr)
        return [dict(zip(FIELDS, line.split("|"))) for line in r.stdout.splitlines()]

    def test_two_bridges_and_odd_datagrams(self):
        tmp = tempfile.mkdtemp(prefix="obrabi-pcap-")
        self.addCleanup(shutil.rmtree, tmp, True)
        pcap = os.path.join(tmp, "bridges.pcap")
        a_addr, b_addr, c_addr = (self.net.addr[h] for h in "abc")
        capture = self.net.tool("b", "capture", "eth0", pcap, 100000, 600, 4956, 49501,
                                stdout=subprocess.PIPE, text=True)
        self.addCleanup(capture.stdout.close)
        self.addCleanup(capture.kill)
        self.assertEqual(capture.stdout.readline().strip(), "ready")
        for _, port, payload, _ in ODD:
            self.net.tool("c", "send_hex", b_addr, port, payload).wait(60)

        (a, pa), (b, pb) = self.intercom("a", "b", 1), self.intercom("b", "a", 2)
        for board, p in ((a, pa), (b, pb)):
            self.assertTrue(wait_until(lambda: self.played(board) >= FRAMES, 180),
                            p.output() + p.error_output())
        capture.terminate()
        capture.wait(30)

        rows = self.dissect(pcap)
        by_source = {}
        for r in rows:
            self.assertIn("obrabi", r["frame.protocols"], r)
            by_source.setdefault(r["ip.src"], []).append(r)

        # The bridges: whole packets, fixed head bytes, consecutive counters, no expert info.
        for src in (a_addr, b_addr):
            packets = by_source.get(src, [])
            self.assertGreaterEqual(len(packets), FRAMES, src)
            for r in packets:
                self.assertEqual((r["udp.dstport"], r["udp.length"]), ("4956", str(776 + 8)), r)
                self.assertEqual((r["obrabi.head0"], r["obrabi.head1"], r["obrabi.marker"]),
                                 ("0x02", "0x01", "0x02c1"), r)
                self.assertEqual(r["_ws.expert.message"], "", r)
            counters = [int(r["obrabi.counter"]) for r in packets]
            self.assertEqual(counters, [(counters[0] + i) % 65536 for i in range(len(counters))])
            self.assertEqual({r["obrabi.counter_gap"] for r in packets[1:]}, {"0"})

        # The third host's datagrams, in the order sent.
        odd = by_source.get(c_addr, [])
        self.assertEqual(len(odd), len(ODD), odd)
        for (what, port, payload, expert), r in zip(ODD, odd):
            with self.subTest(what):
                self.assertEqual(r["udp.dstport"], str(port))
                self.assertEqual(int(r["udp.length"]), len(payload) // 2 + 8)
                if expert is None:
                    self.assertEqual(r["_ws.expert.message"], "")
                    self.assertEqual((r["obrabi.counter"], r["obrabi.silent"]), ("0", "1"))
                else:
                    self.assertIn(expert, r["_ws.expert.message"])


if __name__ == "__main__":
    unittest.main()
