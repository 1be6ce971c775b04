"""A PC as a live peer: raw audio fed into one simulated board's capture pipe arrives, through
two bridges in network namespaces, bit-exact out of the other board's playback pipe.

The fed signal is speech-like; each of its frames differs from every other after an A-law
round trip, so every frame that comes out of the far pipe names the fed frame it was.
"""

import os
import struct
import sys
import threading
import time
import unittest

from obrabi import SOURCE, BoardTestCase, wait_until
from test_bridge import TestNetwork, require_namespaces

sys.path.insert(0, os.path.join(SOURCE, "scripts", "lib"))
import obrabi_audio as audio  # noqa: E402

FRAME_US = 32000
FRAME = audio.FRAME_SAMPLES
FED_FRAMES = 60
PLAYED_WITHOUT_READER = 10


def frames_of(samples):
    """Whole frames of a list of samples, as tuples."""
    return [tuple(samples[i:i + FRAME]) for i in range(0, len(samples) - FRAME + 1, FRAME)]


def raw_frames(raw):
    """Whole frames of a raw S16_LE stream."""
    return frames_of(struct.unpack("<%dh" % (len(raw) // 2), raw[:len(raw) // 2 * 2]))


def feed(path, samples):
    """Writes the samples into a FIFO as arecord would, blocking while the pipe is full."""
    data = memoryview(struct.pack("<%dh" % len(samples), *samples))
    fd = os.open(path, os.O_WRONLY)
    try:
        while data:
            data = data[os.write(fd, data):]
    finally:
        os.close(fd)


class Drain(threading.Thread):
    """Reads a FIFO as a PC's player would, collecting everything that arrives."""

    def __init__(self, path):
        super().__init__(daemon=True)
        self.fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)  # a reader without a writer yet
        self.data = bytearray()
        self.lock = threading.Lock()
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            try:
                chunk = os.read(self.fd, 65536)
            except BlockingIOError:
                chunk = b""
            if chunk:
                with self.lock:
                    self.data += chunk
            else:
                time.sleep(0.005)

    def stop(self):
        self.done.set()
        self.join(10)
        while True:  # what is still in the pipe
            try:
                chunk = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            if not chunk:
                break
            self.data += chunk
        os.close(self.fd)
        return bytes(self.data)

    def snapshot(self):
        with self.lock:
            return bytes(self.data)


class LivePeerTest(BoardTestCase):
    @classmethod
    def setUpClass(cls):
        require_namespaces()
        cls.net = TestNetwork(["a", "b"])

    @classmethod
    def tearDownClass(cls):
        cls.net.close()

    def peer(self, host, other):
        b = self.board(para={"OUT_DEST": self.net.addr[other], "OUT_SRC": self.net.addr[host],
                             "IN_DEST": self.net.addr[host], "IN_SRC": self.net.addr[other]})
        b.configure(variant="0x2D52", capture_pipe="mic.fifo", playback_pipe="speaker.fifo",
                    playback="speaker.wav", frame_us=FRAME_US, playback_log="playback.log")
        p = self.start(b, netns=self.net.ns(host))
        self.assertIsNotNone(p.wait_for("Recv Ip="), p.output() + p.error_output())
        return b, p

    def notes(self, p, text):
        wait_until(lambda: any(text in l for l in p.error_output()), 60)
        return [l for l in p.error_output() if text in l]

    def test_pipe_to_pipe_through_two_bridges_is_bit_exact(self):
        fed = audio.speech_like(FED_FRAMES * FRAME / audio.RATE, seed=7)[:FED_FRAMES * FRAME]
        ideal = [tuple(audio.ideal_round_trip(fed[k * FRAME:(k + 1) * FRAME]))
                 for k in range(FED_FRAMES)]
        index = {frame: k for k, frame in enumerate(ideal)}
        fillers = {(8,) * FRAME, (0,) * FRAME}  # silence captured, and a DAC not yet powered up
        self.assertEqual(len(index), FED_FRAMES, "fed frames must be told apart")
        self.assertFalse(fillers & set(index))

        a, pa = self.peer("a", "b")
        b, pb = self.peer("b", "a")
        # Nobody writes A's microphone and nobody reads B's speaker: both clocks run on.
        self.assertTrue(wait_until(lambda: sum(1 for e in audio.read_events(
            b.path("/sim/playback.log")) if not e[3]) >= PLAYED_WITHOUT_READER, 120))
        self.assertFalse(any("reader attached" in l for l in pb.error_output()))

        drain = Drain(b.path("/sim/speaker.fifo"))
        drain.start()
        attached = self.notes(pb, "reader attached")
        self.assertEqual(len(attached), 1, pb.error_output())
        dropped_before = int(attached[0].split()[-2])
        self.assertGreaterEqual(dropped_before, PLAYED_WITHOUT_READER, attached)

        feeder = threading.Thread(target=feed, args=(a.path("/sim/mic.fifo"), fed), daemon=True)
        feeder.start()
        # Every fed frame is played at B (its speaker WAV shows it); the pipe has them then too.
        def in_wav():
            return [index[f] for f in frames_of(audio.read_wav(b.path("/sim/speaker.wav")))
                    if f in index]
        self.assertTrue(wait_until(lambda: len(in_wav()) >= FED_FRAMES, 180, 0.5), in_wav())
        wait_until(lambda: ideal[-1] in raw_frames(drain.snapshot()), 10, 0.2)
        feeder.join(60)
        raw = drain.stop()
        self.assertEqual(in_wav(), list(range(FED_FRAMES)))

        self.assertEqual(len(raw) % (2 * FRAME), 0, "only whole frames reach the reader")
        got = []
        for position, frame in enumerate(raw_frames(raw)):
            if frame in fillers:
                continue
            self.assertIn(frame, index, "frame %d of the stream is no fed frame" % position)
            got.append(index[frame])
        self.assertEqual(got, sorted(set(got)), "fed frames in order, none twice")
        # A took every fed frame; a frame missing at B is one that B counted as dropped.
        gone = self.notes(pa, "writer gone")
        self.assertTrue(gone, pa.error_output())
        self.assertIn("writer gone; %d frames taken" % FED_FRAMES, gone[0], pa.error_output())
        self.assertIn(" 0 bytes of a partial frame dropped", gone[0])
        missing = FED_FRAMES - len(got)
        if missing:
            left = self.notes(pb, "reader gone")
            self.assertTrue(left, pb.error_output())
            dropped_while_read = int(left[0].split()[-2]) - dropped_before
            self.assertLessEqual(missing, dropped_while_read, (got, left))


if __name__ == "__main__":
    unittest.main()
