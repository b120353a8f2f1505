#!/usr/bin/python3
"""A second run beside a first one."""

import os

import test_sorelcheck


class FromOutsideTest(test_sorelcheck.ProgramTestCase):
    def test_a_second_run_beside_the_first(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        first_file = os.stat(self.program.test_file())

        # Each run has a file of its own: the second makes its test while the first waits.
        second = self.desktop.Program(self.program_binary(), f"{self.work_dir}/second.log")
        self.addCleanup(second.stop)
        second.attach()
        self.program, first = second, self.program
        self.run_disk_test()
        self.wait_ready_for_keys()
        self.program = first
        now = os.stat(self.program.test_file())
        self.assertEqual((now.st_ino, now.st_size, now.st_mtime_ns),
                         (first_file.st_ino, first_file.st_size, first_file.st_mtime_ns),
                         "the first run's file was replaced or written")
        before = self.program.read_calls()
        self.program.key("Down")
        reads = test_sorelcheck.FACTS["samples"][0]["reads"]
        self.desktop.wait_until("the first run's replay",
                                lambda: self.program.read_calls() - before >= reads, 10)

        self.escape_and_check_exit()
        self.assertTrue(second.test_file(), "the first run's exit took the second's file")
        self.program = second
        self.escape_and_check_exit()


if __name__ == "__main__":
    test_sorelcheck.main()
