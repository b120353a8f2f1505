#!/usr/bin/python3
"""test_sorelcheck.py --binary PATH --facts PATH [unittest arguments]: the program on the X
display of scripts/desktop_session.sh, seen as a screen reader sees it, against its own facts."""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = None
FACTS = None  # desktop.FACTS, once main has read them


class ProgramTestCase(unittest.TestCase):
    def setUp(self):
        import desktop  # imported here so that a run without DISPLAY can skip first

        self.desktop = desktop
        self.addCleanup(desktop.remove_test_file)
        self.prepare_test_file_path()
        self.work_dir = tempfile.mkdtemp(prefix="sorelcheck-e2e-")
        self.addCleanup(shutil.rmtree, self.work_dir, True)
        self.used_before = desktop.used_bytes()
        self.program = desktop.Program(self.program_binary(), f"{self.work_dir}/program.log",
                                       before_start=self.before_start())
        self.addCleanup(self.show_program_log_on_failure)
        self.addCleanup(self.program.stop)
        self.program.attach()

    def program_binary(self):
        return BINARY

    def before_start(self):
        return self.desktop.no_core_dump

    def prepare_test_file_path(self):
        self.assertFalse(os.path.isdir(self.desktop.TEST_FILE), "another run left a folder")
        self.desktop.remove_test_file()

    def show_program_log_on_failure(self):
        if not self._outcome.success:
            with open(self.program.log_path, errors="replace") as log:
                sys.stderr.write(f"--- program output ---\n{log.read()}--- end ---\n")

    def check_message(self, box, title, text):
        self.assertEqual((box.title, box.text, [b.name for b in box.buttons]), (title, text, ["OK"]))

    def check_window(self, welcome_enabled, label4=None, label4_showing=False):
        """Caption, size and labels (in the client area) as the core laid them out."""
        pyatspi = self.desktop.pyatspi
        frame = self.program.frame()
        left, top, *size = self.desktop.extents(frame)
        labels = self.program.labels()

        def seen(label):
            state = label.getState()
            showing = state.contains(pyatspi.STATE_SHOWING)
            x, y, *box = self.desktop.extents(label) if showing else (0, 0)  # hidden: none
            return (label.name, showing and [x - left, y - top] + box, state.contains(focusable),
                    label.getRole())

        focusable = pyatspi.STATE_FOCUSABLE
        # A screen reader speaks the announced label (the progress) as soon as it shows.
        expected = [(label["caption"], label["visible"] and label["geometry"], False,
                     pyatspi.ROLE_NOTIFICATION if label["announced"] else pyatspi.ROLE_LABEL)
                    for label in FACTS["labels"]]
        if label4 is not None:
            expected[3] = (label4, label4_showing and FACTS["labels"][3]["geometry"], False,
                           expected[3][3])
        self.assertEqual(
            (frame.name, size, labels[0].getState().contains(pyatspi.STATE_ENABLED),
             [seen(label) for label in labels]),
            (FACTS["caption"], FACTS["client"], welcome_enabled, expected))

    def run_disk_test(self, during_write=None, on_result=None):
        """Start, result and instruction messages; returns the reported seconds."""
        start = self.program.wait_for_message(timeout=10)
        self.check_message(start, FACTS["test_title"], FACTS["start"])
        self.check_window(welcome_enabled=False)
        pressed_at = time.monotonic()
        start.press_ok()
        if during_write:
            during_write()

        result = self.program.wait_for_message(after=start, timeout=60)
        waited = time.monotonic() - pressed_at
        if on_result:
            on_result(result)
        before, after = FACTS["result"]
        figure = result.text[len(before):len(result.text) - len(after)]
        self.check_message(result, FACTS["test_title"], before + figure + after)
        # A sparse far write would be reported as 0; rounding allows 0.02 s over the wait.
        self.assertTrue(0 < float(figure) <= waited + 0.02, f"{figure} s after {waited} s")
        self.check_window(False, FACTS["progress"])
        info = os.stat(self.program.test_file())
        self.assertEqual(info.st_size, self.desktop.TEST_FILE_SIZE, "size of the test file")
        self.assertGreaterEqual(info.st_blocks * 512, info.st_size, "the test file is sparse")
        result.press_ok()

        instruction = self.program.wait_for_message(after=result, timeout=10)
        self.check_message(instruction, FACTS["test_title"], FACTS["instruction"])
        self.check_window(False, FACTS["progress"])
        instruction.press_ok()
        return float(figure)

    def wait_ready_for_keys(self):
        window = self.program.main_window_id()
        self.desktop.wait_until(
            "the main window to take the keyboard again",
            lambda: self.program.frame().getState().contains(self.desktop.pyatspi.STATE_ACTIVE)
            and self.desktop.run(["xdotool", "getwindowfocus"]).stdout.strip() == window, 5)
        self.check_window(True, FACTS["progress"])
        self.assertTrue(self.program.test_file(), "test file not open")

    own_disk = False  # whether nothing but the program writes to the test file's folder

    def check_nothing_left(self, after):
        """No test file by name, and on a disk of its own, all its space back."""
        self.assertFalse(os.path.lexists(self.desktop.TEST_FILE), f"test file left after {after}")
        if self.own_disk:
            self.desktop.wait_until(f"the test file's space to come back after {after}", lambda:
                                    self.desktop.used_bytes() <= self.used_before + (1 << 20), 5)

    def escape_and_check_exit(self):
        self.program.key("Escape")
        self.assertEqual(self.program.wait_exit(5), 0, "exit status after Escape")
        self.check_nothing_left("Escape")


class NormalRunTest(ProgramTestCase):
    def test_window_messages_sound_and_exit(self):
        desktop = self.desktop
        self.run_disk_test()
        self.wait_ready_for_keys()

        self.addCleanup(desktop.end, desktop.sink.keep_running())
        # The first Down moves to the first sample, the first Up from there wraps to the last.
        # a2, the longest, is cut off by a1, then heard whole.
        for key, number, cut_off_by in (("Down", 1, None), ("Up", 5, None), ("Up", 4, None),
                                        ("Up", 3, None), ("Up", 2, ("Up", 1)), ("Down", 2, None)):
            with self.subTest(key=key, sample=number, cut_off_by=cut_off_by):
                self.check_key_plays_sound(key, number, cut_off_by)

        self.check_held_key()
        self.escape_and_check_exit()

    def check_key_plays_sound(self, key, number, cut_off_by=None):
        """The key's sample, told by its length, reaches the sink, or is cut off by a second key."""
        sink = self.desktop.sink
        lengths = {n: sink.sample_seconds(os.path.join(os.path.dirname(BINARY), sample["name"]))
                   for n, sample in enumerate(FACTS["samples"], 1)}
        recorder = sink.Sink()
        try:
            recorder.wait_for_silence()
            pressed_at = time.monotonic()
            self.program.key(key)
            sink.wait_for(f"sound after {key}", lambda: recorder.onset_ms(pressed_at) is not None, 3)
            print(f"{key}: sound on the sink {recorder.onset_ms(pressed_at):.0f} ms after the key")
            if cut_off_by:
                self.program.key(cut_off_by[0])
            recorder.wait_for_silence()
            heard = recorder.sounding_seconds(recorder.frame_at(pressed_at))
        finally:
            recorder.stop()
        if cut_off_by:
            cut, by = lengths[number], lengths[cut_off_by[1]]
            self.assertTrue(by < heard < cut - 0.05,
                            f"heard {heard:.3f} s: a{number} ({cut:.3f} s) was not cut off "
                            f"by a{cut_off_by[1]} ({by:.3f} s)")
            return
        self.assertAlmostEqual(heard, lengths[number], delta=0.005, msg=f"samples: {lengths}")

    def check_held_key(self):
        """A held Down steps per repeat, the window answering; no backlog after the release."""
        reads_before = self.program.read_calls()
        self.program.key("Down", "keydown")
        try:
            for _ in range(12):  # 3 s
                asked_at = time.monotonic()
                self.assertEqual(self.program.frame().name, FACTS["caption"])
                self.assertLess(time.monotonic() - asked_at, 2.0, "AT-SPI answer while held")
                time.sleep(0.25)
        finally:
            self.desktop.run(["xdotool", "keyup", "Down"])
        # One step per repeat, so a held key makes thousands of reads.
        fewest = min(sample["reads"] for sample in FACTS["samples"])
        self.assertGreater(self.program.read_calls() - reads_before, 20 * fewest, "no repeat?")

        def settled():
            before = self.program.read_calls()
            time.sleep(0.3)
            return self.program.read_calls() - before < fewest

        self.desktop.wait_until("the replays to stop after the key was released", settled, 2)


class FailureRunTest(ProgramTestCase):
    """The disk fills during the write; somebody's folder at the test file's path is left be."""

    def before_start(self):
        return self.desktop.limit_file_size(64 << 20)

    def prepare_test_file_path(self):
        super().prepare_test_file_path()
        self.keeper = os.path.join(self.desktop.TEST_FILE, "keep")
        os.mkdir(self.desktop.TEST_FILE)
        self.addCleanup(shutil.rmtree, self.desktop.TEST_FILE, True)
        open(self.keeper, "w").close()

    def test_failure_message_then_nonzero_exit(self):
        start = self.program.wait_for_message(timeout=10)
        start.press_ok()
        failure = self.program.wait_for_message(after=start, timeout=20)
        self.check_message(failure, FACTS["failure_title"], FACTS["failure"])
        # The window stays as the failed step left it, the half-made file gone already.
        self.check_window(False, FACTS["progress"], label4_showing=True)
        self.assertIsNone(self.program.test_file(), "the half-made file is still open")
        failure.press_ok()
        self.assertGreater(self.program.wait_exit(5), 0, "the program ends with a failure status")
        self.assertTrue(os.path.isfile(self.keeper), "the folder in the way was not touched")


class TwoRunsTest(ProgramTestCase):
    """A second run, of a copy without its voice samples, beside a first one: each run has a
    file of its own, the second's keys replay in silence, and SIGTERM still cleans up."""

    def test_a_second_run_without_samples_beside_the_first(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        first, first_file = self.program, os.stat(self.program.test_file())
        self.program = self.desktop.Program(shutil.copy2(BINARY, self.work_dir),
                                            f"{self.work_dir}/second.log")
        self.addCleanup(self.program.stop)
        self.program.attach()
        self.run_disk_test()
        self.wait_ready_for_keys()
        reads = [sample["reads"] for sample in FACTS["samples"]]
        before = self.program.read_calls()
        for key in ("Down", "Up", "Down"):  # a1, a5 (Up wraps to the last), a1
            self.program.key(key)
        self.desktop.wait_until("the three replays", lambda: self.program.read_calls() - before
                                >= reads[0] + reads[4] + reads[0], 10)
        self.assertEqual(self.program.frame().name, FACTS["caption"], "the window still answers")
        self.assertEqual(self.desktop.sink.streams_of(self.program.pid), [], "a stream, no sample")
        self.program.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.program.wait_exit(5), 0, "SIGTERM ends through the normal unload")
        self.check_nothing_left("SIGTERM")

        self.program = first
        now = os.stat(first.test_file())
        self.assertEqual((now.st_ino, now.st_size, now.st_mtime_ns),
                         (first_file.st_ino, first_file.st_size, first_file.st_mtime_ns),
                         "the first run's file was replaced or written")
        before = first.read_calls()
        first.key("Down")
        self.desktop.wait_until("the first run's replay",
                                lambda: first.read_calls() - before >= reads[0], 10)
        self.escape_and_check_exit()


class NoDisplayTest(unittest.TestCase):  # started where there is no desktop, over ssh say
    def test_one_line_in_the_users_language_and_status_1(self):
        import desktop

        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        for lang, words in (("ja_JP.UTF-8", "デスクトップ"), ("C.UTF-8", "desktop session")):
            with self.subTest(lang=lang):
                ended = subprocess.run([BINARY], env=dict(env, LANG=lang, LC_ALL=lang),
                                       capture_output=True, text=True, timeout=10,
                                       preexec_fn=desktop.no_core_dump)
                self.assertEqual((ended.returncode, ended.stdout, len(ended.stderr.splitlines())),
                                 (1, "", 1), ended.stderr)
                self.assertIn(words, ended.stderr)


def main():
    global BINARY, FACTS
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--binary", required=True)
    parser.add_argument("--facts", required=True)
    args, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        print("SKIPPED: DISPLAY is not set; run through scripts/desktop_session.sh")
        sys.exit(77)
    BINARY = os.path.abspath(args.binary)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import desktop

    desktop.load_facts(args.facts)
    FACTS = desktop.FACTS
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
