#!/usr/bin/env python3
"""The main window as a person sees and handles it: its title, class and
icon; a client area of exactly the animation's size without scroll bars; the
first frame and a later frame on screen pixel for pixel; the scroll bars
that a border drag brings and takes away, their limits, and the picture
moving by 10 and 100 pixels for clicks on arrows and bars; the caption
buttons drawn as symbols, not as the letters Wine falls back to without its
Marlett font; the close box ending the player with exit code 0 and no
temporary file left.

usage: test_window.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import e2e_support as e2e
import make_sample

WIDTH, HEIGHT = 320, 240
FIRST_DELAY = 300        # long enough to be caught on screen before it goes
HELD_DELAY = 65535       # the largest delay: the second frame stays


def nearest_global(colour, table):
    """The global index whose colour is nearest `colour` (least squared RGB
    distance, the lowest index on a tie)."""
    def distance(i):
        return sum((a - b) ** 2 for a, b in zip(colour, table[i]))
    return min(range(len(table)), key=lambda i: (distance(i), i))


def animation():
    """Frame 0 fills the screen with noise. Frame 1 is interlaced, marks
    index 3 transparent (the player copies it anyway), reaches past the
    right edge and has a local colour table of its own, which the player
    shows through the nearest colours of the global table."""
    colours = e2e.distinct_colours(32, seed=1)
    local = e2e.distinct_colours(32, seed=5)
    first = e2e.gifwriter.Frame(e2e.noise(WIDTH, HEIGHT, 32, seed=3), delay=FIRST_DELAY)
    second = e2e.gifwriter.Frame(e2e.noise(101, 77, 32, seed=4), left=250, top=150,
                                 delay=HELD_DELAY, interlaced=True, local_colours=local)
    gif = e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, colours, [first, second]))
    gif = e2e.set_transparency(gif, 1, 3)
    lookup = [nearest_global(colour, colours) for colour in local]
    shown = e2e.gifwriter.Frame([[lookup[i] for i in row] for row in second.rows],
                                left=second.left, top=second.top)
    canvases = [e2e.to_rgb(e2e.composite(WIDTH, HEIGHT, [first]), colours),
                e2e.to_rgb(e2e.composite(WIDTH, HEIGHT, [first, shown]), colours)]
    return gif, canvases


def wait_for_picture(checks, window, expected, what, timeout=4.0, wrong=None):
    """Polls the client area until it shows `expected` (rows of RGB, drawn
    at the client's top-left). `wrong` is a picture whose appearance ends the
    wait as a failure."""
    width, height = len(expected[0]) // 3, len(expected)
    seen = []

    def shows():
        seen[:] = [e2e.capture_client(window, width, height)]
        return seen[0] == expected or (wrong is not None and seen[0] == wrong)

    e2e.wait_until(shows, timeout, interval=0.05)
    if seen[0] == expected:
        return checks.check(True, what)
    if wrong is not None and seen[0] == wrong:
        return checks.fail(f"{what}: the screen went on to the next picture before this one showed")
    return checks.fail(e2e.compare(seen[0], expected, what))


def wait_for_offset(checks, window, canvas, offset, what):
    """Polls until the client shows the canvas scrolled by `offset`; on
    failure says at which offset the picture really is."""
    dx, dy = offset
    expected = e2e.region(canvas, dx, dy, window.client_width, window.client_height)
    seen = []

    def shows():
        seen[:] = [e2e.capture_client(window)]
        return seen[0] == expected

    if e2e.wait_until(shows, 3.0, interval=0.05):
        return checks.check(True, f"{what}: picture at scroll offset {offset}")
    actual = e2e.find_offset(seen[0], canvas, WIDTH - 8, HEIGHT - 8)
    if actual is None:
        return checks.fail(f"{what}: the client area shows no part of the canvas "
                           f"(expected it at scroll offset {offset}); "
                           + str(e2e.compare(seen[0], expected, "picture")))
    if actual != offset:
        return checks.equal(actual, offset, f"{what}: scroll offset of the picture")
    return checks.fail(e2e.compare(seen[0], expected, f"{what}: at the right offset, but"))


def wait_for_size(player, window, width, height):
    def resized():
        current = player.refresh(window)
        return current if current and (current.width, current.height) == (width, height) else None
    return e2e.wait_until(resized, 5.0, interval=0.1) or player.refresh(window)


def check_bars(checks, window, horizontal, vertical, what):
    shown = (bool(window.style & e2e.WS_HSCROLL), bool(window.style & e2e.WS_VSCROLL))
    checks.equal(shown, (horizontal, vertical), f"{what}: (horizontal, vertical) scroll bar shown")


def caption_buttons(window, m):
    """The caption strip's close button and the minimize/maximize pair, as
    (rows, x0, x1) column ranges of non-caption colour scanned leftwards
    from the right end of the caption's middle row."""
    top = window.top + m["cyframe"]
    left = window.left + m["cxframe"]
    rows = e2e.capture(left, top, window.width - 2 * m["cxframe"], m["cycaption"])
    width = len(rows[0]) // 3
    caption = e2e.pixel(rows, width - 3, 0)
    middle = m["cycaption"] // 2
    runs, x = [], width - 1
    while x >= 0 and len(runs) < 2:
        if e2e.pixel(rows, x, middle) == caption:
            x -= 1
            continue
        end = x
        while x >= 0 and e2e.pixel(rows, x, middle) != caption:
            x -= 1
        if end - x >= 8:
            runs.append((x + 1, end + 1))
    return rows, runs


def dark_pixels(rows, x0, x1):
    """Glyph pixels inside a button: darker than mid-grey (glyphs are drawn
    smoothed), away from the 3-D edges."""
    return {(x, y) for y in range(2, len(rows) - 2) for x in range(x0 + 2, x1 - 2)
            if sum(e2e.pixel(rows, x, y)) < 384}


def mirror_symmetric(points):
    """Whether a shape equals its own left-right mirror image (X, box)."""
    if not points:
        return False
    low = min(x for x, _ in points)
    high = max(x for x, _ in points)
    return {(low + high - x, y) for x, y in points} == points


def check_caption_buttons(checks, window, m):
    """Wine draws the caption buttons with glyphs of its Marlett font;
    without that font they come out as the letters '0', '1' and 'r'. The
    close glyph is an X (the same mirrored), the minimize glyph a bar a
    row or two high, where 'r' is lopsided and '0' is tall."""
    rows, runs = caption_buttons(window, m)
    if not checks.equal(len(runs), 2, "caption buttons found: close, and minimize with maximize"):
        return
    close = dark_pixels(rows, *runs[0])
    checks.check(len(close) >= 8 and mirror_symmetric(close),
                 "the close button shows a cross, not the letter 'r'",
                 f"{len(close)} glyph pixels, mirror-symmetric: {mirror_symmetric(close)}",
                 "a mirror-symmetric cross")
    pair_left, pair_right = runs[1]
    minimize = dark_pixels(rows, pair_left, (pair_left + pair_right) // 2)
    glyph_rows = {y for _, y in minimize}
    checks.check(0 < len(glyph_rows) <= 3, "the minimize button shows a bar, not the digit '0'",
                 f"glyph {len(glyph_rows)} rows high", "1 to 3 rows")


def body(checks, session):
    gif, (first, held) = animation()
    sound = [("wave", make_sample.wave_bytes()), ("midi", make_sample.midi_bytes())]
    exe = session.pack("e2e_window.exe", [("gif", gif)] + sound)
    e2e.park_mouse()
    player = session.start(exe, "window")
    window = player.window(e2e.MAIN_CLASS, 20)
    if window is None:
        raise e2e.Abort(f"no window of class {e2e.MAIN_CLASS} appeared in 20 s "
                        f"({player.describe()})")

    # The first frame first: it is on screen for only three seconds.
    wait_for_picture(checks, window, first, "first frame on screen, pixel for pixel",
                     wrong=held)

    check_caption_buttons(checks, window, session.metrics())
    checks.equal(window.class_name, e2e.MAIN_CLASS, "window class")
    checks.equal(window.title, e2e.MAIN_TITLE, "window title")
    found = e2e.x_window_named(e2e.MAIN_TITLE)
    checks.check(found is not None, "X window with the title found by xwininfo")
    if found:
        wid, geometry = found
        checks.equal(geometry, (window.width, window.height, window.left, window.top),
                     "X window geometry (w, h, x, y) against the window rectangle")
        icons = e2e.x_property(wid, "_NET_WM_ICON")
        checks.check("Icon (32 x 32)" in icons and "Icon (16 x 16)" in icons,
                     "window icon offered in 32 x 32 and 16 x 16",
                     [line.strip() for line in icons.splitlines() if "Icon (" in line],
                     ["Icon (32 x 32):", "Icon (16 x 16):"])

    m = session.metrics()
    frame_width = 2 * m["cxframe"]
    frame_height = 2 * m["cyframe"] + m["cycaption"] + m["cymenu"]
    checks.equal((window.client_width, window.client_height), (WIDTH, HEIGHT),
                 "client area at creation (width, height)")
    checks.equal((window.width, window.height), (WIDTH + frame_width, HEIGHT + frame_height),
                 "outer size at creation (width, height)")
    check_bars(checks, window, False, False, "at creation")

    checks.equal(player.temp_files(), ["pavolin.mid", "pavolin.wav"],
                 "temporary sound files while playing")

    wait_for_picture(checks, window, held, "later frame (held by a long delay) on screen, "
                     "pixel for pixel", timeout=8.0)

    # One pixel narrower: both bars, with the limits 1 + SM_CXVSCROLL and
    # SM_CYHSCROLL, which scroll the last column and row just into view.
    middle = (window.top + window.bottom) // 2
    e2e.drag(window.right - 2, middle, window.right - 3, middle)
    e2e.park_mouse()
    window = wait_for_size(player, window, WIDTH + frame_width - 1, HEIGHT + frame_height)
    checks.equal((window.width, window.height), (WIDTH + frame_width - 1, HEIGHT + frame_height),
                 "outer size after dragging the right border 1 pixel in")
    check_bars(checks, window, True, True, "one pixel narrower")
    checks.equal((window.client_width, window.client_height),
                 (WIDTH - 1 - m["cxvscroll"], HEIGHT - m["cyhscroll"]),
                 "client area one pixel narrower, less the bars")
    wait_for_offset(checks, window, held, (0, 0), "one pixel narrower")

    bar_y = window.client_y + window.client_height + m["cyhscroll"] // 2
    bar_x = window.client_x + window.client_width + m["cxvscroll"] // 2
    page_right = (window.client_x + window.client_width - m["cxhscroll"] - 3, bar_y)
    page_down = (bar_x, window.client_y + window.client_height - m["cyvscroll"] - 3)
    horizontal_limit, vertical_limit = 1 + m["cxvscroll"], m["cyhscroll"]
    e2e.click(*page_right)
    wait_for_offset(checks, window, held, (horizontal_limit, 0),
                    "page right stops at the horizontal limit 1 + SM_CXVSCROLL")
    e2e.click(*page_down)
    wait_for_offset(checks, window, held, (horizontal_limit, vertical_limit),
                    "page down stops at the vertical limit SM_CYHSCROLL")

    # Wider than the animation: the bars go and the canvas is at (0, 0)
    # again, with the white background beside it.
    middle = (window.top + window.bottom) // 2
    e2e.drag(window.right - 2, middle, window.right + 29, middle)
    e2e.park_mouse()
    window = wait_for_size(player, window, WIDTH + frame_width + 30, HEIGHT + frame_height)
    checks.equal((window.width, window.height), (WIDTH + frame_width + 30, HEIGHT + frame_height),
                 "outer size after dragging the right border 31 pixels out")
    check_bars(checks, window, False, False, "wider than the animation")
    expected = [row + bytes(e2e.WHITE) * 30 for row in held]
    wait_for_picture(checks, window, expected,
                     "wider than the animation: canvas at (0, 0), white beside it")

    # Much smaller: lines of 10 and pages of 100 pixels, clamped at the limits.
    e2e.drag(window.right - 2, window.bottom - 2, window.right - 2 - 180, window.bottom - 2 - 120)
    e2e.park_mouse()
    window = wait_for_size(player, window, WIDTH + frame_width - 150, HEIGHT + frame_height - 120)
    checks.equal((window.width, window.height),
                 (WIDTH + frame_width - 150, HEIGHT + frame_height - 120),
                 "outer size after dragging the bottom-right corner (-180, -120)")
    check_bars(checks, window, True, True, "much smaller")
    horizontal_limit, vertical_limit = 150 + m["cxvscroll"], 120 + m["cyhscroll"]
    bar_y = window.client_y + window.client_height + m["cyhscroll"] // 2
    bar_x = window.client_x + window.client_width + m["cxvscroll"] // 2
    right_arrow = (window.client_x + window.client_width - m["cxhscroll"] // 2 - 1, bar_y)
    left_arrow = (window.client_x + m["cxhscroll"] // 2, bar_y)
    down_arrow = (bar_x, window.client_y + window.client_height - m["cyvscroll"] // 2 - 1)
    page_right = (window.client_x + window.client_width - m["cxhscroll"] - 3, bar_y)
    page_down = (bar_x, window.client_y + window.client_height - m["cyvscroll"] - 3)
    steps = [
        ("right arrow: a line of 10", right_arrow, (10, 0)),
        ("down arrow: a line of 10", down_arrow, (10, 10)),
        ("page right: 100 more", page_right, (110, 10)),
        ("page down: 100 more", page_down, (110, 110)),
        ("page right again: held at the limit 150 + SM_CXVSCROLL", page_right,
         (horizontal_limit, 110)),
        ("page down again: held at the limit 120 + SM_CYHSCROLL", page_down,
         (horizontal_limit, vertical_limit)),
        ("left arrow: a line of 10 back", left_arrow, (horizontal_limit - 10, vertical_limit)),
    ]
    for what, point, offset in steps:
        e2e.click(*point)
        if not wait_for_offset(checks, window, held, offset, what):
            break

    e2e.click_close_box(session, window)
    code = player.wait(15)
    checks.equal(code, 0, "exit code after the close box")
    checks.equal(player.temp_files(), [], "temporary files left after the close box")


if __name__ == "__main__":
    e2e.run("e2e_window", body)
