#!/usr/bin/python3
"""Measures `animpack` over a set of GIFs (bench/make_animpack_set.py builds
one): for every file, what a browser shows for the input against what the
player shows for the output of `flatten`, picture by picture over the
timeline, and the sizes; then the figures the goals name, and the speed and
peak memory of `make` on the large photographic clip.

The two views come from tests/support/gifviews.py, which shares nothing with the
tool; the tool is only run as a command, so any implementation of its
command line can be measured.

Timelines are compared by time, in hundredths of a second as the files state
them: wherever the input shows one picture and the output another, the two
are compared, so merged frames and folded zero delays line up by themselves.
A picture may be written as several rectangles: frames of delay 0 before the
picture's last one, each of the 10 ms the player shows it taken off the
picture's delay. Such a frame is a step towards the picture: its 10 ms is
given back to the picture it leads to, and what it shows is reported (the
lowest step PSNR) but not judged. A frame of delay 0 that stands where the
input has one is a picture of its own, as the input's is. A file is exact
when every compared picture is equal; otherwise its figure is the lowest
PSNR over the compared pictures.

Goals checked: exact pictures for every animation of 256 colours or fewer in
all; at least 27 dB on every picture of one with more; output size at most
1.0 times the input's in the median and 3.0 times at most; `make` on the
1280x720 clip at least 30 Mpx of composited frames (input frames x screen)
per second of wall time, start-up included, and at most 400 MB peak memory
(the largest resident set of the command and its children).

usage: animpack_eval.py SET_DIR [--animpack PATH] [--player PLAYER.exe]
                        [--cross-check] [--option ARG]
"""

import argparse
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
from collections import Counter
from dataclasses import dataclass, field
from typing import List, Optional

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import gifviews  # noqa: E402

PSNR_GOAL = 27.0
MEDIAN_RATIO_GOAL = 1.0
MAX_RATIO_GOAL = 3.0
SPEED_GOAL = 30.0                 # Mpx of composited frames per second
MEMORY_GOAL = 400e6               # bytes
SPARSE_CASE = "synthetic/scattered-changes-1000x175.gif"
CLIP_CASE = "synthetic/clip-1280x720.gif"
BUILT_PLAYER = os.path.join(ROOT, "build", "win", "src", "player.exe")

# How the tool says it wrote pictures as several rectangles, when it does.
SPLIT_REPORT = re.compile(r"([\d,]+) pictures? written as several\b[^,]*, ([\d,]+) bytes saved")


@dataclass
class Run:
    """One finished command: exit code, output, wall time and the largest
    resident set of it and its children."""
    code: int
    stdout: str
    stderr: str
    seconds: float
    peak_bytes: int

    def last_error(self):
        lines = self.stderr.strip().splitlines()
        return lines[-1] if lines else f"exit code {self.code}"


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
    peak_bytes: int = 0
    refused: Optional[str] = None
    same_bytes: bool = False
    exact: bool = False
    min_psnr: float = float("inf")
    step_psnr: float = float("inf")
    steps: int = 0                   # frames of delay 0 leading to a picture
    split_pictures: int = 0          # pictures those steps lead to
    reported_split: Optional[int] = None
    reported_saved: Optional[int] = None
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


def step_frames(delays_in, delays_out):
    """The output's delays with every step's 10 ms given back to the
    picture it leads to, and the indices of the steps. An output frame of
    delay 0 is a picture of its own where an input frame of delay 0 starts
    at the same time and is not yet matched, else a step."""
    zero_starts = Counter()
    start = 0
    for delay in delays_in:
        if delay == 0:
            zero_starts[start] += 1
        start += delay
    timed, steps, pending, now = [], [], 0, 0
    for j, delay in enumerate(delays_out):
        if delay == 0 and zero_starts[now] > 0:
            zero_starts[now] -= 1
            timed.append(0)
        elif delay == 0:
            steps.append(j)
            pending += 1
            timed.append(0)
        else:
            timed.append(delay + pending)
            now += delay + pending
            pending = 0
    return timed, steps


def split_count(steps):
    """Pictures reached through steps: runs of consecutive step indices."""
    return sum(1 for n, j in enumerate(steps) if n == 0 or steps[n - 1] != j - 1)


def compare_views(result, gif_in, shown_in, gif_out, view_out):
    if view_out.refused:
        result.faults.append(f"the player shows nothing: {view_out.refused}")
        return
    if (gif_out.width, gif_out.height) != (gif_in.width, gif_in.height):
        result.faults.append(f"screen {gif_out.width}x{gif_out.height}, "
                             f"input's {gif_in.width}x{gif_in.height}")
        return
    if not view_out.pictures:
        result.faults.append("the output has no frame")
        return
    timed, steps = step_frames([d for _, d in shown_in], [d for _, d in view_out.pictures])
    result.steps, result.split_pictures = len(steps), split_count(steps)
    shown_out = [(picture, delay) for (picture, _), delay in zip(view_out.pictures, timed)]
    total_in, total_out = sum(d for _, d in shown_in), sum(timed)
    if total_in != total_out:
        result.faults.append(f"loop lasts {total_out} hundredths, input's {total_in}")
    if gif_out.loop_count != gif_in.loop_count:
        result.faults.append(f"loop count {gif_out.loop_count}, input's {gif_in.loop_count}")
    if compare_pictures(result, gif_in, shown_in, gif_out, view_out, shown_out):
        compare_steps(result, gif_in, shown_in, gif_out, view_out, shown_out, steps)


def compare_pictures(result, gif_in, shown_in, gif_out, view_out, shown_out):
    worst = float("inf")
    reported = False
    cache = {}
    for i, j, start, end in segments(shown_in, shown_out):
        if view_out.undefined[j]:
            result.faults.append(f"output frame {j}: {view_out.undefined[j]} pixels the player "
                                 f"leaves undefined")
            return False
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
    return True


def compare_steps(result, gif_in, shown_in, gif_out, view_out, shown_out, steps):
    """Each step against the input picture it leads to (the one showing
    when the step's picture is done)."""
    starts_out = np.cumsum([0] + [d for _, d in shown_out])
    starts_in = np.cumsum([0] + [d for _, d in shown_in])
    for j in steps:
        i = int(np.searchsorted(starts_in, starts_out[j], side="right")) - 1
        if i >= len(shown_in) or view_out.undefined[j]:
            continue
        a, b = shown_in[i][0], shown_out[j][0]
        if a != b:
            result.step_psnr = min(result.step_psnr,
                                   psnr(as_array(a, gif_in), as_array(b, gif_out)))


# ---------------------------------------------------------------- commands

# A child forked from this process, which holds every picture of the set,
# keeps this process's resident size as its high-water mark through exec. So
# the command is started by a small launcher that measures its own child.
LAUNCHER = """
import resource, subprocess, sys, time
started = time.monotonic()
code = subprocess.call(sys.argv[2:])
seconds = time.monotonic() - started
with open(sys.argv[1], "w") as f:
    f.write(f"{resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss} {seconds}")
sys.exit(code if code >= 0 else 128 - code)
"""


def run_tool(animpack, *arguments):
    """Runs the command with its output in files, timing it and taking its
    peak resident set (the kernel's for it and its waited-for children)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile("r") as figures:
        completed = subprocess.run([sys.executable, "-c", LAUNCHER, figures.name, animpack]
                                   + list(arguments), stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err)
        peak_kib, seconds = figures.read().split()
        out.seek(0)
        err.seek(0)
        return Run(completed.returncode, out.read().decode(errors="replace"),
                   err.read().decode(errors="replace"), float(seconds), int(peak_kib) * 1024)


def split_report(text):
    """(pictures, bytes saved) from the tool's own line on pictures written
    as several rectangles; (0, 0) when it prints none."""
    match = SPLIT_REPORT.search(text)
    if match is None:
        return 0, 0
    return tuple(int(group.replace(",", "")) for group in match.groups())


def fake_player():
    """A minimal 32-bit PE image with one section, for a machine without the
    built player: `make` measures the same work with it."""
    dos = bytearray(64)
    dos[:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 64)
    optional = bytearray(0xE0)
    struct.pack_into("<H", optional, 0, 0x10B)
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, len(optional), 0x0102)
    header_end = 64 + 4 + len(coff) + len(optional) + 40
    raw_pointer = (header_end + 511) // 512 * 512
    section = struct.pack("<8sIIIIIIHHI", b".text", 512, 0x1000, 512, raw_pointer,
                          0, 0, 0, 0, 0x60000020)
    head = bytes(dos) + b"PE\0\0" + coff + bytes(optional) + section
    return head + bytes(raw_pointer - len(head)) + bytes(512)


# ---------------------------------------------------------------- one file

def read_input(path, name):
    with open(path, "rb") as f:
        data = f.read()
    result = Result(name, len(data))
    try:
        gif_in = gifviews.parse(data)
    except gifviews.NotAGif:
        return data, result, None, []
    shown_in = gifviews.browser_view(gif_in)
    result.frames_in = len(shown_in)
    result.megapixels = len(shown_in) * gif_in.width * gif_in.height / 1e6
    result.colours = colour_count(shown_in, gif_in) if shown_in else 0
    return data, result, gif_in, shown_in


def evaluate(path, name, animpack, work, options):
    data, result, gif_in, shown_in = read_input(path, name)
    result.check_code = run_tool(animpack, "check", path).code
    out_path = os.path.join(work, name.replace("/", "__"))
    flattened = run_tool(animpack, "flatten", path, out_path, *options)
    result.seconds, result.peak_bytes = flattened.seconds, flattened.peak_bytes
    if flattened.code != 0:
        result.refused = flattened.last_error()
        return result
    result.reported_split, result.reported_saved = split_report(flattened.stdout)
    with open(out_path, "rb") as f:
        output = f.read()
    os.remove(out_path)
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


@dataclass
class MakeFigures:
    name: str
    megapixels: float
    run: Run

    @property
    def speed(self):
        return self.megapixels / self.run.seconds


def measure_make(path, name, animpack, player, work, options):
    """`make` on one file, with the player given: wall time and peak memory."""
    with open(path, "rb") as f:
        gif = gifviews.parse(f.read())
    megapixels = len(gif.images) * gif.width * gif.height / 1e6
    output = os.path.join(work, "clip.exe")
    run = run_tool(animpack, "make", output, "--gif", path, "--player", player, *options)
    if os.path.exists(output):
        os.remove(output)
    return MakeFigures(name, megapixels, run)


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


def split_cell(result):
    if not result.steps and not result.reported_split:
        return "-"
    cell = f"{result.split_pictures} ({result.steps} steps"
    if result.step_psnr != float("inf"):
        cell += f", {result.step_psnr:.1f} dB"
    cell += ")"
    if result.reported_split:
        cell += f"; tool: {result.reported_split}, {result.reported_saved} B saved"
    return cell


def table(results):
    lines = ["| file | frames in/out | colours | picture | in bytes | out bytes | ratio | s | MB "
             "| split pictures | goal |",
             "|---|---:|---:|---|---:|---:|---:|---:|---:|---|---|"]
    for r in results:
        goal = {None: "-", True: "met", False: "MISSED"}[r.meets_goal]
        ratio = f"{r.ratio:.2f}" if r.ratio is not None else "-"
        out = str(r.size_out) if r.size_out is not None else "-"
        note = " (same bytes)" if r.same_bytes else ""
        lines.append(f"| {r.name} | {r.frames_in}/{r.frames_out} | {r.colours} | "
                     f"{figure(r)}{note} | {r.size_in} | {out} | {ratio} | "
                     f"{r.seconds:.2f} | {r.peak_bytes / 1e6:.0f} | {split_cell(r)} | {goal} |")
    return "\n".join(lines)


def verdict(met):
    return "met" if met else "MISSED"


def picture_lines(done):
    few = [r for r in done if r.needs_exact]
    many = [r for r in done if not r.needs_exact]
    exact = sum(r.exact for r in few)
    lines = [f"256 colours or fewer: {exact} of {len(few)} exact "
             f"(goal: all; {verdict(exact == len(few))})"]
    if many:
        worst = min(many, key=lambda r: r.min_psnr)
        met = sum(bool(r.meets_goal) for r in many)
        lines.append(f"more than 256 colours: {met} of {len(many)} at {PSNR_GOAL:.0f} dB or more "
                     f"on every picture; lowest {worst.min_psnr:.2f} dB ({worst.name}) "
                     f"({verdict(met == len(many))})")
    return lines


def size_lines(done):
    ratios = [r.ratio for r in done]
    if not ratios:
        return []
    median, largest = statistics.median(ratios), max(done, key=lambda r: r.ratio)
    lines = [f"size ratio out/in: median {median:.3f} (goal <= {MEDIAN_RATIO_GOAL}; "
             f"{verdict(median <= MEDIAN_RATIO_GOAL)}), max {largest.ratio:.3f} ({largest.name}; "
             f"goal <= {MAX_RATIO_GOAL}; {verdict(largest.ratio <= MAX_RATIO_GOAL)}), "
             f"min {min(ratios):.3f}; total {sum(r.size_out for r in done)} bytes out for "
             f"{sum(r.size_in for r in done)} in"]
    for r in done:
        if r.name == SPARSE_CASE:
            lines.append(f"sparse case {r.name}: {r.size_in} -> {r.size_out} bytes, "
                         f"ratio {r.ratio:.2f}, {figure(r)}")
    return lines


def split_lines(done):
    files = [r for r in done if r.steps]
    reported = [r for r in done if r.reported_split]
    lines = [f"pictures written as several rectangles (seen in the outputs): "
             f"{sum(r.split_pictures for r in files)} pictures by {sum(r.steps for r in files)} "
             f"extra frames, in {len(files)} file(s)"]
    steps = [r.step_psnr for r in files if r.step_psnr != float("inf")]
    if steps:
        lines[-1] += (f"; lowest PSNR of a step against the picture it leads to "
                      f"{min(steps):.1f} dB")
    if reported:
        pictures = sum(r.reported_split for r in reported)
        saved = sum(r.reported_saved for r in reported)
        lines.append(f"  as the tool reports it: {pictures} pictures in {len(reported)} file(s), "
                     f"{saved} bytes saved")
    return lines


def speed_lines(done, make):
    lines = []
    megapixels = sum(r.megapixels for r in done)
    seconds = sum(r.seconds for r in done)
    if seconds:
        lines.append(f"flatten: {megapixels:.1f} Mpx of composited frames in {seconds:.1f} s of "
                     f"wall time = {megapixels / seconds:.1f} Mpx/s (start-up included)")
        biggest = max(done, key=lambda r: r.peak_bytes)
        lines.append(f"flatten peak memory: {biggest.peak_bytes / 1e6:.0f} MB ({biggest.name})")
    if make is None:
        return lines
    if make.run.code != 0:
        lines.append(f"make on {make.name} failed: {make.run.last_error()}")
        return lines
    peak = make.run.peak_bytes
    lines.append(f"make on {make.name}: {make.megapixels:.1f} Mpx in {make.run.seconds:.2f} s = "
                 f"{make.speed:.1f} Mpx/s (goal >= {SPEED_GOAL:.0f}; "
                 f"{verdict(make.speed >= SPEED_GOAL)}); peak memory {peak / 1e6:.0f} MB "
                 f"({peak / 2 ** 20:.0f} MiB; goal <= {MEMORY_GOAL / 1e6:.0f} MB; "
                 f"{verdict(peak <= MEMORY_GOAL)})")
    return lines


def summary(results, make):
    done = [r for r in results if r.refused is None]
    lines = ["", f"files: {len(results)}; flattened {len(done)}, "
                 f"refused {len(results) - len(done)}; "
                 f"passed through byte for byte {sum(r.same_bytes for r in done)}"]
    lines += picture_lines(done) + size_lines(done) + split_lines(done) + speed_lines(done, make)
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


def player_path(given, work):
    if given:
        return given
    if os.path.exists(BUILT_PLAYER):
        return BUILT_PLAYER
    path = os.path.join(work, "player.exe")
    with open(path, "wb") as f:
        f.write(fake_player())
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("set_dir")
    parser.add_argument("--animpack", default=os.path.join(ROOT, "tools", "animpack"))
    parser.add_argument("--player", help="the player `make` copies (default: the build's, else "
                                         "a minimal stand-in)")
    parser.add_argument("--cross-check", action="store_true",
                        help="also compare our browser view with ImageMagick's -coalesce")
    parser.add_argument("--option", action="append", default=[],
                        help="an option passed to flatten and make, e.g. --option=--dither")
    args = parser.parse_args()
    results = []
    make = None
    compared = differing = skipped = 0
    with tempfile.TemporaryDirectory(prefix="animpack_eval_") as work:
        for path in set_files(args.set_dir):
            name = os.path.relpath(path, args.set_dir)
            results.append(evaluate(path, name, args.animpack, work, args.option))
            print(f"{name}: {figure(results[-1])}", file=sys.stderr)
            if name == CLIP_CASE:
                make = measure_make(path, name, args.animpack, player_path(args.player, work),
                                    work, args.option)
                print(f"{name}: make {make.run.seconds:.2f} s", file=sys.stderr)
            if args.cross_check:
                counts = cross_check(path)
                if counts is None:
                    skipped += 1
                else:
                    compared, differing = compared + counts[0], differing + counts[1]
    print(table(results))
    print(summary(results, make))
    if args.cross_check:
        print(f"browser view against ImageMagick -coalesce (opaque pixels of the inputs): "
              f"{compared} compared, {differing} differ; {skipped} file(s) not comparable")
    return 0


if __name__ == "__main__":
    sys.exit(main())
