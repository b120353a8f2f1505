"""Debian's Orca as a Japanese user runs it, on the desktop of scripts/desktop_session.sh, with
what it says read back from its debug log; for the spoken-wait check and the key-to-sound
benchmark. Run it in a process namespace of its own (`unshare --pid --fork --mount-proc`): Orca
refuses to start beside another Orca of the same user."""

import datetime
import os
import re
import subprocess

from sink import wait_for

# A stamped entry of the debug log; an utterance of several lines goes on indented.
ENTRY = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d+) - (.*?)(?=^\d\d:\d\d:\d\d\.\d+ - |\Z)",
                   re.M | re.S)
# The utterance in quotes, then maybe the voice's name, then the voice's settings.
SPOKEN = re.compile(r"SPEECH OUTPUT: '(.*?)'(?: voice=\S+)? ?\{", re.S)
INTERRUPTED = "DEFAULT: Interrupting presentation"
A11Y_STATUS = ["--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus"]


class Orca:
    def __init__(self, folder, speech_sink=None):
        """Its files go in `folder`; its speech into `speech_sink`, or the session's sink."""
        self.folder, self.process = folder, None
        self.log_path = f"{folder}/orca-debug.log"
        locales = f"{folder}/locales"
        os.makedirs(locales, exist_ok=True)
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", f"{locales}/ja_JP.UTF-8"],
                       check=True, timeout=60)
        self.env = dict(os.environ, LOCPATH=locales, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        if speech_sink:  # speech-dispatcher, started by Orca, inherits it
            subprocess.run(["pactl", "load-module", "module-null-sink",
                            f"sink_name={speech_sink}"], check=True, capture_output=True)
            self.env["PULSE_SINK"] = speech_sink

    def start(self):
        self.output = open(f"{self.folder}/orca.out", "ab")
        self.started_at = clock()
        # Dies with its starter, should that be killed.
        self.process = subprocess.Popen(
            ["setpriv", "--pdeathsig", "TERM", "--", "orca", "--debug-file", self.log_path],
            stdout=self.output, stderr=subprocess.STDOUT, env=self.env)
        wait_for("Orca to speak its welcome", lambda: self.spoken(self.started_at), 60, 0.2)

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(10)
            self.output.close()
            self.process = None
        # As on a desktop whose screen reader was turned off: programs see accessibility off.
        for name in ("ScreenReaderEnabled", "IsEnabled"):
            subprocess.run(["gdbus", "call", "--session", *A11Y_STATUS, "--method",
                            "org.freedesktop.DBus.Properties.Set", "org.a11y.Status", name,
                            "<false>"], capture_output=True)

    def entries(self, since):
        """(time, text) of the log's entries from `since` (seconds since midnight) on."""
        if self.process and self.process.poll() is not None:
            raise AssertionError(f"Orca ended with status {self.process.returncode}")
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, errors="replace") as log:
            found = [(int(h) * 3600 + int(m) * 60 + float(s), entry)
                     for h, m, s, entry in ENTRY.findall(log.read())]
        return [(at, entry) for at, entry in found if at >= since]

    def spoken(self, since):
        return [(at, re.sub(r"\n {18}", "\n", said.group(1))) for at, entry in self.entries(since)
                if (said := SPOKEN.match(entry))]

    def interruptions(self, since):
        return [at for at, entry in self.entries(since) if entry.startswith(INTERRUPTED)]


def clock():
    """Wall-clock seconds since midnight, as Orca stamps its log."""
    now = datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6
