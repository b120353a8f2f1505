#!/usr/bin/python3
"""Pings an X window as a desktop does to tell whether its program hangs: WM_PROTOCOLS /
_NET_WM_PING client messages to the window, the program's echo read on the root window.

Usage: ping_probe.py WINDOW_ID [--interval SECONDS]
Pings until its standard input ends, then prints one JSON line: pings sent and answered, the
longest and median wait for an answer (a ping never answered counts as waiting until the end)
and when the longest waiting one was sent.
Qt answers a ping only while its window's thread processes events, so the longest wait is how
long the window stood deaf.
"""

import argparse
import json
import os
import select
import statistics
import sys
import time

from Xlib import X, display, error
from Xlib.protocol import event

# Our own timestamps, told apart from pings the window manager may send meanwhile.
STAMP_BASE = 0x50000000
# How long answers still outstanding when asked to stop are awaited before they count as lost.
LAST_ANSWERS = 0.3


def probe(window_id, interval, stop_fd):
    connection = display.Display()
    errors = []
    connection.set_error_handler(lambda err, request: errors.append(err))
    root = connection.screen().root
    # The echo goes to the root window. Qt 6.4 sends it to StructureNotify listeners (and the
    # window manager's SubstructureRedirect), not to SubstructureNotify ones as the convention
    # has it: listen for both.
    root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
    protocols = connection.intern_atom("WM_PROTOCOLS")
    ping = connection.intern_atom("_NET_WM_PING")
    window = connection.create_resource_object("window", window_id)

    sent, outstanding, waits = 0, {}, []
    stop_at = None
    next_ping = time.monotonic()
    while True:
        now = time.monotonic()
        if stop_at is None and now >= next_ping:
            stamp = STAMP_BASE + sent
            # No event mask: delivered to the window's owner, as a window manager's ping is.
            window.send_event(event.ClientMessage(
                window=window, client_type=protocols, data=(32, [ping, stamp, window_id, 0, 0])),
                event_mask=0)
            connection.flush()
            sent += 1
            outstanding[stamp] = now
            next_ping = now + interval
        deadline = stop_at + LAST_ANSWERS if stop_at is not None else next_ping
        if stop_at is not None and (not outstanding or now >= deadline):
            break
        readable, _, _ = select.select(
            [connection.fileno()] + ([stop_fd] if stop_at is None else []), [], [],
            max(0.0, deadline - now))
        if stop_fd in readable and not os.read(stop_fd, 4096):
            stop_at = time.monotonic()
        while connection.pending_events():
            answer = connection.next_event()
            if answer.type != X.ClientMessage or answer.client_type != protocols:
                continue
            kind, stamp, about = answer.data[1][:3]
            if kind == ping and about == window_id and stamp in outstanding:
                sent_at = outstanding.pop(stamp)
                waits.append((time.monotonic() - sent_at, sent_at))
    end = time.monotonic()
    every = waits + [(end - at, at) for at in outstanding.values()]
    longest = max(every, default=(0.0, None))
    return {
        "sent": sent,
        "answered": len(waits),
        "longest_wait": longest[0],
        "longest_sent_at": longest[1],  # on the monotonic clock (time.monotonic())
        "median_wait": statistics.median(wait for wait, _ in every) if every else 0.0,
        "x_errors": [str(err) for err in errors],
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("window", type=lambda text: int(text, 0))
    parser.add_argument("--interval", type=float, default=0.05)
    args = parser.parse_args()
    try:
        result = probe(args.window, args.interval, sys.stdin.fileno())
    except error.DisplayError as failure:
        sys.exit(f"ping_probe: {failure}")
    print(json.dumps(result), flush=True)


if __name__ == "__main__":
    main()
