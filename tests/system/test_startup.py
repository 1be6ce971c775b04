"""Start-up of obraBi on simulated boards: exit statuses and their messages, the gates that
park it, the codec bring-up read from the device trace, and the log target."""

import glob
import os
import shutil
import signal
import time
import unittest

from obrabi import BIN, SystemTest, wait_until

VALID = {"OUT_DEST": "127.0.0.1", "OUT_SRC": "127.0.0.1", "IN_DEST": "127.0.0.1",
         "IN_SRC": "127.0.0.1"}
AUDIO_OPEN = "init Audio Device(/dev/codec_audioBi)...."
CONTROL, AUDIO = "/dev/mem reg 0x22=", "/dev/codec_audioBi "


def unlink(node, then=lambda path: None):  # removes a node of the board, puts then(path) there
    return lambda b: os.unlink(b.path(node)) or then(b.path(node))


def unreadable_para(b):  # root reads every file: an unprivileged user runs a copy
    os.chmod(b.path("/var/obraBi_para"), 0)
    shutil.copy(BIN, b.path("/sim/obraBi_to_screen"))  # the build may be closed to that user
    for path in [b.path(d) for d in ("/tmp", "/sim", "")] + glob.glob(b.path("/dev/*")):
        os.chmod(path, 0o1777 if path.endswith("/tmp") else 0o755 if os.path.isdir(path) else 0o666)
    return {"program": b.path("/sim/obraBi_to_screen"), "user": 65534}


def case(name, outcome, texts=(), para=VALID, prepare=None, intercomm="1", dac=0x20, gpio=None,
         **conf):
    return name, para, conf, intercomm, prepare, outcome, list(texts), dac, gpio


def invalid(key, value=""):
    return ["/var/obraBi_para/%s : %s, invalid" % (key, value)]


def bad(key, value, **conf):  # value None: the key is missing
    return case("%s=%r" % (key, value), 0, invalid(key, value or ""), dict(VALID, **{key: value}),
                **conf)


# Outcome: an exit status, "signal", "parked" (alive, even after SIGUSR1) or "runs" (codec set
# up: MAX9850 at dac, None: no I2C driver; run by GPIO line gpio, None: the FPGA control bit).
# Texts are seen once each. Status 1 rows run in host a's namespace; new boards: 0x2D54, 0x0102.
CASES = (
    case("no memory device", 0, ["Error: /dev/kmem does not exist"], prepare=unlink("/dev/mem")),
    bad("OUT_DEST", None), bad("OUT_DEST", "255.255.255.255"), bad("OUT_SRC", "10.0.0.300"),
    bad("IN_DEST", "host%x"), bad("IN_SRC", "", variant="0x2D52"),
    bad("IN_SRC", None, variant="0x2D52"),  # optional on the 0x2D54 only
    case("only the first invalid named", 0, invalid("OUT_DEST", "nowhere"),
         dict(VALID, OUT_DEST="nowhere", IN_DEST="nowhere")),
    # Nobody writes to the FIFO: a reader that waited for a writer would hang.
    case("FIFO as parameter file", 0, invalid("OUT_DEST"),
         prepare=unlink("/var/obraBi_para", os.mkfifo)),
    case("audio node unopenable", 0, ["make device .../dev/codec_audioBi...",
                                      "Error! open /dev/codec_audioBi", "Error! open fd_audioDev"],
         prepare=unlink("/dev/codec_audioBi", lambda p: os.symlink(p + ".d/nowhere", p))),
    case("no SPI port", "signal", ["can't open spidev.1", "can't open device"],
         prepare=unlink("/dev/spidev.1")),
    case("receive port taken", 1, ["init Receiver !!!!!", "Server-bind() error lol!"], {},
         prepare="hold"),
    # 198.18.0.99 is no address of the host (qemu-user refuses IP_MULTICAST_IF for any).
    case("multicast interface", 1, ["init Receiver !!!!!", "setsockopt error...!"],
         dict(OUT_DEST="239.1.2.3", OUT_SRC="198.18.0.99")),
    # inet_addr accepts the hexadecimal form, the name lookup does not; the resolver's reason
    # is given (which one depends on the host's resolver), not a stale "Success".
    case("name lookup", 1, ["init Receiver !!!!!", "get peer hostbyname() error lol!: "],
         dict(OUT_DEST="0x7f.0.0.1")),
    case("no parameter file", "parked", ["no /var/obraBi_para"], prepare=unlink("/var/obraBi_para")),
    case("unreadable parameter file", "parked", ["no /var/obraBi_para"], prepare=unreadable_para),
    case("WAIT=on", "parked", ["WAIT is on"], dict(WAIT="on", **VALID)),
    case("WAIT=on CR", "parked", ["WAIT is on"], dict(WAIT="on\r", **VALID)),
    case("FPGA version 256", "parked", ["init Conversion table....."], fpga_version="0x100"),
    case("INTERCOMM=0", "parked", ["init Conversion table....."], intercomm="0"),
    case("INTERCOMM missing", "runs", intercomm=None),
    # What inet_addr ignores after a blank is dropped: logged and used without it.
    case("addresses with trailing blanks and comments", "runs",
         ["udpServerIp=127.0.0.1", "multicast=127.0.0.1:4956,", "Recv Ip=127.0.0.1:4956"],
         dict(VALID, OUT_DEST="127.0.0.1 ", IN_DEST="127.0.0.1  # me")),
    case("board 0x2D52", "runs", dac=0x22, variant="0x2D52"),
    case("FPGA version 257, audio node made", "runs", ["make device .../dev/codec_audioBi..."],
         prepare=unlink("/dev/codec_audioBi"), gpio=11, fpga_version="0x0101"),
    case("no I2C driver", "runs", prepare=unlink("/dev/i2c-sw"), dac=None),
) + tuple(case("WAIT=%r" % v, "runs", para=dict(WAIT=v, **VALID)) for v in ("ON", "off", "on ")) + \
    tuple(case("INTERCOMM=%r" % v, "runs", intercomm=v) for v in ("00", " 0"))


class StartupTest(SystemTest):
    def test_exit_statuses_parking_and_bring_up(self):
        runs = []
        for name, para, conf, intercomm, prepare, outcome, texts, dac, gpio in CASES:
            if outcome == 1:
                para = dict({k: self.net.addr["a"] for k in VALID}, **para)
            b = self.board(para=para, conf=conf, env={"INTERCOMM": intercomm})
            kw = prepare(b) if callable(prepare) else None
            netns = self.net.ns("a") if outcome == 1 else None
            if prepare == "hold":  # by a first copy, which got there first
                self.assertTrue(self.start(self.board(para=para), netns=netns).wait_for("Recv Ip="))
            p = self.start(b, netns=netns, **(kw or {}))
            runs.append((name, b, p, outcome, texts, dac, gpio))
        for name, b, p, outcome, texts, dac, gpio in runs:
            with self.subTest(name):
                if outcome == "runs":
                    self.check_bring_up(b, p, dac, gpio)
                elif outcome == "parked":
                    self.assertIsNotNone(p.wait_for(texts[0]), p.output())
                    time.sleep(1)  # a parked process sleeps for ever: it must not end
                    os.kill(p.proc.pid, signal.SIGUSR1)
                    self.assertIsNone(p.wait_exit(3), p.output() + p.output(1))
                    self.assertIsNone(p.find(AUDIO_OPEN), p.output())
                elif outcome == "signal":
                    self.assertLess(p.wait_exit(), 0, p.output())  # abort
                else:
                    self.assertEqual(p.wait_exit(), outcome, p.output() + p.output(1))
                lines = p.output() + p.output(1)
                for text in texts:
                    self.assertEqual(sum(1 for l in lines if l.startswith(text)), 1, lines)
                self.assertEqual(sum(1 for l in p.output() if "invalid" in l),
                                 sum(1 for t in texts if "invalid" in t), lines)
                self.assertFalse([l for l in lines if "terminate called" in l or
                                  l.endswith("lol!: Success") or
                                  "WAIT is on" in l and outcome == "runs"], lines)
                p.stop()

    def check_bring_up(self, b, p, dac, gpio):
        traced = lambda: b.read("/sim/trace.log", "").splitlines()  # noqa: E731
        # Complete with the receive loop's first request, 0x0D.
        self.assertTrue(wait_until(lambda: AUDIO + "0xd arg=0x0" in traced() or not p.alive()),
                        p.output() + p.output(1))
        self.assertTrue(p.alive(), p.output())
        out, trace = p.output(), traced()
        self.assertEqual((p.count("init ADC(1):AK5701 (8000Hz),Port:1 "),
                          p.count("end of Ak5701....")), (3, 3), out)
        # Three AK5701 set-ups of 21 writes ending with the environment's gain 0 and ALC on.
        spi = [l.split(" tx=")[1] for l in trace if l.startswith("/dev/spidev.1 ") and
               " len=0x2 speed=0x7a120 bits=0x8 tx=" in l]
        self.assertEqual((len(spi), spi[19::21], spi[20::21]), (63, ["b300"] * 3, ["bc80"] * 3))
        i2c = [l for l in trace if l.startswith("/dev/i2c-sw ")]
        if dac is None:  # only reported, once per write
            self.assertEqual(i2c, [])
            self.assertTrue(wait_until(lambda: len(p.output(1)) >= 10, 10))
            self.assertEqual(p.output(1), ["/dev/i2c-sw: No such file or directory"] * 10)
        else:
            self.assertEqual([l.split()[2] for l in i2c], ["addr=0x%x" % dac] * 10, i2c)
            self.assertEqual(p.count("init MAX9850 4 Intercomm (8000Hz) "), 1, out)
            # A 0x0B follows the last DAC write, before the receive loop starts with 0x0D.
            after = [l for l in trace[trace.index(i2c[-1]):] if l.startswith(AUDIO)]
            self.assertIn(AUDIO + "0xb arg=0x0", after[:after.index(AUDIO + "0xd arg=0x0")])
        gpio_lines = [l for l in trace if l.startswith("/dev/codec-gpio1 ")]
        control = [int(l[len(CONTROL):], 16) & 1 for l in trace if l.startswith(CONTROL)]
        if gpio is None:  # set at start, pulsed low by each ADC set-up, set at the end
            self.assertEqual((gpio_lines, control[-1:]), ([], [1]), control)
            self.assertGreaterEqual(control.count(0), 2, control)
        else:
            self.assertEqual((gpio_lines, control),
                             (["/dev/codec-gpio1 0x%x arg=0x1" % (0x02000000 | gpio)], []))


if __name__ == "__main__":
    unittest.main()
