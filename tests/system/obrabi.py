"""Helpers for system tests: simulated boards and the real obraBi binary running on them.

The tests get from ctest: OBRABI_BIN (the obraBi binary of the build under test),
OBRABI_EMULATOR (words that run a binary of that build, empty on the host) and OBRABI_SOURCE.
"""

import os
import shlex
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

BIN = os.environ.get("OBRABI_BIN", "")
EMULATOR = shlex.split(os.environ.get("OBRABI_EMULATOR", ""))
# "thread" or "address" in a sanitizer build, empty otherwise.
SANITIZER = os.environ.get("OBRABI_SANITIZER", "")
SOURCE = os.environ.get("OBRABI_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))

# Generous bounds: the start-up sleeps on purpose, and qemu runs the PowerPC build slowly.
START_TIMEOUT = 120.0

# What the sanitizer builds write on standard error when they find a fault.
SANITIZER_MARKS = ("ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error")


def wait_until(predicate, timeout=START_TIMEOUT, step=0.05):
    """Polls predicate until it is true or the timeout passes; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


class Board:
    """A simulated board directory made by scripts/new-board."""

    def __init__(self, para=None, conf=None, env=None):
        self.root = tempfile.mkdtemp(prefix="obrabi-sys-")
        os.rmdir(self.root)
        subprocess.run([os.path.join(SOURCE, "scripts", "new-board"), self.root],
                       check=True, stdout=subprocess.DEVNULL)
        if para is not None:
            self.write_para(para)
        if conf:
            self.configure(**conf)
        for key, value in (env or {}).items():
            self.set_env(key, value)

    def path(self, logical):
        return self.root + logical

    def write(self, logical, content, mode=0o644):
        p = self.path(logical)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)
        os.chmod(p, mode)

    def read(self, logical, default=None):
        try:
            with open(self.path(logical), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return default

    def write_para(self, para):
        """para: text, or a dict of key -> value written as KEY=value lines."""
        if isinstance(para, dict):
            para = "".join(f"{k}={v}\n" for k, v in para.items())
        self.write("/var/obraBi_para", para)

    def set_env(self, key, value):
        """Sets a key of the main environment store (None removes it)."""
        lines = [l for l in (self.read("/sim/env.main", "") or "").splitlines()
                 if not l.startswith(key + "=")]
        if value is not None:
            lines.append(f"{key}={value}")
        self.write("/sim/env.main", "".join(l + "\n" for l in lines))

    def configure(self, **settings):
        """Adds settings to sim/board.conf (fpga_version=0x101, ...)."""
        with open(self.path("/sim/board.conf"), "a") as f:
            for key, value in settings.items():
                f.write(f"{key}={value}\n")

    def trace(self):
        return (self.read("/sim/trace.log", "") or "").splitlines()

    def program(self, name="obraBi_to_screen", copy=False):
        """The binary under the given name (the name picks the log target): a link to the
        build's binary, or a copy where another user must run it from the board directory."""
        d = os.path.join(self.root, "sim", "bin")
        os.makedirs(d, exist_ok=True)
        path = os.path.join(d, name)
        if not os.path.lexists(path):
            if copy:
                shutil.copy(BIN, path)
                os.chmod(path, 0o755)
            else:
                os.symlink(os.path.abspath(BIN), path)
        return path

    def start(self, name="obraBi_to_screen", program=None, netns=None, user=None):
        return Process(self, program or self.program(name), netns, user)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


class Process:
    """obraBi running on a board; its standard output and error are collected line by line."""

    def __init__(self, board, program, netns=None, user=None):
        env = dict(os.environ, OBRABI_ROOT=board.root)
        argv = EMULATOR + [program]
        if user is not None:
            argv = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + argv
        if netns:
            argv = ["ip", "netns", "exec", netns] + argv
        elif os.geteuid() == 0:
            # A network of its own (loopback only), so that bridges started side by side do
            # not compete for the receive port.
            argv = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + argv
        self.board = board
        self.lines = []
        self.errors = []
        self._lock = threading.Lock()
        self.proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self._readers = [threading.Thread(target=self._read, args=(self.proc.stdout, self.lines), daemon=True),
                         threading.Thread(target=self._read, args=(self.proc.stderr, self.errors), daemon=True)]
        for t in self._readers:
            t.start()

    def _read(self, stream, into):
        for raw in iter(stream.readline, b""):
            with self._lock:
                into.append(raw.decode(errors="replace").rstrip("\n"))

    def output(self):
        with self._lock:
            return list(self.lines)

    def error_output(self):
        with self._lock:
            return list(self.errors)

    def _find(self, text):
        return next((l for l in self.output() if text in l), None)

    def wait_for(self, text, timeout=START_TIMEOUT):
        """Waits for a line of standard output that contains text; returns it or None."""
        wait_until(lambda: self._find(text) is not None or self.proc.poll() is not None, timeout)
        if self._find(text) is None and self.proc.poll() is not None:
            for t in self._readers:  # let the readers drain what the process wrote last
                t.join(5)
        return self._find(text)

    def count(self, text):
        return sum(1 for l in self.output() if text in l)

    def wait_exit(self, timeout=START_TIMEOUT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def alive(self):
        return self.proc.poll() is None

    def sanitizer_reports(self):
        """Lines of standard error in which a sanitizer build reported a fault."""
        return [l for l in self.error_output() if any(m in l for m in SANITIZER_MARKS)]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for t in self._readers:
            t.join(5)
        for stream in (self.proc.stdout, self.proc.stderr):
            stream.close()


class BoardTestCase(unittest.TestCase):
    """A test case whose boards and processes are removed and stopped after each test."""

    def setUp(self):
        self.boards = []
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            p.stop()
        for b in self.boards:
            b.cleanup()
        # A sanitizer report fails the test, whatever the test itself looked at.
        reports = [(p.proc.args, p.error_output()) for p in self.procs if p.sanitizer_reports()]
        self.assertEqual(reports, [], "sanitizer reports on standard error")

    def board(self, **kw):
        b = Board(**kw)
        self.boards.append(b)
        return b

    def start(self, board, **kw):
        p = board.start(**kw)
        self.procs.append(p)
        return p
