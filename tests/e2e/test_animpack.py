#!/usr/bin/env python3
"""An optimised GIF, as people have them, played by the real player: a ball
over a striped sky, written as whole frames and then cut down by
ImageMagick's frame optimiser to changed rectangles with a transparent
colour. Flattened with `animpack flatten` and packed with `animpack make`,
packed by `animpack make` alone, and made on the offline page in Chromium
(which must save the very bytes `make` wrote), every picture must appear in
the window exactly as a browser composites the optimised GIF, pixel for
pixel.
Packed `--as-is`, the window must show the player's own reading of it
instead, which a browser never shows.

The browser's pictures come from tests/support/gifviews.py, written apart from the
tool. With ANIMPACK_E2E_PICTURES=DIR the test also writes what the window
showed for one frame, flattened and as-is, as DIR/flatten-flattened.png and
DIR/flatten-as-is.png.

usage: test_animpack.py --player PLAYER.EXE --probe PROBE.EXE --page PAGE.html [--wine-run SCRIPT]
"""

import os
import subprocess

import e2e_support as e2e
import gifviews
import make_sample

ANIMPACK = os.path.join(e2e.ROOT, "tools", "animpack")
PAGE_MAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "page_make.ts")
STEPS = (0, 3, 6, 9)      # ball positions of the sample animation
DELAY = 150               # hundredths: each picture is easy to catch on screen


def whole_frames():
    """The animation as a plain writer leaves it: every frame the whole
    screen, opaque, in one global colour table."""
    base = make_sample.background()
    animation = e2e.gifwriter.Animation(make_sample.WIDTH, make_sample.HEIGHT,
                                        make_sample.palette())
    for step in STEPS:
        animation.frames.append(e2e.gifwriter.Frame(make_sample.frame_rows(step, base),
                                                    delay=DELAY))
    return e2e.gifwriter.encode(animation)


def rows(picture, width):
    stride = 3 * width
    return [picture[i:i + stride] for i in range(0, len(picture), stride)]


def animpack(*arguments):
    result = subprocess.run([ANIMPACK] + list(arguments), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, timeout=120)
    print("\n".join(f"  animpack: {line}" for line in result.stdout.splitlines()))
    if result.returncode != 0:
        raise e2e.Abort(f"animpack {arguments[0]} failed with exit code {result.returncode}")


def make_on_page(page, gif, exe):
    """Has the offline page make the animation, as an author would."""
    result = subprocess.run(["node", "--import", "tsx", PAGE_MAKE, page, gif, exe],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            timeout=120, cwd=e2e.ROOT)
    print("\n".join(f"  page: {line}" for line in result.stdout.splitlines()))
    if result.returncode != 0:
        raise e2e.Abort(f"the page did not make the animation (exit code {result.returncode})")


def same_file(a, b):
    with open(a, "rb") as first, open(b, "rb") as second:
        return first.read() == second.read()


def optimise(session):
    """The optimised GIF's path, and its pictures as a browser and as the
    player show them."""
    source = session.write("whole.gif", whole_frames())
    optimised = session.path("optimised.gif")
    subprocess.run(["convert", source, "-layers", "Optimize", optimised], check=True, timeout=60)
    with open(optimised, "rb") as f:
        data = f.read()
    browser = [picture for picture, _ in gifviews.browser_view(gifviews.parse(data))]
    player = gifviews.player_view(gifviews.parse(data, as_player=True))
    return optimised, browser, [picture for picture, _ in player.pictures]


def wait_for(window, expected, width, timeout):
    """Polls the client area until it shows `expected`; returns the last
    capture either way."""
    seen = []

    def shows():
        seen[:] = [e2e.capture_client(window, width, len(expected))]
        return seen[0] == expected

    e2e.wait_until(shows, timeout, interval=0.05)
    return seen[0]


def play(session, exe, label):
    player = session.start(exe, label)
    window = player.window(e2e.MAIN_CLASS, 20)
    if window is None:
        raise e2e.Abort(f"no window of class {e2e.MAIN_CLASS} appeared in 20 s "
                        f"({player.describe()})")
    return player, window


def save_picture(picture_rows, width, name):
    folder = os.environ.get("ANIMPACK_E2E_PICTURES")
    if not folder:
        return
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    subprocess.run(["convert", "-size", f"{width}x{len(picture_rows)}", "-depth", "8", "rgb:-",
                    "-strip", path], input=b"".join(picture_rows), check=True, timeout=30)
    print(f"note: wrote {path}")


def body(checks, session):
    width = make_sample.WIDTH
    loop_seconds = len(STEPS) * DELAY / 100
    optimised, browser, as_is = optimise(session)

    # The point of the test: the optimiser's output must be one the player
    # shows wrongly when packed as it is.
    wrong = [k for k, (b, p) in enumerate(zip(browser, as_is)) if b != p and p not in browser]
    checks.equal(len(browser), len(STEPS), "pictures a browser shows for the optimised GIF")
    if not checks.check(bool(wrong), "the optimised GIF packed as it is shows pictures a "
                                     "browser never shows", actual=wrong):
        return
    shown_frame = max(wrong, key=lambda k: sum(a != b for a, b in zip(browser[k], as_is[k])))

    # The flattened GIF is packed --as-is, so that what shows is flatten's
    # work alone; `make` left to itself must come to the same pictures.
    flat = session.path("flat.gif")
    animpack("flatten", optimised, flat)
    packs = [("flattened", ["--gif", flat, "--as-is"]), ("made", ["--gif", optimised])]
    for label, options in packs + [("as-is", ["--gif", optimised, "--as-is"])]:
        animpack("make", session.path(f"{label}.exe"), "--player", session.args.player, *options)
    make_on_page(session.args.page, optimised, session.path("page.exe"))
    checks.check(same_file(session.path("page.exe"), session.path("made.exe")),
                 "the page saved the very bytes that `animpack make` wrote")
    packs.append(("page", []))

    e2e.park_mouse()
    for label, _ in packs:
        player, window = play(session, session.path(f"{label}.exe"), label)
        checks.equal((window.client_width, window.client_height), (width, make_sample.HEIGHT),
                     f"{label}: client area (width, height)")
        for k, picture in enumerate(browser):
            expected = rows(picture, width)
            seen = wait_for(window, expected, width, loop_seconds + 4)
            if seen != expected:
                checks.fail(e2e.compare(seen, expected, f"{label}: frame {k}"))
                continue
            checks.check(True, f"{label}: frame {k} on screen as a browser shows it, "
                               f"pixel for pixel")
            if k == shown_frame and label == "flattened":
                save_picture(seen, width, "flatten-flattened.png")
        player.kill()

    player, window = play(session, session.path("as-is.exe"), "as_is")
    expected = rows(as_is[shown_frame], width)
    seen = wait_for(window, expected, width, loop_seconds + 4)
    if seen == expected:
        checks.check(True, f"as-is: frame {shown_frame} on screen as the player reads the "
                           f"optimised GIF, pixel for pixel")
        save_picture(seen, width, "flatten-as-is.png")
    else:
        checks.fail(e2e.compare(seen, expected, f"as-is: frame {shown_frame}"))
    checks.check(all(seen != rows(b, width) for b in browser),
                 f"as-is: frame {shown_frame} on screen differs from every browser picture")
    player.kill()


if __name__ == "__main__":
    e2e.run("e2e_animpack", body)
