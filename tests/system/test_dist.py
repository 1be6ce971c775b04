"""What the installers use: the init script (dist/obraBi.init) on simulated boards, under the
system's sh and BusyBox's ash as on the board, and `cmake --install` of the build under test
into a temporary DESTDIR (ctest passes OBRABI_BUILD_DIR and OBRABI_CMAKE)."""

import os
import re
import shutil
import socket
import subprocess
import tempfile
import unittest

from obrabi import BIN, EMULATOR, SOURCE, BoardTestCase, wait_until

SCRIPT = os.path.join(SOURCE, "dist", "obraBi.init")
BUILD = os.environ.get("OBRABI_BUILD_DIR", "")
CMAKE = os.environ.get("OBRABI_CMAKE") or shutil.which("cmake") or "cmake"
# Under the prefix /usr; "lib" may be a multiarch folder (lib/x86_64-linux-gnu).
TREE = ((r"usr/bin/obraBi", "program"), (r"usr/bin/obraBi_to_screen", "link"),
        (r"etc/init.d/S90obraBi", "script"), (r"usr/lib/systemd/system/obraBi\.service", "file"),
        (r"usr/share/doc/obraBi/README\.md", "file"),
        (r"usr/share/doc/obraBi/examples/obraBi_para", "file"),
        (r"usr/lib(/[^/]+)?/wireshark/plugins/obrabi\.lua", "file"))


def copies(program):
    """Pids of the live processes whose command line names the program."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                words = f.read().split(b"\0")
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if program.encode() in words and state not in ("Z", "X"):
            pids.append(int(pid))
    return pids


def read(path):
    with open(path, "rb") as f:
        return f.read()


class InitScriptTest(BoardTestCase):
    def script(self, shell, board, command):
        env = dict(os.environ, OBRABI_ROOT=board.root, OBRABI_LAUNCHER=" ".join(EMULATOR),
                   OBRABI_DEFAULTS=board.path("/etc/default/obraBi"))
        env.pop("OBRABI_BIN", None)
        argv = shell + [SCRIPT, command]
        if os.geteuid() == 0 and command in ("start", "restart"):  # a network of its own
            argv = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + argv
        r = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=300)
        return r.returncode, (r.stdout + r.stderr).strip()

    def test_shellcheck(self):
        if shutil.which("shellcheck") is None:
            self.skipTest("shellcheck is not installed")
        r = subprocess.run(["shellcheck", "-s", "sh", SCRIPT], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout)

    def test_start_status_restart_stop(self):
        for shell in [["sh"]] + ([["busybox", "sh"]] if shutil.which("busybox") else []):
            with self.subTest(shell=" ".join(shell)):
                b = self.board()
                program = b.program("obraBi")  # logs to the board's /tmp/.print_obraBi
                b.configure(no_such_key=1)  # the simulated board complains on standard error
                pidfile = b.path("/var/run/obraBi.pid")
                b.write("/etc/default/obraBi", "OBRABI_BIN=%s\nOBRABI_PIDFILE=%s\nOBRABI_OUTPUT=%s\n"
                        % (program, pidfile, b.path("/tmp/obraBi.out")))
                self.addCleanup(lambda p=program: [os.kill(pid, 9) for pid in copies(p)])
                run = lambda command: self.script(shell, b, command)  # noqa: E731

                self.assertEqual(run("status")[0], 3)
                code, out = run("start")
                self.assertEqual(code, 0, out)
                pid = int(b.read("/var/run/obraBi.pid"))
                self.assertEqual(copies(program), [pid])
                self.assertIn("obraBi started (pid %d)" % pid, out)
                log = lambda: b.read("/tmp/.print_obraBi", "")  # noqa: E731
                self.assertTrue(wait_until(lambda: "Recv Ip=127.0.0.1:4956" in log()), log())
                self.assertIn("unknown key no_such_key", b.read("/tmp/obraBi.out"))
                self.assertEqual(run("status"), (0, "obraBi is running (pid %d)" % pid))
                self.assertEqual(run("start"), (0, "obraBi already running (pid %d)" % pid))
                self.assertEqual(copies(program), [pid])
                code, out = run("restart")
                self.assertEqual(code, 0, out)
                new = int(b.read("/var/run/obraBi.pid"))
                self.assertNotEqual(new, pid)
                self.assertEqual(copies(program), [new])
                self.assertEqual(run("stop"), (0, "obraBi stopped"))
                self.assertEqual(copies(program), [])
                self.assertFalse(os.path.exists(pidfile))
                self.assertEqual(run("status")[0], 3)
                self.assertEqual(run("stop"), (0, "obraBi not running"))
                # A pid file left by a copy that died: status says so, start starts afresh.
                dead = subprocess.Popen(["true"])
                dead.wait()
                b.write("/var/run/obraBi.pid", "%d\n" % dead.pid)
                self.assertEqual(run("status")[0], 1)
                self.assertEqual(run("start")[0], 0)
                self.assertEqual(len(copies(program)), 1)
                self.assertEqual(run("stop")[0], 0)
                self.assertEqual(copies(program), [])
                code, out = run("reload-everything")
                self.assertEqual(code, 2)
                self.assertIn("usage:", out)


class InstallTest(unittest.TestCase):
    def install(self, prefix):
        if not BUILD:
            self.skipTest("OBRABI_BUILD_DIR not set (ctest sets it)")
        dest = tempfile.mkdtemp(prefix="obrabi-inst-")
        self.addCleanup(shutil.rmtree, dest, True)
        r = subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix],
                           env=dict(os.environ, DESTDIR=dest), capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return dest

    def test_tree_under_usr(self):
        dest = self.install("/usr")
        files = sorted(os.path.relpath(os.path.join(top, n), dest)
                       for top, _, names in os.walk(dest) for n in names)
        self.assertEqual(len(files), len(TREE), files)
        for pattern, kind in TREE:
            with self.subTest(pattern):
                found = [f for f in files if re.fullmatch(pattern, f)]
                self.assertEqual(len(found), 1, files)
                path = os.path.join(dest, found[0])
                if kind == "link":
                    self.assertEqual(os.readlink(path), "obraBi")
                else:
                    self.assertFalse(os.path.islink(path))
                    self.assertEqual(os.stat(path).st_mode & 0o111 == 0o111,
                                     kind in ("program", "script"), oct(os.stat(path).st_mode))
        self.assertEqual(read(dest + "/usr/bin/obraBi"), read(BIN))
        self.assertEqual(read(dest + "/usr/share/doc/obraBi/README.md"),
                         read(os.path.join(SOURCE, "README.md")))
        values = {}
        for line in read(dest + "/usr/share/doc/obraBi/examples/obraBi_para").decode().splitlines():
            key, eq, value = line.partition("=")
            if eq and key.isupper():
                values.setdefault(key, value)
        for key in ("OUT_DEST", "OUT_SRC", "IN_DEST", "IN_SRC"):
            self.assertRegex(values.get(key, ""), r"^\d+\.\d+\.\d+\.\d+$", key)
            socket.inet_aton(values[key])
        self.assertNotEqual(values.get("WAIT"), "on")

    def test_start_up_files_name_the_installed_binary(self):
        for prefix, etc in (("/opt/obrabi", "/opt/obrabi/etc"), ("/usr", "/etc")):
            with self.subTest(prefix=prefix):
                dest = self.install(prefix)
                script = read(dest + etc + "/init.d/S90obraBi").decode()
                unit = read(dest + prefix + "/lib/systemd/system/obraBi.service").decode()
                self.assertIn("OBRABI_BIN=${OBRABI_BIN:-%s/bin/obraBi}" % prefix, script)
                self.assertRegex(unit, r"(?m)^ExecStart=%s/bin/obraBi$" % re.escape(prefix))
                self.assertTrue(os.access(dest + prefix + "/bin/obraBi", os.X_OK))
        for pattern in (r"(?m)^After=.*network-online\.target", r"(?m)^Wants=.*network-online\.target",
                        r"(?m)^Restart=always$"):
            self.assertRegex(unit, pattern)
        if shutil.which("systemd-analyze") is None:
            self.skipTest("systemd-analyze is not installed")
        # verify checks that ExecStart is executable: the unit of the last prefix points there.
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "obraBi.service"), "w") as f:
                f.write(unit.replace("ExecStart=" + prefix, "ExecStart=" + dest + prefix))
            r = subprocess.run(["systemd-analyze", "verify", f.name], capture_output=True,
                               text=True)
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
