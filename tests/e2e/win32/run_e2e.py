"""run_e2e.py SCENARIO SorelCheck.exe driver.exe winmm.dll SAMPLES: installs them in one folder
of scripts/test_windows.sh's Wine prefix, runs the driver and answers its questions."""
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../scripts"))
import sink  # noqa: E402

# Unpacked in a folder whose name has a character outside code page 932 (Japanese ANSI).
FOLDER = ("users", "José", "ソレル確認")
WINDOWS_FOLDER = "C:\\" + "\\".join(FOLDER)


def wait(condition, timeout=8.0):
    end = time.monotonic() + timeout
    while not condition() and time.monotonic() < end:
        time.sleep(0.05)
    return condition()


class Listener:
    """Records the sink from LISTEN to HEARD; tells the sample heard by how long it sounds."""

    def __init__(self, samples_folder):
        self.folder, self.recorder = samples_folder, None

    def listen(self):
        self.stop()
        streams = ["pactl", "list", "sink-inputs"]  # property names are never translated
        if not wait(lambda: 'application.name = "SorelCheck' not in subprocess.run(
                streams, capture_output=True, text=True).stdout):
            return False
        self.recorder = sink.Sink()
        return True

    def heard(self, name):
        recorder, self.recorder = self.recorder, None
        try:
            wait(lambda: recorder.sounding_seconds())
            recorder.wait_for_silence(timeout=8)
            heard = recorder.sounding_seconds()
        finally:
            recorder.stop()
        lengths = {n: sink.sample_seconds(os.path.join(self.folder, n))
                   for n in os.listdir(self.folder) if n.endswith(".wav")}
        print(f"  host: heard {heard} s; the samples sound {lengths}", flush=True)
        # Nearest, not exact: a Wine stream starved of the CPU for a moment comes out a few ms
        # longer or shorter.
        return heard is not None and abs(heard - lengths[name]) < 0.05 and min(
            lengths, key=lambda n: abs(lengths[n] - heard)) == name

    def stop(self):
        if self.recorder:
            self.recorder.stop()


def colours_shown(x, y, width, height, text, window):
    """Label1 on the screen: mostly the window colour, with text in the given one (COLORREFs)."""
    shot = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                           "-depth", "8", "rgb:-"], capture_output=True, check=False).stdout
    pixels = [shot[i:i + 3] for i in range(0, len(shot) - 2, 3)]
    count = {name: sum(sum(abs(a - b) for a, b in zip(p, bytes.fromhex(c)[::-1])) < 96
                       for p in pixels) for name, c in (("text", text), ("window", window))}
    print(f"  host: {len(pixels)} pixels, {count}", flush=True)
    return count["window"] > len(pixels) // 2 and count["text"] > 200


def flushed(path):
    """None of the file's pages waits for the disk (Wine's FlushFileBuffers is an fsync). Told by
    cachestat (Linux 6.5 on, 451 in the generic table); "skip REASON" where the kernel has none."""
    pages = (ctypes.c_uint64 * 5)()  # cached, dirty, under write-back, evicted, recently evicted
    fd = os.open(path, os.O_RDONLY)
    try:
        whole_file = (ctypes.c_uint64 * 2)()
        failed = ctypes.CDLL(None, use_errno=True).syscall(451, fd, whole_file, pages, 0)
    finally:
        os.close(fd)
    if failed:
        return f"skip no cachestat on this kernel ({os.strerror(ctypes.get_errno())})"
    print(f"  host: of {pages[0]} cached pages, {pages[1]} dirty and {pages[2]} under write-back",
          flush=True)
    return pages[1] + pages[2] == 0


def kill_program():
    prefix = ("WINEPREFIX=" + os.environ["WINEPREFIX"]).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            command = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")
            environment = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
        except OSError:
            continue
        if command[0].endswith(b"SorelCheck.exe") and prefix in environment:
            os.kill(int(pid), signal.SIGKILL)
            return True
    return False


def main():
    scenario, program, driver, planted, samples = sys.argv[1:]
    folder, test_file, log = (os.path.join(os.environ["WINEPREFIX"], "drive_c", *name)
                              for name in (FOLDER, ["temp.txt"], ["planted-winmm.txt"]))
    for path in (folder, test_file, log):
        shutil.rmtree(path) if os.path.isdir(path) else os.path.lexists(path) and os.remove(path)
    os.makedirs(folder)
    for path in [program, driver, planted] + [f"{samples}/a{n}.wav" for n in range(1, 6)]:
        shutil.copy(path, folder)

    def planted_loaded_by():
        paths = open(log, "rb").read().split() if os.path.exists(log) else []
        loaders = [path.rsplit(b"\\", 1)[-1].decode() for path in paths]
        print(f"  host: the planted winmm.dll was loaded by {loaders}", flush=True)
        return loaders == [os.path.basename(driver)]

    listener = Listener(samples)
    answers = {"LISTEN": listener.listen, "PLANTED": planted_loaded_by, "KILL": kill_program,
               "FLUSHED": lambda: flushed(test_file),
               "SHOT": colours_shown, "HEARD": listener.heard,
               "END-SESSION": lambda: subprocess.run(["wine", "wineboot", "--end-session"],
                                                     check=False).returncode == 0}
    # Wine prefers its own DLLs; this makes it search the exe's folder first, as Windows does.
    env = dict(os.environ, WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winmm=n,b")
    run = subprocess.Popen(["wine", f"{WINDOWS_FOLDER}\\{os.path.basename(driver)}", scenario,
                            f"{WINDOWS_FOLDER}\\SorelCheck.exe"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    for line in (raw.decode("utf-8", "replace").rstrip() for raw in run.stdout):
        print(line, flush=True)
        if line.startswith("? "):
            question, *details = line.split()[1:]
            answer = answers.get(question, lambda *_: False)(*details)
            if not isinstance(answer, str):  # "skip REASON" goes as it is
                answer = "ok" if answer else "no"
            run.stdin.write(answer.encode() + b"\n")
            run.stdin.flush()
    listener.stop()
    return run.wait(timeout=60)  # the driver failed a check for every "no"


if __name__ == "__main__":
    sys.exit(main())
