"""`cmake --install` of the build under test into a temporary DESTDIR, and the tree it makes.

ctest passes the build folder (OBRABI_BUILD_DIR) and its cmake (OBRABI_CMAKE). The start-up
files must name the binary where it was installed, whatever the prefix.
"""

import os
import re
import shutil
import socket
import subprocess
import tempfile
import unittest

from obrabi import BIN, SOURCE

BUILD = os.environ.get("OBRABI_BUILD_DIR", "")
CMAKE = os.environ.get("OBRABI_CMAKE") or shutil.which("cmake") or "cmake"

# Where each installed file goes under the prefix /usr, and what it must be. "lib" may be a
# multiarch folder (lib/x86_64-linux-gnu).
EXPECTED = (
    (r"usr/bin/obraBi", "program"),
    (r"usr/bin/obraBi_to_screen", "link"),
    (r"etc/init.d/S90obraBi", "script"),
    (r"usr/lib/systemd/system/obraBi\.service", "file"),
    (r"usr/share/doc/obraBi/README\.md", "file"),
    (r"usr/share/doc/obraBi/examples/obraBi_para", "file"),
    (r"usr/lib(/[^/]+)?/wireshark/plugins/obrabi\.lua", "file"),
)


def install(prefix):
    """Installs the build with the prefix into a new DESTDIR; returns the DESTDIR."""
    dest = tempfile.mkdtemp(prefix="obrabi-inst-")
    r = subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix],
                       env=dict(os.environ, DESTDIR=dest), capture_output=True, text=True)
    if r.returncode != 0:
        shutil.rmtree(dest, True)
        raise AssertionError("cmake --install failed: " + r.stdout + r.stderr)
    return dest


def tree(dest):
    files = []
    for top, _, names in os.walk(dest):
        files += [os.path.relpath(os.path.join(top, n), dest) for n in names]
    return sorted(files)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not BUILD:
            raise unittest.SkipTest("OBRABI_BUILD_DIR not set (ctest sets it)")
        cls.dest = install("/usr")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dest, True)

    def test_tree_under_usr(self):
        files = tree(self.dest)
        self.assertEqual(len(files), len(EXPECTED), files)
        for pattern, kind in EXPECTED:
            with self.subTest(pattern):
                found = [f for f in files if re.fullmatch(pattern, f)]
                self.assertEqual(len(found), 1, files)
                path = os.path.join(self.dest, found[0])
                if kind == "link":
                    self.assertEqual(os.readlink(path), "obraBi")
                else:
                    self.assertFalse(os.path.islink(path))
                    executable = os.stat(path).st_mode & 0o111 == 0o111
                    self.assertEqual(executable, kind in ("program", "script"), oct(os.stat(path).st_mode))
        self.assertEqual(read(os.path.join(self.dest, "usr/bin/obraBi")), read(BIN))
        self.assertEqual(read(os.path.join(self.dest, "usr/share/doc/obraBi/README.md")),
                         read(os.path.join(SOURCE, "README.md")))

    def test_example_parameter_file_has_valid_addresses(self):
        lines = read(os.path.join(self.dest, "usr/share/doc/obraBi/examples/obraBi_para"))
        values = {}
        for line in lines.decode().splitlines():
            key, eq, value = line.partition("=")
            if eq and key.isupper() and key not in values:
                values[key] = value
        for key in ("OUT_DEST", "OUT_SRC", "IN_DEST", "IN_SRC"):
            with self.subTest(key):
                self.assertRegex(values.get(key, ""), r"^\d+\.\d+\.\d+\.\d+$")
                socket.inet_aton(values[key])
        self.assertNotEqual(values.get("WAIT"), "on")

    def test_start_up_files_name_the_installed_binary(self):
        for prefix in ("/usr", "/opt/obrabi"):
            with self.subTest(prefix=prefix):
                dest = self.dest if prefix == "/usr" else install(prefix)
                etc = "/etc" if prefix == "/usr" else prefix + "/etc"
                script = read(dest + etc + "/init.d/S90obraBi").decode()
                unit = read(dest + prefix + "/lib/systemd/system/obraBi.service").decode()
                self.assertIn("OBRABI_BIN=${OBRABI_BIN:-%s/bin/obraBi}" % prefix, script)
                self.assertRegex(unit, r"(?m)^ExecStart=%s/bin/obraBi$" % re.escape(prefix))
                self.assertTrue(os.access(dest + prefix + "/bin/obraBi", os.X_OK))
                if dest != self.dest:
                    shutil.rmtree(dest, True)

    def test_systemd_unit_verifies(self):
        analyze = shutil.which("systemd-analyze")
        if analyze is None:
            self.skipTest("systemd-analyze is not installed")
        unit = read(os.path.join(self.dest, "usr/lib/systemd/system/obraBi.service")).decode()
        self.assertRegex(unit, r"(?m)^After=.*network-online\.target")
        self.assertRegex(unit, r"(?m)^Wants=.*network-online\.target")
        self.assertRegex(unit, r"(?m)^Restart=always$")
        # verify checks that ExecStart is executable: point it at the installed binary.
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "obraBi.service")
            with open(path, "w") as f:
                f.write(unit.replace("ExecStart=/usr/bin/obraBi",
                                     "ExecStart=" + os.path.join(self.dest, "usr/bin/obraBi")))
            r = subprocess.run([analyze, "verify", path], capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
