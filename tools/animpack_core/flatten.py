"""Turns any GIF into one that the player shows as a browser does: one
global colour table, a first frame covering the screen, then per picture
the smallest rectangle that changed, all opaque, with the delays kept.
"""

import math
import struct
from dataclasses import dataclass, field
from typing import Callable, List, Optional, Tuple

import numpy as np
from PIL import Image

from . import lzw
from .compose import (ColourRegistry, Decoder, Rect, background_key, browser_pictures,
                      nearest_entries, view)
from .gif_stream import GifFile

MAX_DELAY = 65535
TARGET_PSNR = 27.0  # dB, each picture against the browser's
Progress = Callable[[str, int, int], None]


@dataclass
class Options:
    browser_timing: bool = False
    background: Optional[Tuple[int, int, int]] = None
    dither: bool = False


@dataclass
class OutputFrame:
    rect: Rect
    data: bytes
    delay: int


@dataclass
class Result:
    data: bytes
    frames: List[OutputFrame]
    colours: int            # distinct colours in the composited pictures
    exact: bool             # every picture kept exactly
    palette_size: int
    min_psnr: float = math.inf   # over all pictures, against the browser's picture
    psnrs: List[float] = field(default_factory=list)


def shown_delay(delay: int, options: Options) -> int:
    """Browsers show delays of 0 and 1 for a tenth of a second."""
    return 10 if options.browser_timing and delay < 2 else delay


class Histogram:
    """Counts of colour ids over the current picture, kept up to date from
    the rectangles that change."""

    def __init__(self, width: int, height: int):
        # Starts as a picture of id 0 everywhere, which the first picture's
        # full-screen rectangle replaces.
        self.previous = np.zeros((height, width), np.uint32)
        self.counts = np.array([width * height], np.int64)

    def update(self, ids: np.ndarray, dirty: Optional[Rect], id_count: int) -> np.ndarray:
        if len(self.counts) < id_count:
            self.counts = np.pad(self.counts, (0, id_count - len(self.counts)))
        if dirty is not None:
            old = view(self.previous, dirty)
            new = view(ids, dirty)
            self.counts -= np.bincount(old.ravel(), minlength=id_count)[:id_count]
            self.counts += np.bincount(new.ravel(), minlength=id_count)
            old[...] = new
        return self.counts


def count_colours(gif: GifFile, decoder: Decoder, registry: ColourRegistry, background: int,
                  progress: Progress) -> np.ndarray:
    """How many picture-pixels show each colour id, over all pictures."""
    histogram = Histogram(gif.width, gif.height)
    total = np.zeros(0, np.int64)
    for index, ids, dirty in browser_pictures(gif, decoder, registry, background):
        counts = histogram.update(ids, dirty, len(registry.keys))
        total = np.pad(total, (0, len(counts) - len(total))) + counts
        progress("reading", index + 1, len(gif.frames))
    return total


def quantise(colours: np.ndarray, weights: np.ndarray) -> np.ndarray:
    """A palette of at most 256 colours for weighted colours, from
    libimagequant when Pillow has it, else median cut."""
    sample_size = 1 << 18
    repeats = np.maximum(1, np.round(weights * (sample_size / weights.sum()))).astype(np.int64)
    sample = np.repeat(colours, repeats, axis=0)
    row = 1024
    padding = (-len(sample)) % row
    if padding:
        sample = np.concatenate([sample, sample[:padding] if padding <= len(sample)
                                 else np.resize(sample, (padding, 3))])
    image = Image.fromarray(sample.reshape(-1, row, 3), "RGB")
    try:
        reduced = image.quantize(256, method=Image.Quantize.LIBIMAGEQUANT, dither=Image.Dither.NONE)
    except (ValueError, OSError):
        reduced = image.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    used = np.unique(np.asarray(reduced))
    palette = np.array(reduced.getpalette()[:768], np.uint8).reshape(-1, 3)
    return refine(palette[used], colours, weights)


def refine(palette: np.ndarray, colours: np.ndarray, weights: np.ndarray, rounds: int = 3) -> np.ndarray:
    """A few rounds of weighted k-means from the quantiser's palette."""
    palette = palette.astype(np.float64)
    w = weights.astype(np.float64)
    c = colours.astype(np.float64)
    for _ in range(rounds):
        nearest = nearest_entries(np.round(palette).astype(np.uint8), colours)
        sums = np.zeros_like(palette)
        for channel in range(3):
            sums[:, channel] = np.bincount(nearest, weights=w * c[:, channel], minlength=len(palette))
        mass = np.bincount(nearest, weights=w, minlength=len(palette))
        kept = mass > 0
        palette[kept] = sums[kept] / mass[kept, None]
    return np.clip(np.round(palette), 0, 255).astype(np.uint8)


def table_bits(count: int) -> int:
    return max(1, math.ceil(math.log2(max(count, 2))))


def changed_rect(before: np.ndarray, after: np.ndarray, region: Rect) -> Optional[Rect]:
    """The smallest rectangle inside `region` holding every pixel that differs."""
    differ = view(before, region) != view(after, region)
    rows = np.flatnonzero(differ.any(axis=1))
    if len(rows) == 0:
        return None
    columns = np.flatnonzero(differ.any(axis=0))
    left, top = region[0], region[1]
    return left + int(columns[0]), top + int(rows[0]), left + int(columns[-1]) + 1, top + int(rows[-1]) + 1


class FrameList:
    """Output frames; an unchanged picture lengthens the previous frame."""

    def __init__(self, bits: int):
        self.bits = bits
        self.frames: List[OutputFrame] = []

    def add(self, picture: np.ndarray, rect: Optional[Rect], delay: int) -> None:
        if rect is None:
            last = self.frames[-1]
            if last.delay + delay <= MAX_DELAY:
                last.delay += delay
                return
            rect = (0, 0, 1, 1)  # too long for one delay field: a frame that changes nothing
        self.frames.append(OutputFrame(rect, lzw.encode(view(picture, rect), self.bits), delay))


def dither_picture(rgb: np.ndarray, palette_image: Image.Image) -> np.ndarray:
    image = Image.fromarray(rgb, "RGB")
    return np.asarray(image.quantize(palette=palette_image, dither=Image.Dither.FLOYDSTEINBERG))


def encode_pictures(gif: GifFile, decoder: Decoder, registry: ColourRegistry, background: int,
                    id_to_index: np.ndarray, palette: np.ndarray, options: Options,
                    progress: Progress) -> List[OutputFrame]:
    width, height = gif.width, gif.height
    frames = FrameList(table_bits(len(palette)))
    shown = np.zeros((height, width), np.uint8)
    previous = np.zeros((height, width), np.uint8)
    palette_image = None
    if options.dither:
        # Pillow wants 256 entries; the padding repeats entry 0, and any
        # pixel mapped to the padding is given entry 0 itself.
        padded = np.repeat(palette[:1], 256, axis=0)
        padded[:len(palette)] = palette
        palette_image = Image.new("P", (1, 1))
        palette_image.putpalette(padded.ravel().tolist())
        id_rgb = registry.rgb()
    for index, ids, dirty in browser_pictures(gif, decoder, registry, background):
        delay = shown_delay(gif.frames[index].delay, options)
        if palette_image is not None:
            shown = dither_picture(id_rgb[ids], palette_image)
            shown = np.where(shown < len(palette), shown, 0).astype(np.uint8)
            dirty = (0, 0, width, height)
        elif dirty is not None:
            view(shown, dirty)[...] = id_to_index[view(ids, dirty)]
        if index == 0:
            frames.add(shown, (0, 0, width, height), delay)
        else:
            frames.add(shown, changed_rect(previous, shown, dirty) if dirty else None, delay)
        if dirty is not None:
            view(previous, dirty)[...] = view(shown, dirty)
        progress("writing", index + 1, len(gif.frames))
    return frames.frames


@dataclass
class PaletteChoice:
    palette: np.ndarray
    id_to_index: np.ndarray
    psnrs: List[float]
    weak_counts: np.ndarray  # colour ids over the pictures below the target

    @property
    def min_psnr(self) -> float:
        return min(self.psnrs, default=math.inf)


def psnr(squared_error: float, samples: int) -> float:
    return math.inf if squared_error == 0 else 10 * math.log10(255 ** 2 * samples / squared_error)


def try_palette(gif: GifFile, decoder: Decoder, registry: ColourRegistry, background: int,
                palette: np.ndarray, progress: Progress) -> PaletteChoice:
    """Maps every colour to its nearest palette entry and measures each
    picture's PSNR from its colour counts, without encoding anything."""
    rgb = registry.rgb()
    id_to_index = nearest_entries(palette, rgb)
    error = ((rgb.astype(np.int64) - palette[id_to_index].astype(np.int64)) ** 2).sum(axis=1)
    histogram = Histogram(gif.width, gif.height)
    weak = np.zeros(len(rgb), np.int64)
    psnrs = []
    for index, ids, dirty in browser_pictures(gif, decoder, registry, background):
        counts = histogram.update(ids, dirty, len(rgb))
        psnrs.append(psnr(float(counts @ error), 3 * gif.width * gif.height))
        if psnrs[-1] < TARGET_PSNR:
            weak += counts
        progress("palette", index + 1, len(gif.frames))
    return PaletteChoice(palette, id_to_index.astype(np.uint8), psnrs, weak)


def shared_palette(gif: GifFile, decoder: Decoder, registry: ColourRegistry, background: int,
                   totals: np.ndarray, progress: Progress) -> PaletteChoice:
    """One palette for more than 256 colours. When some picture falls below
    the target, the quantiser runs once more with those pictures' colours
    weighing as much as all the others, and the better palette is kept."""
    used = np.flatnonzero(totals)
    rgb = registry.rgb()
    choice = try_palette(gif, decoder, registry, background, quantise(rgb[used], totals[used]), progress)
    if choice.min_psnr >= TARGET_PSNR:
        return choice
    boost = totals.sum() / max(choice.weak_counts.sum(), 1)
    weights = totals[used] + boost * choice.weak_counts[used]
    retry = try_palette(gif, decoder, registry, background, quantise(rgb[used], weights), progress)
    return retry if retry.min_psnr > choice.min_psnr else choice


def assemble(width: int, height: int, palette: np.ndarray, background_index: int,
             loop_count: Optional[int], frames: List[OutputFrame]) -> bytes:
    bits = table_bits(len(palette))
    table = np.zeros((1 << bits, 3), np.uint8)
    table[:len(palette)] = palette
    out = [b"GIF89a", struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (bits - 1), background_index, 0),
           table.tobytes()]
    if loop_count is not None:
        out.append(b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", loop_count) + b"\x00")
    for frame in frames:
        left, top, right, bottom = frame.rect
        # Disposal 1 (leave in place), no transparent index: a browser then
        # shows exactly what the player's opaque copies show.
        out.append(b"\x21\xF9\x04\x04" + struct.pack("<H", frame.delay) + b"\x00\x00")
        out.append(b"\x2C" + struct.pack("<HHHHB", left, top, right - left, bottom - top, 0))
        out.append(frame.data)
    out.append(b"\x3B")
    return b"".join(out)


def flatten(gif: GifFile, options: Options, decoder: Optional[Decoder] = None,
            progress: Progress = lambda stage, done, total: None) -> Result:
    decoder = decoder or Decoder(gif)
    background = background_key(gif, options.background)
    registry = ColourRegistry()
    totals = count_colours(gif, decoder, registry, background, progress)
    used = np.flatnonzero(totals)
    rgb = registry.rgb()
    exact = len(used) <= 256
    psnrs = []
    if exact:
        palette = rgb[used]
        id_to_index = np.zeros(len(registry.keys), np.uint8)
        id_to_index[used] = np.arange(len(used), dtype=np.uint8)
    else:
        choice = shared_palette(gif, decoder, registry, background, totals, progress)
        palette, id_to_index = choice.palette, choice.id_to_index
        if not options.dither:
            psnrs = choice.psnrs
    background_id = registry.id_of(background)
    frames = encode_pictures(gif, decoder, registry, background, id_to_index, palette,
                             Options(options.browser_timing, options.background, options.dither and not exact),
                             progress)
    data = assemble(gif.width, gif.height, palette, int(id_to_index[background_id]),
                    gif.loop_count, frames)
    return Result(data, frames, len(used), exact, len(palette), min(psnrs, default=math.inf), psnrs)
