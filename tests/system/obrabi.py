"""The system tests' side of the harness (scripts/lib/obrabi_harness.py): the build under
test, hosts a, b and c in network namespaces, and tools run there: a sender
(`python3 obrabi.py DEST PORT ...`), a sender of a planned stream (`... stream ...`) and a
multicast listener (`... listen ...`). ctest sets OBRABI_BIN, OBRABI_EMULATOR (words that run
the build's binaries), OBRABI_SOURCE, OBRABI_BUILD_DIR and OBRABI_SANITIZER."""

import os
import shlex
import shutil
import socket
import sys
import tempfile
import time
import unittest

BIN = os.environ.get("OBRABI_BIN", "")
EMULATOR = shlex.split(os.environ.get("OBRABI_EMULATOR", ""))
SANITIZER = os.environ.get("OBRABI_SANITIZER", "")
BUILD_DIR = os.environ.get("OBRABI_BUILD_DIR", "")
SOURCE = os.environ.get("OBRABI_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "scripts", "lib"))
import obrabi_audio as audio  # noqa: E402
from obrabi_harness import OWN_NET, Board, Bridge, intercom_board, wait_until  # noqa: E402,F401
from obrabi_netns import Network  # noqa: E402

SANITIZER_MARKS = ("ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error")
PACKET = bytes([0x02, 0x00, 0x02, 0xC1]) + bytes([0xD5]) * 772  # whole, from no bridge


class SystemTest(unittest.TestCase):
    """Tests on hosts a, b and c in network namespaces of the class's own (needs root). After
    each test boards are removed, bridges stopped, and any sanitizer report fails it. A class
    may give its network other settings (obrabi_netns.Network's keywords) in `network`."""

    network = {}

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 and not os.environ.get("CI"):  # in CI they must run, and fail
            raise unittest.SkipTest("network namespace tests need root")
        cls.net = Network(["a", "b", "c"], **cls.network)
        cls.addClassCleanup(cls.net.close)

    def setUp(self):
        self.boards, self.procs = [], []

    def tearDown(self):
        for p in self.procs:
            p.stop()
        reports = [(p.proc.args, l) for p in self.procs for l in p.output(1)
                   if any(m in l for m in SANITIZER_MARKS)]
        for p in self.procs:
            p.close()
        for b in self.boards:
            shutil.rmtree(b.root, ignore_errors=True)
        self.assertEqual(reports, [], "sanitizer reports on standard error")

    def board(self, **kw):
        self.boards.append(Board(**kw))
        return self.boards[-1]

    def start(self, board, program=None, netns=None, user=None, wrap=(), env=None):
        """The build under test on the board, by default as obraBi_to_screen."""
        self.procs.append(Bridge(board, program or board.program(BIN), netns, EMULATOR, wrap,
                                 user, env))
        return self.procs[-1]

    @staticmethod
    def tool(*args):  # the words that run one of this file's tools
        return [sys.executable, os.path.abspath(__file__)] + [str(a) for a in args]

    def send(self, host, dest, count, payloads, burst=1, pause=0.005, port=4956, wait=True):
        p = self.net.popen(host, self.tool(self.net.addr[dest], port, count, burst, pause, payloads))
        self.assertEqual(p.wait(300) if wait else 0, 0)
        return p

    def intercom(self, host, peer, seed=1, para=None, env=None, **conf):
        """A board for host that talks to peer, a speech-like microphone signal, frames of
        20 ms."""
        b = intercom_board(self.net.addr, host, peer, audio.speech_like(3, seed=seed), para=para,
                           conf=dict({"frame_us": 20000}, **conf), env=env)
        self.boards.append(b)
        return b

    def run_bridge(self, board, ready="Recv Ip="):
        p = self.start(board, netns=self.net.ns(board.host))
        self.assertIsNotNone(p.wait_for(ready), p.output() + p.output(1))
        return p

    def wait_plays(self, board, count, since_us=0, timeout=180):
        ok = wait_until(lambda: len(board.plays(since_us)) >= count, timeout, 0.1)
        self.assertTrue(ok, "%s: fewer than %d frames played" % (board.host, count))

    def counters(self, p):  # sends SIGUSR1: the fields of the line that answers it
        fields = p.counters()
        self.assertIsNotNone(fields, p.logged()[-9:])
        return fields

    def stream(self, host, dest, plan, iface=None, wait=True):
        """Sends the plan's datagrams from host: (seconds from the start, tail counter) pairs,
        each a whole silent packet with the counter in bytes 772..773. Returns the process and
        the file where it writes, per datagram sent, the monotonic time in microseconds and
        the counter."""
        fd, plan_file = tempfile.mkstemp(prefix="obrabi-plan-")
        with os.fdopen(fd, "w") as f:
            f.write("".join("%.6f %d\n" % item for item in plan))
        self.addCleanup(os.unlink, plan_file)
        log = plan_file + ".sent"
        self.addCleanup(lambda: os.path.exists(log) and os.unlink(log))
        p = self.net.popen(host, self.tool("stream", self.net.addr.get(dest, dest),
                                           49501 if iface else 4956, plan_file, log,
                                           *([iface] if iface else [])))
        if wait:
            self.assertEqual(p.wait(300), 0)
        return p, log


def tool_send(dest, port, count, burst, pause, payloads):
    """COUNT datagrams in bursts of BURST, PAUSE seconds apart, cycling through PAYLOADS: sizes
    N (a whole packet of A-law silence cut or padded to N bytes) or xHEX (those bytes)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    items = [bytes.fromhex(p[1:]) if p.startswith("x") else (PACKET + bytes(65536))[:int(p)]
             for p in payloads.split(",")]
    for sent in range(int(count)):
        s.sendto(items[sent % len(items)], (dest, int(port)))
        if (sent + 1) % int(burst) == 0:
            time.sleep(float(pause))


def tool_stream(dest, port, plan_file, log_file, iface=None):
    """The plan's datagrams (lines 'SECONDS COUNTER'), each at its time from the start, through
    the interface with the address IFACE for a multicast DEST; LOG_FILE gets 'TIME_US COUNTER'
    per datagram as it left (monotonic clock)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if iface:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(iface))
    with open(plan_file) as f:
        plan = [(float(t), int(c)) for t, c in (line.split() for line in f)]
    sent = []
    start = time.monotonic()
    for at, counter in plan:
        time.sleep(max(0.0, start + at - time.monotonic()))
        s.sendto(PACKET[:772] + counter.to_bytes(2, "big") + PACKET[774:], (dest, int(port)))
        sent.append("%d %d\n" % (time.monotonic_ns() // 1000, counter))
    with open(log_file, "w") as f:
        f.write("".join(sent))


def tool_listen(group, port, iface, seconds):
    """Joins GROUP once on the interface with the address IFACE, as a plain receiver that never
    renews its membership, and prints how many datagrams arrived within SECONDS."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((group, int(port)))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton(group) + socket.inet_aton(iface))
    end = time.monotonic() + float(seconds)
    count = 0
    while (left := end - time.monotonic()) > 0:
        s.settimeout(left)
        try:
            s.recv(2048)
            count += 1
        except socket.timeout:
            break
    print(count, flush=True)


if __name__ == "__main__":
    tools = {"stream": tool_stream, "listen": tool_listen}
    if sys.argv[1] in tools:
        tools[sys.argv[1]](*sys.argv[2:])
    else:
        tool_send(*sys.argv[1:])
