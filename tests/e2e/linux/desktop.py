"""Drives SorelCheck on an X display the way a keyboard and screen reader user does.

AT-SPI gives what a screen reader reads (names, roles, states, extents) and presses buttons;
xdotool types keys; PulseAudio tools tell whether a sound was really played.
"""

import ctypes
import os
import re
import signal
import subprocess
import time
import warnings
import wave

# pyatspi goes through deprecated Atspi calls and old import hooks; the warnings would drown
# the report.
warnings.filterwarnings("ignore", category=DeprecationWarning, module=r"pyatspi(\..*)?$")
warnings.filterwarnings("ignore", category=ImportWarning)

import pyatspi  # noqa: E402
from gi.repository import Atspi  # noqa: E402

TEST_FILE = "/var/tmp/sorelcheck-temp.txt"
TEST_FILE_SIZE = 734_003_200
WINDOW_CAPTION = "Sorel動作確認"
NULL_SINK = "testnull"


class DriverError(AssertionError):
    """The program did not reach the state a step waits for."""


class ProgramEnded(DriverError):
    """The program exited while a step still waited for it."""


def wait_until(description, probe, timeout, interval=0.05):
    """Polls probe() until it returns something truthy; AT-SPI errors while the program is busy
    (it blocks its event loop while writing the test file) count as "not yet"."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            result = probe()
            if result:
                return result
        except ProgramEnded:
            raise
        except Exception as error:  # GLib.Error, dbus timeouts, objects gone meanwhile
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise DriverError(f"timed out after {timeout} s waiting for {description}{detail}")
        time.sleep(interval)


def run(args, timeout=10, check=True):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, check=check)


def has_state(accessible, state):
    return accessible.getState().contains(state)


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (box.x, box.y, box.width, box.height)


def children(accessible):
    return [accessible.getChildAtIndex(i) for i in range(accessible.childCount)]


def descendants(accessible, role):
    found = []
    for child in children(accessible):
        if child is None:
            continue
        if child.getRole() == role:
            found.append(child)
        found.extend(descendants(child, role))
    return found


class MessageBox:
    """A message box as a screen reader presents it: an alert named by its title."""

    def __init__(self, accessible):
        self.accessible = accessible
        self.path = accessible.path
        self.title = accessible.name
        labels = descendants(accessible, pyatspi.ROLE_LABEL)
        self.text = "\n".join(label.name for label in labels)
        self.buttons = descendants(accessible, pyatspi.ROLE_PUSH_BUTTON)
        self.extents = extents(accessible)

    @property
    def button_names(self):
        return [button.name for button in self.buttons]

    def press_ok(self):
        (ok,) = [button for button in self.buttons if button.name == "OK"]
        action = ok.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if "Press" not in names:
            raise DriverError(f"the OK button offers no Press action, only {names}")
        action.doAction(names.index("Press"))


class Screenshots:
    """PNGs of what a sighted helper would see, saved only when a folder is given."""

    # Room for the window manager's title bar and border around a client area.
    FRAME_MARGIN = (6, 28, 6, 6)  # left, top, right, bottom

    def __init__(self, folder, prefix):
        self.folder = folder
        self.prefix = prefix
        if folder:
            os.makedirs(folder, exist_ok=True)

    def take(self, name, box):
        if not self.folder:
            return
        left, top, right, bottom = self.FRAME_MARGIN
        x, y, width, height = box
        x0, y0 = max(0, x - left), max(0, y - top)
        geometry = f"{width + left + right}x{height + top + bottom}+{x0}+{y0}"
        path = os.path.join(self.folder, f"{self.prefix}-{name}.png")
        run(["import", "-window", "root", "-crop", geometry, "+repage", path], timeout=20)


# A test killed by its time limit must not leave the program (and its 700 MiB file) behind:
# SIGTERM on the test's death takes the program's own removal path.
DIE_WITH_TEST = ["setpriv", "--pdeathsig", "TERM", "--"]


class Program:
    """One run of the real binary, found on the accessibility desktop by its process id."""

    def __init__(self, binary, log_path):
        env = dict(os.environ)
        env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.log_path = log_path
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(
            DIE_WITH_TEST + [binary], stdin=subprocess.DEVNULL, stdout=self.log,
            stderr=subprocess.STDOUT, env=env, cwd=os.path.dirname(log_path))
        self.pid = self.process.pid  # setpriv execs the program in place
        self.app = None

    def attach(self):
        """Waits for the program on the accessibility desktop."""
        self.app = wait_until("the application on the AT-SPI desktop",
                              lambda: self._unless_exited(self._find_app), 10)
        # Message boxes come and go; a cached child list would keep showing closed ones.
        self.app.set_cache_mask(Atspi.Cache.NONE)
        # The application registers before its window is shown (the traces are built first).
        wait_until("the main window on the AT-SPI desktop",
                   lambda: self._unless_exited(self.frame), 10)

    def _find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            if app is not None and app.get_process_id() == self.pid:
                return app
        return None

    # --- what a screen reader sees -------------------------------------------------------

    def frame(self):
        frames = [c for c in children(self.app) if c.getRole() == pyatspi.ROLE_FRAME]
        if len(frames) != 1:
            raise DriverError(f"expected one frame, found {[f.name for f in frames]}")
        return frames[0]

    def labels(self):
        return descendants(self.frame(), pyatspi.ROLE_LABEL)

    def alert(self):
        alerts = [c for c in children(self.app) if c.getRole() == pyatspi.ROLE_ALERT]
        if len(alerts) > 1:
            raise DriverError(f"{len(alerts)} message boxes at once")
        return alerts[0] if alerts else None

    def wait_for_message(self, after=None, timeout=30):
        """The next message box: one that is not the box `after` (closed by the caller)."""

        def probe():
            alert = self.alert()
            if alert is None or (after is not None and alert.path == after.path):
                return None
            if not has_state(alert, pyatspi.STATE_SHOWING):
                return None
            return MessageBox(alert)

        return wait_until("a message box", lambda: self._unless_exited(probe), timeout)

    def wait_until_no_message(self, after, timeout=10):
        def probe():
            alert = self.alert()
            return alert is None or alert.path != after.path

        wait_until(f"message box {after.title!r} to close", lambda: self._unless_exited(probe),
                   timeout)

    def _unless_exited(self, probe):
        if self.process.poll() is not None:
            raise ProgramEnded(f"the program ended with status {self.process.returncode}")
        return probe()

    # --- the X side ----------------------------------------------------------------------

    def main_window_id(self, timeout=5):
        def probe():
            found = run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.pid),
                         "--name", f"^{WINDOW_CAPTION}$"], check=False).stdout.split()
            if len(found) > 1:
                raise DriverError(f"several visible X windows {WINDOW_CAPTION!r}: {found}")
            return found[0] if found else None

        return wait_until(f"the X window {WINDOW_CAPTION!r} to be mapped", probe, timeout)

    def client_area_on_screen(self):
        """Position and size of the main window's client area, as the X server has it."""
        info = run(["xwininfo", "-id", self.main_window_id()]).stdout

        def field(name):
            return int(re.search(rf"^\s*{name}:\s*(-?\d+)", info, re.M).group(1))

        return (field("Absolute upper-left X"), field("Absolute upper-left Y"),
                field("Width"), field("Height"))

    def focused_window_id(self):
        return run(["xdotool", "getwindowfocus"]).stdout.strip()

    def key(self, name):
        """Activates the main window, as a click on it would, and types one key."""
        run(["xdotool", "windowactivate", "--sync", self.main_window_id()])
        run(["xdotool", "key", name])

    def hold_key(self, name, seconds, while_held=None):
        run(["xdotool", "windowactivate", "--sync", self.main_window_id()])
        run(["xdotool", "keydown", name])
        try:
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                if while_held:
                    while_held()
                time.sleep(min(0.25, max(0.0, deadline - time.monotonic())))
        finally:
            run(["xdotool", "keyup", name])

    # --- the process ---------------------------------------------------------------------

    def rss_kib(self):
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise DriverError("no VmRSS in /proc status")

    def read_calls(self):
        """Read system calls so far: the replays of the voice test are made of them."""
        with open(f"/proc/{self.pid}/io") as io:
            for line in io:
                if line.startswith("syscr:"):
                    return int(line.split()[1])
        raise DriverError("no syscr in /proc io")

    def holds_open(self, path):
        fd_dir = f"/proc/{self.pid}/fd"
        for fd in os.listdir(fd_dir):
            try:
                if os.readlink(os.path.join(fd_dir, fd)) == path:
                    return True
            except FileNotFoundError:
                pass
        return False

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise DriverError(f"the program was still running {timeout} s later") from None

    def stop(self):
        """Ends a run that a failed test left behind: first as a user's logout would."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


class SinkRecorder:
    """Records what reaches the null sink: which sound was really played, and for how long."""

    RATE = 22050  # the samples' own rate

    def __init__(self, path):
        self.path = path
        self.output = open(path, "wb")
        self.process = subprocess.Popen(
            DIE_WITH_TEST + ["parec", "-d", f"{NULL_SINK}.monitor", "--raw", "--format=s16le",
                             f"--rate={self.RATE}", "--channels=1", "--latency-msec=20"],
            stdout=self.output, stderr=subprocess.DEVNULL)

    def _samples(self):
        self.output.flush()
        with open(self.path, "rb") as recorded:
            data = recorded.read()
        return memoryview(data[: len(data) // 2 * 2]).cast("h")

    def length(self):
        """Samples recorded so far."""
        return len(self._samples())

    def sound(self, start=0):
        """First and last sample of sound from sample `start` on, or None."""
        loud = [i for i, s in enumerate(self._samples()[start:]) if abs(s) >= SOUND]
        return (start + loud[0], start + loud[-1]) if loud else None

    def wait_for_silence(self, seconds=0.3, timeout=5):
        """Waits until the last `seconds` were silent: what an earlier sound left has passed."""
        window = int(seconds * self.RATE)

        def silent():
            samples = self._samples()
            return len(samples) >= window and max(map(abs, samples[-window:])) < SILENCE

        wait_until("silence on the sink", silent, timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)
        self.output.close()


# Sample magnitudes (16-bit) below which the sink counts as silent, and above which as sound.
SILENCE = 100
SOUND = 1000


class SilentStream:
    """Keeps the null sink running with a short latency; idle, it delivers in late bursts."""

    def __init__(self):
        self.process = subprocess.Popen(
            DIE_WITH_TEST + ["pacat", "--playback", "--raw", "--latency-msec=10",
                             f"--device={NULL_SINK}", "/dev/zero"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(5)


def sound_seconds(path):
    """How long a mono WAV file sounds, first to last sample of sound, as the sink hears it."""
    with wave.open(path) as sample:
        rate, data = sample.getframerate(), sample.readframes(sample.getnframes())
    loud = [i for i, s in enumerate(memoryview(data).cast("h")) if abs(s) >= SOUND]
    return (loud[-1] - loud[0]) / rate


def null_sink_present():
    sinks = run(["pactl", "list", "short", "sinks"], check=False).stdout
    return any(line.split("\t")[1:2] == [NULL_SINK] for line in sinks.splitlines())


def sink_inputs_of(pid):
    """Streams that the process plays right now."""
    listing = run(["pactl", "list", "sink-inputs"]).stdout
    return re.findall(rf'^\s*application\.process\.id = "{pid}"$', listing, re.M)


def ensure_key_repeat():
    """Turns the X server's key auto-repeat on (what `xset r on` does) and says if it is."""
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    for name in ("XAutoRepeatOn", "XFlush", "XCloseDisplay"):
        getattr(xlib, name).argtypes = [ctypes.c_void_p]

    class KeyboardState(ctypes.Structure):
        _fields_ = [("key_click_percent", ctypes.c_int), ("bell_percent", ctypes.c_int),
                    ("bell_pitch", ctypes.c_uint), ("bell_duration", ctypes.c_uint),
                    ("led_mask", ctypes.c_ulong), ("global_auto_repeat", ctypes.c_int),
                    ("auto_repeats", ctypes.c_char * 32)]

    xlib.XGetKeyboardControl.argtypes = [ctypes.c_void_p, ctypes.POINTER(KeyboardState)]
    display = xlib.XOpenDisplay(None)
    if not display:
        raise DriverError("cannot open the X display")
    try:
        xlib.XAutoRepeatOn(display)
        xlib.XFlush(display)
        state = KeyboardState()
        xlib.XGetKeyboardControl(display, ctypes.byref(state))
        return bool(state.global_auto_repeat)
    finally:
        xlib.XCloseDisplay(display)


def release_keys():
    # A test that failed while a key was held must not leave it down for the next one.
    for name in ("Down", "Up", "Escape"):
        run(["xdotool", "keyup", name], check=False)


def remove_test_file():
    """Removes a test file the program left behind; folders are left to whoever made them."""
    if os.path.lexists(TEST_FILE) and not os.path.isdir(TEST_FILE):
        os.remove(TEST_FILE)
