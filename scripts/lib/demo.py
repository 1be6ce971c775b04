"""Two simulated intercoms, A and B, talking through test hosts in network namespaces."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import obrabi_audio as audio  # noqa: E402
from obrabi_netns import Network  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.path.join(ROOT, "build", "host-sim", "obraBi_to_screen")
OUT = os.path.join(ROOT, "build", "demo")
WORDS = {"a": "Hello from intercom A. The front door is open, please come in.",
         "b": "This is intercom B. Thank you, I am on my way down now."}


def spoken(text, seconds):
    """Words from espeak-ng, resampled by sox to 8000 Hz mono; None without them."""
    if not (shutil.which("espeak-ng") and shutil.which("sox")):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        raw, wav = os.path.join(tmp, "raw.wav"), os.path.join(tmp, "8k.wav")
        try:
            subprocess.run(["espeak-ng", "-w", raw, text], check=True, capture_output=True)
            subprocess.run(["sox", raw, "-r", "8000", "-c", "1", "-b", "16", wav],
                           check=True, capture_output=True)
        except (OSError, subprocess.CalledProcessError):
            return None
        samples = audio.read_wav(wav)
    pause = [0] * (audio.RATE // 2)
    out = []
    while len(out) < seconds * audio.RATE:
        out += samples + pause
    return out[:int(seconds * audio.RATE)]


def make_board(name, para, source):
    board = os.path.join(OUT, name)
    shutil.rmtree(board, ignore_errors=True)
    subprocess.run([os.path.join(ROOT, "scripts", "new-board"), board], check=True,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(board, "var", "obraBi_para"), "w") as f:
        f.write("".join("%s=%s\n" % kv for kv in para.items()))
    audio.write_wav(os.path.join(board, "sim", "mic.wav"), source)
    with open(os.path.join(board, "sim", "board.conf"), "a") as f:
        f.write("capture=mic.wav\ncapture_loop=1\nplayback=speaker.wav\n"
                "capture_log=capture.log\nplayback_log=playback.log\n")
    return board


def ask_counters(proc, board):
    """SIGUSR1 to a running bridge: the fields of the counters line that answers it."""
    out = os.path.join(board, "sim", "obraBi.out")
    before = open(out).read().count("counters: ")
    os.kill(proc.pid, signal.SIGUSR1)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        lines = [l for l in open(out).read().splitlines() if l.startswith("counters: ")]
        if len(lines) > before:
            return audio.parse_counters(lines[-1])
        time.sleep(0.05)
    return None


def link_quality(receiver, counters, playback_log):
    """Prints the receiver's own lost and jitter beside the same figures measured from what its
    speaker played, over the frames it had played when it answered; True when they agree."""
    if counters is None:
        print("    %s did not answer SIGUSR1" % receiver)
        return False
    played = [e for e in audio.read_events(playback_log) if e[0] == "play"][:counters["played"]]
    counts = [e[2] for e in played]
    lost = sum(((b - a) & 0xFFFF) - 1 for a, b in zip(counts, counts[1:])
               if 0 < (b - a) & 0xFFFF < 0x8000)
    jitter = audio.rfc3550_jitter_ms([(e[1], e[2]) for e in played])
    agree = lost == counters["lost"] and abs(jitter - counters["jitter_ms"]) <= 0.2
    print("    %s's own counters: lost %d, jitter %.1f ms; measured from its playback log: lost %d, "
          "jitter %.2f ms (RFC 3550): %s" % (receiver, counters["lost"], counters["jitter_ms"],
                                             lost, jitter, "agree" if agree else "DISAGREE"))
    return agree


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
    os.makedirs(OUT, exist_ok=True)
    net = Network(["a", "b"])
    procs = {}
    try:
        a_addr, b_addr = net.addr["a"], net.addr["b"]
        sources, kinds = {}, {}
        for host in "ab":
            sources[host] = spoken(WORDS[host], 6)
            kinds[host] = "spoken words (espeak-ng)"
            if sources[host] is None:
                sources[host] = audio.speech_like(6, seed=ord(host))
                kinds[host] = "a synthetic speech-like signal"
        boards = {
            "a": make_board("A", {"OUT_DEST": b_addr, "OUT_SRC": a_addr, "IN_DEST": a_addr,
                                  "IN_SRC": b_addr}, sources["a"]),
            "b": make_board("B", {"OUT_DEST": a_addr, "OUT_SRC": b_addr, "IN_DEST": b_addr,
                                  "IN_SRC": a_addr}, sources["b"]),
        }
        for host, board in boards.items():
            log = open(os.path.join(board, "sim", "obraBi.out"), "w")
            procs[host] = subprocess.Popen(["ip", "netns", "exec", net.ns(host), BIN],
                                           env=dict(os.environ, OBRABI_ROOT=board),
                                           stdout=log, stderr=subprocess.STDOUT)
            print("intercom %s at %s on %s, microphone: %s" % (host.upper(), net.addr[host],
                                                                board, kinds[host]))
        print("bringing up the codecs (about 7 s)...", flush=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            outs = [open(os.path.join(b, "sim", "obraBi.out")).read() for b in boards.values()]
            if all("Recv Ip=" in o for o in outs):
                break
            if any(p.poll() is not None for p in procs.values()):
                sys.exit("demo: an intercom stopped:\n" + "\n".join(outs))
            time.sleep(0.2)
        print("talking for %.0f s..." % seconds, flush=True)
        time.sleep(seconds)
        counters = {host: ask_counters(procs[host], boards[host]) for host in "ab"}
    finally:
        for p in procs.values():
            if p.poll() is None:
                p.terminate()
                p.wait()
        net.close()

    print()
    status = 0
    for sender, receiver in (("a", "b"), ("b", "a")):
        r = audio.analyse(sources[sender], os.path.join(boards[sender], "sim", "capture.log"),
                          os.path.join(boards[receiver], "sim", "playback.log"),
                          os.path.join(boards[receiver], "sim", "speaker.wav"))
        print(audio.summary("%s to %s" % (sender.upper(), receiver.upper()), r))
        if r["lost"] or r["exact"] != r["compared"] or not r["compared"]:
            status = 1
        if not link_quality(receiver.upper(), counters[receiver],
                            os.path.join(boards[receiver], "sim", "playback.log")):
            status = 1
    print("(frames sent before the far side listened are not received; lost counts the gaps "
          "once audio flows)")
    print()
    for host in "ab":
        board = boards[host]
        print("intercom %s: microphone %s, speaker %s" % (
            host.upper(), os.path.join(board, "sim", "mic.wav"),
            os.path.join(board, "sim", "speaker.wav")))
    print("listen with e.g.  play %s   (sox) or  aplay %s" % (
        os.path.join(boards["b"], "sim", "speaker.wav"), os.path.join(boards["b"], "sim", "speaker.wav")))
    return status


if __name__ == "__main__":
    sys.exit(main())
