"""Two simulated intercoms, A and B, talking through test hosts in network namespaces."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import obrabi_audio as audio  # noqa: E402
from obrabi_harness import Bridge, intercom_board  # noqa: E402
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
        boards = {host: intercom_board(net.addr, host, peer, sources[host],
                                       root=os.path.join(OUT, host.upper()))
                  for host, peer in (("a", "b"), ("b", "a"))}
        for host, board in boards.items():
            procs[host] = Bridge(board, board.program(BIN), netns=net.ns(host))
            print("intercom %s at %s on %s, microphone: %s" % (host.upper(), net.addr[host],
                                                                board.root, kinds[host]))
        print("bringing up the codecs (about 7 s)...", flush=True)
        for p in procs.values():
            if p.wait_for("Recv Ip=", 60) is None:
                sys.exit("demo: an intercom did not start:\n" + "\n".join(
                    "\n".join(q.output() + q.output(1)) for q in procs.values()))
        print("talking for %.0f s..." % seconds, flush=True)
        time.sleep(seconds)
        counters = {host: procs[host].counters(30) for host in "ab"}
    finally:
        for p in procs.values():
            p.close()
        net.close()

    print()
    status = 0
    for sender, receiver in (("a", "b"), ("b", "a")):
        r = audio.analyse(sources[sender], boards[sender].path("/sim/capture.log"),
                          boards[receiver].path("/sim/playback.log"),
                          boards[receiver].path("/sim/speaker.wav"))
        print(audio.summary("%s to %s" % (sender.upper(), receiver.upper()), r))
        if r["lost"] or r["exact"] != r["compared"] or not r["compared"]:
            status = 1
        if not link_quality(receiver.upper(), counters[receiver],
                            boards[receiver].path("/sim/playback.log")):
            status = 1
    print("(frames sent before the far side listened are not received; lost counts the gaps "
          "once audio flows)")
    print()
    for host in "ab":
        print("intercom %s: microphone %s, speaker %s" % (
            host.upper(), boards[host].path("/sim/mic.wav"), boards[host].path("/sim/speaker.wav")))
    speaker = boards["b"].path("/sim/speaker.wav")
    print("listen with e.g.  play %s   (sox) or  aplay %s" % (speaker, speaker))
    return status


if __name__ == "__main__":
    sys.exit(main())
