#!/usr/bin/python3
"""Is the wait for the test file spoken? Runs the real program under Debian's Orca and reads
from Orca's debug log what it said between the OK of the start box and the result box.

Usage: scripts/check_spoken_wait.sh [--runs N] [--no-orca] BINARY [BINARY...]
(root; that script gives the run its own desktop and process namespace). Each run presses
Return on the start box, as a user would, and nothing else until the result box. It passes
when Orca said the progress caption exactly once in that interval, for every run of the first
binary; the other binaries (an older build, say) are only measured. Prints per run: OK to the
write's start (the test file appears), OK to the caption spoken, result box to its figure
spoken. With --no-orca the same runs happen without a screen reader (timings only).
"""

import argparse
import datetime
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import DIE_WITH_TEST, TEST_FILE, DriverError, run, wait_until  # noqa: E402

# A stamped entry of Orca's debug log; an utterance of several lines goes on indented.
ENTRY = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d+) - (.*?)(?=^\d\d:\d\d:\d\d\.\d+ - |\Z)",
                   re.M | re.S)
# The utterance in quotes, then maybe the voice's name, then the voice's settings.
SPOKEN = re.compile(r"SPEECH OUTPUT: '(.*?)'(?: voice=\S+)? ?\{", re.S)


def clock():
    """Wall-clock seconds since midnight, as Orca stamps its log."""
    now = datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6


class Orca:
    def __init__(self, folder):
        self.log_path = f"{folder}/orca-debug.log"
        self.output = open(f"{folder}/orca.out", "wb")
        self.process = subprocess.Popen(
            DIE_WITH_TEST + ["orca", "--debug-file", self.log_path], stdout=self.output,
            stderr=subprocess.STDOUT, env=dict(os.environ, GTK_A11Y="atspi"))
        # Ready once it has spoken its welcome ("Screen reader on").
        wait_until("Orca to start speaking", lambda: self.spoken(0), 60, 0.2)

    def spoken(self, since):
        """(time, text) of what Orca said from `since` (seconds since midnight) on."""
        if self.process.poll() is not None:
            raise DriverError(f"Orca ended with status {self.process.returncode}")
        try:
            with open(self.log_path, errors="replace") as log:
                text = log.read()
        except FileNotFoundError:
            return []
        found = []
        for h, m, s, entry in ENTRY.findall(text):
            if said := SPOKEN.match(entry):
                utterance = re.sub(r"\n {18}", "\n", said.group(1))
                found.append((int(h) * 3600 + int(m) * 60 + float(s), utterance))
        return [(at, said) for at, said in found if at >= since]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.output.close()


def boxes(pid, title):
    found = run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
                 f"^{re.escape(title)}$"], check=False).stdout.split()
    return set(found)


def one_run(binary, texts, orca, folder):
    """Start box OK to result box; returns the timings and what Orca said meanwhile."""
    desktop.remove_test_file()
    env = dict(os.environ)
    # A real desktop: the program learns from the accessibility bus whether a reader runs.
    env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
    log = open(f"{folder}/program.log", "ab")
    program = subprocess.Popen(DIE_WITH_TEST + [binary], stdin=subprocess.DEVNULL, stdout=log,
                               stderr=subprocess.STDOUT, cwd=folder, env=env)
    try:
        title = texts["test_title"]
        (start,) = wait_until("the start box", lambda: boxes(program.pid, title), 30)
        # What Orca says about the box is over before OK is pressed.
        time.sleep(2)
        run(["xdotool", "windowactivate", "--sync", start])
        run(["xdotool", "key", "Return"])
        pressed = clock()
        write_started = None

        def result_box():
            nonlocal write_started
            if write_started is None and os.path.exists(TEST_FILE):
                write_started = clock()
            if program.poll() is not None:
                raise DriverError(f"the program ended with status {program.returncode}")
            return boxes(program.pid, title) - {start}

        wait_until("the result box", result_box, 120, 0.01)
        shown = clock()
        if write_started is None:
            raise DriverError("the test file was never seen")
        said = []
        if orca:
            figure = texts["result"][0].split("\n")[0]
            wait_until("Orca to read the result", lambda: [
                s for s in orca.spoken(shown) if figure in s[1]], 20, 0.1)
            said = orca.spoken(pressed)
        return {"write": write_started - pressed, "shown": shown - pressed,
                "result": [at - shown for at, text in said if figure in text][:1] if orca else [],
                "progress": [at - pressed for at, text in said
                             if texts["progress"] in text and at < shown],
                "said": said}
    finally:
        program.send_signal(signal.SIGTERM)
        program.wait(10)
        log.close()
        if os.path.exists(TEST_FILE):
            raise DriverError("the program left its test file behind")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--texts", required=True)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--no-orca", action="store_true")
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    texts = json.loads(run([args.texts]).stdout)

    folder = tempfile.mkdtemp(prefix="sorelcheck-orca-")
    orca = None if args.no_orca else Orca(folder)
    results = {binary: [] for binary in args.binaries}
    failures = 0
    try:
        for number in range(args.runs):
            for binary in args.binaries:
                outcome = one_run(os.path.abspath(binary), texts, orca, folder)
                results[binary].append(outcome)
                progress = ", ".join(f"{at:.2f} s" for at in outcome["progress"]) or "never"
                result = "".join(f"{at:.2f} s" for at in outcome["result"]) or "-"
                print(f"{binary} run {number + 1}: write {outcome['write']:.2f} s after OK, "
                      f"result box at {outcome['shown']:.2f} s, progress spoken at {progress},"
                      f" result spoken {result} after its box", flush=True)
                if orca and binary == args.binaries[0] and len(outcome["progress"]) != 1:
                    failures += 1
                    print("  Orca said meanwhile:", [text for _, text in outcome["said"]])
    finally:
        if orca:
            orca.stop()
        if failures:
            print(f"Orca's debug log and the programs' output are in {folder}")
        else:
            shutil.rmtree(folder, True)
    for binary, outcomes in results.items():
        print(f"{binary}: median OK to write {statistics.median(o['write'] for o in outcomes):.2f}"
              f" s over {len(outcomes)} runs")
    if not orca:
        return 0
    print("spoken wait:", "FAILED" if failures else "passed",
          f"({args.runs - failures} of {args.runs} runs spoke it once)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
