"""Link quality from the bridge itself: a sender of the test's own streams crafted datagrams with
known faults to B, whose counters line and log lines must name exactly those faults; and B
behind a snooping switch that forgets the group, where it must keep playing."""

import random
import re
import subprocess
import unittest

from obrabi import SystemTest, audio, wait_until

FIRST = 65536 - 40  # the counter of the first frame: it wraps to 0 at frame 40
FRAMES = 282
LEFT_OUT = (40, 70, 71, 120, 230, 260)  # frame 40 carries counter 0: lost across the wrap
TWICE = (90, 210)  # sent again 5 ms later
SWAPPED = 150  # 150 goes 1 ms after 151
PAUSE = range(175, 207)  # not sent: 3 s of silence, and a counter jump of 32 across it
GROUP = "239.1.2.3"
FORGET_S = 8  # the switch forgets a port this long after its last report
STREAM_S = 40


def crafted_plan(seed=18):
    """(seconds, counter) of every datagram, in sending order: the frame period plus 0-15 ms
    of send jitter, with the faults above."""
    rnd = random.Random(seed)
    plan = []
    for k in range(FRAMES):
        if k in LEFT_OUT or k in PAUSE:
            continue
        at = k * audio.FRAME_US / 1e6 + rnd.uniform(0, 0.015)
        counter = (FIRST + k) % 65536
        if k == SWAPPED + 1:
            plan.insert(len(plan) - 1, (at, counter))  # ahead of 150, which follows it
            plan[-1] = (at + 0.001, plan[-1][1])
            continue
        plan.append((at, counter))
        if k in TWICE:
            plan.append((at + 0.005, counter))
    return plan


class LinkTest(SystemTest):
    network = {"forget_groups_after": FORGET_S}  # behind a switch that forgets the groups

    def bridge_b(self, **para):
        a, b = self.net.addr["a"], self.net.addr["b"]
        board = self.board(para=dict({"OUT_DEST": a, "OUT_SRC": b, "IN_DEST": b, "IN_SRC": a},
                                     **para), conf={"variant": "0x2D52", "playback_log": "play.log"})
        board.host = "b"
        return board, self.run_bridge(board)

    def test_counters_name_the_faults_of_a_crafted_stream(self):
        board, pb = self.bridge_b()
        plan = crafted_plan()
        self.assertEqual(len(plan), 246)
        sender, log = self.stream("a", "b", plan)
        # The stream stops a second after its last datagram: every datagram has been handled
        # once B counts that stop, its second (the first is the 3 s pause).
        n = wait_until(lambda: (c := self.counters(pb))["stops"] >= 2 and c, 60, 0.5)
        self.assertTrue(n, "the end of the stream was not counted as a stop")
        for field, value in (("received", 246), ("played", 246), ("lost", len(LEFT_OUT)),
                             ("duplicated", len(TWICE)), ("reordered", 1), ("stops", 2),
                             ("read_failures", 0), ("write_failures", 0)):
            self.assertEqual(n[field], value, field)
        # The jitter of RFC 3550 from the sender's own send times: network and scheduling add
        # little on this machine.
        with open(log) as f:
            sent = [tuple(map(int, line.split())) for line in f]
        expected = audio.rfc3550_jitter_ms(sent)
        print("\n%s\n(jitter of RFC 3550 from the send times: %.2f ms)" % (
            [l for l in pb.output() if "counters: " in l][-1], expected))
        self.assertGreater(expected, 2.0)  # 0-15 ms of send jitter
        # Slack for a loaded machine: a wrong estimate (J not scaled, the spacing of one frame
        # for a lost one) is tens of milliseconds off.
        self.assertLess(abs(n["jitter_ms"] - expected), 3.0, (n["jitter_ms"], expected))
        peer = self.net.addr["a"]
        self.assertEqual(pb.count("audio from %s started" % peer), 1, pb.output())
        # The second stop came within a minute of the first: held for the minute's summary.
        self.assertEqual(pb.count("audio from %s stopped" % peer), 1, pb.output())
        resumed = [l for l in pb.output() if l.startswith("audio from %s resumed" % peer)]
        self.assertEqual(len(resumed), 1, pb.output())
        silence = float(re.fullmatch(r"audio from \S+ resumed after (\d+\.\d) s", resumed[0])[1])
        self.assertTrue(3.0 <= silence <= 4.0, resumed)  # 33 periods, less up to 15 ms
        # Played in arrival order, faults and all.
        played = [e[2] for e in audio.read_events(board.path("/sim/play.log"))]
        self.assertEqual(played, [c for _, c in plan])

    def test_multicast_plays_on_behind_a_switch_that_forgets_the_group(self):
        board, pb = self.bridge_b(IN_DEST=GROUP)
        if pb.find("multicast: can't join"):
            self.skipTest("this platform cannot join the group: %s" % pb.find("can't join"))
        # C joins once and never again: the switch forgets it after FORGET_S seconds.
        listener = self.net.popen("c", self.tool("listen", GROUP, 49501, self.net.addr["c"],
                                                 STREAM_S + 5), stdout=subprocess.PIPE, text=True)
        plan = [(k * audio.FRAME_US / 1e6, k) for k in range(int(STREAM_S * 1e6 / audio.FRAME_US))]
        self.stream("a", GROUP, plan, iface=self.net.addr["a"])
        heard = int(listener.communicate(timeout=120)[0])
        played = {e[2] for e in audio.read_events(board.path("/sim/play.log"))}
        print("\nB played %d of %d frames, a listener that joined once heard %d" % (
            len(played), len(plan), heard))
        self.assertGreater(heard, 0, "the switch never forwarded the group")
        self.assertLess(heard, len(plan) // 2, "the switch did not forget the listener")
        # About a second lost at each of the switch's 8 s expiries (90% kept here); without the
        # re-join B plays only until the first (about 20%).
        self.assertGreaterEqual(len(played), 0.75 * len(plan))
        joined = "multicast: %s re-joined on %s" % (GROUP, self.net.addr["b"])
        self.assertTrue(any(l == joined for l in pb.output()), pb.output())
        self.assertGreaterEqual(pb.count("audio from %s stopped" % self.net.addr["a"]), 1)


if __name__ == "__main__":
    unittest.main()
