#!/usr/bin/python3
"""Key to audible sound, end to end, for one or more builds of the real program, in one run.

Runs inside scripts/desktop_session.sh, from the checkout (after scripts/test.sh has built):
  scripts/desktop_session.sh bench/sound_latency.py --facts build-test/tests/sorelcheck_facts \
    --probe build-test/bench/libsorelcheck_replay_probe.so before=OLD/SorelCheck \
    after=build-test/SorelCheck

Each run starts the program with the probe preloaded, passes its three messages with Return,
caches the whole test file, then presses Down ten times (a1..a5 first, then their repeats),
drops the file's pages and presses Up (a4 cold), then Down, Up (a4 warm). Every key is injected
with XTest and stamped; the null sink's monitor is recorded and the onset is taken from the
recording's sample clock (tests/e2e/sink.py). The reference, measured the same way after every press: the same
sample written into an already-open `pacat` stream, and `paplay` of the file. A silent stream
keeps the sink running. Runs of the builds alternate; the samples come from the first build's
folder. Prints a markdown table. Takes about a minute per run and build.

With --orca every build runs twice a round: on a desktop without a screen reader (the program
finds accessibility off) and with Debian's Orca running, whose speech goes to a second null
sink so that the recording hears only the program. Run it in its own process namespace
(`unshare --pid --fork --mount-proc` before desktop_session.sh), where this Orca neither sees
another session's Orca nor is taken for one.
"""

import argparse
import ctypes
import json
import mmap
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../scripts"))
import sink  # noqa: E402
from sink import SINK, Sink, wait_for  # noqa: E402

TEST_FOLDER = "/var/tmp"


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=20, **kwargs)


class Keyboard:
    KEYSYMS = {"Down": 0xFF54, "Up": 0xFF52, "Escape": 0xFF1B, "Return": 0xFF0D}

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = self.x.XOpenDisplay(None)

    def press(self, name):
        """Types the key into the focused window; returns the time the press left."""
        code = self.x.XKeysymToKeycode(self.display, self.KEYSYMS[name])
        stamp = time.monotonic()
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.x.XFlush(self.display)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x.XFlush(self.display)
        return stamp


def visible_window(title, pid):
    found = run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name",
                 f"^{title}$"]).stdout.split()
    # The pattern also matches longer names here: compare the whole name.
    found = [w for w in found if run(["xdotool", "getwindowname", w]).stdout.strip() == title]
    return found[-1] if found else None


class ProbeLog:
    def __init__(self, path):
        self.path = path

    def entries(self):
        with open(self.path, "rb") as file, mmap.mmap(file.fileno(), 0,
                                                      access=mmap.ACCESS_READ) as log:
            (total,) = struct.unpack_from("Q", log, 0)
            return [struct.unpack_from("qqq", log, 8 + 24 * i) for i in range(total)]

    def write_ms(self, stamp):
        """Key to the program's first write of sound to the server after it."""
        entries = [e for e in self.entries() if e[1] >= stamp * 1e9]
        writes = [e[1] for e in entries if e[0] == -1]
        return (writes[0] / 1e9 - stamp) * 1000 if writes else None

    def replay_ms(self, fd, stamp, count):
        """First read entered to last read returned, for the `count` reads after `stamp`."""
        entries = self.entries()
        reads = [e for e in entries if e[0] == fd and e[1] >= stamp * 1e9]
        if len(reads) < count:
            return None
        return (reads[count - 1][2] - reads[0][1]) / 1e6


class Sample:
    def __init__(self, folder, number):
        self.path = os.path.join(folder, f"a{number}.wav")
        with open(self.path, "rb") as file:
            data = file.read()
        self.pcm = data[data.index(b"data") + 8:]


def one_run(binary, probe, recorder, keyboard, samples, opened, reads, orca=False):
    """One program run; returns its figures."""
    figures = {"first": {}, "repeat": {}, "warm": [], "floor": [], "paplay": [], "to_write": [],
               "write_to_sound": []}
    log_path = f"/tmp/sorelcheck-probe-{os.getpid()}"
    env = dict(os.environ, LD_PRELOAD=probe, SORELCHECK_PROBE=log_path)
    if orca:  # the program learns from the accessibility bus whether a screen reader runs
        env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
    program = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        passed, quiet_since = 0, None
        while passed < 3 or not quiet_since or time.monotonic() - quiet_since < 0.5:
            if program.poll() is not None:
                raise RuntimeError(f"{binary} ended with status {program.returncode}")
            box = visible_window("動作確認", program.pid)
            if box:  # start, result and instruction messages: OK them
                run(["xdotool", "windowactivate", "--sync", box])
                keyboard.press("Return")
                passed, quiet_since = passed + 1, None
                time.sleep(0.3)
            else:
                quiet_since = quiet_since or time.monotonic()
                time.sleep(0.05)
        main = wait_for("main window", lambda: visible_window("Sorel動作確認", program.pid), 30)
        run(["xdotool", "windowactivate", "--sync", main])
        # The test file has no name: it is read through the program's descriptor.
        fd = next(int(n) for n in os.listdir(f"/proc/{program.pid}/fd")
                  if os.readlink(f"/proc/{program.pid}/fd/{n}").startswith(TEST_FOLDER + "/#"))
        test_file = f"/proc/{program.pid}/fd/{fd}"
        with open(test_file, "rb") as file:  # every page cached: first and repeat differ only
            while file.read(1 << 20):       # by what the program itself does
                pass
        probe_log = ProbeLog(log_path)

        def press(key, number):
            recorder.wait_for_silence(0.1)
            stamp = keyboard.press(key)
            return stamp, recorder.heard(stamp)

        def references(number):
            recorder.wait_for_silence(0.1)
            stamp = time.monotonic()
            opened.stdin.write(samples[number].pcm)
            opened.stdin.flush()
            figures["floor"].append(recorder.heard(stamp))
            stamp = time.monotonic()
            player = subprocess.Popen(["paplay", f"--device={SINK}", samples[number].path])
            figures["paplay"].append(recorder.heard(stamp))
            player.wait()

        for phase in ("first", "repeat"):
            for number in range(1, 6):
                stamp, onset = press("Down", number)
                figures[phase][number] = onset
                if phase == "repeat":
                    figures["warm"].append(onset)
                    to_write = probe_log.write_ms(stamp)
                    figures["to_write"].append(to_write)
                    if to_write is not None:
                        figures["write_to_sound"].append(onset - to_write)
                references(number)
        fd_file = os.open(test_file, os.O_RDONLY)
        os.posix_fadvise(fd_file, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd_file)
        stamp, figures["cold_a4_sound"] = press("Up", 4)
        figures["cold_a4"] = probe_log.replay_ms(fd, stamp, reads[3])
        press("Down", 5)
        stamp, onset = press("Up", 4)
        figures["warm"].append(onset)
        figures["warm_a4"] = probe_log.replay_ms(fd, stamp, reads[3])
        keyboard.press("Escape")
        program.wait(10)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        if os.path.exists(log_path):
            os.remove(log_path)
    return figures


def percentile(values, share):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(share * (len(values) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--facts", required=True, help="tests/sorelcheck_facts of the build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--orca", action="store_true",
                        help="each build also with Orca running, side by side")
    parser.add_argument("builds", nargs="+", help="LABEL=BINARY")
    args = parser.parse_args()
    builds = [tuple(b.split("=", 1)) for b in args.builds]
    facts = json.loads(run([args.facts], check=True).stdout)
    reads = [sample["reads"] for sample in facts["samples"]]
    if args.orca:
        from orca import Orca  # needs the accessibility bus of desktop_session.sh

        orca = Orca(tempfile.mkdtemp(prefix="sorelcheck-orca-"), speech_sink="speechnull")
    else:
        orca = None
    folder = os.path.dirname(os.path.abspath(builds[0][1]))
    samples = {n: Sample(folder, n) for n in range(1, 6)}

    silent = sink.keep_running()
    opened = subprocess.Popen(["pacat", "--playback", "--raw", "--format=s16le", "--rate=22050",
                               "--channels=1", "--latency-msec=10", f"--device={SINK}"],
                              stdin=subprocess.PIPE)
    recorder = Sink()
    keyboard = Keyboard()
    settings = [("", False)] + ([(" + Orca", True)] if orca else [])
    results = {label + suffix: [] for suffix, _ in settings for label, _ in builds}
    try:
        time.sleep(1)
        for round_number in range(args.runs):
            for suffix, with_orca in settings:
                if with_orca:
                    orca.start()
                for label, binary in builds:
                    print(f"run {round_number + 1}: {label}{suffix}", file=sys.stderr)
                    results[label + suffix].append(one_run(
                        os.path.abspath(binary), args.probe, recorder, keyboard, samples, opened,
                        reads, orca is not None))
                if with_orca:
                    orca.stop()
    finally:
        if orca:
            orca.stop()
        recorder.stop()
        for process in (silent, opened):
            process.terminate()
            process.wait(5)
    report(results, args.runs)


def report(results, runs):
    labels = list(results)
    print("| Benchmark | " + " | ".join(labels) + " | Target |")
    print("|---|" + "---:|" * len(labels) + "---|")

    def row(name, cells, target):
        print(f"| {name} | " + " | ".join(cells) + f" | {target} |")

    def ms(value):
        return f"{value:.1f} ms"

    def gather(label, key):
        return [v for figures in results[label] for v in figures[key] if v is not None]

    warm = {label: gather(label, "warm") for label in labels}
    floor = {label: gather(label, "floor") for label in labels}
    paplay = {label: gather(label, "paplay") for label in labels}
    row(f"Warm key to audible sound, median (p5 to p95), {len(warm[labels[0]])} presses",
        [f"{ms(statistics.median(w))} ({percentile(w, 0.05):.1f} to {percentile(w, 0.95):.1f})"
         for w in warm.values()], "")
    row("of which key to the program's write of the sound (X, replay, player), median",
        [ms(statistics.median(gather(l, "to_write"))) for l in labels], "")
    row("of which the program's write to audible sound, median",
        [ms(statistics.median(gather(l, "write_to_sound"))) for l in labels], "")
    row("Write into an already-open stream, median (same run)",
        [ms(statistics.median(f)) for f in floor.values()], "")
    row("`paplay` of the same file, median (same run)",
        [ms(statistics.median(p)) for p in paplay.values()], "")
    row("Warm key to sound minus open-stream write, medians",
        [ms(statistics.median(warm[l]) - statistics.median(floor[l])) for l in labels],
        "at most 5 ms")
    row("Warm key to sound, p95 - p5",
        [ms(percentile(w, 0.95) - percentile(w, 0.05)) for w in warm.values()], "at most 5 ms")
    for number in range(1, 6):
        cells = []
        for label in labels:
            differences = [f["first"][number] - f["repeat"][number] for f in results[label]
                           if f["first"].get(number) is not None
                           and f["repeat"].get(number) is not None]
            cells.append(ms(statistics.median(differences)) if differences else "-")
        row(f"a{number}: first press minus repeat, pages cached, median of {runs} runs", cells,
            "at most 2 ms")
    for key, name in (("cold_a4", "Cold a4 replay in the real window (reads and events)"),
                      ("warm_a4", "Warm a4 replay in the real window")):
        row(f"{name}, median of {runs}",
            [ms(statistics.median([f[key] for f in results[l] if f[key] is not None]))
             for l in labels], "")
    row("Cold a4 replay over warm",
        [f"{statistics.median([f['cold_a4'] / f['warm_a4'] for f in results[l]]):.1f}x"
         for l in labels], "clearly slower")
    row("Cold a4 key to audible sound, median",
        [ms(statistics.median([f["cold_a4_sound"] for f in results[l]])) for l in labels], "")


if __name__ == "__main__":
    main()
