#!/usr/bin/env python3
"""Measures how safely the song repeats under Wine: plays a song of three
short notes (about 60 ms) into midi_recorder for a while, so the player
closes and reopens the sequencer many times, and reports how many repeats
it made and whether the player faulted. Not part of the test run.

  song_repeats.py --player P.EXE --probe PROBE.EXE --midi-driver MIDIMAP.DLL
                  [--seconds 30] [--runs 4] [--busy]

--busy keeps every core of the machine busy with spinning processes while
the runs last, since the fault it looks for depends on thread timing.
Run it as the test command runs the e2e tests (in xvfb-run, with a
wineserver for the build's prefix).
"""

import multiprocessing
import os
import shutil
import sys
import time

import e2e_support as e2e
import midiwriter

options = {"--seconds": 30.0, "--runs": 4}
busy = "--busy" in sys.argv
for name in list(options):
    if name in sys.argv:
        at = sys.argv.index(name)
        options[name] = type(options[name])(sys.argv[at + 1])
        del sys.argv[at:at + 2]
if busy:
    sys.argv.remove("--busy")


def spin():
    while True:
        pass


def short_song():
    events = []
    for number, key in enumerate((60, 62, 64)):
        events.append((number * 4, midiwriter.note(0, key, 100)))
        events.append((number * 4 + 4, midiwriter.note(0, key, 0, on=False)))
    return events


def one_run(session, exe, number):
    log = session.path(f"repeats{number}.log")
    env = {"MIDI_RECORDER_LOG": e2e.wine_path(log),
           "WINEDLLOVERRIDES": "midimap=n;mscoree,mshtml="}
    player = session.start(exe, f"run{number}", env)
    started = time.monotonic()
    while player.running() and time.monotonic() - started < options["--seconds"]:
        time.sleep(0.2)
    faulted = not player.running()
    player.kill()
    with open(log) as f:
        repeats = sum(1 for line in f if line.split()[1:2] == ["open"]) - 1
    return repeats, faulted, player.process.returncode


def body(checks, session):
    gif = e2e.gifwriter.encode(e2e.gifwriter.Animation(
        32, 32, [(0, 0, 0), (255, 255, 255)],
        [e2e.gifwriter.Frame(e2e.gifwriter.solid(32, 32, 0), delay=100)]))
    exe = session.pack("repeats.exe", [("gif", gif), ("midi", midiwriter.encode(short_song()))])
    shutil.copyfile(session.args.midi_driver, session.path("midimap.dll"))
    spinners = [multiprocessing.Process(target=spin, daemon=True)
                for _ in range(os.cpu_count() if busy else 0)]
    for spinner in spinners:
        spinner.start()
    total_repeats = total_faults = 0
    try:
        for number in range(options["--runs"]):
            repeats, faulted, code = one_run(session, exe, number)
            total_repeats += repeats
            total_faults += faulted
            print(f"run {number + 1}: {repeats} repeats, "
                  + (f"player ended by itself (code {code:#x})" if faulted else "no fault"),
                  flush=True)
    finally:
        for spinner in spinners:
            spinner.terminate()
    print(f"{'busy' if busy else 'no added load'}: {total_faults} fault(s) "
          f"in {total_repeats} repeats")


if __name__ == "__main__":
    e2e.run("song_repeats", body)
