#!/usr/bin/python3
"""What other programs do to a run: a second run beside it, a client destroying its window."""

import os

import test_sorelcheck


class FromOutsideTest(test_sorelcheck.ProgramTestCase):
    def start_second_run(self, name):
        second = self.desktop.Program(self.program_binary(), f"{self.work_dir}/{name}.log")
        self.addCleanup(second.stop)
        second.attach()
        return second, second.wait_for_message(timeout=10)

    def test_a_second_run_leaves_the_first_runs_file_alone(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        test_file = self.desktop.TEST_FILE
        first = os.stat(test_file)

        # Ended at its start message (by a logout, say): it created nothing, so removes nothing.
        second, _ = self.start_second_run("ended-at-start")
        second.process.terminate()
        self.assertEqual(second.wait_exit(5), 0, "exit status of the second run")
        # Running through: the file is held by a live run, so the test fails.
        second, start = self.start_second_run("run-through")
        start.press_ok()
        failure = second.wait_for_message(after=start, timeout=20)
        self.assertEqual((failure.title, failure.text), (test_sorelcheck.TEXTS["failure_title"],
                                                          test_sorelcheck.TEXTS["failure"]))
        failure.press_ok()
        self.assertGreater(second.wait_exit(5), 0, "exit status after the failure message")

        now = os.stat(test_file)
        self.assertEqual((now.st_ino, now.st_size, now.st_mtime_ns),
                         (first.st_ino, first.st_size, first.st_mtime_ns),
                         "the first run's file was replaced or written")
        self.assertTrue(self.program.holds_open(test_file))
        before = self.program.read_calls()
        self.program.key("Down")
        self.desktop.wait_until("the first run's replay",
                                lambda: self.program.read_calls() - before >= 126, 10)
        self.escape_and_check_exit()

    def test_window_destroyed_from_outside(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        self.desktop.run(["xdotool", "windowclose", self.program.main_window_id()])
        self.assertEqual(self.program.wait_exit(3), 0, "exit status once the window was gone")
        self.assertFalse(os.path.lexists(self.desktop.TEST_FILE), "test file left behind")


if __name__ == "__main__":
    test_sorelcheck.main()
