#!/usr/bin/env python3
"""An animation whose frames take more than 2.5 GiB decoded: 170 flat frames
of 4096 x 4096 (the GIF stays small), then a noise patch over the last one.
The player, large-address-aware, holds every frame and plays to the end:
its last picture is on screen pixel for pixel. Reports the player's peak
memory.

usage: test_huge.py --player PLAYER.EXE --probe PROBE.EXE [--wine-run SCRIPT]
"""

import os

import e2e_support as e2e

SIDE = 4096
FLAT_FRAMES = 170              # 170 x 16 MiB = 2.66 GiB of bitmaps
PATCH_WIDTH, PATCH_HEIGHT = 256, 192
HELD_DELAY = 65535
GIB = 1 << 30


def animation():
    colours = e2e.distinct_colours(64, seed=21)
    gifwriter = e2e.gifwriter
    frames = []
    for number in range(FLAT_FRAMES):
        index = 1 + number % 63
        frames.append(gifwriter.Frame(gifwriter.solid(SIDE, SIDE, index), delay=2,
                                      data=gifwriter.solid_data(SIDE * SIDE, index, 6)))
    frames.append(gifwriter.Frame(e2e.noise(PATCH_WIDTH, PATCH_HEIGHT, 64, seed=22),
                                  delay=HELD_DELAY))
    gif = gifwriter.encode(gifwriter.Animation(SIDE, SIDE, colours, frames))
    # Only the top-left corner is compared: the patch, with the last flat
    # colour around it.
    last_flat = gifwriter.Frame(gifwriter.solid(PATCH_WIDTH * 2, PATCH_HEIGHT * 2, index))
    corner = e2e.composite(PATCH_WIDTH * 2, PATCH_HEIGHT * 2, [last_flat, frames[-1]])
    return gif, e2e.to_rgb(corner, colours)


def peak_memory(exe):
    """The largest peak resident size (VmHWM, bytes) among the Linux
    processes that run the packed program under Wine; None if none is found."""
    name = os.path.basename(exe).encode()
    peaks = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if name not in f.read():
                    continue
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peaks.append(int(line.split()[1]) * 1024)
        except OSError:
            continue
    return max(peaks, default=None)


def body(checks, session):
    gif, corner = animation()
    exe = session.pack("e2e_huge.exe", [("gif", gif)])
    print(f"note: the GIF is {len(gif):,} bytes, its frames "
          f"{FLAT_FRAMES * SIDE * SIDE / GIB:.2f} GiB decoded")
    e2e.park_mouse()
    player = session.start(exe, "huge")
    window = player.window(e2e.MAIN_CLASS, 240)
    if window is None:
        raise e2e.Abort(f"no window of class {e2e.MAIN_CLASS} appeared in 240 s "
                        f"({player.describe()})")
    width = min(window.client_width, PATCH_WIDTH * 2)
    height = min(window.client_height, PATCH_HEIGHT * 2)
    expected = e2e.region(corner, 0, 0, width, height)
    e2e.wait_until(lambda: e2e.capture_client(window, width, height) == expected, 60.0, 0.2)
    seen = e2e.capture_client(window, width, height)
    checks.check(seen == expected, "the last frame on screen, pixel for pixel",
                 None if seen == expected else e2e.compare(seen, expected, "picture"), "equal")

    peak = peak_memory(exe)
    if peak is not None:
        print(f"note: the player's peak resident memory {peak / GIB:.2f} GiB "
              f"({peak:,} bytes)")
    checks.check(peak is not None and peak > 2.5 * GIB,
                 "the player holds every frame: peak resident memory above 2.5 GiB",
                 peak, "> 2.5 GiB")

    e2e.click_close_box(session, window)
    checks.equal(player.wait(30), 0, "exit code after the close box")


if __name__ == "__main__":
    e2e.run("e2e_huge", body)
