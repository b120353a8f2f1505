#!/usr/bin/python3
"""End-to-end tests of the SorelCheck binary on an X display with a screen reader's view.

Usage: test_sorelcheck.py --binary PATH [unittest arguments, e.g. a test class name]
Runs inside scripts/desktop_session.sh (Xvfb, openbox, D-Bus, PulseAudio null sink). Without a
DISPLAY it reports a skip with exit status 77.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SKIP_STATUS = 77

BINARY = None

WELCOME = ("Orvaneの案内へ ようこそ\n"
           "Orvaneは、Windowsの操作を 音声で案内するソフトです。\n"
           "Internet Explorerや Microsoft Word なども、音声でガイドします。\n"
           "お問い合わせは、ソルネ工房または、お近くの 販売店までどうぞ。\n"
           "この音声は、Sorel、ノエラがお届けしました！\n")
INSTRUCTION_LABEL = "下矢印キーを押した後、すぐに音声が出力されるか調子を確認してください。"
EXIT_HINT = "Escapeキーで終了します。"
PROGRESS = "ファイル作成中です..."

# Client-area geometry of Label1 to Label4: x, y, width, height.
LABEL_GEOMETRY = [(8, 8, 505, 89), (8, 104, 465, 25), (8, 128, 385, 17), (352, 128, 153, 17)]
CLIENT_SIZE = (524, 152)

TEST_TITLE = "動作確認"
START_TEXT = ("音声テストファイルを作成します。\n"
              "テストファイルの作成が早いパソコンほど、ハードディスクの性能が高いパソコンです。\n"
              "標準の作成時間は、15秒程度です。")
RESULT_FIRST_LINE = "音声テストファイルを作成しました。"
RESULT_SECOND_LINE = re.compile(r"ファイル作成に(0|[1-9][0-9]*)(\.[0-9]*[1-9])?秒かかりました。")
INSTRUCTION_TEXT = ("Sorelを実際に使った感じを体験してみましょう。\n"
                    "下矢印キーを押すと、Sorelの音声でしゃべります。\n"
                    "キーを押した後、すぐにしゃべるかどうか レスポンスを確認してください。\n"
                    "２回目に同じ言葉をしゃべるときは、メモリにアクセスするため すぐにしゃべります。\n"
                    "１回目と２回目の音声レスポンスの違いが少ないほど、高い性能のパソコンです。\n"
                    "終了したいときはEscapeキーを押してください。")
FAILURE_TITLE = "エラーが発生しました"
FAILURE_TEXT = "音声テストファイルの作成に失敗しました。\nプログラムを終了します。"

# Any single step that takes longer than this counts as a hang.
TEST_TIME_LIMIT = 90


class TimeLimit(Exception):
    pass


class ProgramTestCase(unittest.TestCase):
    """Starts the program with a clean test-file path and always cleans up after it."""

    def setUp(self):
        import desktop  # imported here so that a run without DISPLAY can skip first

        self.desktop = desktop
        self.addCleanup(desktop.remove_test_file)
        self.addCleanup(desktop.release_keys)
        self.prepare_test_file_path()

        self.work_dir = tempfile.mkdtemp(prefix="sorelcheck-e2e-")
        self.addCleanup(shutil.rmtree, self.work_dir, True)

        def over_time(signum, frame):
            raise TimeLimit(f"the test took longer than {TEST_TIME_LIMIT} s")

        signal.signal(signal.SIGALRM, over_time)
        signal.alarm(TEST_TIME_LIMIT)
        self.addCleanup(signal.alarm, 0)

        self.shots = desktop.Screenshots(os.environ.get("SORELCHECK_SCREENSHOT_DIR"),
                                         type(self).__name__)
        self.program = desktop.Program(self.program_binary(),
                                       os.path.join(self.work_dir, "program.log"))
        self.addCleanup(self.show_program_log_on_failure)
        self.addCleanup(self.program.stop)
        self.program.attach()

    def program_binary(self):
        return BINARY

    def prepare_test_file_path(self):
        if os.path.isdir(self.desktop.TEST_FILE):
            self.fail(f"a folder is in the way at {self.desktop.TEST_FILE}; another run left it")
        self.desktop.remove_test_file()

    def show_program_log_on_failure(self):
        outcome = getattr(self, "_outcome", None)
        failed = outcome is not None and not outcome.success
        if failed and os.path.exists(self.program.log_path):
            with open(self.program.log_path, errors="replace") as log:
                text = log.read().strip()
            if text:
                sys.stderr.write(f"--- program output ---\n{text}\n----------------------\n")

    # --- steps shared by the tests ---------------------------------------------------------

    def check_message(self, box, title, text, phase):
        self.assertEqual(box.title, title, f"title of the {phase}")
        self.assertEqual(box.text, text, f"text of the {phase}")
        self.assertNotIn("\r", box.text, f"the {phase} hands a raw CR to the screen reader")
        self.assertEqual(box.button_names, ["OK"], f"buttons of the {phase}")

    def label_states(self):
        labels = self.program.labels()
        self.assertEqual(len(labels), 4, "the window has four labels")
        return [(label.name,
                 label.getState().contains(self.desktop.pyatspi.STATE_SHOWING),
                 label.getState().contains(self.desktop.pyatspi.STATE_ENABLED))
                for label in labels]

    def check_label_phase(self, phase, welcome_enabled, progress_showing, progress_name):
        (welcome, welcome_showing, welcome_on), _, _, (progress, showing, _) = self.label_states()
        self.assertTrue(welcome_showing, f"Label1 shows during {phase}")
        self.assertEqual(welcome_on, welcome_enabled, f"Label1 enabled during {phase}")
        self.assertEqual(showing, progress_showing, f"Label4 showing during {phase}")
        self.assertEqual(progress, progress_name, f"Label4 text during {phase}")

    def pass_start_message(self):
        start = self.program.wait_for_message(timeout=10)
        self.check_message(start, TEST_TITLE, START_TEXT, "start message")
        self.check_label_phase("the start message", False, False, "Label4")
        self.shots.take("1-start-message", start.extents)
        return start

    def run_disk_test(self):
        """Start, result and instruction messages; returns the reported seconds."""
        start = self.pass_start_message()
        pressed_at = time.monotonic()
        start.press_ok()

        result = self.program.wait_for_message(after=start, timeout=60)
        waited = time.monotonic() - pressed_at
        self.assertEqual(result.title, TEST_TITLE, "title of the result message")
        self.assertEqual(result.button_names, ["OK"], "buttons of the result message")
        self.assertNotIn("\r", result.text)
        lines = result.text.split("\n")
        self.assertEqual(len(lines), 2, f"result message lines: {result.text!r}")
        self.assertEqual(lines[0], RESULT_FIRST_LINE)
        match = RESULT_SECOND_LINE.fullmatch(lines[1])
        self.assertIsNotNone(match, f"second line of the result message: {lines[1]!r}")
        seconds = float(match.group(1) + (match.group(2) or ""))
        # A sparse far write would be done in well under 5 ms and be reported as 0.
        self.assertGreater(seconds, 0, "the write of 700 MiB was timed as taking no time")
        # Clock steps of the single-precision seconds-since-midnight, and the rounding.
        self.assertLessEqual(seconds, waited + 0.02,
                             f"reported {seconds} s but the message came {waited:.2f} s after OK")
        self.check_label_phase("the result message", False, False, PROGRESS)
        self.check_test_file()
        self.shots.take("2-result-message", result.extents)
        result.press_ok()

        instruction = self.program.wait_for_message(after=result, timeout=10)
        self.check_message(instruction, TEST_TITLE, INSTRUCTION_TEXT, "instruction message")
        self.check_label_phase("the instruction message", False, False, PROGRESS)
        self.shots.take("3-instruction-message", instruction.extents)
        instruction.press_ok()
        self.program.wait_until_no_message(instruction)
        return seconds

    def check_test_file(self):
        info = os.stat(self.desktop.TEST_FILE)
        self.assertTrue(os.path.isfile(self.desktop.TEST_FILE))
        self.assertEqual(info.st_size, self.desktop.TEST_FILE_SIZE, "size of the test file")
        self.assertGreaterEqual(info.st_blocks * 512, info.st_size,
                                f"the test file is sparse: {info.st_blocks} blocks allocated")
        fd = os.open(self.desktop.TEST_FILE, os.O_RDONLY)
        try:
            # Peek without read-ahead and drop the page again: the voice test's first replay
            # is meant to find nothing of the file cached.
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_RANDOM)
            head = os.pread(fd, 64, 0)
            os.posix_fadvise(fd, 0, 4096, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)
        self.assertEqual(head, bytes(64), "the file starts with what an earlier file held")
        self.assertTrue(self.program.holds_open(self.desktop.TEST_FILE),
                        "the program keeps the test file open for the voice test")

    def wait_ready_for_keys(self):
        """After the last message the window must have the keyboard again by itself."""
        pyatspi = self.desktop.pyatspi

        def ready():
            return {
                "frame active": self.program.frame().getState().contains(pyatspi.STATE_ACTIVE),
                "X focus on the window":
                    self.program.focused_window_id() == self.program.main_window_id(),
            }

        try:
            self.desktop.wait_until("the main window to take the keyboard again",
                                    lambda: all(ready().values()), 5)
        except self.desktop.DriverError as error:
            self.fail(f"{error}: {ready()}")
        self.check_label_phase("the wait for keys", True, False, PROGRESS)

    def escape_and_check_exit(self):
        pressed_at = time.monotonic()
        self.program.key("Escape")
        status = self.program.wait_exit(5)
        self.assertEqual(status, 0, "exit status after Escape")
        self.assertFalse(os.path.lexists(self.desktop.TEST_FILE), "test file left after Escape")
        return time.monotonic() - pressed_at


class NormalRunTest(ProgramTestCase):
    """A whole run as a user makes it: read, confirm, listen, hold a key, leave."""

    def prepare_test_file_path(self):
        super().prepare_test_file_path()
        # An earlier run's file: it must be deleted, not reused, before the timed creation.
        with open(self.desktop.TEST_FILE, "wb") as earlier:
            earlier.write(b"from an earlier run\n" * 1000)

    def test_window_messages_sound_and_exit(self):
        desktop = self.desktop
        pyatspi = desktop.pyatspi

        frame = self.program.frame()
        self.assertEqual(frame.name, desktop.WINDOW_CAPTION)
        # The window manager places the window after it is mapped; Qt learns of it a moment later.
        try:
            desktop.wait_until(
                "the frame's extents to be the window's client area on the screen",
                lambda: desktop.extents(frame) == self.program.client_area_on_screen(), 5)
        except desktop.DriverError as error:
            self.fail(f"{error}: AT-SPI says {desktop.extents(frame)}, "
                      f"X says {self.program.client_area_on_screen()}")
        frame_box = desktop.extents(frame)
        self.assertEqual(frame_box[2:], CLIENT_SIZE, "client area size")

        names = [WELCOME, INSTRUCTION_LABEL, EXIT_HINT, "Label4"]
        labels = self.program.labels()
        self.assertEqual(len(labels), 4, "the window has four labels")
        for number, (label, name, geometry) in enumerate(zip(labels, names, LABEL_GEOMETRY), 1):
            with self.subTest(label=f"Label{number}"):
                self.assertEqual(label.name, name)
                self.assertNotIn("\r", label.name)
                self.assertEqual(label.getState().contains(pyatspi.STATE_SHOWING), number != 4)
                self.assertFalse(label.getState().contains(pyatspi.STATE_FOCUSABLE),
                                 "labels never take the focus")
                if number != 4:  # a hidden label has no extents
                    x, y, width, height = desktop.extents(label)
                    self.assertEqual((x - frame_box[0], y - frame_box[1], width, height),
                                     geometry, "position in the client area and size")

        self.run_disk_test()
        self.wait_ready_for_keys()
        self.shots.take("4-main-window", desktop.extents(self.program.frame()))

        self.assertTrue(desktop.null_sink_present(),
                        f"no PulseAudio sink {desktop.NULL_SINK!r}: run through "
                        "scripts/desktop_session.sh")
        silence = desktop.SilentStream()
        self.addCleanup(silence.stop)
        # The first Down moves to the first sample, the first Up from there wraps to the last.
        # a2, the longest, is cut off by a1, then heard whole.
        for key, number, cut_off_by in (("Down", 1, None), ("Up", 5, None), ("Up", 4, None),
                                        ("Up", 3, None), ("Up", 2, ("Up", 1)), ("Down", 2, None)):
            with self.subTest(key=key, sample=number, cut_off_by=cut_off_by):
                self.check_key_plays_sound(key, number, cut_off_by)

        self.check_held_key()

        seconds = self.escape_and_check_exit()
        print(f"Escape to exit: {seconds:.2f} s")

    def check_key_plays_sound(self, key, number, cut_off_by=None):
        """The key's sample reaches the sink, told from the others by how long it sounds. A
        second key while it plays must cut it off: the sound then ends with the second sample."""
        desktop = self.desktop
        lengths = {n: desktop.sound_seconds(os.path.join(os.path.dirname(BINARY), f"a{n}.wav"))
                   for n in range(1, 6)}
        recorder = desktop.SinkRecorder(os.path.join(self.work_dir, f"{key}-a{number}.raw"))
        try:
            recorder.wait_for_silence()
            key_at = recorder.length()
            pressed_at = time.monotonic()
            self.program.key(key)
            desktop.wait_until(f"sound on the sink after {key}", lambda: recorder.sound(key_at), 3)
            print(f"{key}: sound on the sink {time.monotonic() - pressed_at:.2f} s after the key")
            if cut_off_by:
                self.program.key(cut_off_by[0])
            recorder.wait_for_silence()
            first, last = recorder.sound(key_at)
        finally:
            recorder.stop()
        heard = (last - first) / recorder.RATE
        if cut_off_by:
            cut, by = lengths[number], lengths[cut_off_by[1]]
            self.assertTrue(by < heard < cut - 0.05,
                            f"heard {heard:.3f} s: a{number} ({cut:.3f} s) was not cut off "
                            f"by a{cut_off_by[1]} ({by:.3f} s)")
            return
        nearest = min(lengths, key=lambda n: abs(lengths[n] - heard))
        self.assertEqual(nearest, number, f"heard {heard:.3f} s; the samples last {lengths}")
        self.assertAlmostEqual(heard, lengths[number], delta=0.005)

    def check_held_key(self):
        desktop = self.desktop
        self.assertTrue(desktop.ensure_key_repeat(), "X key auto-repeat is off")
        answer_times = []

        def ask_the_window():
            asked_at = time.monotonic()
            name = self.program.frame().name
            answer_times.append(time.monotonic() - asked_at)
            self.assertEqual(name, desktop.WINDOW_CAPTION)

        rss_before = self.program.rss_kib()
        reads_before = self.program.read_calls()
        self.program.hold_key("Down", 5, ask_the_window)
        released_at = time.monotonic()
        reads_held = self.program.read_calls() - reads_before

        # A replay is 126 to 198 reads; one step per repeat, so a held key makes thousands.
        self.assertGreater(reads_held, 20 * 126,
                           "holding Down made only a few voice steps: no key repeat?")

        def settled():
            before = self.program.read_calls()
            time.sleep(0.3)
            return self.program.read_calls() - before < 126

        desktop.wait_until("the replays to stop after the key was released", settled, 3)
        settle_time = time.monotonic() - released_at
        ask_the_window()
        rss_after = self.program.rss_kib()

        self.assertGreaterEqual(len(answer_times), 10, "AT-SPI answered too rarely while held")
        self.assertLess(max(answer_times), 2.0, "AT-SPI answer time while Down was held")
        self.assertLess(rss_after - rss_before, 20 * 1024,
                        f"memory grew from {rss_before} KiB to {rss_after} KiB")
        print(f"held Down 5 s: {reads_held} reads, {len(answer_times)} AT-SPI answers, "
              f"slowest {max(answer_times) * 1000:.0f} ms, settled {settle_time:.2f} s "
              f"after release, VmRSS {rss_before} -> {rss_after} KiB")


class FailureRunTest(ProgramTestCase):
    """The test file cannot be created: a non-empty folder stands at its path."""

    def prepare_test_file_path(self):
        super().prepare_test_file_path()
        os.mkdir(self.desktop.TEST_FILE)
        self.addCleanup(shutil.rmtree, self.desktop.TEST_FILE, True)
        self.keeper = os.path.join(self.desktop.TEST_FILE, "keep")
        with open(self.keeper, "w") as keeper:
            keeper.write("not the program's\n")

    def test_failure_message_then_nonzero_exit(self):
        start = self.pass_start_message()
        start.press_ok()

        failure = self.program.wait_for_message(after=start, timeout=20)
        self.check_message(failure, FAILURE_TITLE, FAILURE_TEXT, "failure message")
        # The window stays as the failed step left it.
        self.check_label_phase("the failure message", False, True, PROGRESS)
        frame_x, frame_y, _, _ = self.desktop.extents(self.program.frame())
        x, y, width, height = self.desktop.extents(self.program.labels()[3])
        self.assertEqual((x - frame_x, y - frame_y, width, height), LABEL_GEOMETRY[3],
                         "Label4's position in the client area and size")
        self.shots.take("2-failure-message", failure.extents)
        failure.press_ok()

        status = self.program.wait_exit(5)
        self.assertNotEqual(status, 0, "exit status after the failure message")
        self.assertGreater(status, 0, "the program ended by itself, not by a signal")
        self.assertTrue(os.path.isfile(self.keeper), "the folder in the way was not touched")


class TerminationSignalTest(ProgramTestCase):
    """A logout or `kill` while the program waits for keys still removes the test file."""

    def test_sigterm_while_waiting_for_keys(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        self.assertTrue(os.path.isfile(self.desktop.TEST_FILE))
        self.program.process.send_signal(signal.SIGTERM)
        status = self.program.wait_exit(5)
        self.assertEqual(status, 0, "SIGTERM ends the program through its normal unload")
        self.assertFalse(os.path.lexists(self.desktop.TEST_FILE), "test file left after SIGTERM")


class MissingSamplesTest(ProgramTestCase):
    """No samples beside the program: keys still replay their reads, silently, and nothing hangs."""

    def program_binary(self):
        alone = os.path.join(self.work_dir, "SorelCheck")
        shutil.copy2(BINARY, alone)
        return alone

    def test_keys_without_samples(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        before = self.program.read_calls()
        # a1, then a5 (Up wraps to the last), then a1 again.
        for key in ("Down", "Up", "Down"):
            self.program.key(key)
        replay_reads = 126 + 198 + 126
        self.desktop.wait_until("the three replays",
                                lambda: self.program.read_calls() - before >= replay_reads, 10)
        self.assertIsNotNone(self.program.frame(), "the window still answers the screen reader")
        self.assertEqual(self.desktop.sink_inputs_of(self.program.pid), [],
                         "a stream although no sample exists")
        self.escape_and_check_exit()


class DisplayLostTest(unittest.TestCase):
    """The X session dies under the program (a crash, a logout): the test file still goes."""

    def setUp(self):
        import desktop

        self.desktop = desktop
        self.addCleanup(desktop.remove_test_file)
        self.work_dir = tempfile.mkdtemp(prefix="sorelcheck-e2e-")
        self.addCleanup(shutil.rmtree, self.work_dir, True)

    def start_private_display(self):
        # A display of its own: the session's display must survive this test.
        read_end, write_end = os.pipe()
        server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                   "800x600x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                                  stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait()))
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        self.assertTrue(number.isdigit(), "Xvfb did not announce its display")
        return server, f":{number}"

    def test_file_removed_when_the_display_goes_away(self):
        server, display = self.start_private_display()
        env = dict(os.environ, DISPLAY=display, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="0")
        with open(os.path.join(self.work_dir, "program.log"), "wb") as log:
            program = subprocess.Popen([BINARY], env=env, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT)
        self.addCleanup(lambda: program.poll() is None and (program.kill(), program.wait()))
        xdotool = {"env": env, "capture_output": True, "timeout": 10}
        self.desktop.wait_until(
            "the start message",
            lambda: subprocess.run(["xdotool", "search", "--name", f"^{TEST_TITLE}$"],
                                   **xdotool).returncode == 0, 15)
        subprocess.run(["xdotool", "key", "Return"], check=True, **xdotool)
        self.desktop.wait_until(
            "the test file", lambda: os.path.exists(self.desktop.TEST_FILE) and
            os.path.getsize(self.desktop.TEST_FILE) == 734003200, 30)

        server.terminate()
        server.wait(10)
        status = program.wait(10)
        self.assertNotEqual(status, 0, "the program noticed the display was gone")
        self.assertFalse(os.path.lexists(self.desktop.TEST_FILE),
                         "test file left after the display went away")


def main():
    global BINARY
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--binary", required=True)
    args, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        print("SKIPPED: DISPLAY is not set; run through scripts/desktop_session.sh")
        sys.exit(SKIP_STATUS)
    BINARY = os.path.abspath(args.binary)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
