#!/usr/bin/env python3
"""The MIDI song as a MIDI device receives it. Wine here has no synthesiser,
so the player runs with midi_recorder (built as midimap.dll, placed beside
the player and loaded by Wine in place of its MIDI mapper), which logs every
message the sequencer sends it. Checked: the song's messages arrive in order
and at the song's tempo, tempo change included; when the song ends the
sequencer's completion notice reaches the window and the song is played
again from its first note, on a freshly opened device; closing the window
silences the device and ends the player with code 0.

The player closes the sequencer inside its completion handler; Wine 8
unloads the sequencer's DLL at each close unless something else holds it,
and the sequencer's own thread, still on its way out of that DLL, then
faults now and then. The player keeps the DLL loaded itself: Wine's load
trace of the run shows it loaded once and never unloaded while the song
repeats. song_repeats.py measures the repeats over a long run.

usage: test_song.py --player PLAYER.EXE --probe PROBE.EXE --midi-driver MIDIMAP.DLL
                    [--wine-run SCRIPT]
"""

import os
import shutil

import e2e_support as e2e
import midiwriter

WIDTH, HEIGHT = 96, 64
# How far a message may be from its due time, measured from the play's
# first message: the sequencer sleeps with millisecond ticks between events,
# and the machine is shared with the rest of the test run.
TIMING_TOLERANCE_MS = 40


def song():
    """Eight notes, the first four a quarter note apart at 120 beats a
    minute, then a tempo change to 240 for the rest: 3 s in all. A
    program change first and a controller change last, so messages other
    than notes are followed too."""
    events = [(0, midiwriter.tempo(500000)), (0, bytes([0xC1, 0x0B]))]
    tick = 0
    for number, key in enumerate((60, 62, 64, 65, 67, 69, 71, 72)):
        if number == 4:
            events.append((tick, midiwriter.tempo(250000)))
        events.append((tick, midiwriter.note(1, key, 100)))
        events.append((tick + 48, midiwriter.note(1, key, 0, on=False)))
        tick += 96
    events.append((tick, bytes([0xB1, 0x07, 0x50])))
    return events


def quiet_gif():
    """One frame: no timer, so nothing but the song keeps the player busy."""
    frame = e2e.gifwriter.Frame(e2e.gifwriter.solid(WIDTH, HEIGHT, 0), delay=100)
    return e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, [(30, 90, 160), (0, 0, 0)],
                                                        [frame]))


def padded(message):
    """A message as the recorder logs it: three bytes, unused ones zero."""
    return (bytes(message) + b"\0\0")[:3]


class Recording:
    """The recorder's log read back: one Play per device open."""

    def __init__(self, path):
        self.plays = []
        self.ended_with = []
        if not os.path.exists(path):
            return
        with open(path) as f:
            for line in f:
                self._add(line.split())

    def _add(self, fields):
        if len(fields) < 2:
            return
        micros, kind = int(fields[0]), fields[1]
        if kind == "open":
            self.plays.append(Play(micros))
        elif self.plays and kind == "data":
            self.plays[-1].messages.append((micros, bytes(int(b, 16) for b in fields[2:5])))
        elif self.plays and kind in ("reset", "close"):
            self.plays[-1].endings.append((micros, kind))
        self.ended_with = (self.ended_with + [kind])[-2:]


class Play:
    def __init__(self, opened):
        self.opened = opened
        self.messages = []
        self.endings = []

    def closed(self):
        return [m for m, kind in self.endings if kind == "close"]

    def bytes(self):
        return [m for _, m in self.messages]

    def deviations_ms(self, expected):
        """For each message, how far its time from the play's first message
        is from the song's: (index, measured ms, due ms) of the worst."""
        first = self.messages[0][0]
        worst = (0, 0.0, 0.0)
        for index, ((micros, _), (due, _)) in enumerate(zip(self.messages, expected)):
            measured = (micros - first) / 1000.0
            if abs(measured - due) > abs(worst[1] - worst[2]):
                worst = (index, measured, due)
        return worst


def check_play(checks, play, expected, name):
    want = [padded(m) for _, m in expected]
    if not checks.equal([m.hex(" ") for m in play.bytes()], [m.hex(" ") for m in want],
                        f"{name}: messages in order"):
        return
    index, measured, due = play.deviations_ms(expected)
    checks.check(abs(measured - due) <= TIMING_TOLERANCE_MS,
                 f"{name}: at the song's tempo (worst: message {index} at {measured:.1f} ms, "
                 f"due at {due:.1f} ms)",
                 f"{measured - due:+.1f} ms", f"within ±{TIMING_TOLERANCE_MS} ms")
    checks.equal([kind for _, kind in play.endings], ["reset", "close"],
                 f"{name}: the device is reset and closed when the song ends")


def start_player(session):
    exe = session.pack("e2e_song.exe", [("gif", quiet_gif()),
                                        ("midi", midiwriter.encode(song()))])
    shutil.copyfile(session.args.midi_driver, session.path("midimap.dll"))
    log = session.path("midi.log")
    env = {"MIDI_RECORDER_LOG": e2e.wine_path(log),
           "WINEDEBUG": "-all,+loaddll",
           "WINEDLLOVERRIDES": "midimap=n;mscoree,mshtml="}
    player = session.start(exe, "song", env, stderr_path=session.path("loaddll.log"))
    if player.window(e2e.MAIN_CLASS, 20) is None:
        raise e2e.Abort(f"no main window appeared in 20 s ({player.describe()})")
    return player, log


def sequencer_dll_events(session):
    """Wine's load trace of the run, for the sequencer's DLL only: 'Loaded'
    and 'Unloaded' in the order they happened."""
    events = []
    with open(session.path("loaddll.log"), errors="replace") as f:
        for line in f:
            if "mciseq.dll" in line.lower():
                if "Unloaded" in line:
                    events.append("Unloaded")
                elif "Loaded" in line:
                    events.append("Loaded")
    return events


def body(checks, session):
    if not session.args.midi_driver:
        raise e2e.Abort("--midi-driver is required")
    expected = midiwriter.channel_messages(song())
    player, log = start_player(session)

    def repeated():
        recording = Recording(log)
        plays = recording.plays
        if len(plays) >= 2 and len(plays[1].messages) >= len(expected) and plays[1].closed():
            return recording
        return None if player.running() else "ended"

    recording = e2e.wait_until(repeated, 20, interval=0.1)
    if not isinstance(recording, Recording):
        got = Recording(log)
        raise e2e.Abort(f"the song did not play twice in 20 s: {len(got.plays)} opening(s), "
                        f"messages per play {[len(p.messages) for p in got.plays]} "
                        f"({player.describe()})")

    checks.equal(sequencer_dll_events(session), ["Loaded"],
                 "the sequencer's DLL is loaded once and stays loaded across the repeat")
    first, second = recording.plays[0], recording.plays[1]
    check_play(checks, first, expected, "first play")
    check_play(checks, second, expected, "second play")
    gap_ms = (second.opened - first.closed()[0]) / 1000.0
    checks.check(0 <= gap_ms <= 500,
                 f"the song's end reaches the window and the song is reopened "
                 f"{gap_ms:.1f} ms after the device closed", f"{gap_ms:.1f} ms", "0..500 ms")

    # Close the window while a later play is under way.
    def mid_song():
        plays = Recording(log).plays
        return len(plays) >= 3 and len(plays[-1].messages) >= 4
    if not e2e.wait_until(mid_song, 10, interval=0.05):
        raise e2e.Abort(f"no third play under way in 10 s ({player.describe()})")
    e2e.close_with_alt_f4(player)
    code = player.wait(15)
    checks.equal(code, 0, "exit code after closing the window")
    final = Recording(log)
    last = final.plays[-1]
    checks.check(len(last.messages) < len(expected),
                 "closing the window cut the song short",
                 f"{len(last.messages)} messages", f"fewer than {len(expected)}")
    checks.equal(final.ended_with, ["reset", "close"],
                 "the device is reset and closed, and nothing follows")


if __name__ == "__main__":
    e2e.run("e2e_song", body)
