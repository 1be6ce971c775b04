"""Socket set-up failures after the audio device is open: the bridge ends with status 1.

Each bridge runs in a test host's network namespace, so that the receive port can be taken
there beforehand and a failed name lookup cannot reach any resolver outside.
"""

import os
import subprocess
import sys
import unittest

from obrabi import SOURCE, BoardTestCase

sys.path.insert(0, os.path.join(SOURCE, "scripts", "lib"))
from obrabi_netns import Network  # noqa: E402

# Holds UDP port 4956 on every address of the namespace until it is killed.
HOLD_PORT = ("import socket, time\n"
             "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
             "s.bind(('0.0.0.0', 4956))\n"
             "print('held', flush=True)\n"
             "time.sleep(3600)\n")


class ExitStatusTest(BoardTestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            if os.environ.get("CI"):
                raise AssertionError("network namespace tests need root")
            raise unittest.SkipTest("network namespace tests need root")
        cls.net = Network(["a"])

    @classmethod
    def tearDownClass(cls):
        cls.net.close()

    def hold_receive_port(self):
        holder = self.net.popen("a", [sys.executable, "-c", HOLD_PORT], stdout=subprocess.PIPE,
                                text=True)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline().strip(), "held")
        return holder

    def test_socket_failures_end_with_status_1_and_their_message(self):
        here = self.net.addr["a"]
        # (case, parameter file, port taken first, perror text)
        cases = (
            ("bind", {"OUT_DEST": here, "OUT_SRC": here, "IN_DEST": here, "IN_SRC": here},
             True, "Server-bind() error lol!"),
            # 198.18.0.99 is no address of this host. (qemu-user refuses IP_MULTICAST_IF for
            # any address: the status and the message are the same there.)
            ("multicast interface", {"OUT_DEST": "239.1.2.3", "OUT_SRC": "198.18.0.99",
                                     "IN_DEST": here, "IN_SRC": here},
             False, "setsockopt error...!"),
            # inet_addr accepts the trailing blank, the name lookup does not.
            ("name lookup", {"OUT_DEST": "127.0.0.1 ", "OUT_SRC": here, "IN_DEST": here,
                             "IN_SRC": here},
             False, "get peer hostbyname() error lol!"),
        )
        for name, para, take_port, message in cases:
            with self.subTest(name):
                holder = self.hold_receive_port() if take_port else None
                b = self.board(para=para, conf={"variant": "0x2D52"})
                p = self.start(b, netns=self.net.ns("a"))
                status = p.wait_exit()
                p.stop()
                if holder is not None:
                    holder.kill()
                errors = p.error_output()
                self.assertEqual(status, 1, p.output() + errors)
                self.assertTrue(any(l.startswith(message) for l in errors), errors)
                self.assertFalse(any("terminate called" in l for l in errors), errors)
                # The audio device was open: the failure came after the bring-up.
                self.assertIn("init Receiver !!!!!", p.output())


if __name__ == "__main__":
    unittest.main()
