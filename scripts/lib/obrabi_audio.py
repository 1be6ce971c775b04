"""Audio bookkeeping for the simulated boards: signals, WAV files, frame logs and the
comparison of what one side captured with what the other side played.

The capture log names, for every captured frame, its counter and the source sample it begins
with (-1 for silence), so a played frame can be matched to the exact source it came from.
"""

import math
import re
import statistics
import struct
import wave

FRAME_SAMPLES = 768
RATE = 8000
FRAME_US = 96000  # 768 samples at 8000 Hz
STOP_US = 1000000  # the bridge's stop: this long without a played frame

# The bridge's answer to SIGUSR1, in order; jitter_ms has one decimal, the rest are counts.
COUNTER_FIELDS = ("captured", "sent", "send_failures", "received", "played", "dropped_sender",
                  "dropped_length", "read_failures", "write_failures", "lost", "duplicated",
                  "reordered", "jitter_ms", "stops")
COUNTERS = re.compile(r"counters: " + " ".join(
    f + (r" (\d+\.\d)" if f == "jitter_ms" else r" (\d+)") for f in COUNTER_FIELDS) + "$")


def parse_counters(line):
    """The fields of one counters line (jitter_ms a float), or None for another line."""
    m = COUNTERS.search(line)
    if not m:
        return None
    return {f: (float(v) if f == "jitter_ms" else int(v)) for f, v in zip(COUNTER_FIELDS, m.groups())}


def rfc3550_jitter_ms(arrivals, period_us=FRAME_US):
    """Interarrival jitter of RFC 3550 (appendix A.8, integer form, J scaled by 16) over
    (time_us, counter) pairs in arrival order, the sender's timestamp being the counter times
    the frame period: what the bridge computes. A silence of STOP_US starts afresh."""
    j16 = 0
    previous = None
    for t, counter in arrivals:
        if previous is not None and t - previous[0] < STOP_US:
            step = ((counter - previous[1] + 0x8000) & 0xFFFF) - 0x8000
            j16 += abs((t - previous[0]) - step * period_us) - ((j16 + 8) >> 4)
        previous = (t, counter)
    return j16 / 16.0 / 1000.0


# -- G.711 A-law, as the recommendation defines it (independent of the product's tables) --

def _alaw_encode(sample):
    """16-bit linear sample -> transmitted A-law code (even bits inverted)."""
    value = sample >> 3  # 13-bit
    if value >= 0:
        sign = 0x80
    else:
        sign = 0x00
        value = -value - 1
    if value < 32:
        exponent, mantissa = 0, value >> 1
    else:
        exponent = value.bit_length() - 5  # 32..63 -> 1, ..., 2048..4095 -> 7
        mantissa = (value >> exponent) & 0x0F
    return (sign | (exponent << 4) | mantissa) ^ 0x55


def _alaw_decode(code):
    """Transmitted A-law code -> reconstruction value on the 16-bit scale."""
    a = code ^ 0x55
    exponent = (a >> 4) & 7
    mantissa = a & 0x0F
    if exponent == 0:
        magnitude = (mantissa << 1) + 1
    else:
        magnitude = ((mantissa << 1) + 33) << (exponent - 1)
    magnitude <<= 3
    return magnitude if a & 0x80 else -magnitude


ALAW_ROUND_TRIP = [_alaw_decode(_alaw_encode(s - 65536 if s >= 32768 else s))
                   for s in range(65536)]


def ideal_round_trip(samples):
    return [ALAW_ROUND_TRIP[s & 0xFFFF] for s in samples]


# -- WAV files --

def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def read_wav(path):
    """Samples of a mono 16-bit WAV; tolerates a file still being written."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return []
    pos = 12
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        pos += 8
        if tag == b"data":
            body = data[pos:pos + size]
            body = body[:len(body) // 2 * 2]
            return list(struct.unpack("<%dh" % (len(body) // 2), body))
        pos += size + (size & 1)
    return []


def speech_like(seconds, seed=1):
    """A synthetic speech-like signal: voiced syllables with moving pitch and formants,
    pauses between words, and a little noise."""
    import random
    rnd = random.Random(seed)
    out = []
    n = int(seconds * RATE)
    t = 0
    while t < n:
        length = int(RATE * rnd.uniform(0.15, 0.4))
        pause = int(RATE * rnd.uniform(0.05, 0.25))
        f0 = rnd.uniform(90, 220)
        formants = [rnd.uniform(300, 900), rnd.uniform(900, 2400)]
        for i in range(length):
            env = math.sin(math.pi * i / length) ** 2
            pitch = f0 * (1 + 0.1 * math.sin(2 * math.pi * i / length))
            phase = 2 * math.pi * pitch * i / RATE
            v = sum(math.sin(k * phase) / k for k in range(1, 6))
            v += 0.5 * sum(math.sin(2 * math.pi * f * i / RATE) for f in formants)
            v += rnd.uniform(-0.05, 0.05)
            out.append(int(max(-1, min(1, v * env / 3)) * 14000))
        out.extend(int(rnd.uniform(-30, 30)) for _ in range(pause))
        t += length + pause
    return out[:n]


# -- frame logs of the simulated audio device --

def read_events(path):
    """Lines 'kind time_us counter [extra]' -> list of tuples (kind, time_us, counter, extra):
    extra is MUTED for 'play' lines and the first source sample for 'cap' lines."""
    events = []
    try:
        with open(path) as f:
            for line in f:
                parts = line.split()
                if len(parts) < 3:
                    continue
                muted = int(parts[3]) if len(parts) > 3 else 0
                events.append((parts[0], int(parts[1]), int(parts[2], 0), muted))
    except FileNotFoundError:
        pass
    return events


def analyse(source, capture_log, playback_log, playback_wav, loop=True):
    """Compares what one side captured with what the other side played.

    Returns a dict: captured, sent (frames handed to the transmit path), played, muted,
    lost (gaps in the counters of played frames), repeated, reordered, exact (played frames
    bit-exact with the ideal G.711 round trip of their source), snr_db, latency_ms (list).
    """
    cap = read_events(capture_log)
    play = read_events(playback_log)
    captured_at = {}
    source_start = {}
    for kind, t, c, start in cap:
        if kind == "cap":
            captured_at[c] = t
            source_start[c] = start
    sent = sum(1 for e in cap if e[0] == "read")
    played = [e for e in play if e[0] == "play"]
    samples = read_wav(playback_wav)

    result = {"captured": sum(1 for e in cap if e[0] == "cap"),
              "silent": sum(1 for e in cap if e[0] == "cap" and e[3] < 0), "sent": sent,
              "played": sum(1 for e in played if not e[3]), "muted": sum(1 for e in played if e[3]),
              "lost": 0, "repeated": 0, "reordered": 0, "exact": 0, "compared": 0,
              "latency_ms": [], "snr_db": None, "mismatch": None}
    signal = noise = 0.0
    previous = None
    for index, (_, t, counter, muted) in enumerate(played):
        if previous is not None:
            step = (counter - previous) & 0xFFFF
            if step == 0:
                result["repeated"] += 1
            elif step > 0x8000:
                result["reordered"] += 1
            else:
                result["lost"] += step - 1
        previous = counter
        if muted:
            continue
        frame = samples[index * FRAME_SAMPLES:(index + 1) * FRAME_SAMPLES]
        if len(frame) < FRAME_SAMPLES:
            continue
        start = source_start.get(counter, -1)
        if start < 0:
            src = [0] * FRAME_SAMPLES
        else:
            src = source[start:start + FRAME_SAMPLES]
            if loop:
                while len(src) < FRAME_SAMPLES and source:
                    src += source[:FRAME_SAMPLES - len(src)]
            src = src + [0] * (FRAME_SAMPLES - len(src))
        ideal = ideal_round_trip(src)
        result["compared"] += 1
        if frame == ideal:
            result["exact"] += 1
        elif result["mismatch"] is None:
            result["mismatch"] = (index, counter)
        signal += sum(s * s for s in src)
        noise += sum((a - b) ** 2 for a, b in zip(frame, src))
        if counter in captured_at:
            result["latency_ms"].append((t - captured_at[counter]) / 1000.0)
    if noise > 0 and signal > 0:
        result["snr_db"] = 10 * math.log10(signal / noise)
    return result


def percentile(values, p):
    if not values:
        return None
    ordered = sorted(values)
    k = min(len(ordered) - 1, max(0, int(round(p / 100.0 * (len(ordered) - 1)))))
    return ordered[k]


def summary(name, r):
    lat = r["latency_ms"]
    med = statistics.median(lat) if lat else float("nan")
    p95 = percentile(lat, 95) if lat else float("nan")
    share = 100.0 * r["exact"] / r["compared"] if r["compared"] else 0.0
    snr = "%.1f dB" % r["snr_db"] if r["snr_db"] is not None else "n/a"
    return (f"{name}: captured {r['captured']} ({r['silent']} before the codec ran), "
            f"sent {r['sent']}, received {r['played'] + r['muted']}, played {r['played']}, "
            f"lost {r['lost']}\n    bit-exact with an ideal G.711 round trip: {r['exact']} of "
            f"{r['compared']} ({share:.1f}%); SNR against the source {snr}; "
            f"capture-to-playback latency median {med:.1f} ms, p95 {p95:.1f} ms once a frame is "
            f"captured; from its first sample add the {FRAME_US / 1000:.0f} ms that fill it: "
            f"median {med + FRAME_US / 1000:.1f} ms")
