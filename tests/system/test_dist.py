"""The init script on simulated boards, under sh and BusyBox's ash as on the board, and
`cmake --install` of the build under test (OBRABI_BUILD_DIR, OBRABI_CMAKE) into a DESTDIR."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from obrabi import BIN, EMULATOR, OWN_NET, PACKET, SOURCE, SystemTest, wait_until

SCRIPT = os.path.join(SOURCE, "dist", "obraBi.init")
LUA = os.path.join(SOURCE, "dist", "obrabi.lua")
BUILD = os.environ.get("OBRABI_BUILD_DIR", "")
CMAKE = os.environ.get("OBRABI_CMAKE") or shutil.which("cmake") or "cmake"
# Under the prefix /usr; "lib" may be a multiarch folder (lib/x86_64-linux-gnu).
TREE = ((r"usr/bin/obraBi", "0o755"), (r"usr/bin/obraBi_to_screen", "-> obraBi"),
        (r"etc/init.d/S90obraBi", "0o755"), (r"usr/lib/systemd/system/obraBi\.service", "0o644"),
        (r"usr/share/doc/obraBi/README\.md", "0o644"),
        (r"usr/share/doc/obraBi/examples/obraBi_para", "0o644"),
        (r"usr/lib(/[^/]+)?/wireshark/plugins/obrabi\.lua", "0o644"))


def copies(program):  # pids of the running (not zombie) processes of the program
    r = subprocess.run(["pgrep", "-f", "-r", "RSD", "--", program], capture_output=True, text=True)
    return [int(pid) for pid in r.stdout.split()]


class InitScriptTest(SystemTest):
    def test_start_status_restart_stop(self):
        for shell in [["sh"]] + ([["busybox", "sh"]] if shutil.which("busybox") else []):
            with self.subTest(shell=" ".join(shell)):
                b = self.board()
                # The base name picks the log: the board's /tmp/.print_obraBi, time-stamped.
                program = b.program(BIN, "x_to_screen/obraBi")
                b.configure(no_such_key=1)  # the simulated board complains on standard error
                pidfile = b.path("/var/run/obraBi.pid")
                b.write("/etc/default/obraBi", "OBRABI_BIN=%s\nOBRABI_PIDFILE=%s\nOBRABI_OUTPUT=%s\n"
                        % (program, pidfile, b.path("/tmp/obraBi.out")))
                self.addCleanup(lambda p=program: [os.kill(pid, 9) for pid in copies(p)])
                env = dict(os.environ, OBRABI_ROOT=b.root, OBRABI_LAUNCHER=" ".join(EMULATOR),
                           OBRABI_DEFAULTS=b.path("/etc/default/obraBi"))
                env.pop("OBRABI_BIN", None)

                def run(command, code=0, text="", up=False):  # up: the pid file's copy, alone, runs
                    r = subprocess.run((OWN_NET if "start" in command else []) + shell +
                                       [SCRIPT, command], env=env, capture_output=True,
                                       text=True, timeout=300)
                    out, pid = (r.stdout + r.stderr).strip(), int(b.read("/var/run/obraBi.pid", "0"))
                    self.assertEqual(r.returncode, code, (command, out))
                    self.assertIn(text % pid if "%" in text else text, out)
                    self.assertEqual(copies(program), [pid] if up else [])
                    return pid

                run("status", 3)
                pid = run("start", 0, "obraBi started (pid %d)", True)
                log = lambda: b.read("/tmp/.print_obraBi", "")  # noqa: E731
                self.assertTrue(wait_until(lambda: "Recv Ip=127.0.0.1:4956" in log()), log())
                self.assertRegex(log(), r"^\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\] init Conv")
                self.assertIn("unknown key no_such_key", b.read("/tmp/obraBi.out"))
                run("status", 0, "obraBi is running (pid %d)", True)
                self.assertEqual(run("start", 0, "obraBi already running (pid %d)", True), pid)
                self.assertNotEqual(run("restart", 0, "", True), pid)
                run("stop", 0, "obraBi stopped")
                self.assertFalse(os.path.exists(pidfile))
                run("status", 3)
                run("stop", 0, "obraBi not running")
                # A pid file left by a copy that died: status says so, start starts afresh.
                (dead := subprocess.Popen(["true"])).wait()
                b.write("/var/run/obraBi.pid", "%d\n" % dead.pid)
                run("status", 1)
                run("start", up=True)
                run("stop")
                run("reload-everything", 2, "usage:")
                # A copy that ends at once: start fails and names where the program said why,
                # the board's log or, for a _to_screen name, the output. The copy is a stand-in
                # that ends at once, so that nothing depends on how long a start-up takes.
                env["OBRABI_LAUNCHER"] = ""
                for name, said in (("obraBi", "/tmp/.print_obraBi"),
                                   ("obraBi_to_screen", "/tmp/obraBi.out")):
                    gone = b.path("/sim/gone/" + name)
                    b.write("/sim/gone/" + name, "#!/bin/sh\nexit 0\n")
                    os.chmod(gone, 0o755)
                    b.write("/etc/default/obraBi", "OBRABI_BIN=%s\nOBRABI_PIDFILE=%s\n"
                            "OBRABI_OUTPUT=%s\n" % (gone, pidfile, b.path("/tmp/obraBi.out")))
                    run("start", 1, "started and ended at once; see " + b.path(said))


class InstallTest(unittest.TestCase):
    def test_install_under_two_prefixes(self):
        if not BUILD:
            self.skipTest("OBRABI_BUILD_DIR not set (ctest sets it)")
        for prefix, etc in (("/opt/obrabi", "/opt/obrabi/etc"), ("/usr", "/etc")):
            dest = tempfile.mkdtemp(prefix="obrabi-inst-")
            self.addCleanup(shutil.rmtree, dest, True)
            r = subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix],
                               env=dict(os.environ, DESTDIR=dest), capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            # The start-up files name the binary where it was installed.
            script = Path(dest + etc + "/init.d/S90obraBi").read_text()
            unit = Path(dest + prefix + "/lib/systemd/system/obraBi.service").read_text()
            self.assertIn("OBRABI_BIN=${OBRABI_BIN:-%s/bin/obraBi}" % prefix, script)
            self.assertRegex(unit, r"(?m)^ExecStart=%s/bin/obraBi$" % re.escape(prefix))
            # The guide the unit points at is where it was installed.
            guide = re.search(r"(?m)^Documentation=file:(.*)$", unit)
            self.assertIsNotNone(guide, unit)
            self.assertEqual(guide[1], prefix + "/share/doc/obraBi/README.md")
            self.assertTrue(os.path.isfile(dest + guide[1]), guide[1])
        files = sorted(os.path.relpath(os.path.join(top, n), dest)
                       for top, _, names in os.walk(dest) for n in names)
        self.assertEqual(len(files), len(TREE), files)
        for pattern, mode in TREE:
            found = [os.path.join(dest, f) for f in files if re.fullmatch(pattern, f)]
            self.assertEqual(len(found), 1, (pattern, files))
            self.assertEqual("-> " + os.readlink(found[0]) if os.path.islink(found[0]) else
                             oct(os.stat(found[0]).st_mode & 0o777), mode, found[0])
        self.assertEqual(Path(dest + "/usr/bin/obraBi").read_bytes(), Path(BIN).read_bytes())
        self.assertEqual(Path(dest + "/usr/share/doc/obraBi/README.md").read_bytes(),
                         Path(os.path.join(SOURCE, "README.md")).read_bytes())
        para = Path(dest + "/usr/share/doc/obraBi/examples/obraBi_para").read_text()
        for key in ("OUT_DEST", "OUT_SRC", "IN_DEST", "IN_SRC"):
            self.assertRegex(para, r"(?m)^%s=(\d{1,3}\.){3}\d{1,3}$" % key)
        self.assertNotRegex(para, r"(?m)^WAIT=on")
        for line in (r"After=.*network-online\.target", r"Wants=.*network-online\.target", "Restart=always$"):
            self.assertRegex(unit, "(?m)^" + line)

    @unittest.skipUnless(shutil.which("systemd-analyze") or os.environ.get("CI"),
                         "systemd-analyze is not installed")
    def test_installed_unit_verifies_and_is_sandboxed(self):
        if not BUILD:
            self.skipTest("OBRABI_BUILD_DIR not set (ctest sets it)")
        dest = tempfile.mkdtemp(prefix="obrabi-unit-")
        self.addCleanup(shutil.rmtree, dest, True)
        r = subprocess.run([CMAKE, "--install", BUILD, "--prefix", "/usr"],
                           env=dict(os.environ, DESTDIR=dest), capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        installed = Path(dest, "usr/lib/systemd/system/obraBi.service")
        unit = installed.read_text()
        # verify checks that ExecStart is executable: point it at the installed binary.
        path = Path(dest, "obraBi.service")
        path.write_text(unit.replace("ExecStart=/usr", "ExecStart=" + dest + "/usr"))
        r = subprocess.run(["systemd-analyze", "verify", path], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(r.stdout + r.stderr, "")
        r = subprocess.run(["systemd-analyze", "security", "--offline=true", installed],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        exposure = re.search(r"Overall exposure level for obraBi\.service: (\d+\.\d)", r.stdout)
        self.assertIsNotNone(exposure, r.stdout)
        self.assertLessEqual(float(exposure[1]), 3.5, r.stdout)
        # Nothing that hides the log in /tmp or the board's devices from the bridge; ProtectClock
        # would, through the device allow list it implies.
        for setting in ("PrivateTmp", "PrivateDevices", "DevicePolicy", "DeviceAllow",
                        "ProtectClock", "PrivateNetwork"):
            self.assertNotRegex(unit, r"(?m)^%s=" % setting)
        for line in ("NoNewPrivileges=yes", "ProtectSystem=full", "ProtectHome=yes",
                     "RestrictAddressFamilies=AF_INET AF_UNIX AF_NETLINK",
                     "SystemCallFilter=@system-service"):
            self.assertRegex(unit, r"(?m)^%s$" % re.escape(line))

def pcap_of(datagrams):
    """A capture file (Ethernet, IPv4, UDP) of the payloads sent to the given ports."""
    out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
    for number, (port, payload) in enumerate(datagrams):
        udp = struct.pack(">HHHH", 40000, port, 8 + len(payload), 0) + payload
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), number, 0, 64, 17, 0,
                         bytes([198, 18, 0, 1]), bytes([198, 18, 0, 2]))
        total = sum(struct.unpack(">10H", ip))
        total = (total & 0xFFFF) + (total >> 16)
        ip = ip[:10] + struct.pack(">H", ~(total + (total >> 16)) & 0xFFFF) + ip[12:]
        frame = bytes(12) + b"\x08\x00" + ip + udp
        out += struct.pack("<IIII", number, 0, len(frame), len(frame)) + frame
    return out


class DissectorTest(unittest.TestCase):
    """dist/obrabi.lua on a capture with each kind of counter step and of dropped length."""

    def test_counter_steps_and_lengths_are_flagged(self):
        tshark = shutil.which("tshark")
        if tshark is None and not os.environ.get("CI"):
            self.skipTest("tshark is not installed")
        packet = lambda counter: PACKET[:772] + counter.to_bytes(2, "big") + bytes(2)  # noqa: E731
        dropped = "Datagram of %d bytes, not 776: the bridge drops it"
        # Port, payload, then what the dissector shows: counter, frames missing, expert text.
        rows = [(4956, packet(65534), "65534", "", ""),
                (4956, packet(65535), "65535", "0", ""),
                (4956, packet(0), "0", "0", ""),  # the counter wraps
                (4956, packet(0), "0", "0", "Frame counter 0 repeats"),
                (4956, packet(3), "3", "2", "Frame counter jumps by 3"),
                (4956, packet(2), "2", "0", "Frame counter 2 comes 1 behind the highest: late"),
                (4956, packet(4), "4", "0", ""),
                (4956, b"", "", "", dropped % 0),
                (49501, b"", "", "", dropped % 0),
                (4956, PACKET[:100], "", "", dropped % 100),
                (5000, b"", "", "", "")]  # not the bridge's port
        with tempfile.NamedTemporaryFile(suffix=".pcap") as capture:
            capture.write(pcap_of([(port, payload) for port, payload, *_ in rows]))
            capture.flush()
            r = subprocess.run([tshark, "-n", "-r", capture.name, "-X", "lua_script:" + LUA,
                                "-T", "fields", "-E", "separator=|", "-e", "obrabi.counter",
                                "-e", "obrabi.counter_gap", "-e", "_ws.expert.message"],
                               capture_output=True, text=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn("Lua: Error", r.stderr)
        shown = r.stdout.splitlines()
        self.assertEqual(len(shown), len(rows), r.stdout)
        for number, (row, line) in enumerate(zip(rows, shown), 1):
            with self.subTest(frame=number):
                self.assertEqual(line.split("|"), list(row[2:]))


if __name__ == "__main__":
    unittest.main()
