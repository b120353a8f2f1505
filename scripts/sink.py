"""What reaches the null sink of scripts/desktop_session.sh: which sound was really played, how
long it sounded and when it set in. One recorder and one loudness rule for the end-to-end runs
(Linux and Wine) and the key-to-sound benchmark."""

import os
import re
import subprocess
import threading
import time
import wave

SINK = "testnull"
RATE = 44100  # the sink's own rate: its monitor is not resampled
# A sample at least this loud (16-bit) is sound. The sink's silence is exact zeros and the voice
# samples peak at 29205 from their first millisecond on: 300, 40 dB below that peak, puts an
# onset within 2 ms of where a sample's sound begins.
SOUND = 300
# A pause up to this long inside a sound belongs to it: a player starved of the CPU for a moment
# (Wine, a busy machine) leaves such gaps; the samples' own pauses count the same way.
GAP = 0.02


def sounding_seconds(samples, rate):
    """Seconds from the first to the last loud sample, without pauses longer than GAP."""
    loud = [i for i, value in enumerate(samples) if abs(value) >= SOUND]
    if not loud:
        return None
    return sum(b - a for a, b in zip(loud, loud[1:]) if b - a <= GAP * rate) / rate


def sample_seconds(path):
    """How long a mono 16-bit WAV file sounds, by the rule the sink is heard by."""
    with wave.open(path) as sample:
        data = sample.readframes(sample.getnframes())
        return sounding_seconds(memoryview(data).cast("h"), sample.getframerate())


def keep_running():
    """A silent stream into the sink, stopped by the caller: idle, the sink runs at a latency
    of seconds and delivers in late bursts."""
    return subprocess.Popen(["pacat", "--playback", "--raw", "--latency-msec=10",
                             f"--device={SINK}", "/dev/zero"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def streams_of(pid):
    """The sound streams that process `pid` has open on the server."""
    listing = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True,
                             check=True).stdout  # property names are never translated
    return re.findall(rf'^\s*application\.process\.id = "{pid}"$', listing, re.M)


def wait_for(what, probe, timeout, interval=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if found := probe():
            return found
        time.sleep(interval)
    raise AssertionError(f"no {what} after {timeout} s")


class Sink:
    """Records the sink's monitor from now on; each frame's time comes from the sample clock."""

    def __init__(self, device=SINK):
        self.data = bytearray()
        self.start = None  # monotonic time of frame 0: the earliest the arrivals allow
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            ["parec", "-d", f"{device}.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
             "--channels=1", "--latency-msec=5"], stdout=subprocess.PIPE)
        threading.Thread(target=self._read, daemon=True).start()
        # A key pressed before the recorder delivers would be heard only in part.
        wait_for("recording of the sink", lambda: self.frames() > RATE // 10, 10)

    def _read(self):
        fd = self.process.stdout.fileno()
        while chunk := os.read(fd, 4096):
            arrived = time.monotonic()
            with self.lock:
                self.data += chunk
                start = arrived - len(self.data) // 2 / RATE
                self.start = start if self.start is None else min(self.start, start)

    def frames(self):
        with self.lock:
            return len(self.data) // 2

    def samples(self, first=0):
        with self.lock:
            return memoryview(bytes(self.data[first * 2: len(self.data) // 2 * 2])).cast("h")

    def frame_at(self, stamp):
        return max(0, int((stamp - self.start) * RATE))

    def sounding_seconds(self, first=0):
        return sounding_seconds(self.samples(first), RATE)

    def wait_for_silence(self, seconds=0.3, timeout=5):
        """Until the last `seconds` were silent: what an earlier sound left has passed."""
        window = int(seconds * RATE)
        wait_for("silence on the sink", lambda: self.frames() >= window and max(
            map(abs, self.samples(self.frames() - window))) < SOUND, timeout)

    def onset_ms(self, stamp):
        """Milliseconds from `stamp` (time.monotonic) to the first sound after it, or None."""
        first = self.frame_at(stamp)
        for index, value in enumerate(self.samples(first)):
            if abs(value) >= SOUND:
                return ((self.start + (first + index) / RATE) - stamp) * 1000
        return None

    def heard(self, stamp, timeout=3):
        """Waits for a sound after `stamp` and for its end; returns its onset in ms."""
        onset = wait_for("sound on the sink", lambda: [
            found for found in [self.onset_ms(stamp)] if found is not None], timeout)[0]
        self.wait_for_silence()
        return onset

    def stop(self):
        self.process.terminate()
        self.process.wait(5)
