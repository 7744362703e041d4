#!/usr/bin/env python3
"""The WAVE sound as a listener hears it. Wine plays into a PulseAudio null
sink of the test's own, whose monitor is recorded, and the recording is
measured: a WAVE shorter than the animation's loop starts when the first
frame shows and again at every wrap, each time whole and at its pitch; a
WAVE longer than the loop plays to its end uninterrupted and starts again
only at the first wrap after it ended; closing the window silences a sound
still playing, and the player ends with exit code 0; without a WAVE section
nothing is heard and no WAVE file is written.

Times are measured on the recording's own clock and relative to the first
sound heard, so Wine's start-up and output latency drop out.

usage: test_wave.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import math
import struct

import audio_capture as audio
import e2e_support as e2e

WIDTH, HEIGHT = 96, 64
WAVE_RATE = 22050
AMPLITUDE = 0.5           # of full scale: an RMS of about 11600
THRESHOLD = 2000          # RMS above which a 10 ms window counts as sound
SPACING_TOLERANCE = 0.15  # seconds, for onsets against the loop
LENGTH_TOLERANCE = 0.06   # seconds, for a sound's length against its tone
PITCH_TOLERANCE = 0.01    # relative
DROPOUT = 0.15            # seconds: a shorter quiet gap is a stall inside one sound


def tone(hz, seconds):
    """A WAVE file (PCM, 16-bit mono) holding a sine of `hz` for `seconds`,
    faded in and out over 5 ms so its edges do not click."""
    count = int(WAVE_RATE * seconds)
    fade = int(WAVE_RATE * 0.005)
    samples = bytearray()
    for n in range(count):
        gain = min(1.0, n / fade, (count - 1 - n) / fade)
        value = AMPLITUDE * gain * math.sin(2 * math.pi * hz * n / WAVE_RATE)
        samples += struct.pack("<h", int(32767 * value))
    fmt = struct.pack("<HHIIHH", 1, 1, WAVE_RATE, WAVE_RATE * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(samples)) + bytes(samples)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def two_frames(delay):
    """A two-frame animation, each frame shown `delay` hundredths of a
    second: one loop lasts 2 * delay / 100 seconds."""
    colours = [(200, 30, 30), (30, 30, 200)]
    frames = [e2e.gifwriter.Frame(e2e.gifwriter.solid(WIDTH, HEIGHT, i), delay=delay)
              for i in range(2)]
    return e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, colours, frames))


def near(actual, expected, tolerance):
    return abs(actual - expected) <= tolerance


def seconds_list(values):
    return "[" + ", ".join(f"{v:.3f}" for v in values) + "]"


class Listening:
    """One run of a packed player while the sink is recorded: start it,
    wait for its first sound, listen on for a while, close its window and
    check it ends with exit code 0. The recording's clock is the reference
    for every time: `launched`, `first_sound`, `closing` (Alt+F4 about to be
    sent) and `closed` (sent) are seconds into the recording."""

    def __init__(self, checks, session, server, name, sections):
        self.checks = checks
        self.session = session
        self.server = server
        self.name = name
        self.exe = session.pack(f"e2e_wave_{name}.exe", sections)
        self.first_sound = self.closing = self.closed = None

    def run(self, listen_after_first_sound, tail=0.3, expect_sound=True, while_playing=None):
        with self.server.record(self.session.path(f"{self.name}.raw")) as recording:
            self.launched = recording.seconds()
            player = self.session.start(self.exe, self.name, env=self.server.client_env)
            if player.window(e2e.MAIN_CLASS, 20) is None:
                raise e2e.Abort(f"{self.name}: no main window in 20 s ({player.describe()})")
            if expect_sound:
                self.first_sound = recording.wait_for_sound(THRESHOLD, 15)
                if self.first_sound is None:
                    raise e2e.Abort(f"{self.name}: no sound within 15 s of the window "
                                    f"({player.describe()}; daemon log in {self.server.log})")
                listen_until = self.first_sound + listen_after_first_sound
            else:
                listen_until = recording.seconds() + listen_after_first_sound
            if while_playing:
                while_playing(player)
            if not recording.wait_until(listen_until, listen_after_first_sound + 10):
                raise e2e.Abort(f"{self.name}: the recording stopped growing at "
                                f"{recording.seconds():.3f} s")
            self.closing = recording.seconds()
            e2e.close_with_alt_f4(player)
            self.closed = recording.seconds()
            code = player.wait(15)
            self.checks.equal(code, 0, f"{self.name}: exit code after Alt+F4")
            recording.wait_until(recording.seconds() + tail, tail + 10)
        self.samples = recording.samples()
        self.segments = audio.sound_segments(self.samples, THRESHOLD, bridge=DROPOUT)
        return self.segments

    def heard(self):
        """The sounds that began before the close. (The close takes a moment
        to act, and the animation may wrap once more meanwhile.)"""
        return [s for s in self.segments if s.start < self.closing]

    def onsets(self):
        """Start of each sound, in seconds after the first one."""
        return [s.start - self.first_sound for s in self.heard()]

    def lengths(self):
        """Seconds each sound was heard; with a dropout inside, less than
        from its start to its end."""
        return [s.sounding for s in self.heard()]

    def pitches(self):
        return [audio.frequency(self.samples, s.start, s.end) for s in self.heard()]

    def report(self):
        print(f"ok: {self.name}: first sound {self.first_sound - self.launched:.3f} s after "
              f"launch; onsets {seconds_list(self.onsets())}, lengths "
              f"{seconds_list(self.lengths())}, pitches "
              f"[{', '.join(f'{p:.1f}' for p in self.pitches())}] Hz")
        for s in self.heard():
            if s.span - s.sounding > audio.WINDOW / 2:
                print(f"note: {self.name}: the sound from {s.start:.3f} s to {s.end:.3f} s "
                      f"dropped out for {s.span - s.sounding:.3f} s in all")

    def check_sounds(self, hz, seconds):
        """Every sound heard is the whole tone at its pitch; the last one may
        be cut by the close."""
        for number, (segment, pitch) in enumerate(zip(self.heard(), self.pitches())):
            length = segment.sounding
            cut_by_close = segment.end > self.closing - LENGTH_TOLERANCE
            if not cut_by_close:
                self.checks.check(near(length, seconds, LENGTH_TOLERANCE),
                                  f"{self.name}: sound {number} is the whole tone, "
                                  f"{seconds:.2f} s", f"{length:.3f} s", f"{seconds:.3f} s")
            self.checks.check(near(pitch, hz, hz * PITCH_TOLERANCE),
                              f"{self.name}: sound {number} at {hz} Hz",
                              f"{pitch:.1f} Hz", f"{hz} Hz")

    def check_onsets(self, expected):
        """Sounds start at the expected times after the first one, and at no
        other time before the window was closed. Each gap between onsets is
        held against its expected length, so small delays of the frame
        timer do not add up."""
        actual = self.onsets()
        gaps = [b - a for a, b in zip(actual, actual[1:])]
        expected_gaps = [b - a for a, b in zip(expected, expected[1:])]
        matches = len(gaps) == len(expected_gaps) and all(
            near(a, e, SPACING_TOLERANCE) for a, e in zip(gaps, expected_gaps))
        self.checks.check(matches, f"{self.name}: onsets (s after the first) spaced as "
                          f"expected within {SPACING_TOLERANCE} s",
                          seconds_list(actual), seconds_list(expected))


def short_wave(checks, session, server):
    """0.25 s of 440 Hz, loop 0.6 s: a sound at the first frame and at each
    of the next five wraps, 0.6 s apart."""
    hz, seconds, delay = 440, 0.25, 30
    loop = 2 * delay / 100
    run = Listening(checks, session, server, "short",
                    [("gif", two_frames(delay)), ("wave", tone(hz, seconds))])
    seen = []
    # Close halfway between the sixth sound's end and the seventh's start.
    run.run(5 * loop + seconds + (loop - seconds) / 2,
            while_playing=lambda player: seen.extend(player.temp_files()))
    run.report()
    checks.check("pavolin.wav" in seen, "short: pavolin.wav beside the player while it plays",
                 seen, "pavolin.wav among them")
    run.check_onsets([k * loop for k in range(6)])
    run.check_sounds(hz, seconds)


def long_wave(checks, session, server):
    """1.9 s of 660 Hz, loop 0.8 s: the wrap at 0.8 s and the one at 1.6 s
    come while the sound plays and are dropped, the one at 2.4 s, half a
    second after it ended, starts it again; and so on at 4.8 s. The sound
    ends 0.3 s after one wrap and 0.5 s before the next, so neither is a
    close call."""
    hz, seconds, delay = 660, 1.9, 40
    run = Listening(checks, session, server, "long",
                    [("gif", two_frames(delay)), ("wave", tone(hz, seconds))])
    run.run(4.8 + 0.5)
    run.report()
    run.check_onsets([0.0, 2.4, 4.8])
    run.check_sounds(hz, seconds)


def closing_silences(checks, session, server):
    """6 s of 880 Hz, the window closed 1 s into it: the sound ends within
    a moment of the close instead of playing on for 5 s. (The process ends
    a few milliseconds after its window, which would silence the sound as
    well, so this holds the outcome a listener hears, not the stop call.)"""
    hz, seconds, delay = 880, 6.0, 30
    run = Listening(checks, session, server, "close",
                    [("gif", two_frames(delay)), ("wave", tone(hz, seconds))])
    segments = run.run(1.0, tail=0.8)
    if not segments:
        checks.fail("close: nothing heard")
        return
    sound = segments[0]
    after_close = sound.end - run.closing
    print(f"ok: close: sound from {sound.start:.3f} s to {sound.end:.3f} s of the recording; "
          f"Alt+F4 sent between {run.closing:.3f} s and {run.closed:.3f} s; the sound ended "
          f"{after_close:.3f} s after the close began")
    # A dropout can fall just before the close, so the sound may be heard
    # last that much before it.
    checks.check(-DROPOUT <= after_close <= 0.5,
                 "close: the sound plays until the close and ends within 0.5 s of it",
                 f"ended {after_close:.3f} s after the close", f"{-DROPOUT} to 0.5 s")
    checks.equal(len(segments), 1, "close: sounds heard")
    run.check_sounds(hz, seconds)


def no_wave(checks, session, server):
    """GIF only: silence all along, and no WAVE file beside the player."""
    listened = 2.5
    run = Listening(checks, session, server, "silent", [("gif", two_frames(30))])
    seen = []
    run.run(listened, expect_sound=False,
            while_playing=lambda player: seen.extend(player.temp_files()))
    recorded = len(run.samples) / audio.RATE
    peak = audio.peak_rms(run.samples)
    print(f"ok: silent: {recorded:.2f} s recorded, loudest 10 ms RMS {peak:.1f}")
    checks.check(recorded >= listened, "silent: the recording covers the run",
                 f"{recorded:.2f} s", f">= {listened} s")
    checks.check(peak <= THRESHOLD, "silent: nothing heard", f"peak RMS {peak:.1f}",
                 f"<= {THRESHOLD}")
    checks.check("pavolin.wav" not in seen, "silent: no pavolin.wav while it plays",
                 seen, "no pavolin.wav")


def body(checks, session):
    e2e.park_mouse()
    try:
        with audio.AudioServer(session.path("pulse")) as server:
            for case in (short_wave, long_wave, closing_silences, no_wave):
                case(checks, session, server)
    except (audio.AudioError, FileNotFoundError) as error:
        raise e2e.Abort(f"no sound capture: {error}") from error


if __name__ == "__main__":
    e2e.run("e2e_wave", body)
