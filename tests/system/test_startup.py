"""Start-up of obraBi on simulated boards: log target, parameter file, addresses and gates."""

import os
import re
import subprocess
import time
import unittest

from obrabi import BIN, EMULATOR, BoardTestCase

VALID = {"OUT_DEST": "127.0.0.1", "OUT_SRC": "127.0.0.1", "IN_DEST": "127.0.0.1",
         "IN_SRC": "127.0.0.1"}
# A parked process sleeps for ever; this long a look shows it did not end on its own.
SETTLE = 1.5


class StartupTest(BoardTestCase):
    def expect_exit(self, para, message, conf=None):
        b = self.board(para=para, conf=conf)
        p = self.start(b)
        self.assertEqual(p.wait_exit(), 0, p.output())
        self.assertIn(message, p.output())
        return p

    def expect_parked(self, p, message=None):
        if message is not None:
            self.assertIsNotNone(p.wait_for(message), p.output())
        time.sleep(SETTLE)
        self.assertTrue(p.alive(), p.output())
        if message is not None:
            self.assertEqual(p.output().count(message), 1, p.output())

    # The parameter file -------------------------------------------------------------------

    def test_missing_parameter_file_parks_with_one_message(self):
        b = self.board()
        os.unlink(b.path("/var/obraBi_para"))
        self.expect_parked(self.start(b), "no /var/obraBi_para")

    def test_unreadable_parameter_file_parks_with_one_message(self):
        b = self.board()
        os.chmod(b.path("/var/obraBi_para"), 0)
        os.chmod(b.path("/tmp"), 0o1777)
        os.chmod(b.root, 0o755)
        for node in os.listdir(b.path("/dev")):
            os.chmod(b.path("/dev/" + node), 0o666)
        # Root reads every file: the check is shown by an unprivileged user, who runs a copy
        # of the binary, since the build directory may be closed to that user.
        os.chmod(b.path("/sim"), 0o755)
        p = self.start(b, program=b.program(copy=True), user=65534)
        self.expect_parked(p, "no /var/obraBi_para")

    def test_fifo_as_parameter_file_reads_as_a_file_without_keys(self):
        # Nobody writes to the FIFO: a reader that waited for a writer would hang here.
        b = self.board()
        os.unlink(b.path("/var/obraBi_para"))
        os.mkfifo(b.path("/var/obraBi_para"))
        p = self.start(b)
        self.assertEqual(p.wait_exit(), 0, p.output())
        self.assertEqual(p.output(), ["/var/obraBi_para/OUT_DEST : , invalid"])

    def test_wait_on_parks_and_other_values_do_not(self):
        for value, parks in (("on", True), ("on\r", True), ("ON", False), ("off", False),
                             ("on ", False)):
            with self.subTest(value=repr(value)):
                para = "WAIT=%s\n" % value + "".join(f"{k}={v}\n" for k, v in VALID.items())
                b = self.board(para=para)
                p = self.start(b)
                if parks:
                    self.expect_parked(p, "WAIT is on")
                else:
                    self.assertIsNotNone(p.wait_for("init Conversion table....."), p.output())
                    self.assertNotIn("WAIT is on", p.output())
                p.stop()

    # Addresses ----------------------------------------------------------------------------

    def test_missing_out_dest_exits_with_empty_value(self):
        para = {k: v for k, v in VALID.items() if k != "OUT_DEST"}
        self.expect_exit(para, "/var/obraBi_para/OUT_DEST : , invalid")

    def test_each_invalid_address_is_named_with_its_value(self):
        for key, value in (("OUT_DEST", "255.255.255.255"), ("OUT_SRC", "10.0.0.300"),
                           ("IN_DEST", "host%x"), ("IN_SRC", "")):
            with self.subTest(key=key):
                para = dict(VALID, **{key: value})
                p = self.expect_exit(para, f"/var/obraBi_para/{key} : {value}, invalid",
                                     conf={"variant": "0x2D52"})
                self.assertEqual(len([l for l in p.output() if "invalid" in l]), 1)

    def test_only_the_first_invalid_address_is_reported(self):
        para = dict(VALID, OUT_DEST="nowhere", IN_DEST="nowhere")
        p = self.expect_exit(para, "/var/obraBi_para/OUT_DEST : nowhere, invalid")
        self.assertFalse(any("IN_DEST" in l for l in p.output()), p.output())

    def test_in_src_is_optional_only_on_the_variant_board(self):
        para = {k: v for k, v in VALID.items() if k != "IN_SRC"}
        self.expect_exit(para, "/var/obraBi_para/IN_SRC : , invalid", conf={"variant": "0x2D52"})
        b = self.board(para=para)  # the new board is the variant board 0x2D54
        p = self.start(b)
        self.assertIsNotNone(p.wait_for("init Conversion table....."), p.output())
        self.expect_parked(p)
        self.assertFalse(any("invalid" in l for l in p.output()), p.output())

    # Board gates --------------------------------------------------------------------------

    def test_fpga_version_256_parks_before_intercomm_is_read(self):
        dump = "/tmp/.env.d.result.obraBi_to_screen"
        b = self.board(para=VALID, conf={"fpga_version": "0x100"})
        p = self.start(b)
        self.assertIsNotNone(p.wait_for("init Conversion table....."), p.output())
        self.expect_parked(p)
        self.assertIsNone(b.read(dump), "the environment was read")
        # On another version the environment is read (and its dump taken) after the tables.
        b2 = self.board(para=VALID, conf={"fpga_version": "0x102"})
        p2 = self.start(b2)
        self.assertIsNotNone(p2.wait_for("init Conversion table....."), p2.output())
        self.assertTrue(wait_file(b2.path(dump)), "the environment was not read")
        self.assertIn("INTERCOMM=1", b2.read(dump))

    def test_only_intercomm_0_parks(self):
        for value, parks in (("0", True), ("00", False), (" 0", False), ("1", False),
                             (None, False)):
            with self.subTest(value=repr(value)):
                b = self.board(para=VALID)
                b.set_env("INTERCOMM", value)
                p = self.start(b)
                self.assertIsNotNone(p.wait_for("init Conversion table....."), p.output())
                if parks:
                    self.expect_parked(p)
                    self.assertNotIn("init Audio Device(/dev/codec_audioBi)....\r", p.output())
                else:
                    self.assertIsNotNone(p.wait_for("init Audio Device(/dev/codec_audioBi)...."),
                                         p.output())
                p.stop()

    # Memory device and log target ---------------------------------------------------------

    def test_missing_memory_device_ends_the_process(self):
        b = self.board(para=VALID)
        os.unlink(b.path("/dev/mem"))
        p = self.start(b)
        self.assertEqual(p.wait_exit(), 0)
        self.assertEqual(p.output(), ["Error: /dev/kmem does not exist"])

    def test_plain_name_logs_to_the_file_with_time_prefixes(self):
        para = {k: v for k, v in VALID.items() if k != "OUT_SRC"}
        b = self.board(para=para)
        # "_to_screen" only in a directory name does not count: the base name decides.
        d = os.path.join(b.root, "sim", "x_to_screen")
        os.makedirs(d)
        os.symlink(os.path.abspath(BIN), os.path.join(d, "obraBi"))
        p = self.start(b, program=os.path.join(d, "obraBi"))
        self.assertEqual(p.wait_exit(), 0)
        self.assertEqual(p.output(), [])
        log = b.read("/tmp/.print_obraBi").splitlines()
        stamp = r"\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\] "
        self.assertEqual(len(log), 1, log)
        self.assertRegex(log[0], "^" + stamp + re.escape("/var/obraBi_para/OUT_SRC : , invalid") + "$")

    def test_sim_build_without_board_directory_says_how_to_make_one(self):
        env = {k: v for k, v in os.environ.items() if k != "OBRABI_ROOT"}
        r = subprocess.run(EMULATOR + [BIN], env=env, capture_output=True, text=True, timeout=120)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("scripts/new-board", r.stderr)


def wait_file(path, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return True
        time.sleep(0.05)
    return False


if __name__ == "__main__":
    unittest.main()
