"""Counters on demand: `kill -USR1` makes a running bridge log what it has done since start.

A bridge in a network namespace is sent known numbers of whole packets from its allowed
sender, packets from a foreign host and datagrams of wrong lengths; the counters it logs on
SIGUSR1 must match them. SIGUSR1 during start-up or in a parked bridge must not end it.
"""

import re
import subprocess
import time
import unittest

from obrabi import BoardTestCase, wait_until
from test_bridge import NetworkTestCase

FIELDS = ("captured", "sent", "send_failures", "received", "played", "dropped_sender",
          "dropped_length")
LINE = re.compile(r"counters: " + " ".join(f + r" (\d+)" for f in FIELDS) + "$")
GOOD, FOREIGN = 20, 15
WRONG_SIZES = (0, 100, 1000)  # five datagrams of each
WRONG_EACH = 5


def usr1(process):
    subprocess.run(["kill", "-USR1", str(process.proc.pid)], check=True)


def ask(test, process):
    """Sends SIGUSR1 and returns the counters of the line that answers it."""
    before = process.count("counters: ")
    usr1(process)
    test.assertTrue(wait_until(lambda: process.count("counters: ") > before, 60),
                    process.output()[-20:])
    line = [l for l in process.output() if "counters: " in l][-1]
    match = LINE.search(line)
    test.assertIsNotNone(match, line)
    return dict(zip(FIELDS, (int(v) for v in match.groups())))


class CountersTest(NetworkTestCase):

    def send(self, host, size, count):
        self.assertEqual(self.net.tool(host, "send", self.net.addr["b"], 4956, count, size,
                                       0.005).wait(60), 0)

    def test_counters_match_what_was_sent(self):
        a_addr, b_addr = self.net.addr["a"], self.net.addr["b"]
        b = self.board(para={"OUT_DEST": a_addr, "OUT_SRC": b_addr, "IN_DEST": b_addr,
                             "IN_SRC": a_addr})
        b.configure(frame_us=20000, playback_log="playback.log")
        p = BoardTestCase.start(self, b, netns=self.net.ns("b"))
        # Asked during start-up (the ADC set-ups follow): held, answered once the loop runs.
        self.assertIsNotNone(p.wait_for("init Receiver !!!!!"), p.output() + p.error_output())
        usr1(p)
        self.assertIsNotNone(p.wait_for("Recv Ip="), p.output() + p.error_output())
        self.assertIsNotNone(p.wait_for("counters: "), p.output() + p.error_output())
        first = LINE.search(p._find("counters: "))
        self.assertIsNotNone(first, p.output())
        self.assertEqual([int(v) for v in first.groups()[3:]], [0, 0, 0, 0])

        self.send("a", 776, GOOD)
        self.send("c", 776, FOREIGN)
        for size in WRONG_SIZES:
            self.send("a", size, WRONG_EACH)
        total = GOOD + FOREIGN + WRONG_EACH * len(WRONG_SIZES)
        counters = {}

        def all_handled():
            counters.update(ask(self, p))
            return counters["received"] >= total
        self.assertTrue(wait_until(all_handled, 60, step=0.5), counters)
        self.assertEqual((counters["received"], counters["played"], counters["dropped_sender"],
                          counters["dropped_length"]),
                         (total, GOOD, FOREIGN, WRONG_EACH * len(WRONG_SIZES)), counters)
        self.assertGreater(counters["sent"], 0, counters)
        self.assertEqual(counters["send_failures"], 0, counters)
        # A frame may be between its capture and its send while the counts are read.
        self.assertIn(counters["captured"] - counters["sent"], (0, 1), counters)

        # The transmit side goes on; the receive side stays where the senders left it.
        later = {}
        self.assertTrue(wait_until(lambda: later.update(ask(self, p)) or
                                   later["sent"] > counters["sent"], 60, step=0.5), later)
        self.assertGreater(later["captured"], counters["captured"], later)
        self.assertEqual(later["send_failures"], 0, later)
        self.assertEqual({k: later[k] for k in FIELDS[3:]}, {k: counters[k] for k in FIELDS[3:]})
        self.assertTrue(p.alive())


class ParkedTest(BoardTestCase):
    def test_sigusr1_does_not_end_a_parked_bridge(self):
        b = self.board(para="WAIT=on\n")
        p = self.start(b)
        self.assertIsNotNone(p.wait_for("WAIT is on"), p.output() + p.error_output())
        for _ in range(3):
            usr1(p)
            time.sleep(0.2)
        # The default action would end it at once; a bounded look shows it did not.
        self.assertIsNone(p.wait_exit(3), p.output() + p.error_output())


if __name__ == "__main__":
    unittest.main()
