"""Simulated boards and obraBi bridges running on them: the one harness of the system tests,
scripts/demo and scripts/bench.

A Board is a board directory laid out by scripts/new-board, with its parameter file, hardware
settings (sim/board.conf) and environment store as asked; intercom_board() makes one that
talks to a peer with a microphone signal of its own. A Bridge is the obraBi program running on
a board, in a network namespace of obrabi_netns or in a network of its own; its standard output
and error go to files beside the board (R/sim/obraBi.out, .err) that are read as it runs.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time

import obrabi_audio as audio

SOURCE = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
NEW_BOARD = os.path.join(SOURCE, "scripts", "new-board")
# A network of its own, loopback only: bridges side by side share no port.
OWN_NET = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"]
LOG = "/tmp/.print_obraBi"


def wait_until(predicate, timeout=120.0, step=0.05):
    """The first true value of predicate(), or its last value after timeout seconds. The
    bounds are generous: under qemu everything is slower."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()) and time.monotonic() < deadline:
        time.sleep(step)
    return value


class Board:
    """A simulated board directory. root: where (replaced when it exists), or a fresh temporary
    folder; para: the parameter file as text, or keys and values (None leaves a key out); conf:
    sim/board.conf settings; env: keys of the main environment store (None removes one)."""

    def __init__(self, root=None, para=None, conf=None, env=None):
        if root is None:
            root = tempfile.mkdtemp(prefix="obrabi-")
        shutil.rmtree(root, ignore_errors=True)
        self.root, self.runs = root, 0
        subprocess.run([NEW_BOARD, root], check=True, stdout=subprocess.DEVNULL)
        if para is not None:
            self.write("/var/obraBi_para", para if isinstance(para, str) else
                       "".join(f"{k}={v}\n" for k, v in para.items() if v is not None))
        self.configure(**(conf or {}))
        for key, value in (env or {}).items():
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

    def configure(self, **settings):
        """Appends settings to sim/board.conf: configure(fpga_version="0x101")."""
        with open(self.path("/sim/board.conf"), "a") as f:
            f.write("".join(f"{k}={v}\n" for k, v in settings.items()))

    def program(self, binary, name="bin/obraBi_to_screen"):
        """A link to the binary under R/sim; its name picks the log: standard output for a name
        with "_to_screen", the board's log file otherwise."""
        path = os.path.join(self.root, "sim", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if not os.path.lexists(path):
            os.symlink(os.path.abspath(binary), path)
        return path

    def plays(self, since_us=0):
        """(time, counter) of every frame played after since_us, not muted (playback_log)."""
        return [e for e in audio.read_events(self.path("/sim/playback.log"))
                if e[0] == "play" and not e[3] and e[1] > since_us]


def intercom_board(addr, host, peer, source, root=None, para=None, conf=None, env=None):
    """A board for host that talks to peer (addresses from addr): OUT_DEST and IN_SRC the
    peer, OUT_SRC and IN_DEST its own; the variant 0x2D52, whose IN_SRC is required; source
    (samples) looped as its microphone, its speaker, capture and playback logs recorded."""
    me, other = addr[host], addr[peer]
    para = dict({"OUT_DEST": other, "OUT_SRC": me, "IN_DEST": me, "IN_SRC": other}, **para or {})
    b = Board(root, para, {"variant": "0x2D52", **(conf or {})}, env)
    b.host, b.source = host, source
    audio.write_wav(b.path("/sim/mic.wav"), source)
    b.configure(capture="mic.wav", capture_loop=1, playback="speaker.wav",
                capture_log="capture.log", playback_log="playback.log")
    return b


class Bridge:
    """The program running on a board. netns: the network namespace to run in (a network of
    its own otherwise); launcher: words before the program (an emulator); wrap: words before
    those (nice, setpriv), inside the namespace; user: run as that user id; env: more
    environment variables."""

    def __init__(self, board, program, netns=None, launcher=(), wrap=(), user=None, env=None):
        argv = list(wrap) + list(launcher) + [program]
        if user is not None:
            argv = ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"] + argv
        argv = ["ip", "netns", "exec", netns] + argv if netns else OWN_NET + argv
        board.runs += 1
        name = "obraBi" if board.runs == 1 else "obraBi-%d" % board.runs
        self.board, self.program = board, program
        self.files = [open(board.path("/sim/%s.%s" % (name, kind)), "w+b") for kind in ("out", "err")]
        self.proc = subprocess.Popen(argv, env=dict(os.environ, OBRABI_ROOT=board.root, **env or {}),
                                     stdout=self.files[0], stderr=self.files[1],
                                     stdin=subprocess.DEVNULL)

    @property
    def pid(self):
        return self.proc.pid

    def output(self, which=0):
        """The whole lines so far of standard output (which=0) or standard error (1)."""
        text = os.pread(self.files[which].fileno(), 1 << 26, 0).decode(errors="replace")
        return text[:text.rfind("\n") + 1].split("\n")[:-1]

    def logged(self):
        """The lines the bridge logged so far: its standard output when its name logs there,
        otherwise its board's log file (time prefixes included)."""
        if "_to_screen" in os.path.basename(self.program):
            return self.output()
        text = self.board.read(LOG, "")
        return text[:text.rfind("\n") + 1].split("\n")[:-1]

    def find(self, text):
        return next((l for l in self.logged() if text in l), None)

    def count(self, text):
        return sum(1 for l in self.logged() if text in l)

    def wait_for(self, text, timeout=120):
        """The first logged line that holds text, waiting while the bridge runs; None."""
        wait_until(lambda: self.find(text) is not None or not self.alive(), timeout)
        return self.find(text)

    def counters(self, timeout=60):
        """Sends SIGUSR1 and waits for the counters line that answers it: its fields, or None
        when none came."""
        before = self.count("counters: ")
        os.kill(self.pid, signal.SIGUSR1)
        if not wait_until(lambda: self.count("counters: ") > before, timeout):
            return None
        return audio.parse_counters([l for l in self.logged() if "counters: " in l][-1])

    def alive(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout=120):
        """The exit status, or None while it runs on."""
        wait_until(lambda: not self.alive(), timeout, 0.1)
        return self.proc.poll()

    def stop(self, sig=signal.SIGKILL):
        if self.alive():
            self.proc.send_signal(sig)
        self.proc.wait()

    def close(self):
        self.stop()
        for f in self.files:
            f.close()
