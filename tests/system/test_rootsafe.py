"""obraBi as root among other local users: links and FIFOs planted at its fixed /tmp paths,
descriptors its commands could inherit, the heap while it logs to its file, and the
capabilities the systemd unit leaves it."""

import os
import re
import signal
import stat
import unittest

from obrabi import BIN, BUILD_DIR, EMULATOR, SANITIZER, SOURCE, SystemTest, wait_until

LOG, BAK = "/tmp/.print_obraBi", "/tmp/.print_obraBi.bak"
# The program is started as "obraBi": it logs to its file, and its dumps carry that name.
DUMP_MAIN, DUMP_SECOND = "/tmp/.env.d.result.obraBi", "/tmp/.env.fd.result.obraBi"
VICTIM = "/etc/victim"
VICTIM_TEXT = "a file of root's that nobody may overwrite\n"
CLOEXEC = 0o2000000  # O_CLOEXEC in /proc/PID/fdinfo "flags" (octal)
SHIM = os.path.join(BUILD_DIR, "bench", "malloc_count.so")


def plant(kind, path, target):
    if kind == "symbolic link":
        os.symlink(target, path)
    else:
        os.mkfifo(path)


def unit_capabilities():
    """The capability bounding set of the systemd unit, as setpriv names them."""
    with open(os.path.join(SOURCE, "dist", "obraBi.service")) as f:
        line = re.search(r"(?m)^CapabilityBoundingSet=(.*)$", f.read())
    return [c.lower().removeprefix("cap_") for c in line[1].split()]


def capability_mask(names):  # the bits of /proc/PID/status Cap* lines, numbered by the kernel
    with open("/usr/include/linux/capability.h") as f:
        numbers = {m[0].lower(): int(m[1]) for m in
                   re.findall(r"(?m)^#define CAP_(\w+)\s+(\d+)\s*$", f.read())}
    return sum(1 << numbers[n] for n in names)


def status_field(pid, key):
    with open("/proc/%d/status" % pid) as f:
        return re.search(r"(?m)^%s:\s*(\S+)" % key, f.read())[1]


class RootSafeTest(SystemTest):
    def file_board(self, **kw):  # a board and the program on it that logs to the board's file
        b = self.board(**kw)
        return b, b.program(BIN, "bin/obraBi")

    def text(self, b, logical):  # a regular file's text; "" for anything else (never a FIFO)
        try:
            regular = stat.S_ISREG(os.lstat(b.path(logical)).st_mode)
        except FileNotFoundError:
            regular = False
        return b.read(logical, "") if regular else ""

    def log(self, b):
        return self.text(b, LOG)

    def wait_log(self, b, p, text, timeout=120):
        ok = wait_until(lambda: text in self.log(b) or not p.alive(), timeout)
        self.assertTrue(ok and text in self.log(b), (text, self.log(b)[-2000:], p.output(1)))

    def assert_regular(self, b, logical):
        st = os.lstat(b.path(logical))
        self.assertTrue(stat.S_ISREG(st.st_mode), logical)
        self.assertEqual(st.st_nlink, 1, logical)

    def counters_line(self, b, p):  # asks for the counters, waits for their line in the log
        lines = lambda: self.log(b).count("counters: ")  # noqa: E731 (no rotation meanwhile)
        before = lines()
        os.kill(p.proc.pid, signal.SIGUSR1)
        self.assertTrue(wait_until(lambda: lines() > before, 60), self.log(b)[-500:])

    def test_links_and_fifos_at_the_fixed_paths_are_never_followed(self):
        for kind in ("symbolic link", "FIFO"):
            with self.subTest(kind):
                b, program = self.file_board()
                b.write(VICTIM, VICTIM_TEXT)
                for logical in (LOG, BAK, DUMP_MAIN, DUMP_SECOND):
                    plant(kind, b.path(logical), b.path(VICTIM))
                # The store's tool plants one again, while it runs, in place of the dump the
                # bridge writes from its output: that lookup finds nothing, the next one takes
                # the dump afresh.
                tool = b.path("/usr/local/bin/env.d")
                os.rename(tool, tool + ".real")
                b.write("/usr/local/bin/env.d", '#!/bin/sh\nd="$(dirname "$0")"\n'
                        'if [ ! -e "$d/planted" ]; then\n    : > "$d/planted"\n'
                        '    rm -f "$d/../../../tmp/.env.d.result.obraBi"\n'
                        '    %s "$d/../../../tmp/.env.d.result.obraBi"\nfi\n'
                        'exec "$0.real" "$@"\n' % ("ln -s '%s'" % b.path(VICTIM)
                                                    if kind == "symbolic link" else "mkfifo"))
                os.chmod(tool, 0o755)
                p = self.start(b, program)
                self.wait_log(b, p, "Recv Ip=127.0.0.1:4956")  # start-up never waited
                self.assertEqual(b.read(VICTIM), VICTIM_TEXT)
                self.assert_regular(b, LOG)
                self.assertRegex(self.log(b), r"^\[\w{3} \w{3} [ \d]\d [\d:]{8} \d{4}\] init Conv")
                self.assert_regular(b, DUMP_MAIN)
                self.assertEqual(b.read(DUMP_MAIN), b.read("/sim/env.main"))
                self.assertTrue(os.path.exists(b.path("/usr/local/bin/planted")))
                self.assertFalse(os.path.lexists(b.path(DUMP_SECOND)))  # removed, never asked for
                self.assertEqual(p.output(1), [])  # nothing had to fall back to standard error
                # Grown past 8192 bytes by counters lines: the next one rotates it into the
                # backup, where the planted one stood.
                while os.path.getsize(b.path(LOG)) <= 8192:
                    self.counters_line(b, p)
                    self.assertTrue(p.alive(), p.output(1))
                grown = self.log(b)
                os.kill(p.proc.pid, signal.SIGUSR1)
                # The backup is written whole before the emptied log takes the line: once the
                # log starts with it, the rotation is complete.
                rotated = r"^\[[^]]+\] counters: "
                self.assertTrue(wait_until(lambda: re.match(rotated, self.log(b)), 60),
                                self.log(b)[-500:])
                self.assert_regular(b, BAK)
                self.assertEqual(b.read(BAK), grown)
                self.assertEqual(b.read(VICTIM), VICTIM_TEXT)
                self.assertEqual(p.output(1), [])
                p.stop()

    def test_every_descriptor_beyond_the_standard_ones_is_close_on_exec(self):
        b, program = self.file_board(conf={"capture_log": "capture.log", "playback": "speaker.wav",
                                           "playback_log": "playback.log"})
        p = self.start(b, program)
        self.wait_log(b, p, "Recv Ip=127.0.0.1:4956")
        fds = "/proc/%d/fd" % p.proc.pid
        seen = {}
        for fd in sorted(int(n) for n in os.listdir(fds)):
            try:
                target = os.readlink("%s/%d" % (fds, fd))
                with open("/proc/%d/fdinfo/%d" % (p.proc.pid, fd)) as f:
                    flags = int(re.search(r"(?m)^flags:\s*(\d+)", f.read())[1], 8)
            except FileNotFoundError:
                continue  # closed meanwhile (a log message, a request)
            # Under qemu-user the process is the emulator, whose own descriptors (its program
            # file, for one) are not the bridge's: there only the sockets and the board's files
            # are looked at, which qemu never opens.
            if fd > 2 and (not EMULATOR or target.startswith(("socket:", b.root + "/"))):
                seen[fd] = (target, flags)
        for fd, (target, flags) in seen.items():
            self.assertEqual(flags & CLOEXEC, CLOEXEC, "descriptor %d, %s" % (fd, target))
        targets = [t for t, _ in seen.values()]
        self.assertEqual(sum(1 for t in targets if t.startswith("socket:")), 2, targets)
        for device in ("/dev/codec_audioBi", "/sim/trace.log", "/sim/capture.log",
                       "/sim/speaker.wav", "/sim/playback.log"):
            self.assertIn(b.path(device), targets)

    @unittest.skipIf(EMULATOR, "the PowerPC program is static: nothing can be preloaded")
    @unittest.skipIf(SANITIZER, "the sanitizer's own allocator takes the heap's calls")
    def test_no_heap_allocation_while_logging_to_the_file(self):
        if not os.path.exists(SHIM):
            self.skipTest("%s not built (host build only)" % SHIM)
        b = self.intercom("b", "a")
        program = b.program(BIN, "bin/obraBi")
        counts = b.path("/sim/malloc.count")
        p = self.start(b, program, netns=self.net.ns("b"),
                       env={"LD_PRELOAD": SHIM, "MALLOC_COUNT_FILE": counts})
        self.wait_log(b, p, "Recv Ip=")

        def allocations():  # the preloaded counter's count so far
            before = os.path.getsize(counts) if os.path.exists(counts) else 0
            os.kill(p.proc.pid, signal.SIGUSR2)
            self.assertTrue(wait_until(lambda: os.path.exists(counts) and
                                       os.path.getsize(counts) > before, 60))
            return int(b.read("/sim/malloc.count").split()[-1])

        self.counters_line(b, p)  # the first line after start-up
        first = allocations()
        self.send("c", "b", 1, "776")  # a foreign sender
        self.wait_log(b, p, "audio recevied from unknown device(%s)!" % self.net.addr["c"])
        self.send("a", "b", 1, "100")  # a short datagram from the peer's address
        self.wait_log(b, p, "audio datagram of 100 bytes dropped")
        self.counters_line(b, p)
        self.assertEqual(allocations() - first, 0, self.log(b)[-600:])

    def test_streams_under_the_units_capabilities_without_new_privileges(self):
        names = unit_capabilities()
        wrap = ["setpriv", "--bounding-set=-all," + ",".join("+" + n for n in names),
                "--no-new-privs"]
        a, b = self.intercom("a", "b", seed=1), self.intercom("b", "a", seed=2)
        pa = self.start(a, netns=self.net.ns("a"), wrap=wrap)
        self.assertIsNotNone(pa.wait_for("Recv Ip="), pa.output() + pa.output(1))
        pb = self.run_bridge(b)
        # The process runs with those capabilities and no others, and cannot gain any.
        self.assertEqual(int(status_field(pa.proc.pid, "CapBnd"), 16), capability_mask(names))
        self.assertEqual(int(status_field(pa.proc.pid, "CapEff"), 16), capability_mask(names))
        self.assertEqual(status_field(pa.proc.pid, "NoNewPrivs"), "1")
        # Net admin forced the receive buffer beyond the system's usual cap (212992 bytes):
        # the kernel reports twice the 4 MiB asked for.
        self.assertGreaterEqual(self.net.socket_memory("a")[0] or 0, 8 << 20)
        self.wait_plays(a, 30)  # what B sends, A plays
        self.wait_plays(b, 30)  # what A sends, B plays
        self.assertEqual(pa.output(1), [])
        pb.stop()


if __name__ == "__main__":
    unittest.main()
