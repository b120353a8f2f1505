#!/usr/bin/python3
"""Is the wait for the test file spoken? Runs the real program under Debian's Orca and reads
from Orca's debug log what it said between the OK of the start box and the result box.

Usage: scripts/check_spoken_wait.sh [--runs N] [--no-orca] BINARY [BINARY...]
(root; that script gives the run its own desktop and process namespace). Each run presses
Return on the start box, once Orca has read it, as a user would, and nothing else until the
result box. It passes when, in every run of the first binary, Orca said the progress caption
exactly once in that interval and cut it off before it said the result (Orca queues what it
says: a caption still being spoken must not hold the result back). Other binaries (an older
build, say) are only measured. Prints per run: OK to the write's start (the test file
appears), OK to the caption spoken, the result box to Orca sending its text to speech and to
the next speech on the sink after 0.15 s of silence (a result that follows a cut-off without
such a pause is counted at its first pause: an upper bound). With --no-orca the same runs
happen without a screen reader (timings only).
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
        # Ready once it has spoken its welcome.
        wait_until("Orca to start speaking", lambda: self.spoken(0), 60, 0.2)

    def entries(self, since):
        """(time, text) of the stamped log entries from `since` (seconds since midnight) on."""
        if self.process.poll() is not None:
            raise DriverError(f"Orca ended with status {self.process.returncode}")
        try:
            with open(self.log_path, errors="replace") as log:
                text = log.read()
        except FileNotFoundError:
            return []
        found = [(int(h) * 3600 + int(m) * 60 + float(s), entry)
                 for h, m, s, entry in ENTRY.findall(text)]
        return [(at, entry) for at, entry in found if at >= since]

    def spoken(self, since):
        """(time, text) of what Orca said from `since` on."""
        return [(at, re.sub(r"\n {18}", "\n", said.group(1))) for at, entry in self.entries(since)
                if (said := SPOKEN.match(entry))]

    def interruptions(self, since):
        """Times from `since` on at which Orca cut off what it was saying."""
        return [at for at, entry in self.entries(since) if entry.startswith(INTERRUPTED)]

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


def speech_starts(recorder, recorded_until):
    """Times (seconds since midnight) at which speech set in on the sink after at least 0.15 s of
    silence; each utterance of Orca's is one such stretch, give or take a long pause."""
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


def one_run(binary, texts, orca, folder):
    """Start box OK to result box; returns the timings and what Orca said meanwhile."""
    desktop.remove_test_file()
    env = dict(os.environ)
    # A real desktop: the program learns from the accessibility bus whether a reader runs.
    env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
    log = open(f"{folder}/program.log", "ab")
    program = subprocess.Popen(DIE_WITH_TEST + [binary], stdin=subprocess.DEVNULL, stdout=log,
                               stderr=subprocess.STDOUT, cwd=folder, env=env)
    recorder = desktop.SinkRecorder(f"{folder}/speech.raw")
    silent = desktop.SilentStream()
    try:
        title = texts["test_title"]
        (start,) = wait_until("the start box", lambda: boxes(program.pid, title), 30)
        # Orca has read the whole box before OK is pressed.
        time.sleep(0.5)
        recorder.wait_for_silence(0.5, 90)
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
        outcome = {"write": write_started - pressed, "shown": shown - pressed, "progress": [],
                   "result": None, "heard": None, "said": [], "cut": False}
        if orca:
            first_line = texts["result"][0].split("\n")[0]
            (sent, _), *_ = wait_until("Orca to read the result", lambda: [
                s for s in orca.spoken(shown) if first_line in s[1]], 20, 0.1)
            # After what was still being said when Orca got the result: espeak-ng spells kanji
            # out slowly, so this can take many seconds here.
            heard = wait_until("the result to be heard", lambda: [
                at for at in speech_starts(recorder, clock()) if at >= sent], 90, 0.5)
            progress = [at for at, text in orca.spoken(pressed)
                        if texts["progress"] in text and at < shown]
            outcome.update(
                said=orca.spoken(pressed), result=sent - shown, heard=heard[0] - shown,
                progress=[at - pressed for at in progress],
                cut=bool(progress) and any(progress[0] < at < sent
                                           for at in orca.interruptions(progress[0])))
        return outcome
    finally:
        silent.stop()
        recorder.stop()
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
                line = (f"{binary} run {number + 1}: write {outcome['write']:.2f} s after OK,"
                        f" result box at {outcome['shown']:.2f} s")
                if orca:
                    progress = ", ".join(f"{at:.2f} s" for at in outcome["progress"]) or "never"
                    heard = outcome["heard"]
                    line += (f"; progress spoken at {progress}; result sent to speech"
                             f" {outcome['result']:.2f} s after its box"
                             + (", cutting off what was being said" if outcome["cut"] else "")
                             + f", heard {heard:.2f} s after it")
                print(line, flush=True)
                # The caption once, and not in the way of the result: what is still being said
                # about the window is cut off when the result box opens.
                if orca and binary == args.binaries[0] and (
                        len(outcome["progress"]) != 1 or not outcome["cut"]):
                    failures += 1
                    print("  Orca said meanwhile:", [text for _, text in outcome["said"]])
    except BaseException:
        failures += 1
        raise
    finally:
        if orca:
            orca.stop()
        if failures:
            print(f"Orca's debug log and the programs' output are in {folder}")
        else:
            shutil.rmtree(folder, True)
    for binary, outcomes in results.items():
        line = (f"{binary}: medians over {len(outcomes)} runs: OK to write "
                f"{statistics.median(o['write'] for o in outcomes):.2f} s")
        heard = [o["heard"] for o in outcomes if o["heard"] is not None]
        if heard:
            line += f", result box to its speech heard {statistics.median(heard):.2f} s"
        print(line)
    if not orca:
        return 0
    print("spoken wait:", "FAILED" if failures else "passed",
          f"({args.runs - failures} of {args.runs} runs spoke it once and cut it off for the "
          "result)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
