"""Harness of the system tests: simulated boards, the real obraBi binary on them, hosts in
network namespaces and tools run there: a sender (`python3 obrabi.py DEST PORT ...`), a sender
of a planned stream (`... stream ...`) and a multicast listener (`... listen ...`). ctest sets
OBRABI_BIN, OBRABI_EMULATOR (words that run the build's binaries), OBRABI_SOURCE and
OBRABI_SANITIZER."""

import os
import shlex
import shutil
import signal
import socket
import subprocess
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
from obrabi_netns import Network  # noqa: E402

SANITIZER_MARKS = ("ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error")
PACKET = bytes([0x02, 0x00, 0x02, 0xC1]) + bytes([0xD5]) * 772  # whole, from no bridge
# A network of its own, loopback only: bridges side by side share no port.
OWN_NET = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"]


def wait_until(predicate, timeout=120.0, step=0.05):  # generous bounds: qemu is slow
    deadline = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() < deadline:
        time.sleep(step)
    return value


class Board:
    """A simulated board directory made by scripts/new-board."""

    def __init__(self, para=None, conf=None, env=None):
        self.root = tempfile.mkdtemp(prefix="obrabi-sys-")
        os.rmdir(self.root)
        subprocess.run([os.path.join(SOURCE, "scripts", "new-board"), self.root], check=True,
                       stdout=subprocess.DEVNULL)
        if para is not None:  # text, or keys and values (None: left out)
            self.write("/var/obraBi_para", para if isinstance(para, str) else
                       "".join(f"{k}={v}\n" for k, v in para.items() if v is not None))
        self.configure(**(conf or {}))
        for key, value in (env or {}).items():  # the main environment store; None removes
            lines = [l + "\n" for l in self.read("/sim/env.main", "").splitlines()
                     if not l.startswith(key + "=")]
            self.write("/sim/env.main", "".join(lines) + (f"{key}={value}\n" if value else ""))

    def path(self, logical):
        return self.root + logical

    def write(self, logical, content):
        os.makedirs(os.path.dirname(self.path(logical)), exist_ok=True)
        with open(self.path(logical), "w") as f:
            f.write(content)

    def read(self, logical, default=None):
        try:
            with open(self.path(logical), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return default

    def configure(self, **settings):  # sim/board.conf: fpga_version=0x101, ...
        with open(self.path("/sim/board.conf"), "a") as f:
            f.write("".join(f"{k}={v}\n" for k, v in settings.items()))

    def program(self, name="bin/obraBi_to_screen"):  # a link to the binary: its name picks the log
        path = os.path.join(self.root, "sim", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if not os.path.lexists(path):
            os.symlink(os.path.abspath(BIN), path)
        return path


class Process:
    """obraBi running on a board; its standard output and error go to files read on demand.
    wrap: words that run it (setpriv ...), inside its network namespace; env: more variables."""

    def __init__(self, board, program, netns=None, user=None, wrap=(), env=None):
        argv = list(wrap) + EMULATOR + [program]
        if user is not None:
            argv = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + argv
        argv = ["ip", "netns", "exec", netns] + argv if netns else OWN_NET + argv
        self.board, self.files = board, [tempfile.TemporaryFile(), tempfile.TemporaryFile()]
        env = dict(os.environ, OBRABI_ROOT=board.root, **env or {})
        self.proc = subprocess.Popen(argv, env=env, stdout=self.files[0], stderr=self.files[1],
                                     stdin=subprocess.DEVNULL)

    def output(self, which=0):  # whole lines so far of standard output (which=0) or error (1)
        text = os.pread(self.files[which].fileno(), 1 << 26, 0).decode(errors="replace")
        return text[:text.rfind("\n") + 1].split("\n")[:-1]

    def find(self, text):
        return next((l for l in self.output() if text in l), None)

    def wait_for(self, text, timeout=120):
        wait_until(lambda: self.find(text) is not None or not self.alive(), timeout)
        return self.find(text)

    def count(self, text):
        return sum(1 for l in self.output() if text in l)

    def wait_exit(self, timeout=120):  # the exit status, None while it runs on
        wait_until(lambda: not self.alive(), timeout, 0.1)
        return self.proc.poll()

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        self.proc.kill()  # nothing when it has ended
        self.proc.wait()


class SystemTest(unittest.TestCase):
    """Tests on hosts a, b and c in network namespaces of the class's own (needs root). After
    each test boards are removed, processes stopped, and any sanitizer report fails it."""

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 and not os.environ.get("CI"):  # in CI they must run, and fail
            raise unittest.SkipTest("network namespace tests need root")
        cls.net = Network(["a", "b", "c"])
        cls.addClassCleanup(cls.net.close)

    def setUp(self):
        self.boards, self.procs = [], []

    def tearDown(self):
        for p in self.procs:
            p.stop()
        for b in self.boards:
            shutil.rmtree(b.root, ignore_errors=True)
        reports = [(p.proc.args, l) for p in self.procs for l in p.output(1)
                   if any(m in l for m in SANITIZER_MARKS)]
        for f in (f for p in self.procs for f in p.files):
            f.close()
        self.assertEqual(reports, [], "sanitizer reports on standard error")

    def board(self, **kw):
        self.boards.append(Board(**kw))
        return self.boards[-1]

    def start(self, board, program=None, netns=None, user=None, wrap=(), env=None):
        self.procs.append(Process(board, program or board.program(), netns, user, wrap, env))
        return self.procs[-1]

    @staticmethod
    def tool(*args):  # the words that run one of this file's tools
        return [sys.executable, os.path.abspath(__file__)] + [str(a) for a in args]

    def send(self, host, dest, count, payloads, burst=1, pause=0.005, port=4956, wait=True):
        p = self.net.popen(host, self.tool(self.net.addr[dest], port, count, burst, pause, payloads))
        self.assertEqual(p.wait(300) if wait else 0, 0)
        return p

    def intercom(self, host, peer, seed=1, para=None, env=None, **conf):  # speech-like to peer
        me, other = self.net.addr[host], self.net.addr[peer]
        para = dict({"OUT_DEST": other, "OUT_SRC": me, "IN_DEST": me, "IN_SRC": other}, **para or {})
        b = self.board(para=para, conf={"variant": "0x2D52", **conf}, env=env)
        b.host, b.source = host, audio.speech_like(3, seed=seed)
        audio.write_wav(b.path("/sim/mic.wav"), b.source)
        b.configure(capture="mic.wav", capture_loop=1, frame_us=20000, playback="speaker.wav",
                    capture_log="capture.log", playback_log="playback.log")
        return b

    def run_bridge(self, board, ready="Recv Ip="):
        p = self.start(board, netns=self.net.ns(board.host))
        self.assertIsNotNone(p.wait_for(ready), p.output() + p.output(1))
        return p

    def plays(self, board, since_us=0):  # frames played after since_us, not muted
        return [e for e in audio.read_events(board.path("/sim/playback.log"))
                if e[0] == "play" and not e[3] and e[1] > since_us]

    def wait_plays(self, board, count, since_us=0, timeout=180):
        ok = wait_until(lambda: len(self.plays(board, since_us)) >= count, timeout, 0.1)
        self.assertTrue(ok, "%s: fewer than %d frames played" % (board.host, count))

    def counters(self, p):  # sends SIGUSR1: the fields of the line that answers it
        before = p.count("counters: ")
        os.kill(p.proc.pid, signal.SIGUSR1)
        self.assertTrue(wait_until(lambda: p.count("counters: ") > before, 60), p.output()[-9:])
        line = [l for l in p.output() if "counters: " in l][-1]
        fields = audio.parse_counters(line)
        self.assertIsNotNone(fields, line)
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
    time.sleep(0.2)  # the last datagram handled before the caller looks
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
