#!/usr/bin/python3
"""The write to a slow disk (scripts/slow_disk.sh throttles /var/tmp), run as test_sorelcheck.py:
the window answers the screen reader, a typed key waits, leaving mid-write is prompt and leaves
nothing, however the program ends."""

import os
import signal
import statistics
import sys
import time

import test_sorelcheck

# The window answers on one thread the screen reader's questions and the desktop's pings, which
# decide whether it is taken for hung; Orca gives up on a question after 0.8 s.
LONGEST_WAIT = 0.25
LEAVING_TIME = 1.0  # s from a request to leave to the end of the program
SLOW_DEVICE = os.environ.get("SORELCHECK_SLOW_DISK")


def bytes_written_to_device():
    with open(f"/sys/block/{SLOW_DEVICE}/stat") as stat:
        return int(stat.read().split()[6]) * 512  # sectors written


def close_from_window_manager(window):
    """As the window's close button does (the window manager then sends WM_DELETE_WINDOW)."""
    from Xlib import X, display
    from Xlib.protocol import event

    connection = display.Display()
    connection.screen().root.send_event(event.ClientMessage(
        window=connection.create_resource_object("window", int(window)),
        client_type=connection.intern_atom("_NET_CLOSE_WINDOW"),
        data=(32, [X.CurrentTime, 2, 0, 0, 0])),  # 2: on the user's direct request
        X.SubstructureRedirectMask | X.SubstructureNotifyMask)
    connection.sync()
    connection.close()


class SlowWriteTest(test_sorelcheck.ProgramTestCase):
    own_disk = True
    def prepare_test_file_path(self):
        super().prepare_test_file_path()
        with open(f"/sys/block/{SLOW_DEVICE}/dev") as numbers:
            device = os.makedev(*map(int, numbers.read().split(":")))
        self.assertEqual(os.stat(os.path.dirname(self.desktop.TEST_FILE)).st_dev, device,
                         "the test file would not go to the slow disk")
        # The device cannot be quicker than its limit (give or take the first slice).
        self.shortest_write = 0.95 * self.desktop.TEST_FILE_SIZE / int(
            os.environ["SORELCHECK_SLOW_DISK_RATE"])

    def wait_for_write_under_way(self, before, what):
        """Waits for 64 MiB on the device; 80 % would be too late to prove anything."""
        def written():
            now = bytes_written_to_device() - before
            return now >= 64 << 20 and now

        written = self.program.wait("the test file's data on the device", written, 15)
        self.assertLess(written, 0.8 * self.desktop.TEST_FILE_SIZE,
                        f"the write was nearly over before {what}: the check proves nothing")
        return written

    def test_window_answers_while_writing_and_typed_return_waits(self):
        desktop = self.desktop
        window = self.program.main_window_id()
        before = bytes_written_to_device()
        waits = []

        def ask_and_type_return():
            """Asks the window's name as a screen reader does until the result shows, typing
            Return once the write is under way."""
            result = test_sorelcheck.FACTS["result"][0]

            def result_shown():
                try:
                    return any(box.text.startswith(result) for box in map(
                        desktop.MessageBox, desktop.children(self.program.app,
                                                             desktop.pyatspi.ROLE_ALERT)))
                except Exception:  # the start box, going away as it was asked about
                    return False

            while not result_shown():
                asked_at = time.monotonic()
                self.assertEqual(self.program.frame().name, test_sorelcheck.FACTS["caption"])
                waits.append(time.monotonic() - asked_at)
                if len(waits) == 20:
                    self.wait_for_write_under_way(before, "the key")
                    desktop.run(["xdotool", "windowactivate", "--sync", window])
                    desktop.run(["xdotool", "key", "Return"])
                time.sleep(0.05)

        def still_there_after_the_key(result):
            time.sleep(0.5)  # a queued Return would close the box as soon as it shows
            self.assertTrue(result.path in [alert.path for alert in desktop.children(
                self.program.app, desktop.pyatspi.ROLE_ALERT)], "the Return closed the result")

        figure = self.run_disk_test(ask_and_type_return, still_there_after_the_key)
        print(f"write of {figure} s: {len(waits)} questions, longest wait {max(waits):.3f} s, "
              f"median {statistics.median(waits) * 1e3:.1f} ms")
        self.assertGreaterEqual(figure, self.shortest_write, "the figure stops before the flush")
        self.assertGreaterEqual(len(waits), figure / 0.1, "too few questions to tell")
        self.assertLessEqual(max(waits), LONGEST_WAIT, "the window stood deaf meanwhile")
        self.wait_ready_for_keys()
        # Killed in the voice test: the kernel frees the unnamed file with its last descriptor.
        self.program.process.kill()
        self.assertEqual(self.program.wait_exit(5), -signal.SIGKILL)
        self.check_nothing_left("kill -9 in the voice test")

    def leave_during_write(self, how, request, status=0):
        """OK starts the write; request(window) asks the program to leave while it writes."""
        start = self.program.wait_for_message(timeout=10)
        window = self.program.main_window_id()
        before = bytes_written_to_device()
        start.press_ok()
        written = self.wait_for_write_under_way(before, how)
        asked_at = time.monotonic()
        request(window)
        ended = self.program.wait_exit(20)
        took = time.monotonic() - asked_at
        print(f"{how} with {written >> 20} of 700 MiB on the device: "
              f"ended {took:.2f} s later, status {ended}")
        # A failure box would wait for its OK and then end the program with status 1.
        self.assertEqual(ended, status, f"exit status after {how}")
        self.assertLessEqual(took, LEAVING_TIME, f"the program ended {took:.2f} s after {how}")
        self.check_nothing_left(how)

    def test_sigterm_during_write(self):
        self.leave_during_write(
            "SIGTERM", lambda window: self.program.process.send_signal(signal.SIGTERM))

    def test_closed_by_window_manager_during_write(self):
        self.leave_during_write("a close from the window manager", close_from_window_manager)

    def test_window_destroyed_during_write(self):
        self.leave_during_write(
            "the window destroyed from outside",
            lambda window: self.desktop.run(["xdotool", "windowclose", window]))

    def test_killed_during_write(self):
        self.leave_during_write("kill -9", lambda _: self.program.process.kill(), -signal.SIGKILL)

    def test_crashed_during_write(self):
        self.leave_during_write("a crash (SIGSEGV)", lambda _: self.program.process.send_signal(
            signal.SIGSEGV), -signal.SIGSEGV)


if __name__ == "__main__":
    if not SLOW_DEVICE:
        print("SKIPPED: no slow disk; run through scripts/slow_disk.sh")
        sys.exit(77)
    test_sorelcheck.main()
