#!/usr/bin/env python3
"""The animation's pace and the About dialog, as a person meets them: frames
follow one another at the delays given; Help > About (Alt+H, A) opens "About
Lumeroot" centred on the screen with its texts and an empty icon place; the
animation keeps moving behind it; Enter, Esc, the Ok button and the close box
each close it; File > Exit (Alt+F, X) then ends the player with exit code 0.

usage: test_about.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import statistics
import time

import e2e_support as e2e

WIDTH, HEIGHT = 160, 120
DELAYS = [30, 50, 100]   # hundredths of a second, one solid colour each
NAMES = ["red-ish", "green-ish", "blue-ish"]
DIALOG_TITLE = "About Lumeroot"

# Template order: (class, id, text); None where the text is the maker's own
# line, which must merely be there.
CONTROLS = [
    ("Button", 1, "Ok"),
    ("Static", -1, None),            # the icon place; its name finds no icon
    ("Button", -1, "Lumeroot"),
    ("Static", -1, "Version 1.0, Release B"),
    ("Static", -1, None),            # rights notice
    ("Static", -1, None),            # town and state
    ("Button", -1, ""),
    ("Static", -1, "World Wide Web:"),
    ("Static", -1, None),            # web address
    ("Static", -1, "Sales Inquiry E-Mail:"),
    ("Static", -1, None),            # sales e-mail address
    ("Static", -1, "Tech. Support E-Mail:"),
    ("Static", -1, None),            # support e-mail address
    ("Button", -1, ""),
    ("Static", -1, None),            # the notice
]


def animation():
    colours = [(220, 40, 60), (40, 200, 90), (50, 70, 230)]
    frames = [e2e.gifwriter.Frame(e2e.gifwriter.solid(WIDTH, HEIGHT, i), delay=d)
              for i, d in enumerate(DELAYS)]
    return e2e.gifwriter.encode(e2e.gifwriter.Animation(WIDTH, HEIGHT, colours, frames)), colours


def watch(window, colours, seconds):
    """Samples a few client pixels for `seconds`; returns (time, frame number
    or None) pairs, the time being the middle of the screenshot call."""
    patches = {bytes(c) * 4: n for n, c in enumerate(colours)}
    samples = []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        before = time.monotonic()
        rows = e2e.capture(window.client_x + 2, window.client_y + 2, 4, 1)
        after = time.monotonic()
        samples.append(((before + after) / 2, patches.get(rows[0])))
        time.sleep(0.01)
    return samples


def runs(samples):
    """(frame, start, end) for each stretch of samples showing one frame,
    start and end taken halfway between the samples on either side of a
    change; the first and last stretches, cut by the watch, are left out."""
    changes = []
    for (t0, f0), (t1, f1) in zip(samples, samples[1:]):
        if f0 != f1:
            changes.append(((t0 + t1) / 2, f1))
    return [(frame, start, end) for (start, frame), (end, _) in zip(changes, changes[1:])]


def check_pace(checks, stretches):
    order = [frame for frame, _, _ in stretches]
    checks.check(len(order) >= 4, "at least four whole frames seen in 4.5 s", len(order), ">= 4")
    follows_on = all(b == (a + 1) % len(DELAYS) for a, b in zip(order, order[1:]))
    checks.check(follows_on, "frames follow in order and loop",
                 [NAMES[f] if f is not None else "other" for f in order], "0, 1, 2, 0, ...")
    durations = {}
    for frame, start, end in stretches:
        durations.setdefault(frame, []).append((end - start) * 1000)
    # Loose bounds: the machine is shared, and a screenshot takes tens of ms.
    bounds = {0: (150, 650), 1: (300, 800), 2: (700, 1400)}
    for frame, (low, high) in bounds.items():
        if frame not in durations:
            checks.fail(f"frame {frame} (delay {DELAYS[frame]}) never seen whole")
            continue
        shown = statistics.median(durations[frame])
        checks.check(low <= shown <= high,
                     f"frame {frame} with delay {DELAYS[frame]} shown for about "
                     f"{DELAYS[frame] * 10} ms (measured {shown:.0f} ms)",
                     f"{shown:.0f} ms", f"{low}..{high} ms")


def open_about(checks, session, player, x_id):
    """Help > About from the keyboard; returns the dialog or None."""
    e2e.xdotool("windowfocus", "--sync", x_id)
    e2e.keys("alt+h")
    if not player.window(e2e.MENU_CLASS, 5):
        checks.fail("Alt+H opened no menu")
        e2e.keys("Escape", "Escape")
        return None
    e2e.keys("a")
    dialog = player.window(e2e.DIALOG_CLASS, 5)
    checks.check(dialog is not None, "Alt+H, A opens a dialog")
    return dialog


def dialog_gone(player):
    return e2e.wait_until(lambda: not player.windows(e2e.DIALOG_CLASS), 5.0, interval=0.1)


def check_dialog(checks, session, player, dialog, main, colours):
    checks.equal(dialog.title, DIALOG_TITLE, "dialog title")
    found = e2e.x_window_named(DIALOG_TITLE)
    checks.check(found is not None, "X window of the dialog found by its title")
    # Centred in the work area as Wine sees it, which need not be the X
    # screen's size (a desktop that started without a display keeps 1024 x 768).
    m = session.metrics()
    work_centre = ((m["workleft"] + m["workright"]) // 2, (m["worktop"] + m["workbottom"]) // 2)
    centre = dialog.centre()
    checks.check(abs(centre[0] - work_centre[0]) <= 1 and abs(centre[1] - work_centre[1]) <= 1,
                 "dialog centred in the work area", centre, work_centre)

    found_controls = e2e.controls(session, dialog)
    actual = [(c.class_name, c.id, c.title) for c in found_controls]
    checks.equal(len(actual), len(CONTROLS), "number of controls")
    for number, ((cls, cid, text), want) in enumerate(zip(actual, CONTROLS), start=1):
        want_class, want_id, want_text = want
        checks.equal((cls, cid), (want_class, want_id), f"control {number}: (class, id)")
        if want_text is None:
            if number != 2:
                checks.check(text.strip() != "", f"control {number}: has its text", text, "a line")
        else:
            checks.equal(text, want_text, f"control {number}: text")
    if len(found_controls) == len(CONTROLS):
        notice = found_controls[14].title
        first_stop = notice.find(".")
        checks.check(0 < first_stop and notice[first_stop:first_stop + 3] == ".  " and
                     notice[first_stop + 3:first_stop + 4].isupper() and notice.endswith("."),
                     "notice: two sentences, two blanks after the first full stop", notice)
        # Nothing is drawn in the icon's place: its box is the dialog's face.
        icon = found_controls[1]
        face = e2e.capture(icon.left - 2, icon.top, 1, 1)[0]
        pixels = e2e.capture(icon.left, icon.top, icon.width, icon.height)
        checks.check(all(row == face * icon.width for row in pixels),
                     "no icon drawn in the icon control's place")

    stretches = runs(watch(main, colours, 2.5))
    checks.check(len(stretches) >= 2, "the animation keeps moving while the dialog is open",
                 f"{len(stretches)} whole frames in 2.5 s", ">= 2")


def body(checks, session):
    gif, colours = animation()
    exe = session.pack("e2e_about.exe", [("gif", gif)])
    e2e.park_mouse()
    player = session.start(exe, "about")
    main = player.window(e2e.MAIN_CLASS, 20)
    if main is None:
        raise e2e.Abort(f"the player opened no main window in 20 s ({player.describe()})")
    found = e2e.x_window_named(e2e.MAIN_TITLE)
    if found is None:
        raise e2e.Abort("no X window carries the main window's title")
    x_id = found[0]

    check_pace(checks, runs(watch(main, colours, 4.5)))

    dialog = open_about(checks, session, player, x_id)
    if dialog is None:
        raise e2e.Abort("the About dialog did not open")
    check_dialog(checks, session, player, dialog, main, colours)

    # Each way of closing it; the dialog is opened anew for the next.
    def by_enter(d):
        e2e.keys("Return")

    def by_escape(d):
        e2e.keys("Escape")

    def by_ok_button(d):
        ok = [c for c in e2e.controls(session, d) if c.id == 1]
        if not ok:
            raise e2e.Abort("the dialog has no Ok button to click")
        e2e.click(*ok[0].centre())

    def by_close_box(d):
        point = session.probe("hittest", d.hwnd, e2e.HTCLOSE)[0]
        if "x" not in point:
            raise e2e.Abort("no point of the dialog's caption hit-tests as the close box")
        e2e.click(int(point["x"]), int(point["y"]))

    ways = [("Enter", by_enter), ("Esc", by_escape), ("the Ok button", by_ok_button),
            ("the close box", by_close_box)]
    for number, (name, close) in enumerate(ways):
        if number > 0:
            dialog = open_about(checks, session, player, x_id)
            if dialog is None:
                break
        close(dialog)
        e2e.park_mouse()
        checks.check(dialog_gone(player), f"{name} closes the dialog")
        checks.check(player.running() and player.refresh(main) is not None,
                     f"the player runs on after {name}")

    e2e.xdotool("windowfocus", "--sync", x_id)
    e2e.keys("alt+f")
    if player.window(e2e.MENU_CLASS, 5):
        e2e.keys("x")
    else:
        checks.fail("Alt+F opened no menu")
    code = player.wait(15)
    checks.equal(code, 0, "exit code after File > Exit")


if __name__ == "__main__":
    e2e.run("e2e_about", body)
