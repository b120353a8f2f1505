#!/usr/bin/python3
"""ping_probe.py WINDOW_ID: _NET_WM_PING every 50 ms, as a desktop asks whether a program hangs,
until stdin ends; prints pings sent and answered and the waits (an unanswered one lasts to the
end) as JSON. Qt answers on the window's thread: the longest wait is how long it stood deaf."""

import json
import os
import select
import statistics
import sys
import time

from Xlib import X, display
from Xlib.protocol import event

STAMP_BASE = 0x50000000  # ours, told apart from the window manager's pings
INTERVAL = 0.05
LAST_ANSWERS = 0.3  # how long answers outstanding at the end are awaited


def probe(window_id, stop_fd):
    connection = display.Display()
    root = connection.screen().root
    # Qt 6.4 sends the echo to StructureNotify listeners, not to SubstructureNotify ones as the
    # convention has it: listen for both.
    root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
    protocols = connection.intern_atom("WM_PROTOCOLS")
    ping = connection.intern_atom("_NET_WM_PING")
    window = connection.create_resource_object("window", window_id)
    sent, outstanding, waits = 0, {}, []
    stop_at, next_ping = None, time.monotonic()
    while True:
        now = time.monotonic()
        if stop_at is None and now >= next_ping:
            # No event mask: delivered to the window's owner, as a window manager's ping is.
            window.send_event(event.ClientMessage(window=window, client_type=protocols, data=(
                32, [ping, STAMP_BASE + sent, window_id, 0, 0])), event_mask=0)
            connection.flush()
            outstanding[STAMP_BASE + sent] = now
            sent, next_ping = sent + 1, now + INTERVAL
        deadline = next_ping if stop_at is None else stop_at + LAST_ANSWERS
        if stop_at is not None and (not outstanding or now >= deadline):
            break
        readable, _, _ = select.select([connection.fileno()] + ([stop_fd] * (stop_at is None)),
                                       [], [], max(0.0, deadline - now))
        if stop_fd in readable and not os.read(stop_fd, 4096):
            stop_at = time.monotonic()
        while connection.pending_events():
            answer = connection.next_event()
            if answer.type == X.ClientMessage and answer.client_type == protocols:
                kind, stamp, about = answer.data[1][:3]
                if kind == ping and about == window_id and stamp in outstanding:
                    sent_at = outstanding.pop(stamp)
                    waits.append((time.monotonic() - sent_at, sent_at))
    every = waits + [(time.monotonic() - at, at) for at in outstanding.values()]
    longest = max(every, default=(0.0, None))
    return {"sent": sent, "answered": len(waits), "longest_wait": longest[0],
            "longest_sent_at": longest[1],  # on time.monotonic()'s clock
            "median_wait": statistics.median(wait for wait, _ in every) if every else 0.0}


if __name__ == "__main__":
    print(json.dumps(probe(int(sys.argv[1], 0), sys.stdin.fileno())), flush=True)
