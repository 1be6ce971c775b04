"""The init script (dist/obraBi.init) against simulated boards: start, status, a second start
that starts no second copy, restart, stop, and no copy left. It runs under the system's sh
and, where installed, under BusyBox's ash, as on the board.
"""

import os
import shutil
import subprocess
import unittest

from obrabi import EMULATOR, SOURCE, BoardTestCase, wait_until

SCRIPT = os.path.join(SOURCE, "dist", "obraBi.init")


def shells():
    found = [["sh"]]
    if shutil.which("busybox"):
        found.append(["busybox", "sh"])
    return found


def copies(program):
    """Pids of the processes whose command line names the program."""
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


class InitScriptTest(BoardTestCase):
    def test_shellcheck(self):
        if shutil.which("shellcheck") is None:
            self.skipTest("shellcheck is not installed")
        r = subprocess.run(["shellcheck", "-s", "sh", SCRIPT], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout)

    def run_script(self, shell, board, command):
        env = dict(os.environ, OBRABI_ROOT=board.root,
                   OBRABI_DEFAULTS=board.path("/etc/default/obraBi"),
                   OBRABI_LAUNCHER=" ".join(EMULATOR))
        env.pop("OBRABI_BIN", None)
        argv = shell + [SCRIPT, command]
        if os.geteuid() == 0 and command in ("start", "restart"):
            # A network of its own, so that the bridge's port is not shared with other tests.
            argv = ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + argv
        r = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=300)
        return r.returncode, (r.stdout + r.stderr).strip()

    def test_start_status_restart_stop(self):
        for shell in shells():
            with self.subTest(shell=" ".join(shell)):
                b = self.board()
                program = b.program("obraBi")  # logs to the board's /tmp/.print_obraBi
                b.configure(no_such_key=1)  # the simulated board complains on standard error
                pidfile = b.path("/var/run/obraBi.pid")
                # The defaults file is read by the script: the board's settings live there.
                b.write("/etc/default/obraBi",
                        "OBRABI_BIN=%s\nOBRABI_PIDFILE=%s\nOBRABI_OUTPUT=%s\n"
                        % (program, pidfile, b.path("/tmp/obraBi.out")))
                self.addCleanup(lambda p=program: [os.kill(pid, 9) for pid in copies(p)])

                self.assertEqual(self.run_script(shell, b, "status")[0], 3)
                code, out = self.run_script(shell, b, "start")
                self.assertEqual(code, 0, out)
                pid = int(b.read("/var/run/obraBi.pid"))
                self.assertEqual(copies(program), [pid])
                self.assertIn("obraBi started (pid %d)" % pid, out)
                log = lambda: b.read("/tmp/.print_obraBi", "") or ""
                self.assertTrue(wait_until(lambda: "Recv Ip=127.0.0.1:4956" in log()), log())
                # The program's standard error lands in OBRABI_OUTPUT.
                self.assertIn("unknown key no_such_key", b.read("/tmp/obraBi.out"))

                self.assertEqual(self.run_script(shell, b, "status"),
                                 (0, "obraBi is running (pid %d)" % pid))
                self.assertEqual(self.run_script(shell, b, "start"),
                                 (0, "obraBi already running (pid %d)" % pid))
                self.assertEqual(copies(program), [pid])

                code, out = self.run_script(shell, b, "restart")
                self.assertEqual(code, 0, out)
                new = int(b.read("/var/run/obraBi.pid"))
                self.assertNotEqual(new, pid)
                self.assertEqual(copies(program), [new])

                self.assertEqual(self.run_script(shell, b, "stop"), (0, "obraBi stopped"))
                self.assertEqual(copies(program), [])
                self.assertFalse(os.path.exists(pidfile))
                self.assertEqual(self.run_script(shell, b, "status")[0], 3)
                self.assertEqual(self.run_script(shell, b, "stop"), (0, "obraBi not running"))

                # A pid file left by a copy that died: status says so, start starts afresh.
                dead = subprocess.Popen(["true"])
                dead.wait()
                b.write("/var/run/obraBi.pid", "%d\n" % dead.pid)
                self.assertEqual(self.run_script(shell, b, "status")[0], 1)
                self.assertEqual(self.run_script(shell, b, "start")[0], 0)
                self.assertEqual(len(copies(program)), 1)
                self.assertEqual(self.run_script(shell, b, "stop")[0], 0)
                self.assertEqual(copies(program), [])

    def test_usage(self):
        b = self.board()
        code, out = self.run_script(["sh"], b, "reload-everything")
        self.assertEqual(code, 2)
        self.assertIn("usage:", out)


if __name__ == "__main__":
    unittest.main()
