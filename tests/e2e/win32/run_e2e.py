#!/usr/bin/env python3
"""One end-to-end scenario of the Windows build under Wine.

Installs SorelCheck.exe and its samples into the Wine prefix, runs the Win32 driver and
answers the driver's questions about what only the host can see: the sound on the PulseAudio
null sink, the window's icon as the window manager got it, and the test file's blocks on the
Linux disk. Needs WINEPREFIX, DISPLAY and, for
the sound, PULSE_SERVER (scripts/test_windows.sh provides them all).
"""
import argparse
import array
import os
import re
import shutil
import struct
import subprocess
import sys
import threading
import time

# A Japanese folder: the sample path reaches sndPlaySoundA in code page 932.
INSTALL_FOLDER = "ソレル確認"
TEST_FILE_SIZE = 734003200
SCENARIO_TIMEOUT = 240
# Peak of a 16-bit sample that tells a voice from silence.
SOUND_PEAK = 1000


class SinkMonitor:
    """Listens to the null sink for the whole scenario.

    parec needs about two seconds before it delivers, and an idle null sink runs at seconds of
    latency, so the recorder starts early and a silent stream keeps the sink busy.
    """

    def __init__(self):
        self.peak = 0
        self.last_loud = 0.0
        self.delivering = threading.Event()
        self.keep_busy = subprocess.Popen(
            ["pacat", "--playback", "--raw", "--latency-msec=10", "-d", "testnull", "/dev/zero"])
        self.recorder = subprocess.Popen(
            ["parec", "-d", "testnull.monitor", "--raw", "--format=s16le", "--channels=1",
             "--rate=16000", "--latency-msec=20"], stdout=subprocess.PIPE)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while True:
            chunk = self.recorder.stdout.read(640)
            if not chunk:
                return
            self.delivering.set()
            samples = array.array("h", chunk[: len(chunk) // 2 * 2])
            loudest = max(max(samples), -min(samples)) if samples else 0
            self.peak = max(self.peak, loudest)
            if loudest >= SOUND_PEAK:
                self.last_loud = time.monotonic()

    def listen(self, timeout=8.0):
        """Waits for the recorder and for quiet: what is heard next belongs to the next key."""
        end = time.monotonic() + timeout
        if not self.delivering.wait(timeout):
            return False
        while time.monotonic() < end:
            if not program_streams() and time.monotonic() - self.last_loud > 0.5:
                self.peak = 0
                return True
            time.sleep(0.05)
        return False

    def sound_plays(self, timeout=8.0):
        stream_seen = False
        end = time.monotonic() + timeout
        while time.monotonic() < end and not (stream_seen and self.peak >= SOUND_PEAK):
            stream_seen = stream_seen or bool(program_streams())
            time.sleep(0.05)
        print(f"  host: SorelCheck stream on the sink: {'yes' if stream_seen else 'no'}, "
              f"peak {self.peak}", flush=True)
        return stream_seen and self.peak >= SOUND_PEAK

    def stop(self):
        for process in (self.recorder, self.keep_busy):
            process.terminate()
            process.wait()


def program_streams():
    """Playback streams that Wine opened for SorelCheck.exe on the sink."""
    listing = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True,
                             check=False, env=dict(os.environ, LC_ALL="C")).stdout
    # Wine names the client after the version record's product name, or else the exe.
    return [block for block in listing.split("\n\n")
            if re.search(r'application\.name = "SorelCheck(\.exe)?"', block)]


def ico_images(path):
    """The 32-bit images of an .ico file as _NET_WM_ICON has them: ARGB rows from the top."""
    with open(path, "rb") as icon:
        data = icon.read()
    count = struct.unpack_from("<H", data, 4)[0]
    images = {}
    for index in range(count):
        width, height, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data,
                                                                     6 + 16 * index)
        if bits != 32:
            continue
        header_size = struct.unpack_from("<I", data, offset)[0]
        pixels = data[offset + header_size: offset + header_size + width * height * 4]
        rows = [pixels[row * width * 4: (row + 1) * width * 4] for row in range(height)]
        argb = []
        for row in reversed(rows):  # a DIB stores its bottom row first
            for blue, green, red, alpha in struct.iter_unpack("<4B", row):
                argb.append(alpha << 24 | red << 16 | green << 8 | blue)
        images[(width, height)] = argb
    return images


def window_icon_is_the_programs(icon_file):
    """The icon that the window manager got for the window: the program's own pictures."""
    found = subprocess.run(["xdotool", "search", "--name", "^Sorel動作確認$"],
                           capture_output=True, text=True, check=False).stdout.split()
    if not found:
        print("  host: no X window named Sorel動作確認", flush=True)
        return False
    listing = subprocess.run(["xprop", "-id", found[0], "-notype", "32c", "_NET_WM_ICON"],
                             capture_output=True, text=True, check=False).stdout
    numbers = [int(n) for n in listing.partition("=")[2].replace(",", " ").split()]
    shown = {}
    while len(numbers) >= 2:
        width, height = numbers[0], numbers[1]
        shown[(width, height)] = numbers[2: 2 + width * height]
        numbers = numbers[2 + width * height:]
    own = ico_images(icon_file)
    matching = sorted(size for size, pixels in shown.items() if own.get(size) == pixels)
    print(f"  host: window icons {sorted(shown)}, the program's own: {matching}", flush=True)
    return bool(shown) and matching == sorted(shown)


def file_written_out(path):
    info = os.stat(path)
    allocated = info.st_blocks * 512
    resident = subprocess.run(["fincore", "--bytes", "--noheadings", "--output", "RES", path],
                              capture_output=True, text=True, check=False).stdout.strip()
    # Wine ignores FILE_FLAG_NO_BUFFERING, so the page cache is reported, not judged.
    print(f"  host: {info.st_size} bytes, {allocated} allocated, {resident or '?'} bytes in the "
          f"page cache", flush=True)
    return info.st_size == TEST_FILE_SIZE and allocated >= TEST_FILE_SIZE


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=["run", "close", "close-early", "failure"])
    parser.add_argument("--program", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--icon", required=True)
    args = parser.parse_args()

    for variable in ("WINEPREFIX", "DISPLAY"):
        if not os.environ.get(variable):
            sys.exit(f"{variable} is not set: run the Windows tests through scripts/test_windows.sh")
    if args.scenario == "run" and not os.environ.get("PULSE_SERVER"):
        sys.exit("PULSE_SERVER is not set: the sound check needs the session's null sink")

    drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    folder = os.path.join(drive_c, INSTALL_FOLDER)
    remove(folder)
    os.makedirs(folder)
    shutil.copy(args.program, folder)
    for number in range(1, 6):
        shutil.copy(os.path.join(args.samples, f"a{number}.wav"), folder)

    test_file = os.path.join(drive_c, "temp.txt")
    remove(test_file)
    if args.scenario == "failure":
        os.makedirs(os.path.join(test_file, "occupied"))

    sink = SinkMonitor() if args.scenario == "run" else None
    driver = subprocess.Popen(
        ["wine", args.driver, args.scenario, f"C:\\{INSTALL_FOLDER}\\SorelCheck.exe"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    watchdog = threading.Timer(SCENARIO_TIMEOUT, driver.kill)
    watchdog.start()
    host_failures = 0
    for raw in driver.stdout:
        line = raw.decode("utf-8", "replace").rstrip("\r\n")
        print(line, flush=True)
        if not line.startswith("? "):
            continue
        question = line[2:]
        if question == "LISTEN":
            ok = sink is not None and sink.listen()
        elif question == "SOUND":
            ok = sink is not None and sink.sound_plays()
        elif question == "ICON":
            ok = window_icon_is_the_programs(args.icon)
        elif question == "FILE":
            ok = file_written_out(test_file)
        else:
            ok = False
        host_failures += not ok
        driver.stdin.write(b"ok\n" if ok else b"no\n")
        driver.stdin.flush()
    status = driver.wait()
    watchdog.cancel()
    if sink is not None:
        sink.stop()

    if args.scenario == "failure":
        left_alone = os.path.isdir(os.path.join(test_file, "occupied"))
        print(f"{'ok  ' if left_alone else 'FAIL'} - host: the folder at c:\\temp.txt stays")
    else:
        left_alone = not os.path.lexists(test_file)
        print(f"{'ok  ' if left_alone else 'FAIL'} - host: no test file left on disk")
    remove(test_file)
    remove(folder)
    if status != 0 or host_failures or not left_alone:
        print(f"e2e {args.scenario}: FAILED (driver status {status})")
        return 1
    print(f"e2e {args.scenario}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
