#!/usr/bin/env python3
"""How the player ends, seen from outside: the close box, Alt+F4 and File >
Exit each end it with exit code 0 and remove the temporary sound files it
wrote; a GIF without a global colour table opens no window, ends with 0 and
leaves no temporary file; the bare executable, with no section at all, ends
with 0 at once.

usage: test_ending.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import os
import shutil
import time

import e2e_support as e2e
import make_sample

WIDTH, HEIGHT = 96, 64
TEMP_FILES = ["pavolin.mid", "pavolin.wav"]


def playing_gif():
    colours = [(200, 30, 30), (30, 30, 200)]
    frames = [e2e.gifwriter.Frame(e2e.gifwriter.solid(WIDTH, HEIGHT, i), delay=20)
              for i in range(2)]
    return e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, colours, frames))


def gif_without_colour_table():
    """Decodable on its own (the frame carries a local table), but with no
    global colour table the player has no palette to show it with."""
    frame = e2e.gifwriter.Frame(e2e.gifwriter.solid(WIDTH, HEIGHT, 1), delay=20,
                                local_colours=[(10, 10, 10), (240, 240, 10)])
    return e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, None, [frame]))


def label(name):
    """A name fit for a directory on both sides of Wine."""
    return "".join(c if c.isalnum() else "_" for c in name)


def close_box(session, player, window):
    # There is no window manager: the prefix has Wine draw the frame itself,
    # so the close box is Wine's own caption button and a click on it goes
    # through WM_NCLBUTTONDOWN and SC_CLOSE as on Windows. Its place comes
    # from WM_NCHITTEST. (Sending WM_DELETE_WINDOW instead would be the X
    # way, but this xdotool cannot, and windowkill would cut the X
    # connection rather than close the window.)
    point = session.probe("hittest", window.hwnd, e2e.HTCLOSE)[0]
    if "x" not in point:
        raise e2e.Abort("no point of the caption hit-tests as the close box")
    e2e.click(int(point["x"]), int(point["y"]))


def alt_f4(session, player, window):
    # With no window manager the key reaches Wine, whose default window
    # procedure turns Alt+F4 into SC_CLOSE.
    e2e.keys("alt+F4")


def menu_exit(session, player, window):
    e2e.keys("alt+f")
    if not player.window(e2e.MENU_CLASS, 5):
        raise e2e.Abort("Alt+F opened no menu")
    e2e.keys("x")


def end_by(checks, session, exe, sounds, name, action):
    player = session.start(exe, label(name))
    window = player.window(e2e.MAIN_CLASS, 20)
    if window is None:
        checks.fail(f"{name}: no main window appeared in 20 s ({player.describe()})")
        return
    checks.equal(player.temp_files(), TEMP_FILES, f"{name}: temporary files while playing")
    for file_name, data in zip(TEMP_FILES, sounds):
        path = os.path.join(player.temp, file_name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                checks.check(f.read() == data, f"{name}: {file_name} holds the packed sound")
    found = e2e.x_window_named(e2e.MAIN_TITLE)
    if found:
        e2e.xdotool("windowfocus", "--sync", found[0])
    action(session, player, window)
    code = player.wait(15)
    checks.equal(code, 0, f"{name}: exit code")
    checks.equal(player.temp_files(), [], f"{name}: temporary files left")
    checks.check(e2e.x_window_named(e2e.MAIN_TITLE) is None, f"{name}: the window is gone")


def run_without_window(checks, session, exe, name, within):
    """Starts exe, watching for a window while it runs; it must end by
    itself within `within` seconds."""
    started = time.monotonic()
    player = session.start(exe, label(name))
    seen = []
    while player.running() and time.monotonic() - started < within:
        seen += [w.title for w in player.windows()]
    code = player.wait(max(0.1, within - (time.monotonic() - started)))
    elapsed = time.monotonic() - started
    checks.check(code is not None, f"{name}: ends by itself within {within} s",
                 "still running" if code is None else f"{elapsed:.1f} s", f"<= {within} s")
    checks.equal(code, 0, f"{name}: exit code")
    checks.equal(seen, [], f"{name}: windows seen while it ran")
    checks.equal(player.temp_files(), [], f"{name}: temporary files left")


def body(checks, session):
    sounds = [make_sample.midi_bytes(), make_sample.wave_bytes()]
    sections = [("gif", playing_gif()), ("wave", sounds[1]), ("midi", sounds[0])]
    e2e.park_mouse()
    for name, action in (("close box", close_box), ("Alt+F4", alt_f4),
                         ("File > Exit", menu_exit)):
        exe = session.pack(f"e2e_end_{action.__name__}.exe", sections)
        end_by(checks, session, exe, sounds, name, action)

    no_table = session.pack("e2e_no_colour_table.exe",
                            [("midi", sounds[0]), ("wave", sounds[1]),
                             ("gif", gif_without_colour_table())])
    run_without_window(checks, session, no_table, "GIF without a global colour table", 10)

    bare = session.path("e2e_bare.exe")
    shutil.copyfile(session.args.player, bare)
    run_without_window(checks, session, bare, "executable with no section", 5)


if __name__ == "__main__":
    e2e.run("e2e_ending", body)
