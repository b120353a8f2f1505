#!/usr/bin/python3
"""Is the wait for the test file spoken? Runs the program under Debian's Orca (through
scripts/check_spoken_wait.sh [--runs N] BINARY...), presses Return on the start box once Orca
has read it, and reads Orca's debug log up to the result box. Passes when in every run of the
first binary Orca said the progress caption once and cut it off for the result; other binaries
(an older build, say) are only measured. The result's speech on the sink counts from the first
0.15 s pause after its box: an upper bound where it follows a cut-off without one.
"""

import argparse
import datetime
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import DIE_WITH_TEST, TEST_FILE, DriverError, run, visible_windows  # noqa: E402

# A stamped entry of Orca's debug log; an utterance of several lines goes on indented.
ENTRY = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d+) - (.*?)(?=^\d\d:\d\d:\d\d\.\d+ - |\Z)",
                   re.M | re.S)
# The utterance in quotes, then maybe the voice's name, then the voice's settings.
SPOKEN = re.compile(r"SPEECH OUTPUT: '(.*?)'(?: voice=\S+)? ?\{", re.S)
INTERRUPTED = "DEFAULT: Interrupting presentation"


def clock():
    """Wall-clock seconds since midnight, as Orca stamps its log."""
    now = datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6


class Orca:
    """Orca as a Japanese user runs it: its own words and the speech voice in Japanese."""

    def __init__(self, folder):
        self.log_path = f"{folder}/orca-debug.log"
        self.output = open(f"{folder}/orca.out", "wb")
        locales = f"{folder}/locales"
        os.mkdir(locales)
        run(["localedef", "-i", "ja_JP", "-f", "UTF-8", f"{locales}/ja_JP.UTF-8"], timeout=60)
        self.process = subprocess.Popen(
            DIE_WITH_TEST + ["orca", "--debug-file", self.log_path], stdout=self.output,
            stderr=subprocess.STDOUT,
            env=dict(os.environ, LOCPATH=locales, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8"))
        desktop.wait_until("Orca to speak its welcome", lambda: self.spoken(0), 60, 0.2)

    def entries(self, since):  # (time, text) of the log entries from `since` on
        if self.process.poll() is not None:
            raise DriverError(f"Orca ended with status {self.process.returncode}")
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, errors="replace") as log:
            text = log.read()
        found = [(int(h) * 3600 + int(m) * 60 + float(s), entry)
                 for h, m, s, entry in ENTRY.findall(text)]
        return [(at, entry) for at, entry in found if at >= since]

    def spoken(self, since):
        return [(at, re.sub(r"\n {18}", "\n", said.group(1))) for at, entry in self.entries(since)
                if (said := SPOKEN.match(entry))]

    def interruptions(self, since):
        return [at for at, entry in self.entries(since) if entry.startswith(INTERRUPTED)]

    def stop(self):
        desktop.end(self.process, 10)
        self.output.close()


def speech_starts(recorder, recorded_until):
    """Times at which speech set in on the sink after 0.15 s of silence: Orca's utterances."""
    samples, block = recorder._samples(), recorder.RATE // 100
    starts, quiet_blocks = [], 15
    for index in range(0, len(samples) - block, block):
        if max(map(abs, samples[index:index + block])) >= desktop.SOUND:
            if quiet_blocks >= 15:
                starts.append(recorded_until - (len(samples) - index) / recorder.RATE)
            quiet_blocks = 0
        else:
            quiet_blocks += 1
    return starts


def one_run(binary, texts, orca, log):
    """Start box OK to result box; returns the timings and what Orca said meanwhile."""
    desktop.remove_test_file()
    program = desktop.Program(binary, log, always_on=False)  # as on a desktop with a reader
    recorder = desktop.SinkRecorder(f"{os.path.dirname(log)}/speech.raw")
    silent = desktop.silent_stream()
    try:
        boxes = lambda: set(visible_windows(program.pid, texts["test_title"]))  # noqa: E731
        (start,) = program.wait("the start box", boxes, 30)
        # Orca has read the whole box before OK is pressed.
        time.sleep(0.5)
        recorder.wait_for_silence(0.5, 90)
        run(["xdotool", "windowactivate", "--sync", start])
        run(["xdotool", "key", "Return"])
        pressed = clock()
        write_started = None

        def result_box():
            nonlocal write_started
            if write_started is None and desktop.open_test_file(program.pid):
                write_started = clock()
            return boxes() - {start}

        program.wait("the result box", result_box, 120, 0.01)
        shown = clock()
        if write_started is None:
            raise DriverError("the test file was never seen")
        first_line = texts["result"][0].split("\n")[0]
        (sent, _), *_ = program.wait("Orca to read the result", lambda: [
            s for s in orca.spoken(shown) if first_line in s[1]], 20, 0.1)
        # After what was still being said when Orca got the result: espeak-ng spells kanji out
        # slowly, so this can take many seconds here.
        heard = program.wait("the result to be heard", lambda: [
            at for at in speech_starts(recorder, clock()) if at >= sent], 90, 0.5)
        progress = [at for at, text in orca.spoken(pressed)
                    if texts["progress"] in text and at < shown]
        return {"write": write_started - pressed, "shown": shown - pressed,
                "said": orca.spoken(pressed), "result": sent - shown, "heard": heard[0] - shown,
                "progress": [at - pressed for at in progress],
                "cut": bool(progress) and any(progress[0] < at < sent
                                              for at in orca.interruptions(progress[0]))}
    finally:
        desktop.end(silent)
        recorder.stop()
        program.stop()
        if os.path.exists(TEST_FILE):
            raise DriverError("the program left its test file behind")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--texts", required=True)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    texts = json.loads(run([args.texts]).stdout)
    folder = tempfile.mkdtemp(prefix="sorelcheck-orca-")
    orca = Orca(folder)
    results = {binary: [] for binary in args.binaries}
    failures = 0
    try:
        for number in range(args.runs):
            for index, binary in enumerate(args.binaries):
                log = f"{folder}/program-{index}-{number + 1}.log"
                o = one_run(os.path.abspath(binary), texts, orca, log)
                results[binary].append(o)
                print(f"{binary} run {number + 1}: write {o['write']:.2f} s after OK, result box"
                      f" at {o['shown']:.2f} s; progress spoken at "
                      + (", ".join(f"{at:.2f} s" for at in o["progress"]) or "never")
                      + f"; result sent to speech {o['result']:.2f} s after its box"
                      + (", cutting off what was being said" if o["cut"] else "")
                      + f", heard {o['heard']:.2f} s after it", flush=True)
                # The caption once, and not in the way of the result.
                if index == 0 and (len(o["progress"]) != 1 or not o["cut"]):
                    failures += 1
                    print("  Orca said meanwhile:", [text for _, text in o["said"]])
    except BaseException:
        failures += 1
        raise
    finally:
        orca.stop()
        if failures:
            print(f"Orca's debug log and the programs' output are in {folder}")
        else:
            shutil.rmtree(folder, True)
    for binary, outcomes in results.items():
        print(f"{binary}: medians over {len(outcomes)} runs: OK to write "
              f"{statistics.median(o['write'] for o in outcomes):.2f} s, result box to its "
              f"speech heard {statistics.median(o['heard'] for o in outcomes):.2f} s")
    print("spoken wait:", "FAILED" if failures else "passed",
          f"({args.runs - failures} of {args.runs} runs spoke it once and cut it off for the "
          "result)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
