"""The measurements of scripts/bench, printed as one table.

Two simulated intercoms A and B and a third host C live in network namespaces (see
obrabi_netns). Both run as installed, under the name obraBi: they log to their boards'
/tmp/.print_obraBi. B runs with the malloc_count library preloaded. In turn:
  idle       B alone: it captures and sends, nothing arrives (CPU)
  streaming  A and B talk at the real frame rate (CPU, latency both ways, memory, heap, and
             B's own statistics of A's stream from the counters line it writes to its log)
  flood      A streams to B while C floods B with foreign whole packets and A's address
             sends datagrams of every wrong size (frames lost, receive-buffer drops)
The G.711 conversion costs come from the Google Benchmark program bench_codec, the cost of the
stream statistics per datagram and per wake-up of the receive loop from bench_stream.
"""

import json
import os
import re
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import obrabi_audio as audio  # noqa: E402
from obrabi_harness import Bridge, intercom_board, wait_until  # noqa: E402
from obrabi_netns import Network  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(ROOT, "build", "host-sim")
BIN = os.path.join(BUILD, "obraBi")  # the name that logs to the board's file
FLOOD = os.path.join(BUILD, "bench", "udp_flood")
SHIM = os.path.join(BUILD, "bench", "malloc_count.so")
CODEC_BENCH = os.path.join(BUILD, "bench", "bench_codec")
STREAM_BENCH = os.path.join(BUILD, "bench", "bench_stream")
OUT = os.path.join(ROOT, "build", "bench")

IDLE_SECONDS = int(os.environ.get("BENCH_IDLE_SECONDS", "20"))
STREAM_SECONDS = int(os.environ.get("BENCH_STREAM_SECONDS", "30"))
FLOOD_SECONDS = int(os.environ.get("BENCH_FLOOD_SECONDS", "30"))
FOREIGN_RATE, ODD_RATE = 100000, 3000
# BENCH_NICE=-10 runs the two bridges at a higher priority than the rest of a shared machine.
NICE = os.environ.get("BENCH_NICE", "0")
ODD_SIZES = "0,1,775,777,1500,65507"
TICK_NS = 1e9 / os.sysconf("SC_CLK_TCK")


def now_us():
    return time.time() * 1e6


# -- the G.711 conversions --

def codec_times():
    """ns per sample of the frame copy, the encode and the decode (each includes the copy)."""
    if not os.access(CODEC_BENCH, os.X_OK):
        return None
    out = subprocess.run([CODEC_BENCH, "--benchmark_format=json", "--benchmark_min_time=1",
                          "--benchmark_filter=BM_(frame_copy|alaw_encode_frame|alaw_decode_frame)$"],
                         check=True, capture_output=True, text=True).stdout
    return {b["name"]: b["per_sample"] * 1e9 for b in json.loads(out)["benchmarks"]}


def stream_times():
    """ns of the stream statistics per played datagram and per wake-up of the receive loop."""
    if not os.access(STREAM_BENCH, os.X_OK):
        return None
    out = subprocess.run([STREAM_BENCH, "--benchmark_format=json", "--benchmark_min_time=1"],
                         check=True, capture_output=True, text=True).stdout
    return {b["name"]: b["cpu_time"] for b in json.loads(out)["benchmarks"]}


# -- one intercom --

class Intercom:
    """A bridge of the bench on its board (build/bench/A, B), logging to the board's file; with
    preload, the heap allocation counter preloaded."""

    def __init__(self, net, host, peer, preload=False):
        self.net, self.host = net, host
        self.board = intercom_board(net.addr, host, peer, audio.speech_like(6, seed=ord(host)),
                                    root=os.path.join(OUT, host.upper()))
        self.counts = self.sim("malloc.count") if preload else None
        self.bridge = None

    def sim(self, name):
        return self.board.path("/sim/" + name)

    def start(self):
        env = {"LD_PRELOAD": SHIM, "MALLOC_COUNT_FILE": self.counts} if self.counts else {}
        self.bridge = Bridge(self.board, self.board.program(BIN, "bin/obraBi"),
                             netns=self.net.ns(self.host), wrap=["nice", "-n", NICE], env=env)
        self.proc = self.bridge.proc
        if self.bridge.wait_for("Recv Ip=", 120) is None:
            sys.exit("bench: intercom %s did not start:\n%s" % (
                self.host, "\n".join(self.bridge.logged() + self.bridge.output(1))))

    def counters(self):
        """SIGUSR1: the fields of the counters line that answers it in the log, or None."""
        return self.bridge.counters(10)

    def stop(self):
        if self.bridge:
            self.bridge.close()

    def allocations(self):
        """The preloaded counter's count of heap allocations so far."""
        before = os.path.getsize(self.counts) if os.path.exists(self.counts) else 0
        os.kill(self.proc.pid, signal.SIGUSR2)
        wait_until(lambda: os.path.exists(self.counts) and os.path.getsize(self.counts) > before,
                   2, 0.02)
        return int(open(self.counts).read().split()[-1])

    def threads(self):
        """tid -> (name, CPU time in ns) of every thread of the process."""
        result = {}
        task = "/proc/%d/task" % self.proc.pid
        for tid in os.listdir(task):
            try:
                name = open("%s/%s/comm" % (task, tid)).read().strip()
                try:
                    ns = int(open("%s/%s/schedstat" % (task, tid)).read().split()[0])
                except OSError:
                    fields = open("%s/%s/stat" % (task, tid)).read().rsplit(")", 1)[1].split()
                    ns = (int(fields[11]) + int(fields[12])) * TICK_NS
                result[tid] = (name, ns)
            except OSError:
                pass
        return result

    def status(self, key):
        for line in open("/proc/%d/status" % self.proc.pid):
            if line.startswith(key + ":"):
                return int(line.split()[1])
        return None

    def events(self, log, kind, since_us=0, until_us=float("inf")):
        return [e for e in audio.read_events(self.sim(log))
                if e[0] == kind and since_us <= e[1] <= until_us]


def cpu_share(before, after, elapsed):
    """Share of one core between two thread snapshots: (product, simulator, threads named,
    each thread's share in the order the threads were started)."""
    product = sim = 0.0
    named = False
    scale = 100.0 / (elapsed * 1e9)
    each = []
    for tid in sorted(after, key=int):
        name, ns = after[tid]
        used = ns - before.get(tid, (name, 0))[1]
        each.append(used * scale)
        if name.startswith("sim-"):
            sim += used
            named = True
        else:
            product += used
    return product * scale, sim * scale, named, each


def cpu_over(bridge, seconds):
    before, t0 = bridge.threads(), time.monotonic()
    time.sleep(seconds)
    return cpu_share(before, bridge.threads(), time.monotonic() - t0)


def latency_ms(sender, receiver, since_us, until_us):
    captured = {e[2]: e[1] for e in sender.events("capture.log", "cap", since_us, until_us)}
    return [(e[1] - captured[e[2]]) / 1000.0
            for e in receiver.events("playback.log", "play", since_us)
            if e[2] in captured and e[1] >= captured[e[2]]]


def rcvbuf_errors(net, host):
    lines = [l.split() for l in net.run(host, ["cat", "/proc/net/snmp"], capture_output=True,
                                        text=True).stdout.splitlines() if l.startswith("Udp:")]
    return int(lines[1][lines[0].index("RcvbufErrors")])


def flood(net, a_addr_host, dest):
    """Runs the two flood senders for FLOOD_SECONDS; returns their achieved rates."""
    runs = [(net.popen("c", [FLOOD, dest, "4956", str(FOREIGN_RATE), str(FLOOD_SECONDS), "776"],
                       stdout=subprocess.PIPE, text=True), "foreign"),
            (net.popen(a_addr_host, [FLOOD, dest, "4956", str(ODD_RATE), str(FLOOD_SECONDS),
                                     ODD_SIZES], stdout=subprocess.PIPE, text=True), "odd")]
    t0 = time.monotonic()
    rates = {}
    for p, name in runs:
        out = p.communicate(timeout=FLOOD_SECONDS * 4 + 60)[0]
        sent = int(re.search(r"sent (\d+)", out).group(1))
        rates[name] = sent / max(time.monotonic() - t0, FLOOD_SECONDS)
    return rates


def measure():
    os.makedirs(OUT, exist_ok=True)
    r = {"codec": codec_times(), "stream_stats": stream_times()}
    net = Network(["a", "b", "c"])
    a = b = None
    try:
        b = Intercom(net, "b", "a", preload=True)
        a = Intercom(net, "a", "b")
        b.start()
        time.sleep(1)
        # Heap allocations are counted over the idle and the streaming interval. Between
        # them the simulator's playback log gets its stdio buffer at the first played frame,
        # an allocation of the simulated device, not of the bridge.
        heap = b.allocations()
        r["idle"] = cpu_over(b, IDLE_SECONDS)
        r["heap_idle"] = b.allocations() - heap

        a.start()
        time.sleep(2)
        heap = b.allocations()
        since = now_us()
        r["stream"] = cpu_over(b, STREAM_SECONDS)
        until = now_us()
        r["stream_counters"] = b.counters()  # inside the heap count: the line allocates nothing
        r["heap_stream"] = b.allocations() - heap
        time.sleep(1)
        r["latency"] = latency_ms(a, b, since, until) + latency_ms(b, a, since, until)
        r["rss"] = [b.status(k) for k in ("VmRSS", "RssAnon", "RssFile", "VmHWM")]
        r["rb"], drops_before = net.socket_memory("b")
        errors_before = rcvbuf_errors(net, "b")

        heap = b.allocations()
        threads, t0 = b.threads(), time.monotonic()
        start = now_us()
        r["rates"] = flood(net, "a", net.addr["b"])
        end = now_us()
        r["flood_cpu"] = cpu_share(threads, b.threads(), time.monotonic() - t0)
        time.sleep(2)
        sent = {e[2] for e in a.events("capture.log", "read", start, end)}
        played = {e[2] for e in b.events("playback.log", "play", start)}
        r["flood_sent"], r["flood_lost"] = len(sent), len(sent - played)
        _, drops_after = net.socket_memory("b")
        r["flood_drops"] = (drops_after - drops_before) if drops_after is not None else None
        r["flood_rcvbuf_errors"] = rcvbuf_errors(net, "b") - errors_before
        r["heap_flood"] = b.allocations() - heap
    finally:
        for bridge in (a, b):
            if bridge:
                bridge.stop()
        net.close()
    return r


# -- the table --

def machine():
    model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                  if l.startswith("model name")), "unknown CPU")
    return "%s, %d cores, Linux %s" % (model, os.cpu_count(), os.uname().release)


def table(r):
    rows = []
    c = r["codec"]
    if c:
        copy = c["BM_frame_copy"]
        for name, key in (("encode (A-law)", "BM_alaw_encode_frame"),
                          ("decode (A-law)", "BM_alaw_decode_frame")):
            rows.append(("G.711 %s per sample" % name, "%.2f ns (%.2f ns beyond the copy)" % (
                c[key], c[key] - copy), "<= 1 ns"))
        rows.append(("frame copy per sample (baseline)", "%.2f ns" % copy, ""))
    else:
        rows.append(("G.711 conversion", "bench_codec not built (libbenchmark-dev)", ""))
    st = r["stream_stats"]
    rows.append(("stream statistics per played datagram, per loop wake-up",
                 "%.1f ns, %.1f ns" % (st["BM_stream_note"], st["BM_stream_tick"]) if st else
                 "bench_stream not built (libbenchmark-dev)", ""))
    lat = r["latency"]
    if lat:
        rows.append(("latency, a frame captured to its playback (%d frames)" % len(lat),
                     "median %.2f ms, p95 %.2f ms, p99 %.2f ms" % (
                         statistics.median(lat), audio.percentile(lat, 95),
                         audio.percentile(lat, 99)), ""))
    rates = r["rates"]
    rows.append(("frames lost under a %d s flood" % FLOOD_SECONDS,
                 "%d of %d" % (r["flood_lost"], r["flood_sent"]), "0"))
    rows.append(("  flood sent (per second)", "%.0f foreign 776-byte, %.0f odd sizes from A" % (
        rates["foreign"], rates["odd"]), "%d, %d" % (FOREIGN_RATE, ODD_RATE)))
    rows.append(("  receive-buffer drops during the flood", "%s (socket), %d (UDP RcvbufErrors)" % (
        r["flood_drops"], r["flood_rcvbuf_errors"]), "0"))
    rows.append(("receive buffer granted by the kernel (ss rb)",
                 "%s bytes" % r["rb"] if r["rb"] is not None else "not found", ">= 1 MiB"))
    for key, name, goal in (("idle", "CPU, idle bridge (nothing arrives)", ""),
                            ("stream", "CPU, bridge streaming both ways, with statistics", "<= 2%"),
                            ("flood_cpu", "  CPU of B during the flood", "")):
        product, sim, named, each = r[key]
        if named:
            value = "product %.2f%%, simulator %.2f%% of one core" % (product, sim)
        elif len(each) == 4:
            # Without thread names: the threads start as receive loop (main), the simulated
            # FPGA's control watcher, the simulated capture clock, then the transmit thread.
            value = "product %.2f%% (receive %.2f%%, transmit %.2f%%), simulator %.2f%% of " \
                    "one core (threads told apart by start order)" % (
                        each[0] + each[3], each[0], each[3], each[1] + each[2])
        else:
            value = "%.2f%% of one core, simulator included (threads not named)" % (product + sim)
        rows.append((name, value, goal))
    n = r["stream_counters"]
    rows.append(("  B's statistics of A's stream (its counters line)",
                 "lost %d, duplicated %d, reordered %d, jitter %.1f ms, stops %d" % (
                     n["lost"], n["duplicated"], n["reordered"], n["jitter_ms"], n["stops"])
                 if n else "no answer to SIGUSR1", "lost 0"))
    rows.append(("resident memory (VmRSS: anonymous + file; peak)",
                 "%d KiB: %d + %d KiB; peak %d KiB" % tuple(r["rss"]), ""))
    rows.append(("heap allocations after start-up (B logging to its file)",
                 "%d in %d s idle, %d in %d s streaming, %d in the flood" % (
                     r["heap_idle"], IDLE_SECONDS, r["heap_stream"], STREAM_SECONDS,
                     r["heap_flood"]), "0"))
    widths = [max(len(row[i]) for row in rows + [("measure", "value", "goal")]) for i in range(3)]
    lines = ["| " + " | ".join(h.ljust(w) for h, w in zip(("measure", "value", "goal"), widths))
             + " |", "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    lines += ["| " + " | ".join(v.ljust(w) for v, w in zip(row, widths)) + " |" for row in rows]
    return "\n".join(lines)


def main():
    r = measure()
    print(table(r))
    print()
    print("Machine: " + machine())
    return 0


if __name__ == "__main__":
    sys.exit(main())
