#!/usr/bin/env python3
"""An animation larger than the screen: its window opens wholly inside the
work area, as large as the work area allows, with both scroll bars; paging
to the far corner shows the animation's bottom-right pixels; the close box
ends the player with exit code 0 and no temporary file left. (A window that
fits opens at exactly the animation's size: test_window.)

usage: test_fit.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import math
import time

import e2e_support as e2e
import make_sample

WIDTH, HEIGHT = 1600, 1200     # larger than the test screen, 1280 x 1024
PATCH = 48                     # noise in two corners: any shift shows
HELD_DELAY = 65535


def animation():
    """A flat canvas, then noise patches at its top-left and bottom-right
    corners; the last frame is held, so the full picture stays on screen."""
    colours = e2e.distinct_colours(32, seed=11)
    gifwriter = e2e.gifwriter
    flat = gifwriter.Frame(gifwriter.solid(WIDTH, HEIGHT, 0), delay=1,
                           data=gifwriter.solid_data(WIDTH * HEIGHT, 0, 5))
    corners = [gifwriter.Frame(e2e.noise(PATCH, PATCH, 32, seed=12), delay=1),
               gifwriter.Frame(e2e.noise(PATCH, PATCH, 32, seed=13), left=WIDTH - PATCH,
                               top=HEIGHT - PATCH, delay=HELD_DELAY)]
    frames = [flat] + corners
    gif = gifwriter.encode(gifwriter.Animation(WIDTH, HEIGHT, colours, frames))
    return gif, e2e.to_rgb(e2e.composite(WIDTH, HEIGHT, frames), colours)


def page_to_far_corner(window, m):
    """Clicks beside the thumbs until both bars must be at their ends: each
    click moves 100 pixels, and the bar holds the position at its limit."""
    bar_y = window.client_y + window.client_height + m["cyhscroll"] // 2
    bar_x = window.client_x + window.client_width + m["cxvscroll"] // 2
    page_right = (window.client_x + window.client_width - m["cxhscroll"] - 3, bar_y)
    page_down = (bar_x, window.client_y + window.client_height - m["cyvscroll"] - 3)
    for point, limit in ((page_right, WIDTH - window.client_width),
                         (page_down, HEIGHT - window.client_height)):
        for _ in range(math.ceil(limit / 100) + 1):
            # One click at a time: a slow machine may still be painting
            # the last step when the next click comes.
            e2e.click(*point)
            time.sleep(0.5)


def body(checks, session):
    gif, canvas = animation()
    sound = [("wave", make_sample.wave_bytes()), ("midi", make_sample.midi_bytes())]
    exe = session.pack("e2e_fit.exe", [("gif", gif)] + sound)
    e2e.park_mouse()
    m = session.metrics()
    player = session.start(exe, "fit")
    window = player.window(e2e.MAIN_CLASS, 60)
    if window is None:
        raise e2e.Abort(f"no window of class {e2e.MAIN_CLASS} appeared in 60 s "
                        f"({player.describe()})")

    work = (m["workleft"], m["worktop"], m["workright"], m["workbottom"])
    checks.check(window.left >= work[0] and window.top >= work[1] and
                 window.right <= work[2] and window.bottom <= work[3],
                 "the window lies wholly inside the work area",
                 (window.left, window.top, window.right, window.bottom), work)
    checks.equal((window.width, window.height), (work[2] - work[0], work[3] - work[1]),
                 "outer size: as large as the work area (width, height)")
    checks.equal((bool(window.style & e2e.WS_HSCROLL), bool(window.style & e2e.WS_VSCROLL)),
                 (True, True), "(horizontal, vertical) scroll bar shown")
    checks.equal(player.temp_files(), ["pavolin.mid", "pavolin.wav"],
                 "temporary sound files while playing")

    top_left = e2e.region(canvas, 0, 0, window.client_width, window.client_height)
    e2e.wait_until(lambda: e2e.capture_client(window) == top_left, 8.0)
    checks.check(e2e.capture_client(window) == top_left,
                 "the client area shows the animation's top-left corner")

    page_to_far_corner(window, m)
    e2e.park_mouse()
    corner = (WIDTH - window.client_width, HEIGHT - window.client_height)
    far = e2e.region(canvas, *corner, window.client_width, window.client_height)
    seen = []

    def shows_far_corner():
        seen[:] = [e2e.capture_client(window)]
        return seen[0] == far

    if e2e.wait_until(shows_far_corner, 20.0, interval=0.5):
        checks.check(True, f"paged to the far corner: the client shows the canvas from {corner} "
                           "to its bottom-right pixel")
    else:
        bars = player.refresh(window)
        checks.fail(f"paged to the far corner: expected the canvas from {corner}, the scroll "
                    f"bars stand at {bars.scroll if bars else None}; "
                    + str(e2e.compare(seen[0], far, "picture")))

    e2e.click_close_box(session, window)
    checks.equal(player.wait(15), 0, "exit code after the close box")
    checks.equal(player.temp_files(), [], "temporary files left after the close box")


if __name__ == "__main__":
    e2e.run("e2e_fit", body)
