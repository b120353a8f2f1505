#!/usr/bin/env python3
"""One end-to-end scenario of the Windows build under Wine.

Usage: run_e2e.py run|close-early|failure|kill-writing|kill-ready|end-session
       SorelCheck.exe driver.exe winmm.dll SAMPLES_FOLDER
Installs the program, its samples, the driver and a planted winmm.dll into one folder of the
prefix, runs the driver and answers its questions about what only the host sees. WINEPREFIX
(with high-contrast colours), DISPLAY and PULSE_SERVER come from scripts/test_windows.sh.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

FOLDER = "ソレル確認"  # Japanese: the sample path reaches sndPlaySoundA in code page 932


def wait(condition, timeout=8.0):
    end = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return True


def sound_streams():
    """Streams that Wine opened for SorelCheck on the session's sink."""
    listing = subprocess.run(["pactl", "list", "sink-inputs"], capture_output=True, text=True,
                             env=dict(os.environ, LC_ALL="C"), check=False).stdout
    return re.findall(r'application\.name = "SorelCheck', listing)


def colours_shown(x, y, width, height, text, window):
    """Label1 on the screen: mostly the window colour, with text in the given one (COLORREFs)."""
    shot = subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}",
                           "-depth", "8", "rgb:-"], capture_output=True, check=False).stdout
    pixels = [shot[i:i + 3] for i in range(0, len(shot) - 2, 3)]
    count = {name: sum(sum(abs(a - b) for a, b in zip(p, bytes.fromhex(c)[::-1])) < 96
                       for p in pixels) for name, c in (("text", text), ("window", window))}
    print(f"  host: {len(pixels)} pixels, {count}", flush=True)
    return count["window"] > len(pixels) // 2 and count["text"] > 200


def kill_program():
    """kill -9 of the Unix process that runs SorelCheck.exe in this prefix."""
    prefix = ("WINEPREFIX=" + os.environ["WINEPREFIX"]).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as cmd, open(f"/proc/{pid}/environ", "rb") as env:
                if (cmd.read().split(b"\0")[0].endswith(b"SorelCheck.exe")
                        and prefix in env.read().split(b"\0")):
                    os.kill(int(pid), signal.SIGKILL)
                    return True
        except OSError:
            pass
    return False


def main():
    scenario, program, driver, planted, samples = sys.argv[1:]
    drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    folder, test_file, log = (os.path.join(drive_c, name)
                              for name in (FOLDER, "temp.txt", "planted-winmm.txt"))
    for path in (folder, test_file, log):
        shutil.rmtree(path) if os.path.isdir(path) else os.path.lexists(path) and os.remove(path)
    os.makedirs(folder)
    for path in [program, driver, planted] + [f"{samples}/a{n}.wav" for n in range(1, 6)]:
        shutil.copy(path, folder)
    if scenario == "failure":
        os.makedirs(os.path.join(test_file, "occupied"))

    def planted_loaded_by():
        names = open(log, "rb").read().split(b"\n") if os.path.exists(log) else []
        print(f"  host: the planted winmm.dll was loaded by {names}", flush=True)
        return any(n.endswith(b"driver.exe") for n in names) and not any(
            n.endswith(b"SorelCheck.exe") for n in names)

    answers = {
        "FILE": lambda: (os.stat(test_file).st_size == 734003200
                         and os.stat(test_file).st_blocks * 512 >= 734003200),
        "QUIET": lambda: wait(lambda: not sound_streams()),
        "SOUND": lambda: wait(sound_streams),
        "PLANTED": planted_loaded_by,
        "KILL": kill_program,
        "END-SESSION": lambda: subprocess.run(["wine", "wineboot", "--end-session"],
                                              check=False).returncode == 0,
    }
    # Wine prefers its own DLLs; this makes it search the exe's folder first, as Windows does.
    env = dict(os.environ, WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winmm=n,b")
    windows_folder = "C:\\" + FOLDER + "\\"
    run = subprocess.Popen(["wine", windows_folder + os.path.basename(driver), scenario,
                            windows_folder + "SorelCheck.exe"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    watchdog = threading.Timer(240, run.kill)
    watchdog.start()
    host_failures = 0
    for raw in run.stdout:
        line = raw.decode("utf-8", "replace").rstrip()
        print(line, flush=True)
        if line.startswith("? "):
            question = line[2:].split()
            ok = (colours_shown(*question[1:]) if question[0] == "SHOT"
                  else answers.get(question[0], lambda: False)())
            host_failures += not ok
            run.stdin.write(b"ok\n" if ok else b"no\n")
            run.stdin.flush()
    status = run.wait()
    watchdog.cancel()
    if scenario == "failure":
        left_right = os.path.isdir(os.path.join(test_file, "occupied"))
    else:
        left_right = not os.path.lexists(test_file)
    print(f"{'ok  ' if left_right else 'FAIL'} - host: c:\\temp.txt as it should be after the run")
    if status != 0 or host_failures or not left_right:
        print(f"e2e {scenario}: FAILED (driver status {status})")
        return 1
    print(f"e2e {scenario}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
