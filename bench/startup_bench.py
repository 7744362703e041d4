"""Start-up time and peak memory of the player under Wine.

Packs the player with a tiny animation (16 x 16) and with a large one (10
frames of 1920 x 1080, about 21 MB, no sound sections), starts each in turn
inside the running X session and Wine prefix, and times how long its window
takes to be mapped: the X server's map event is awaited on a connection of
this process, which sleeps meanwhile, so the timing takes no CPU time from
the player (polling with a new process every few milliseconds on the same
CPU took a third of it, and slowed the large start-up most). The large animation's start-up is reported beyond the
tiny one's (Wine's own start-up cancels out) and set against the time the
same build takes to decode that GIF alone (from the Windows benchmark). The
peak working set (VmHWM of the player's process) beyond the tiny
animation's is set against what the player must hold: the payload, every
frame's bitmap and the canvas.

Usage: startup_bench.py PLAYER_EXE DECODE_BENCH_EXE WORK_DIR [RUNS]
Needs: a display (run inside xvfb-run with a wineserver started there),
WINEPREFIX set, ImageMagick, xdotool, libX11.
"""

import ctypes
import ctypes.util
import os
import select
import signal
import statistics
import struct
import subprocess
import sys
import time

TITLE = "Vantrel Animation Player"
FRAMES, WIDTH, HEIGHT = 10, 1920, 1080


def convert(*args):
    subprocess.run(["convert", *args], check=True)


def make_gifs(work):
    """The large GIF: ten frames of uniform noise over one 256-colour table
    (one frame repeated, so that the writer keeps a single table); decoding
    it is as much work as ten different noise frames."""
    large = os.path.join(work, "large.gif")
    tiny = os.path.join(work, "tiny.gif")
    if not os.path.exists(large):
        frame = os.path.join(work, "noise.gif")
        convert("-size", f"{WIDTH}x{HEIGHT}", "-seed", "7", "xc:gray", "+noise", "Random",
                "-colors", "256", frame)
        convert(frame, "-duplicate", str(FRAMES - 1), "-delay", "10", large)
    if not os.path.exists(tiny):
        convert("-size", "16x16", "plasma:", "-colors", "256", tiny)
    return tiny, large


def pack(player, gif, out):
    """The player followed by one GIF section: '*', tag, ':', length, bytes."""
    with open(player, "rb") as f:
        stub = f.read()
    with open(gif, "rb") as f:
        payload = f.read()
    with open(out, "wb") as f:
        f.write(stub + b"*GIF_BEGINS_HERE:" + struct.pack("<I", len(payload)) + payload)
    return len(payload)


def peak_rss_bytes(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def player_pid(exe_name):
    """The Linux process that runs the packed executable under Wine."""
    out = subprocess.run(["pgrep", "-f", exe_name], stdout=subprocess.PIPE, text=True).stdout
    pids = [int(p) for p in out.split()]
    return max(pids) if pids else None


class MapWatcher:
    """Waits for the X server to map a top-level window of a given title.

    It listens to the root window's substructure events on one connection
    and sleeps until one arrives, so it takes no CPU time from the program
    it times. A poller that starts a process every few milliseconds on the
    same CPU would take a large share of it and slow a long start-up more
    than a short one."""

    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
    MAP_NOTIFY = 19
    # XMapEvent: type, serial, send_event, display, event, window, ...
    WINDOW_OFFSET = 4 * ctypes.sizeof(ctypes.c_long) + ctypes.sizeof(ctypes.c_void_p)

    def __init__(self):
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XFlush.argtypes = [ctypes.c_void_p]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        # A window may be gone before its name is asked for; Xlib's default
        # handler would end this process on that error.
        handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.ignore_errors = handler_type(lambda display, error: 0)
        x.XSetErrorHandler(self.ignore_errors)
        self.x = x
        self.display = x.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")
        x.XSelectInput(self.display, x.XDefaultRootWindow(self.display),
                       self.SUBSTRUCTURE_NOTIFY_MASK)
        x.XFlush(self.display)
        self.fd = x.XConnectionNumber(self.display)
        self.event = ctypes.create_string_buffer(256)

    def drain(self):
        while self.x.XPending(self.display):
            self.x.XNextEvent(self.display, self.event)

    def mapped_window_title(self):
        """The title of the window an event reports mapped, else None."""
        if struct.unpack_from("i", self.event.raw)[0] != self.MAP_NOTIFY:
            return None
        window = ctypes.c_ulong.from_buffer_copy(self.event.raw, self.WINDOW_OFFSET).value
        name = ctypes.c_char_p()
        if not self.x.XFetchName(self.display, window, ctypes.byref(name)) or not name.value:
            return None
        title = name.value.decode("latin-1")
        self.x.XFree(name)
        return title

    def wait_for(self, title, deadline):
        """The monotonic time at which a window titled `title` was mapped."""
        while True:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, self.event)
                if self.mapped_window_title() == title:
                    return time.monotonic()
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise RuntimeError(f"no window titled {title}")
            select.select([self.fd], [], [], remaining)


def start_once(exe, watcher):
    """Seconds from launch to the mapped window, and the peak working set."""
    name = os.path.basename(exe)
    watcher.drain()
    start = time.monotonic()
    process = subprocess.Popen(["wine", exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        mapped = watcher.wait_for(TITLE, start + 60) - start
        time.sleep(0.3)  # the first frames are shown; memory has peaked
        pid = player_pid(name)
        peak = peak_rss_bytes(pid) if pid else 0
    finally:
        pid = player_pid(name)
        if pid:
            os.kill(pid, signal.SIGKILL)
        process.kill()
        process.wait()
        # Wait until the window is gone, so that the next run finds its own.
        for _ in range(100):
            if subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE],
                              stdout=subprocess.DEVNULL).returncode != 0:
                break
            time.sleep(0.05)
    return mapped, peak


def decode_seconds(bench_exe, work, gif):
    """Wall-clock seconds the same build takes to decode the GIF alone, by
    its benchmark: the median rate of our decoder over a few repetitions."""
    directory = os.path.join(work, "decode-only")
    os.makedirs(directory, exist_ok=True)
    link = os.path.join(directory, os.path.basename(gif))
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(gif, link)
    out = subprocess.run(["wine", bench_exe, "--repetitions=5", "--min-time=0.5", "--clock=wall",
                          "Z:" + directory.replace("/", "\\")],
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    row = next(l for l in out.splitlines() if l.startswith("| " + os.path.basename(gif)))
    cells = [c.strip() for c in row.strip("|").split("|")]
    megapixels, rate = float(cells[1]), float(cells[2])
    return megapixels / rate


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    player, bench_exe, work = (os.path.abspath(a) for a in sys.argv[1:4])
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    os.makedirs(work, exist_ok=True)
    tiny_gif, large_gif = make_gifs(work)
    tiny_exe = os.path.join(work, "startup-tiny.exe")
    large_exe = os.path.join(work, "startup-large.exe")
    pack(player, tiny_gif, tiny_exe)
    payload = pack(player, large_gif, large_exe)

    watcher = MapWatcher()
    tiny, large = [], []
    start_once(tiny_exe, watcher)  # Wine's first start fills its caches
    for _ in range(runs):
        tiny.append(start_once(tiny_exe, watcher))
        large.append(start_once(large_exe, watcher))
    decoding = decode_seconds(bench_exe, work, large_gif)

    beyond = statistics.median(t for t, _ in large) - statistics.median(t for t, _ in tiny)
    stride = (WIDTH + 3) // 4 * 4
    held = payload + FRAMES * stride * HEIGHT + stride * HEIGHT
    memory = statistics.median(m for _, m in large) - statistics.median(m for _, m in tiny)
    print(f"Start-up under Wine, median of {runs} runs, alternating")
    print(f"| measure | value |")
    print(f"|---|---:|")
    print(f"| window mapped, tiny animation | {statistics.median(t for t, _ in tiny):.3f} s |")
    print(f"| window mapped, {FRAMES} x {WIDTH} x {HEIGHT} ({payload / 1e6:.1f} MB) | "
          f"{statistics.median(t for t, _ in large):.3f} s |")
    print(f"| beyond the tiny animation | {beyond:.3f} s |")
    print(f"| decoding that GIF alone, same build | {decoding:.3f} s |")
    print(f"| start-up / decoding | {beyond / decoding:.2f} |")
    print(f"| peak working set beyond the tiny animation's | {memory / 1e6:.1f} MB |")
    print(f"| payload + frames + canvas | {held / 1e6:.1f} MB |")
    print(f"| peak / (payload + frames + canvas) | {memory / held:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
