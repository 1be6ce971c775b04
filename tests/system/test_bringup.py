"""Hardware bring-up of obraBi on simulated boards, read from the device trace.

After the board gates the bridge opens the audio data device, lets the codec run (FPGA
control bit or GPIO line, by FPGA version), programs the AK5701 three times over SPI port 1
and the MAX9850 once over I2C, then issues control request 0x0B on the audio device.
"""

import os
import unittest

from obrabi import BoardTestCase, wait_until

SPI_PREFIX = "/dev/spidev.1 "
I2C_PREFIX = "/dev/i2c-sw "
AUDIO_B = "/dev/codec_audioBi 0xb arg=0x0"
AUDIO_D = "/dev/codec_audioBi 0xd arg=0x0"
CONTROL_PREFIX = "/dev/mem reg 0x22="


def ak(reg, value):
    return "%02x%02x" % (0xA0 | reg, value)


def adc_run(c8=0x37, gain=0x00, alc=0x80):
    """One adc_setup(1, 8000, 1): the 19 writes of the 8000 Hz sequence, gain and ALC."""
    block_p = [ak(0x11, 0x35), ak(0x14, 0x23), ak(0x10, 0x07), ak(0x16, 0x04), ak(0x11, 0x37)]
    block_r = [ak(0x11, 0x35), ak(0x14, 0x23), ak(0x15, 0x20), ak(0x10, 0x07), ak(0x16, 0x04),
               ak(0x11, c8)]
    block_f = [ak(0x18, 0xA1), ak(0x19, 0xA1), ak(0x13, 0x00), ak(0x12, 0x10), ak(0x12, 0x10),
               ak(0x10, 0x04), ak(0x10, 0x07)]
    return block_p + [ak(0x15, 0x20)] + block_r + block_f + [ak(0x13, gain), ak(0x1C, alc)]


def dac_writes(addr):
    steps = [(0x05, 0xFC), (0x03, 0x09), (0x04, 0x00), (0x06, 0x00), (0x08, 0x80), (0x09, 0x10),
             (0x0A, 0x00), (0x07, 0x49), (0x09, 0x60), (0x05, 0xFD)]
    return ["/dev/i2c-sw 0x2 addr=0x%x reg=0x%x len=0x1 data=%02x" % (addr, r, v)
            for r, v in steps]


def spi_tx(trace):
    return [l.split(" tx=")[1] for l in trace if l.startswith(SPI_PREFIX) and " tx=" in l]


class BringupTest(BoardTestCase):
    def run_on(self, b):
        return BoardTestCase.start(self, b)

    def start(self, conf):
        b = self.board(conf=conf)
        return b, self.run_on(b)

    def wait_bringup(self, b, p):
        """Waits until the bring-up is complete: the receive loop's first request (0x0D)."""
        self.assertIsNotNone(p.wait_for("init Receiver !!!!!"), p.output())
        self.assertTrue(wait_until(lambda: AUDIO_D in b.trace() or not p.alive()),
                        p.output() + p.error_output())
        self.assertTrue(p.alive(), p.output())
        return b.trace()

    def check_common(self, b, p, trace, dac):
        out = p.output()
        self.assertEqual(p.count("init ADC(1):AK5701 (8000Hz),Port:1 "), 3, out)
        self.assertEqual(p.count("end of Ak5701...."), 3, out)
        self.assertEqual(p.count("init MAX9850 4 Intercomm (8000Hz) "), 1, out)
        self.assertEqual(spi_tx(trace), adc_run() * 3)
        self.assertEqual([l for l in trace if l.startswith(I2C_PREFIX)], dac_writes(dac))
        # Every transfer: two bytes at 500 kHz, 8 bits per word.
        for l in trace:
            if l.startswith(SPI_PREFIX) and " tx=" in l:
                self.assertIn(" len=0x2 speed=0x7a120 bits=0x8 tx=", l)
        # A 0x0B follows the last DAC write, before the receive loop starts with 0x0D.
        last_i2c = max(i for i, l in enumerate(trace) if l.startswith(I2C_PREFIX))
        after_dac = [l for l in trace[last_i2c:] if l.startswith("/dev/codec_audioBi ")]
        self.assertIn(AUDIO_B, after_dac[:after_dac.index(AUDIO_D)], after_dac)
        self.assertLess(out.index("init Audio Device(/dev/codec_audioBi)....\r"),
                        out.index("init Receiver !!!!!"))

    def test_three_boards(self):
        boards = [
            # (board.conf, DAC address, codec run by: None = control bit, or GPIO line)
            ({"variant": "0x2D54", "fpga_version": "0x0102"}, 0x20, None),
            ({"variant": "0x2D52", "fpga_version": "0x0102"}, 0x22, None),
            ({"variant": "0x2D54", "fpga_version": "0x0101"}, 0x20, 11),
        ]
        started = [(self.start(conf), dac, line) for conf, dac, line in boards]
        for (b, p), dac, line in started:
            with self.subTest(conf=b.read("/sim/board.conf").splitlines()[-2:]):
                trace = self.wait_bringup(b, p)
                self.check_common(b, p, trace, dac)
                gpio = [l for l in trace if l.startswith("/dev/codec-gpio1 ")]
                control = [l for l in trace if l.startswith(CONTROL_PREFIX)]
                if line is None:
                    self.assertEqual(gpio, [])
                    # Set at start-up and pulsed low by each ADC set-up; set at the end.
                    self.assertTrue(control, trace)
                    self.assertEqual(int(control[-1][len(CONTROL_PREFIX):], 16) & 1, 1, control)
                    self.assertGreaterEqual(
                        sum(1 for l in control if int(l[len(CONTROL_PREFIX):], 16) & 1 == 0), 2,
                        control)
                else:
                    self.assertEqual(gpio, ["/dev/codec-gpio1 0x%x arg=0x1" % (0x02000000 | line)])
                    self.assertEqual(control, [])
                    first_spi = next(i for i, l in enumerate(trace) if l.startswith(SPI_PREFIX))
                    self.assertLess(trace.index(gpio[0]), first_spi)

    def test_missing_audio_node_is_created_and_an_unopenable_one_ends_the_bridge(self):
        b = self.board()
        os.unlink(b.path("/dev/codec_audioBi"))
        p = self.run_on(b)
        self.assertIsNotNone(p.wait_for("make device .../dev/codec_audioBi..."), p.output())
        self.assertIsNotNone(p.wait_for("init Receiver !!!!!"), p.output())
        self.assertTrue(os.path.exists(b.path("/dev/codec_audioBi")))
        self.assertIn("/dev/codec_audioBi mknod mode=0x21f8 dev=247:0", b.trace())

        # A node that neither exists nor can be made: a link into nowhere.
        b2 = self.board()
        os.unlink(b2.path("/dev/codec_audioBi"))
        os.symlink(b2.path("/nowhere/codec_audioBi"), b2.path("/dev/codec_audioBi"))
        p2 = self.run_on(b2)
        self.assertEqual(p2.wait_exit(), 0, p2.output())
        out = p2.output()
        self.assertIn("make device .../dev/codec_audioBi...\r", out)
        self.assertIn("Error! open /dev/codec_audioBi\r", out)
        self.assertIn("Error! open fd_audioDev\r", out)
        self.assertNotIn("init Receiver !!!!!", out)

    def test_missing_spi_port_aborts_and_missing_i2c_driver_is_only_reported(self):
        b = self.board()
        os.unlink(b.path("/dev/spidev.1"))
        p = self.run_on(b)
        status = p.wait_exit()
        self.assertIsNotNone(status, p.output())
        self.assertLess(status, 0, "ended by a signal (abort)")
        self.assertTrue(wait_until(lambda: any("can't open device" in l
                                                for l in p.error_output()), 10),
                        p.error_output())
        self.assertIn("can't open spidev.1", p.output())

        b2 = self.board()
        os.unlink(b2.path("/dev/i2c-sw"))
        p2 = self.run_on(b2)
        self.wait_bringup(b2, p2)
        self.assertTrue(wait_until(lambda: len(p2.error_output()) >= 10, 10))
        self.assertEqual(p2.error_output(), ["/dev/i2c-sw: No such file or directory"] * 10)
        self.assertEqual([l for l in b2.trace() if l.startswith(I2C_PREFIX)], [])
        self.assertEqual(len(spi_tx(b2.trace())), 3 * len(adc_run()))


if __name__ == "__main__":
    unittest.main()
