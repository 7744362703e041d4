"""What the end-to-end scripts share: packing test animations, running the
player under Wine with a TEMP directory of their own, finding its windows,
reading the screen back and driving the mouse and keyboard through the X
tools, and reporting checks as actual against expected.

The scripts expect the environment of the project's test command: an X
server on $DISPLAY (xvfb-run, 24-bit), WINEPREFIX made by scripts/wine-prefix
(Wine draws the window frames itself, there is no window manager) and a
running wineserver.
"""

import argparse
import os
import queue
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import gifwriter  # noqa: E402

PACKER = os.path.join(ROOT, "tests", "support", "pack.py")
MAIN_CLASS = "PavolinMainWin"
MAIN_TITLE = "Vantrel Animation Player"
DIALOG_CLASS = "#32770"
MENU_CLASS = "#32768"
HTCLOSE = 20
WS_HSCROLL = 0x00100000
WS_VSCROLL = 0x00200000
WHITE = (255, 255, 255)


# ---------------------------------------------------------------- reporting

class Checks:
    """Collects results; a failed check is reported and the script goes on
    where that still makes sense, so one run shows every fault."""

    def __init__(self, name):
        self.name = name
        self.failures = []

    def check(self, condition, what, actual=None, expected=None):
        if condition:
            print(f"ok: {what}")
        else:
            detail = what if actual is None and expected is None else \
                f"{what}: actual {actual!r}, expected {expected!r}"
            print(f"FAIL: {detail}")
            self.failures.append(detail)
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected, what, actual, expected)

    def fail(self, what):
        return self.check(False, what)

    def finish(self):
        if self.failures:
            print(f"{self.name}: {len(self.failures)} check(s) failed:")
            for failure in self.failures:
                print(f"  - {failure}")
            return 1
        print(f"{self.name}: all checks passed")
        return 0


class Abort(Exception):
    """A failure after which the rest of the script cannot run."""


def parse_arguments(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--player", required=True, help="the built player.exe")
    parser.add_argument("--probe", help="the built e2e_window_probe.exe")
    parser.add_argument("--wine-run", default=os.path.join(ROOT, "scripts", "wine-run"))
    parser.add_argument("--midi-driver", help="the built MIDI recorder (midimap.dll)")
    parser.add_argument("--page", help="the built offline page of the authoring tool")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("no X display: run under xvfb-run -a -s '-screen 0 1280x1024x24'")
    depth = root_info().get("Depth")
    if depth != "24":
        sys.exit(f"the X screen has depth {depth}; colours can be compared exactly only at 24")
    return args


def wait_until(predicate, timeout, interval=0.05):
    """Polls until predicate() gives a true value; returns it, or None."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


# ---------------------------------------------------------------- animations

def distinct_colours(count, seed):
    """Saturated colours far from the greys, white and black of the window
    frame, so a picture can never be confused with its surroundings."""
    rng = random.Random(seed)
    colours = []
    while len(colours) < count:
        c = (rng.randrange(256), rng.randrange(256), rng.randrange(256))
        if max(c) - min(c) < 60 or c in colours:
            continue
        colours.append(c)
    return colours


def noise(width, height, colours, seed):
    """Rows of indices with no repeating structure: any shift of the picture
    shows as a mismatch."""
    rng = random.Random(seed)
    return [[rng.randrange(colours) for _ in range(width)] for _ in range(height)]


def set_transparency(gif, frame_number, index):
    """Marks `index` transparent in the graphic control extension of the given
    frame (the writer leaves the flag clear)."""
    data = bytearray(gif)
    seen = -1
    pos = data.find(b"\x21\xF9\x04")
    while pos >= 0:
        seen += 1
        if seen == frame_number:
            data[pos + 3] |= 0x01
            data[pos + 6] = index
            return bytes(data)
        pos = data.find(b"\x21\xF9\x04", pos + 1)
    raise ValueError(f"no control extension for frame {frame_number}")


def composite(width, height, frames, background=0):
    """The canvas after showing `frames` in order: each copied opaquely at its
    position, clipped to the logical screen."""
    canvas = [[background] * width for _ in range(height)]
    for frame in frames:
        for y, row in enumerate(frame.rows):
            cy = frame.top + y
            if not 0 <= cy < height:
                continue
            for x, index in enumerate(row):
                cx = frame.left + x
                if 0 <= cx < width:
                    canvas[cy][cx] = index
    return canvas


def to_rgb(canvas, colours):
    """A canvas of indices as the screen must show it: one bytes object of
    r, g, b triples per row, looked up in the colour table."""
    table = [bytes(c) for c in colours]
    return [b"".join(table[i] for i in row) for row in canvas]


# ---------------------------------------------------------------- sessions

def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Session:
    """A scratch directory, the probe, and every player started in it;
    close() ends whatever is still running."""

    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.directory = tempfile.mkdtemp(prefix=f"e2e_{name}_")
        self.players = []

    def path(self, *parts):
        return os.path.join(self.directory, *parts)

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def pack(self, name, sections):
        """Packs the player with (kind, bytes) sections; returns the path."""
        command = [sys.executable, PACKER, self.args.player, self.path(name)]
        for number, (kind, data) in enumerate(sections):
            command += [f"--{kind}", self.write(f"{name}.{number}.{kind}", data)]
        subprocess.run(command, check=True)
        return self.path(name)

    def probe(self, *arguments, timeout=30):
        """Runs the Windows-side probe; returns its records as dicts (the
        first field under 'kind')."""
        result = subprocess.run(
            [self.args.wine_run, self.args.probe] + [str(a) for a in arguments],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
            timeout=timeout, text=True, errors="replace")
        records = []
        for line in result.stdout.splitlines():
            fields = line.split("\t")
            record = {"kind": fields[0]}
            for field in fields[1:]:
                key, _, value = field.partition("=")
                record[key] = value
            records.append(record)
        return records

    def ensure_desktop(self):
        """Waits until Wine can put a window on this X display. A Wine
        desktop started before the display existed (a console program run
        ahead of xvfb-run starts one) makes every CreateWindow fail; Wine
        closes a desktop a second after its last process leaves, and the
        next one then opens on the display. So: try, and if that fails, let
        the desktop lie idle for two seconds and try again."""
        for attempt in range(8):
            records = self.probe("desktop")
            if records and records[0].get("created") == "1":
                if attempt:
                    print(f"note: Wine's desktop took {attempt} idle wait(s) to reach the display")
                return
            time.sleep(2)
        raise Abort("Wine cannot create a window on this X display")

    def metrics(self):
        record = self.probe("metrics")[0]
        return {k: int(v) for k, v in record.items() if k != "kind"}

    def start(self, exe, label, env=None, stderr_path=None):
        """Starts exe with a TEMP directory of its own; `env` adds variables
        to the environment it inherits (Wine passes them on to the player).
        Wine's own messages (WINEDEBUG) go to `stderr_path` when given."""
        temp = self.path(f"temp_{label}")
        os.makedirs(temp, exist_ok=True)
        player = Player(self, exe, temp, env, stderr_path)
        self.players.append(player)
        return player

    def close(self, keep):
        for player in self.players:
            player.kill()
        if keep:
            print(f"scratch files kept in {self.directory}")
        else:
            shutil.rmtree(self.directory, ignore_errors=True)


class Player:
    """One run of a packed player through the probe's launcher, which sets
    TEMP (Wine does not pass the Unix one on) and ends the player when it is
    itself killed."""

    def __init__(self, session, exe, temp, env=None, stderr_path=None):
        self.session = session
        self.temp = temp
        self.lines = queue.Queue()
        errors = open(stderr_path, "wb") if stderr_path else subprocess.DEVNULL
        self.process = subprocess.Popen(
            [session.args.wine_run, session.args.probe, "launch", wine_path(temp), wine_path(exe)],
            stdout=subprocess.PIPE, stderr=errors, stdin=subprocess.DEVNULL,
            text=True, env=dict(os.environ, **env) if env else None)
        if stderr_path:
            errors.close()
        threading.Thread(target=self._read, daemon=True).start()
        self.pid = None
        line = self._line(30)
        if line is None or not line.startswith("pid="):
            self.kill()
            raise Abort(f"the launcher did not start {exe}: {line!r}")
        self.pid = int(line[4:])

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def _line(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout):
        """The player's exit code, or None if it is still running."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)

    def temp_files(self):
        return sorted(os.listdir(self.temp))

    def windows(self, class_name=None):
        records = self.session.probe("windows", self.pid)
        return [r for r in records if r.get("kind") == "window" and
                (class_name is None or r.get("class") == class_name)]

    def window(self, class_name, timeout, title=None):
        """The first visible top-level window of the class, polled for; None
        when none appears in time or the player ends first."""
        def find():
            for record in self.windows(class_name):
                if title is None or record.get("text") == title:
                    return Window(record)
            return None if self.running() else "ended"
        found = wait_until(find, timeout, interval=0.1)
        return found if isinstance(found, Window) else None

    def describe(self):
        """How the player stands, for failure messages."""
        if self.running():
            return f"player (Windows pid {self.pid}) still running"
        return f"player ended with exit code {self.process.returncode}"

    def refresh(self, window):
        for record in self.windows(window.class_name):
            if record["hwnd"] == window.hwnd:
                return Window(record)
        return None


class Window:
    """A window as the probe reports it: outer rectangle and client area in
    screen coordinates (equal to X root coordinates on one Xvfb screen)."""

    def __init__(self, record):
        self.record = record
        self.hwnd = record["hwnd"]
        self.class_name = record["class"]
        self.title = record.get("text", "")
        self.style = int(record["style"], 16)
        self.id = int(record.get("id", "0"))
        self.left, self.top, self.right, self.bottom = (int(v) for v in record["rect"].split(","))
        self.client_x, self.client_y, self.client_width, self.client_height = \
            (int(v) for v in record["client"].split(","))
        self.scroll = tuple(int(v) for v in record.get("scroll", "0,0").split(","))

    @property
    def width(self):
        return self.right - self.left

    @property
    def height(self):
        return self.bottom - self.top

    def centre(self):
        return ((self.left + self.right) // 2, (self.top + self.bottom) // 2)


def controls(session, window):
    return [Window(r) for r in session.probe("controls", window.hwnd) if r.get("kind") == "control"]


# ---------------------------------------------------------------- X side

def x_windows():
    """Top-level X windows as (id, name, geometry (w, h, x, y)), from xwininfo."""
    out = subprocess.run(["xwininfo", "-root", "-children"], stdout=subprocess.PIPE,
                         text=True, timeout=10, errors="replace").stdout
    found = []
    for line in out.splitlines():
        line = line.strip()
        if not line.startswith("0x") or '"' not in line:
            continue
        wid = line.split()[0]
        name = line.split('"')[1]
        geometry = line.rsplit(None, 2)[-2]  # WxH+X+Y
        size, _, position = geometry.partition("+")
        w, h = (int(v) for v in size.split("x"))
        x, y = (int(v) for v in position.split("+")[:2])
        found.append((wid, name, (w, h, x, y)))
    return found


def x_window_named(name):
    for wid, found_name, geometry in x_windows():
        if found_name == name:
            return wid, geometry
    return None


def x_property(wid, name):
    return subprocess.run(["xprop", "-id", wid, name], stdout=subprocess.PIPE, text=True,
                          timeout=10, errors="replace").stdout


def root_info():
    """xwininfo's description of the root window: Width, Height, Depth..."""
    out = subprocess.run(["xwininfo", "-root"], stdout=subprocess.PIPE, text=True,
                         timeout=10).stdout
    values = {}
    for line in out.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    return values


def root_size():
    values = root_info()
    return int(values["Width"]), int(values["Height"])


def capture(x, y, width, height):
    """The screen's pixels in the rectangle: one bytes object of r, g, b
    triples per row (ImageMagick's import reads the X server's root window)."""
    raw = subprocess.run(
        ["import", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "-depth", "8",
         "rgb:-"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=20).stdout
    if len(raw) != width * height * 3:
        raise Abort(f"screenshot of {width}x{height}+{x}+{y} gave {len(raw)} bytes")
    stride = width * 3
    return [raw[r * stride:(r + 1) * stride] for r in range(height)]


def capture_client(window, width=None, height=None):
    return capture(window.client_x, window.client_y,
                   window.client_width if width is None else width,
                   window.client_height if height is None else height)


def xdotool(*arguments):
    subprocess.run(["xdotool"] + [str(a) for a in arguments], check=True, timeout=20)


def click(x, y):
    xdotool("mousemove", x, y, "click", 1)


def drag(x0, y0, x1, y1):
    """Presses the left button at (x0, y0), moves to (x1, y1) and lets go:
    a border drag, which Wine's own frame turns into a resize."""
    xdotool("mousemove", x0, y0, "sleep", 0.1, "mousedown", 1, "sleep", 0.1,
            "mousemove", x1, y1, "sleep", 0.1, "mouseup", 1)


def keys(*names):
    xdotool("key", *names)


def close_with_alt_f4(player):
    """Focuses the player's main window and presses Alt+F4: with no window
    manager the key reaches Wine, whose default window procedure makes it
    SC_CLOSE, so the window is destroyed as by the close box."""
    found = x_window_named(MAIN_TITLE)
    if found is None:
        raise Abort(f"the player's window is not on the screen ({player.describe()})")
    xdotool("windowfocus", "--sync", found[0])
    keys("alt+F4")


def click_close_box(session, window):
    """Clicks the window's close box, found by hit-testing its caption."""
    close_box = session.probe("hittest", window.hwnd, HTCLOSE)[0]
    if "x" not in close_box:
        raise Abort("no point of the caption hit-tests as the close box")
    click(int(close_box["x"]), int(close_box["y"]))


def park_mouse():
    """Moves the pointer to the screen's bottom-right corner, away from every
    window, so no hover effect changes a screenshot."""
    width, height = root_size()
    xdotool("mousemove", width - 1, height - 1)


# ---------------------------------------------------------------- pictures

def pixel(rows, x, y):
    return tuple(rows[y][x * 3:x * 3 + 3])


def compare(actual, expected, what, limit=5):
    """None when equal, else a description of the first differences.
    Pictures are rows of bytes as capture() gives them."""
    size = (len(actual[0]) // 3 if actual else 0, len(actual))
    want = (len(expected[0]) // 3 if expected else 0, len(expected))
    if size != want:
        return f"{what}: size {size}, expected {want}"
    if actual == expected:
        return None
    differences = []
    count = 0
    for y, (row, expect) in enumerate(zip(actual, expected)):
        if row == expect:
            continue
        for x in range(len(row) // 3):
            if row[x * 3:x * 3 + 3] != expect[x * 3:x * 3 + 3]:
                count += 1
                if len(differences) < limit:
                    differences.append(f"({x},{y}) actual {pixel(actual, x, y)} "
                                       f"expected {pixel(expected, x, y)}")
    return (f"{what}: {count} of {want[0] * want[1]} pixels differ, e.g. "
            + "; ".join(differences))


def region(rows, x, y, width, height):
    return [row[x * 3:(x + width) * 3] for row in rows[y:y + height]]


def find_offset(actual, canvas, max_x, max_y):
    """The scroll offset (dx, dy) at which `actual` shows the canvas, judged
    by its top-left 8 x 8 pixels; None when no offset up to the maxima fits."""
    patch = region(actual, 0, 0, 8, 8)
    for dy in range(0, max_y + 1):
        start = canvas[dy].find(patch[0])
        while 0 <= start <= max_x * 3:
            if start % 3 == 0 and region(canvas, start // 3, dy, 8, 8) == patch:
                return start // 3, dy
            start = canvas[dy].find(patch[0], start + 1)
    return None


def run(name, body):
    """Runs body(checks, session) and exits with the result; scratch files
    are kept when something failed."""
    args = parse_arguments(name)
    checks = Checks(name)
    session = Session(args, name)
    try:
        if args.probe:
            session.ensure_desktop()
        body(checks, session)
    except Abort as error:
        checks.fail(f"stopped early: {error}")
    except subprocess.TimeoutExpired as error:
        checks.fail(f"stopped early: a tool did not answer in time: {error}")
    finally:
        session.close(keep=bool(checks.failures))
    sys.exit(checks.finish())
