"""The pictures of an animation, shown two ways: as a web browser composites
a GIF (transparency, disposal, local colour tables) and as the player shows
it (every frame copied opaquely, colours from the global table only, the
canvas undefined until painted).

Colours are handled as 24-bit keys red | green << 8 | blue << 16, the layout
the player uses; the browser's canvas holds small integer ids into a
ColourRegistry so that any later mapping of colours is one table lookup.
"""

from dataclasses import dataclass
from typing import Callable, Iterator, List, Optional, Tuple

import numpy as np

from . import lzw
from .gif_stream import Frame, GifFile

UNDEFINED = np.uint32(0xFF000000)
BLACK = (0, 0, 0)
WHITE = (255, 255, 255)

Rect = Tuple[int, int, int, int]  # left, top, right, bottom; right and bottom exclusive


def colour_keys(table: np.ndarray) -> np.ndarray:
    t = table.astype(np.uint32)
    return t[:, 0] | t[:, 1] << 8 | t[:, 2] << 16


def key_to_rgb(keys: np.ndarray) -> np.ndarray:
    keys = np.asarray(keys, np.uint32)
    return np.stack([keys & 0xFF, keys >> 8 & 0xFF, keys >> 16 & 0xFF], axis=-1).astype(np.uint8)


def union(a: Optional[Rect], b: Optional[Rect]) -> Optional[Rect]:
    if a is None:
        return b
    if b is None:
        return a
    return min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])


def clip(frame: Frame, width: int, height: int) -> Optional[Rect]:
    """The part of the frame on the logical screen, or None."""
    right = min(frame.left + frame.width, width)
    bottom = min(frame.top + frame.height, height)
    if right <= frame.left or bottom <= frame.top:
        return None
    return frame.left, frame.top, right, bottom


def view(array: np.ndarray, rect: Rect) -> np.ndarray:
    return array[rect[1]:rect[3], rect[0]:rect[2]]


class ColourRegistry:
    """Every colour the animation can show, each with a small id."""

    def __init__(self):
        self.ids = {}
        self.keys: List[int] = []

    def id_of(self, key: int) -> int:
        found = self.ids.get(key)
        if found is None:
            found = self.ids[key] = len(self.keys)
            self.keys.append(key)
        return found

    def table_ids(self, table: np.ndarray) -> np.ndarray:
        """Id of each of the 256 indices: the table's colours, then black,
        the colour browsers show for an index the table does not hold."""
        ids = np.full(256, self.id_of(0), np.uint32)
        for index, key in enumerate(colour_keys(table)[:256].tolist()):
            ids[index] = self.id_of(key)
        return ids

    def rgb(self) -> np.ndarray:
        return key_to_rgb(np.array(self.keys, np.uint32))


@dataclass
class DecodedFrame:
    frame: Frame
    pixels: np.ndarray
    count: int  # pixels the data holds, in stream order

    def complete(self) -> bool:
        return self.count == self.frame.width * self.frame.height

    def stream_lines(self, rows: int) -> np.ndarray:
        """For each of the first `rows` image rows, its line in the data."""
        f = self.frame
        if not f.interlaced:
            return np.arange(rows)
        lines = np.empty(f.height, np.int64)
        lines[lzw.interlaced_rows(f.height)] = np.arange(f.height)
        return lines[:rows]

    def decoded_mask(self, rows: int, columns: int) -> np.ndarray:
        """True where the data supplied a pixel, over the top-left
        rows x columns of the frame."""
        first = self.stream_lines(rows)[:, None] * self.frame.width
        return first + np.arange(columns)[None, :] < self.count

    def player_mask(self, rows: int, columns: int) -> np.ndarray:
        """The same for the player, which places whole lines only: a
        part-decoded last line stays undefined."""
        full_lines = self.count // self.frame.width if self.frame.width else 0
        return np.repeat((self.stream_lines(rows) < full_lines)[:, None], columns, axis=1)


class Decoder:
    """Decodes frames on demand and keeps them while they fit a budget."""

    def __init__(self, gif: GifFile, budget: int = 768 << 20):
        self.gif = gif
        self.cache = {}
        self.budget = budget

    def __call__(self, index: int) -> DecodedFrame:
        found = self.cache.get(index)
        if found is not None:
            return found
        frame = self.gif.frames[index]
        pixels, count = lzw.decode(frame)
        decoded = DecodedFrame(frame, pixels, count)
        if pixels.size <= self.budget:
            self.budget -= pixels.size
            self.cache[index] = decoded
        return decoded


class Canvas:
    """A screen of values with the GIF89a drawing and disposal rules."""

    def __init__(self, width: int, height: int, background, dtype):
        self.width, self.height = width, height
        self.background = background
        self.pixels = np.full((height, width), background, dtype)
        self.pending_disposal = None  # (rect, saved pixels or None) after the shown picture

    def draw(self, decoded: DecodedFrame, values: np.ndarray) -> Optional[Rect]:
        """Draws the frame with `values` (one per colour index) and returns
        the rectangle that may have changed since the previous picture."""
        dirty = self.dispose()
        frame = decoded.frame
        rect = clip(frame, self.width, self.height)
        if rect is None:
            return dirty
        target = view(self.pixels, rect)
        saved = target.copy() if frame.disposal == 3 else None
        source = decoded.pixels[:rect[3] - rect[1], :rect[2] - rect[0]]
        opaque = None
        if frame.transparent is not None:
            opaque = source != frame.transparent
        if not decoded.complete():
            shown = decoded.decoded_mask(*source.shape)
            opaque = shown if opaque is None else opaque & shown
        if opaque is None:
            target[...] = values[source]
        else:
            np.copyto(target, values[source], where=opaque)
        if frame.disposal in (2, 3):
            self.pending_disposal = rect, saved
        return union(dirty, rect)

    def dispose(self) -> Optional[Rect]:
        if self.pending_disposal is None:
            return None
        rect, saved = self.pending_disposal
        self.pending_disposal = None
        if saved is None:
            view(self.pixels, rect)[...] = self.background
        else:
            view(self.pixels, rect)[...] = saved
        return rect


def background_key(gif: GifFile, override: Optional[Tuple[int, int, int]]) -> int:
    """What the page shows where nothing is painted: the given colour, the
    global table's background entry, or white."""
    if override is not None:
        rgb = override
    elif gif.global_table is not None and gif.background_index < len(gif.global_table):
        rgb = tuple(int(c) for c in gif.global_table[gif.background_index])
    else:
        rgb = WHITE
    return rgb[0] | rgb[1] << 8 | rgb[2] << 16


def frame_table(gif: GifFile, frame: Frame) -> Optional[np.ndarray]:
    return frame.local_table if frame.local_table is not None else gif.global_table


def browser_pictures(gif: GifFile, decoder: Decoder, registry: ColourRegistry,
                     background: int) -> Iterator[Tuple[int, np.ndarray, Rect]]:
    """Yields (frame index, canvas of colour ids, changed rectangle) for each
    picture a browser shows. The canvas is reused: copy what you keep."""
    background_id = registry.id_of(background)
    canvas = Canvas(gif.width, gif.height, background_id, np.uint32)
    empty = np.zeros((0, 3), np.uint8)
    for index, frame in enumerate(gif.frames):
        table = frame_table(gif, frame)
        values = registry.table_ids(table if table is not None else empty)
        dirty = canvas.draw(decoder(index), values)
        if index == 0:
            dirty = (0, 0, gif.width, gif.height)
        yield index, canvas.pixels, dirty


def nearest_entries(table: np.ndarray, colours: np.ndarray) -> np.ndarray:
    """Index of the entry of `table` nearest each colour, lowest on a tie."""
    t = table.astype(np.int32)
    out = np.empty(len(colours), np.int64)
    for start in range(0, len(colours), 4096):
        c = colours[start:start + 4096].astype(np.int32)
        distance = ((c[:, None, :] - t[None, :, :]) ** 2).sum(axis=2)
        out[start:start + 4096] = distance.argmin(axis=1)
    return out


def player_values(gif: GifFile, frame: Frame) -> np.ndarray:
    """The colour key the player shows for each of a frame's 256 indices."""
    global_keys = colour_keys(gif.global_table)
    values = np.full(256, UNDEFINED, np.uint32)
    lookup = np.arange(256)
    if frame.local_table is not None:
        local = frame.local_table[:256]
        lookup[:len(local)] = nearest_entries(gif.global_table, local)
    defined = lookup < len(global_keys)
    values[defined] = global_keys[lookup[defined]]
    return values


class PlayerScreen:
    """The player's canvas: frames copied opaquely; never-painted pixels and
    indices outside the global table are UNDEFINED."""

    def __init__(self, gif: GifFile):
        self.gif = gif
        self.pixels = np.full((gif.height, gif.width), UNDEFINED, np.uint32)
        self.halted = False

    def draw(self, decoded: DecodedFrame) -> None:
        frame = decoded.frame
        if self.halted or not frame.player_has_pixels:
            self.halted = True
            return
        rect = clip(frame, self.gif.width, self.gif.height)
        if rect is None:
            return
        source = decoded.pixels[:rect[3] - rect[1], :rect[2] - rect[0]]
        shown = player_values(self.gif, frame)[source]
        if not decoded.complete():
            placed = decoded.player_mask(*source.shape)
            shown[~placed] = UNDEFINED
        view(self.pixels, rect)[...] = shown


@dataclass
class Comparison:
    """Where the player's pictures first differ from a browser's."""
    same: bool = True
    first_frame: int = -1
    differing_pixels: int = 0
    undefined_pixels: int = 0
    player_halts_at: int = -1


def compare_views(gif: GifFile, decoder: Decoder, background: int,
                  progress: Callable[[int], None] = lambda n: None) -> Comparison:
    """Runs both views side by side and stops at the first picture that
    differs."""
    result = Comparison()
    if gif.global_table is None:
        result.same = False
        return result
    registry = ColourRegistry()
    player = PlayerScreen(gif)
    for index, ids, dirty in browser_pictures(gif, decoder, registry, background):
        player.draw(decoder(index))
        progress(index)
        if player.halted:
            result.same, result.first_frame, result.player_halts_at = False, index, index
            return result
        if dirty is None:
            continue
        keys = np.array(registry.keys, np.uint32)
        browser = keys[view(ids, dirty)]
        shown = view(player.pixels, dirty)
        differ = browser != shown
        if differ.any():
            result.same = False
            result.first_frame = index
            result.differing_pixels = int(differ.sum())
            result.undefined_pixels = int((shown == UNDEFINED).sum())
            return result
    return result
