#!/usr/bin/python3
"""Is the wait for the test file spoken? Runs the program under Debian's Orca (through
scripts/check_spoken_wait.sh [--runs N] BINARY...), presses Return on the start box once Orca
has read it, and reads Orca's debug log up to the result box. Passes when in every run of the
first binary Orca said the progress caption once and cut it off for the result; other binaries
(an older build, say) are only measured. The result's speech on the sink counts from the first
0.15 s pause after its box: an upper bound where it follows a cut-off without one.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/e2e/linux"))
import desktop  # noqa: E402  (the end-to-end runs' driver, which also finds scripts/)
from desktop import DriverError, run, visible_windows  # noqa: E402
from orca import Orca, clock  # noqa: E402


def speech_starts(recorder, since):
    """Times (seconds since midnight) at which speech set in on the sink after 0.15 s of
    silence: Orca's utterances."""
    samples, block = recorder.samples(), desktop.sink.RATE // 100
    starts, quiet_blocks = [], 15
    offset = clock() - time.monotonic()
    for index in range(0, len(samples) - block, block):
        if max(map(abs, samples[index:index + block])) >= desktop.sink.SOUND:
            if quiet_blocks >= 15:
                starts.append(recorder.start + index / desktop.sink.RATE + offset)
            quiet_blocks = 0
        else:
            quiet_blocks += 1
    return [at for at in starts if at >= since]


def one_run(binary, texts, orca, log):
    """Start box OK to result box; returns the timings and what Orca said meanwhile."""
    desktop.remove_test_file()
    program = desktop.Program(binary, log, always_on=False)  # as on a desktop with a reader
    silent = desktop.sink.keep_running()
    recorder = desktop.sink.Sink()
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
        heard = program.wait("the result to be heard", lambda: speech_starts(recorder, sent),
                             90, 0.5)
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
        if os.path.exists(desktop.TEST_FILE):
            raise DriverError("the program left its test file behind")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--facts", required=True)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    desktop.load_facts(args.facts)
    texts = desktop.FACTS
    folder = tempfile.mkdtemp(prefix="sorelcheck-orca-")
    orca = Orca(folder)
    orca.start()
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
