"""Drives SorelCheck on an X display as a screen reader user does: AT-SPI reads and presses,
xdotool types, the null sink tells whether a sound was really played (tests/e2e/sink.py)."""

import json
import os
import re
import resource
import signal
import subprocess
import sys
import time
import warnings

# pyatspi's deprecation and import-hook warnings would drown the report.
warnings.filterwarnings("ignore", category=DeprecationWarning, module=r"pyatspi(\..*)?$")
warnings.filterwarnings("ignore", category=ImportWarning)

import pyatspi  # noqa: E402
from gi.repository import Atspi  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../scripts"))
import sink  # noqa: E402,F401  (for the tests that import this module)

# The program's own facts (tests/sorelcheck_facts.cpp), once load_facts has read them; the test
# file has that name only where the file system has no unnamed files.
FACTS = {}
TEST_FILE = TEST_FOLDER = TEST_FILE_SIZE = None


def load_facts(tool):
    global TEST_FILE, TEST_FOLDER, TEST_FILE_SIZE
    FACTS.update(json.loads(subprocess.run([tool], capture_output=True, check=True).stdout))
    TEST_FILE, TEST_FILE_SIZE = FACTS["test_file"]["named"], FACTS["test_file"]["size"]
    TEST_FOLDER = os.path.dirname(TEST_FILE)


class DriverError(AssertionError):
    """The program did not reach the state a step waits for."""


class ProgramEnded(DriverError):
    """The program exited while a step still waited for it."""


def wait_until(description, probe, timeout, interval=0.05):
    """Polls probe() until it is truthy; errors (AT-SPI while the program is busy) are "not yet"."""
    deadline, last_error = time.monotonic() + timeout, None
    while time.monotonic() < deadline:
        try:
            if result := probe():
                return result
        except ProgramEnded:
            raise
        except Exception as error:  # GLib.Error, dbus timeouts, objects gone meanwhile
            last_error = error
        time.sleep(interval)
    raise DriverError(f"timed out after {timeout} s waiting for {description} ({last_error})")


def run(args, timeout=10, check=True):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, check=check)


def end(process, timeout=5):
    """Ends a helper process as a logout would, killing it if that does not do."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def visible_windows(pid, title):
    return run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
                f"^{re.escape(title)}$"], check=False).stdout.split()


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return [box.x, box.y, box.width, box.height]


def children(accessible, role=None, deep=False):
    found = []
    for child in filter(None, map(accessible.getChildAtIndex, range(accessible.childCount))):
        found += [child] if role in (None, child.getRole()) else []
        found += children(child, role, deep) if deep else []
    return found


class MessageBox:
    """An alert named by its title, its text in labels, its buttons."""

    def __init__(self, alert):
        self.path, self.title = alert.path, alert.name
        self.text = "\n".join(label.name for label in children(alert, pyatspi.ROLE_LABEL, True))
        self.buttons = children(alert, pyatspi.ROLE_PUSH_BUTTON, True)

    def press_ok(self):
        (ok,) = [button for button in self.buttons if button.name == "OK"]
        action = ok.queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))


# A test killed by its time limit sends the program SIGTERM: it then removes its test file.
DIE_WITH_TEST = ["setpriv", "--pdeathsig", "TERM", "--"]


def used_bytes():
    info = os.statvfs(TEST_FOLDER)
    return (info.f_blocks - info.f_bfree) * info.f_frsize


def open_test_file(pid):
    """Where the run's test file can be read while the program has it open: its descriptor in
    /proc (the file has no name in the folder), or its name; None when it has none open."""
    fds = f"/proc/{pid}/fd"
    for fd in os.listdir(fds):
        target = os.readlink(os.path.join(fds, fd))
        if target == TEST_FILE or (target.startswith(TEST_FOLDER + "/#") and
                                   target.endswith(" (deleted)")):
            return os.path.join(fds, fd)
    return None


def limit_file_size(size):
    """For a child: writes beyond `size` fail as on a full disk (EFBIG, not a signal)."""
    def apply():
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, resource.RLIM_INFINITY))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    return apply


def no_core_dump():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Program:
    def __init__(self, binary, log_path, always_on=True, before_start=no_core_dump):
        """One run of the binary; without always_on it asks the bus whether a reader runs."""
        self.log_path = log_path
        self.log = open(log_path, "wb")
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        if not always_on:
            del env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"]
        self.process = subprocess.Popen(
            DIE_WITH_TEST + [binary], stdin=subprocess.DEVNULL, stdout=self.log,
            stderr=subprocess.STDOUT, cwd=os.path.dirname(log_path), env=env,
            preexec_fn=before_start)
        self.pid = self.process.pid  # setpriv execs the program in place

    def attach(self):
        self.app = self.wait("the application on the AT-SPI desktop", lambda: [
            app for app in children(pyatspi.Registry.getDesktop(0))
            if app.get_process_id() == self.pid], 10)[0]
        # Message boxes come and go; a cached child list would keep showing closed ones.
        self.app.set_cache_mask(Atspi.Cache.NONE)
        self.wait("the main window on the AT-SPI desktop", self.frame, 10)

    def wait(self, description, probe, timeout, interval=0.05):
        def unless_exited():
            if self.process.poll() is not None:
                raise ProgramEnded(f"the program ended with status {self.process.returncode}")
            return probe()

        return wait_until(description, unless_exited, timeout, interval)

    def frame(self):
        (frame,) = children(self.app, pyatspi.ROLE_FRAME)
        return frame

    def labels(self):  # the progress label is a notification
        return [child for child in children(self.frame(), None, True)
                if child.getRole() in (pyatspi.ROLE_LABEL, pyatspi.ROLE_NOTIFICATION)]

    def wait_for_message(self, after=None, timeout=30):
        """The next message box on screen that is not the box `after` (closed by the caller)."""

        def probe():
            alerts = [alert for alert in children(self.app, pyatspi.ROLE_ALERT)
                      if after is None or alert.path != after.path]
            return (alerts and alerts[0].getState().contains(pyatspi.STATE_SHOWING) and
                    MessageBox(alerts[0]))

        return self.wait("a message box", probe, timeout)

    def main_window_id(self):
        """The main window's X id, once it is mapped (again, after a message box)."""
        caption = self.frame().name

        def mapped():
            found = visible_windows(self.pid, caption)
            if len(found) > 1:
                raise DriverError(f"several visible X windows {caption!r}: {found}")
            return found[0] if found else None

        return wait_until(f"the X window {caption!r} to be mapped", mapped, 5)

    def key(self, name, action="key"):  # into the main window, activated as a click would
        run(["xdotool", "windowactivate", "--sync", self.main_window_id()])
        run(["xdotool", action, name])

    def read_calls(self):
        """Read calls of the window's thread (the replays), not the sound server client's."""
        with open(f"/proc/{self.pid}/task/{self.pid}/io") as io:
            return int(re.search(r"^syscr: (\d+)$", io.read(), re.M).group(1))

    def test_file(self):
        return open_test_file(self.pid)

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise DriverError(f"the program was still running {timeout} s later") from None

    def stop(self):
        end(self.process)
        self.log.close()


def remove_test_file():  # folders are left to whoever made them
    if os.path.lexists(TEST_FILE) and not os.path.isdir(TEST_FILE):
        os.remove(TEST_FILE)
