#!/usr/bin/python3
"""Measures `animpack flatten` over a set of GIFs (tools/make_animpack_set.py
builds one): for every file, what a browser shows for the input against what
the player shows for the output, picture by picture over the timeline, and
the sizes; then the median size ratio and the speed.

The two views come from tools/gifviews.py, which shares nothing with the
tool. Timelines are compared by time, in hundredths of a second as the files
state them: wherever the input shows one picture and the output another,
the two are compared, so merged frames and folded zero delays line up by
themselves. A file is exact when every compared picture is equal; otherwise
its figure is the lowest PSNR over the compared pictures.

Goals checked: exact pictures for every animation of 256 colours or fewer
in all; at least 27 dB on every picture of one with more; median output
size at most 1.5 times the input's. Speed is megapixels of composited
frames (input frames x screen) per second of the flatten command's wall
time, start-up included.

usage: animpack_eval.py SET_DIR [--animpack PATH] [--cross-check] [--option ARG]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import List, Optional

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import gifviews  # noqa: E402

PSNR_GOAL = 27.0
RATIO_GOAL = 1.5


@dataclass
class Result:
    name: str
    size_in: int
    frames_in: int = 0
    megapixels: float = 0.0
    colours: int = 0
    size_out: Optional[int] = None
    frames_out: int = 0
    seconds: float = 0.0
    refused: Optional[str] = None
    same_bytes: bool = False
    exact: bool = False
    min_psnr: float = float("inf")
    faults: List[str] = field(default_factory=list)
    check_code: Optional[int] = None

    @property
    def ratio(self):
        return self.size_out / self.size_in if self.size_out is not None else None

    @property
    def needs_exact(self):
        return self.colours <= 256

    @property
    def meets_goal(self):
        if self.refused is not None:
            return None
        if self.faults:
            return False
        return self.exact if self.needs_exact else self.min_psnr >= PSNR_GOAL


# ---------------------------------------------------------------- pictures

def as_array(picture, gif):
    return np.frombuffer(picture, np.uint8).reshape(gif.height, gif.width, 3)


def colour_count(pictures, gif):
    """Distinct colours over every picture of the animation."""
    found = np.zeros(0, np.uint32)
    for picture in {picture for picture, _ in pictures}:
        rgb = as_array(picture, gif).reshape(-1, 3).astype(np.uint32)
        found = np.union1d(found, np.unique(rgb[:, 0] << 16 | rgb[:, 1] << 8 | rgb[:, 2]))
    return len(found)


def psnr(a, b):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def first_difference(a, b):
    """Count of differing pixels and the first one, as text."""
    differs = np.any(a != b, axis=2)
    y, x = np.argwhere(differs)[0]
    return (f"{int(differs.sum())} of {differs.size} pixels differ, first at ({x},{y}): "
            f"browser {tuple(int(v) for v in a[y, x])}, player {tuple(int(v) for v in b[y, x])}")


def segments(shown_in, shown_out):
    """Pairs (input index, output index, start, end) over the loop's time:
    each stretch where both sides show one picture. Zero-length stretches
    are left out. With no time at all on both sides (every delay 0) the
    pictures pair up in order."""
    total_in = sum(d for _, d in shown_in)
    total_out = sum(d for _, d in shown_out)
    if total_in == 0 and total_out == 0:
        return [(i, min(i, len(shown_out) - 1), 0, 0) for i in range(len(shown_in))]
    pairs = []
    i = j = 0
    time_in = shown_in[0][1] if shown_in else 0
    time_out = shown_out[0][1] if shown_out else 0
    start = 0
    while i < len(shown_in) and j < len(shown_out):
        end = min(time_in, time_out)
        if end > start:
            pairs.append((i, j, start, end))
            start = end
        if time_in == end:
            i += 1
            time_in += shown_in[i][1] if i < len(shown_in) else 0
        if time_out == end:
            j += 1
            time_out += shown_out[j][1] if j < len(shown_out) else 0
    return pairs


def compare_views(result, gif_in, shown_in, gif_out, view_out):
    if view_out.refused:
        result.faults.append(f"the player shows nothing: {view_out.refused}")
        return
    shown_out = view_out.pictures
    if (gif_out.width, gif_out.height) != (gif_in.width, gif_in.height):
        result.faults.append(f"screen {gif_out.width}x{gif_out.height}, "
                             f"input's {gif_in.width}x{gif_in.height}")
        return
    if not shown_out:
        result.faults.append("the output has no frame")
        return
    total_in, total_out = sum(d for _, d in shown_in), sum(d for _, d in shown_out)
    if total_in != total_out:
        result.faults.append(f"loop lasts {total_out} hundredths, input's {total_in}")
    if gif_out.loop_count != gif_in.loop_count:
        result.faults.append(f"loop count {gif_out.loop_count}, input's {gif_in.loop_count}")
    worst = float("inf")
    reported = False
    cache = {}
    for i, j, start, end in segments(shown_in, shown_out):
        if view_out.undefined[j]:
            result.faults.append(f"output frame {j}: {view_out.undefined[j]} pixels the player "
                                 f"leaves undefined")
            return
        key = (i, j)
        if key not in cache:
            a, b = shown_in[i][0], shown_out[j][0]
            cache[key] = float("inf") if a == b else psnr(as_array(a, gif_in), as_array(b, gif_out))
            if cache[key] != float("inf") and not reported and result.needs_exact:
                reported = True
                result.faults.append(
                    f"time {start}-{end} (input frame {i}, output frame {j}): "
                    + first_difference(as_array(a, gif_in), as_array(b, gif_out)))
        worst = min(worst, cache[key])
    result.min_psnr = worst
    result.exact = worst == float("inf") and not result.faults


# ---------------------------------------------------------------- one file

def run_tool(animpack, *arguments):
    started = time.monotonic()
    completed = subprocess.run([animpack] + list(arguments), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, errors="replace")
    return completed, time.monotonic() - started


def evaluate(path, name, animpack, work, options):
    with open(path, "rb") as f:
        data = f.read()
    result = Result(name, len(data))
    try:
        gif_in = gifviews.parse(data)
    except gifviews.NotAGif:
        gif_in = None
    shown_in = gifviews.browser_view(gif_in) if gif_in else []
    if gif_in:
        result.frames_in = len(shown_in)
        result.megapixels = len(shown_in) * gif_in.width * gif_in.height / 1e6
        result.colours = colour_count(shown_in, gif_in) if shown_in else 0
    checked, _ = run_tool(animpack, "check", path)
    result.check_code = checked.returncode
    out_path = os.path.join(work, name.replace("/", "__"))
    flattened, result.seconds = run_tool(animpack, "flatten", path, out_path, *options)
    if flattened.returncode != 0:
        lines = flattened.stderr.strip().splitlines()
        result.refused = lines[-1] if lines else f"exit code {flattened.returncode}"
        return result
    with open(out_path, "rb") as f:
        output = f.read()
    result.size_out = len(output)
    result.same_bytes = output == data
    if not shown_in:
        result.faults.append("flattened a file of which a browser shows nothing")
        return result
    gif_out = gifviews.parse(output, as_player=True)
    view_out = gifviews.player_view(gif_out)
    result.frames_out = len(view_out.pictures)
    compare_views(result, gif_in, shown_in, gif_out, view_out)
    return result


def cross_check(path):
    """Pixels compared and pixels differing between our browser view and
    ImageMagick's -coalesce, where ImageMagick's picture is opaque (it shows
    the page through as transparency, where we put the background colour);
    None for a file ImageMagick reads otherwise (frames off the screen,
    broken files) or of which nothing shows."""
    with open(path, "rb") as f:
        gif = gifviews.parse(f.read())
    shown = gifviews.browser_view(gif)
    if not shown:
        return None
    # A grey GIF is read as linear grey and would come out gamma-converted;
    # labelling it sRGB keeps the table's values.
    command = ["convert", path, "-set", "colorspace", "sRGB", "-coalesce", "-depth", "8", "rgba:-"]
    raw = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    frames = np.frombuffer(raw, np.uint8)
    if frames.size != len(shown) * gif.width * gif.height * 4:
        return None
    frames = frames.reshape(len(shown), gif.height, gif.width, 4)
    compared = differing = 0
    for (picture, _), theirs in zip(shown, frames):
        opaque = theirs[:, :, 3] == 255
        compared += int(opaque.sum())
        differs = np.any(as_array(picture, gif) != theirs[:, :, :3], axis=2)
        differing += int((differs & opaque).sum())
    return compared, differing


# ---------------------------------------------------------------- report

def figure(result):
    if result.refused is not None:
        return "refused"
    if result.exact:
        return "exact"
    if result.min_psnr == float("inf"):
        return "FAIL"
    return f"{result.min_psnr:.1f} dB"


def table(results):
    lines = ["| file | frames in/out | colours | picture | in bytes | out bytes | ratio | s "
             "| goal |",
             "|---|---:|---:|---|---:|---:|---:|---:|---|"]
    for r in results:
        goal = {None: "-", True: "met", False: "MISSED"}[r.meets_goal]
        ratio = f"{r.ratio:.2f}" if r.ratio is not None else "-"
        out = str(r.size_out) if r.size_out is not None else "-"
        note = " (same bytes)" if r.same_bytes else ""
        lines.append(f"| {r.name} | {r.frames_in}/{r.frames_out} | {r.colours} | "
                     f"{figure(r)}{note} | {r.size_in} | {out} | {ratio} | "
                     f"{r.seconds:.2f} | {goal} |")
    return "\n".join(lines)


def summary(results):
    done = [r for r in results if r.refused is None]
    few = [r for r in done if r.needs_exact]
    many = [r for r in done if not r.needs_exact]
    ratios = [r.ratio for r in done]
    lines = [""]
    lines.append(f"files: {len(results)}; flattened {len(done)}, "
                 f"refused {len(results) - len(done)}; "
                 f"passed through byte for byte {sum(r.same_bytes for r in done)}")
    lines.append(f"256 colours or fewer: {sum(r.exact for r in few)} of {len(few)} exact")
    if many:
        worst = min(many, key=lambda r: r.min_psnr)
        lines.append(f"more than 256 colours: {sum(r.meets_goal for r in many)} of {len(many)} at "
                     f"{PSNR_GOAL:.0f} dB or more on every picture; lowest {worst.min_psnr:.2f} dB "
                     f"({worst.name})")
    if ratios:
        median = statistics.median(ratios)
        lines.append(f"size ratio out/in: median {median:.3f} (goal {RATIO_GOAL}), "
                     f"min {min(ratios):.3f}, max {max(ratios):.3f}; total "
                     f"{sum(r.size_out for r in done)} bytes out for "
                     f"{sum(r.size_in for r in done)} in")
    megapixels = sum(r.megapixels for r in done)
    seconds = sum(r.seconds for r in done)
    if seconds:
        lines.append(f"speed: {megapixels:.1f} Mpx of composited frames in {seconds:.1f} s of "
                     f"flatten wall time = {megapixels / seconds:.1f} Mpx/s (start-up included)")
        big = max(done, key=lambda r: r.megapixels)
        lines.append(f"speed on the largest file, {big.name}: {big.megapixels:.1f} Mpx in "
                     f"{big.seconds:.2f} s = {big.megapixels / big.seconds:.1f} Mpx/s")
    refused = [r for r in results if r.refused is not None]
    if refused:
        lines.append("refused:")
        lines += [f"  {r.name}: {r.refused}" for r in refused]
    faulty = [r for r in done if r.meets_goal is False]
    if faulty:
        lines.append("goal missed:")
        for r in faulty:
            detail = "; ".join(r.faults) or f"lowest PSNR {r.min_psnr:.2f} dB"
            lines.append(f"  {r.name}: {detail}")
    check_failures = [r for r in results if r.check_code not in (0, None) and r.refused is None]
    if check_failures:
        lines.append("check exited non-zero on files flatten took: "
                     + ", ".join(f"{r.name} ({r.check_code})" for r in check_failures))
    return "\n".join(lines)


def set_files(directory):
    found = []
    for folder, _, files in os.walk(directory):
        found += [os.path.join(folder, f) for f in files if f.endswith(".gif")]
    return sorted(found, key=lambda p: os.path.relpath(p, directory))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("set_dir")
    parser.add_argument("--animpack", default=os.path.join(ROOT, "tools", "animpack"))
    parser.add_argument("--cross-check", action="store_true",
                        help="also compare our browser view with ImageMagick's -coalesce")
    parser.add_argument("--option", action="append", default=[],
                        help="an option passed to flatten, e.g. --option=--dither")
    args = parser.parse_args()
    results = []
    compared = differing = skipped = 0
    with tempfile.TemporaryDirectory(prefix="animpack_eval_") as work:
        for path in set_files(args.set_dir):
            name = os.path.relpath(path, args.set_dir)
            results.append(evaluate(path, name, args.animpack, work, args.option))
            print(f"{name}: {figure(results[-1])}", file=sys.stderr)
            if args.cross_check:
                counts = cross_check(path)
                if counts is None:
                    skipped += 1
                else:
                    compared, differing = compared + counts[0], differing + counts[1]
    print(table(results))
    print(summary(results))
    if args.cross_check:
        print(f"browser view against ImageMagick -coalesce (opaque pixels of the inputs): "
              f"{compared} compared, {differing} differ; {skipped} file(s) not comparable")
    return 0


if __name__ == "__main__":
    sys.exit(main())
