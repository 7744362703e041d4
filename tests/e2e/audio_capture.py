"""Hearing what Wine plays on a machine without a sound card: a private
PulseAudio daemon with one null sink, a recording of that sink's monitor,
and the few measurements the sound tests need (loudness in short windows,
where sound starts and ends, the pitch of a stretch of sound).

    with AudioServer(scratch_directory) as server:
        with server.record(path) as recording:
            player = session.start(exe, label, env=server.client_env)
            ...
        segments = sound_segments(recording.samples(), threshold)

Everything this module starts it ends itself, by process id, also when the
caller fails. Standard library only.
"""

import array
import collections
import contextlib
import math
import os
import statistics
import subprocess
import sys
import time

SINK = "e2e_capture"
RATE = 44100          # recording: mono, signed 16-bit little-endian, this rate
BYTES_PER_SAMPLE = 2


class AudioError(Exception):
    """The sound server or the recorder did not come up as required."""


# Put in front of the daemon's and the recorder's command: should the test
# itself be killed outright (a CTest timeout), they get SIGTERM instead of
# living on. setpriv (util-linux) sets the signal and execs, so the process
# id stays the one started.
DIE_WITH_PARENT = ["setpriv", "--pdeathsig", "TERM", "--"]


def _end(process):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


class AudioServer:
    """A PulseAudio daemon of our own in a scratch directory: user mode, no
    default script (-n) but ours, holding one null sink and a native-protocol
    socket that takes clients without a cookie. It never exits on its own,
    writes no pid file and logs to a file, so it cannot clash with, or be
    mistaken for, any other daemon on the machine."""

    def __init__(self, directory):
        self.directory = os.path.abspath(directory)
        self.socket = os.path.join(self.directory, "native")
        self.log = os.path.join(self.directory, "pulseaudio.log")
        self.process = None
        self.client_env = self._client_environment()

    def _client_environment(self):
        """What a client (Wine, parec, pactl) needs to reach this daemon and
        nothing else: the server address, a client configuration that
        forbids autospawning, and paths of its own for runtime files and
        the cookie."""
        return {
            "PULSE_SERVER": "unix:" + self.socket,
            "PULSE_CLIENTCONFIG": os.path.join(self.directory, "client.conf"),
            "PULSE_RUNTIME_PATH": os.path.join(self.directory, "runtime"),
            "PULSE_STATE_PATH": os.path.join(self.directory, "state"),
            "PULSE_COOKIE": os.path.join(self.directory, "cookie"),
            "PULSE_SINK": SINK,
            "PULSE_SOURCE": SINK + ".monitor",
        }

    def _write_configuration(self):
        for sub in ("home", "runtime", "state", "config"):
            os.makedirs(os.path.join(self.directory, sub), exist_ok=True)
        with open(os.path.join(self.directory, "server.pa"), "w") as f:
            f.write(f"load-module module-null-sink sink_name={SINK} rate={RATE} channels=2\n"
                    f"load-module module-native-protocol-unix socket={self.socket} "
                    f"auth-anonymous=1\n"
                    f"set-default-sink {SINK}\n"
                    f"set-default-source {SINK}.monitor\n")
        with open(self.client_env["PULSE_CLIENTCONFIG"], "w") as f:
            f.write(f"autospawn = no\ndefault-server = unix:{self.socket}\n")

    def _daemon_environment(self):
        env = dict(os.environ, **self.client_env)
        env.update(HOME=os.path.join(self.directory, "home"),
                   XDG_RUNTIME_DIR=self.client_env["PULSE_RUNTIME_PATH"],
                   XDG_CONFIG_HOME=os.path.join(self.directory, "config"))
        env.pop("PULSE_SERVER")   # the daemon is the server
        return env

    def client(self, *command, timeout=10):
        """Runs a PulseAudio client tool against this daemon; its result."""
        return subprocess.run(list(command), env=dict(os.environ, **self.client_env),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=timeout)

    def start(self):
        self._write_configuration()
        log = open(os.path.join(self.directory, "daemon.out"), "wb")
        self.process = subprocess.Popen(
            DIE_WITH_PARENT + [
                "pulseaudio", "-n", "-F", os.path.join(self.directory, "server.pa"),
                "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                "--disallow-exit", "--realtime=no", "--high-priority=no", "--no-cpu-limit",
                f"--log-target=file:{self.log}", "--log-level=info"],
            env=self._daemon_environment(), stdin=subprocess.DEVNULL,
            stdout=log, stderr=subprocess.STDOUT)
        log.close()
        deadline = time.monotonic() + 15
        while self.client("pactl", "info").returncode != 0:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AudioError(f"PulseAudio did not come up; see {self.log}")
            time.sleep(0.1)

    def wake_sink(self):
        """Suspends and resumes the sink, which restarts its clock."""
        for state in ("1", "0"):
            result = self.client("pactl", "suspend-sink", SINK, state)
            if result.returncode != 0:
                raise AudioError(f"pactl suspend-sink {SINK} {state}: {result.stdout.strip()}")

    def stop(self):
        _end(self.process)

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    @contextlib.contextmanager
    def record(self, path):
        """Records the sink's monitor into `path` for the length of the with
        block; yields the Recording, which can be read while it grows."""
        recording = Recording(self, path)
        try:
            recording.start()
            yield recording
        finally:
            recording.stop()


class Recording:
    """parec writing the monitor of the sink to a raw file as it arrives."""

    def __init__(self, server, path):
        self.server = server
        self.path = path
        self.process = None

    def start(self):
        out = open(self.path, "wb")
        self.process = subprocess.Popen(
            DIE_WITH_PARENT + ["parec", "--device=" + SINK + ".monitor", "--format=s16le",
                               f"--rate={RATE}", "--channels=1", "--latency-msec=10"],
            env=dict(os.environ, **self.server.client_env), stdin=subprocess.DEVNULL,
            stdout=out, stderr=subprocess.DEVNULL)
        out.close()
        # An idle null sink feeds a newly connected recorder only after about
        # two seconds; suspending and resuming the sink once the recorder is
        # attached makes the samples flow at once. They must be flowing
        # before anything is played, or the start of a sound would be lost.
        deadline = time.monotonic() + 5
        while not self._recorder_attached():
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AudioError("parec did not attach to the monitor in 5 s")
            time.sleep(0.02)
        self.server.wake_sink()
        while self.seconds() < 0.05:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AudioError("parec delivered no samples from the monitor in 5 s")
            time.sleep(0.01)

    def _recorder_attached(self):
        listing = self.server.client("pactl", "list", "short", "source-outputs").stdout
        return any(line.strip() for line in listing.splitlines())

    def seconds(self):
        """How much has been recorded so far, in seconds of sound: the
        recording's 'now', good to within parec's fragment (10 ms)."""
        try:
            return os.path.getsize(self.path) // BYTES_PER_SAMPLE / RATE
        except FileNotFoundError:
            return 0.0

    def wait_for_sound(self, threshold, timeout):
        """Seconds into the recording at which the first window louder than
        `threshold` begins, polled for; None when none comes in time or the
        recorder has stopped."""
        size = int(RATE * WINDOW)
        looked_at = 0      # windows already measured
        deadline = time.monotonic() + timeout
        while True:
            fresh = self.samples()[looked_at * size:]
            for index, level in enumerate(window_rms(fresh)):
                if level > threshold:
                    return (looked_at + index) * WINDOW
            looked_at += len(fresh) // size
            if time.monotonic() > deadline or self.process.poll() is not None:
                return None
            time.sleep(0.05)

    def wait_until(self, seconds, timeout):
        """Waits until the recording is `seconds` long; False if it is not
        within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while self.seconds() < seconds:
            if time.monotonic() > deadline or self.process.poll() is not None:
                return False
            time.sleep(0.02)
        return True

    def samples(self):
        """The recording so far, as signed 16-bit sample values."""
        with open(self.path, "rb") as f:
            data = f.read()
        values = array.array("h")
        values.frombytes(data[:len(data) - len(data) % BYTES_PER_SAMPLE])
        if sys.byteorder != "little":
            values.byteswap()
        return values

    def stop(self):
        _end(self.process)


# ---------------------------------------------------------------- analysis

WINDOW = 0.010        # seconds per loudness window


def window_rms(samples, window=WINDOW, rate=RATE):
    """Root mean square of each consecutive window of `window` seconds."""
    size = int(rate * window)
    levels = []
    for start in range(0, len(samples) - size + 1, size):
        chunk = samples[start:start + size]
        levels.append(math.sqrt(sum(v * v for v in chunk) / size))
    return levels


class Segment(collections.namedtuple("Segment", "start end sounding")):
    """A stretch of sound: start and end in seconds from the recording's
    start, and how many seconds of it were actually loud (less than the
    span when the output dropped out for a moment)."""

    @property
    def span(self):
        return self.end - self.start


def sound_segments(samples, threshold, bridge=0.15, window=WINDOW, rate=RATE):
    """The stretches of sound: runs of windows whose RMS exceeds
    `threshold`. A quiet gap shorter than `bridge` seconds is a dropout
    inside one sound (Wine's output stalls for tens of milliseconds when
    the machine is busy), not the end of it."""
    segments = []
    for index, level in enumerate(window_rms(samples, window, rate)):
        if level <= threshold:
            continue
        start, end = index * window, (index + 1) * window
        if segments and start - segments[-1].end < bridge:
            last = segments[-1]
            segments[-1] = Segment(last.start, end, last.sounding + window)
        else:
            segments.append(Segment(start, end, window))
    return segments


def frequency(samples, start, end, rate=RATE):
    """Pitch in Hz of the sound between `start` and `end` seconds: the
    inverse of the median time between rising zero crossings (interpolated
    between samples), which a dropout or a click does not move. 0.0 when
    fewer than two crossings are found."""
    crossings = []
    for n in range(max(int(start * rate), 1), min(int(end * rate), len(samples))):
        before, after = samples[n - 1], samples[n]
        if before < 0 <= after:
            crossings.append(n - 1 + before / (before - after))
    periods = [b - a for a, b in zip(crossings, crossings[1:])]
    if not periods:
        return 0.0
    return rate / statistics.median(periods)


def peak_rms(samples, window=WINDOW, rate=RATE):
    return max(window_rms(samples, window, rate), default=0.0)
