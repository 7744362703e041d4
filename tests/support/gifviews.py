"""Two views of one animated GIF, each a list of (picture, delay): as a web
browser composites it by the GIF89a rules, and as the player shows it (global
colours only, every frame copied opaquely). They are the two sides of every
comparison between an input GIF and what the authoring tool made of it.

Written from the format alone, in plain Python, so that any interpreter runs
it and nothing of the authoring tool is shared. A picture is the whole
logical screen as bytes of r, g, b triples, row after row; a delay is in
hundredths of a second, as the file states it.
"""

import re
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

WHITE = b"\xff\xff\xff"
NETSCAPE_IDS = (b"NETSCAPE2.0", b"ANIMEXTS1.0")


@dataclass
class Image:
    left: int
    top: int
    width: int
    height: int
    interlaced: bool
    colours: Optional[bytes]     # local colour table as r, g, b triples; None: none
    min_code_size: int
    data: bytes                  # the LZW data, sub-blocks joined
    delay: int = 0
    disposal: int = 0
    transparent: Optional[int] = None


@dataclass
class Gif:
    width: int
    height: int
    colours: Optional[bytes]     # global colour table; None: none
    background_index: int
    images: List[Image] = field(default_factory=list)
    loop_count: Optional[int] = None   # None: no looping extension; 0: for ever


class Reader:
    """Bytes with a position; every read past the end gives None."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, count):
        if self.pos + count > len(self.data):
            self.pos = len(self.data)
            return None
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def byte(self):
        chunk = self.take(1)
        return None if chunk is None else chunk[0]

    def word(self):
        chunk = self.take(2)
        return None if chunk is None else chunk[0] | chunk[1] << 8

    def sub_blocks(self):
        """The data sub-blocks up to the terminator, joined; also when the
        stream ends before it."""
        parts = []
        while True:
            count = self.byte()
            if not count:
                return b"".join(parts)
            start = self.pos
            chunk = self.take(count)
            if chunk is None:
                parts.append(self.data[start:])
                return b"".join(parts)
            parts.append(chunk)


class NotAGif(ValueError):
    pass


def parse(data, as_player=False):
    """The blocks of a GIF stream. `as_player` applies the player's stricter
    rules: a graphic control extension of another size than 4, or without its
    terminator, ends the stream there."""
    reader = Reader(data)
    header = reader.take(13)
    if header is None or header[:3] != b"GIF":
        raise NotAGif("not a GIF file")
    packed = header[10]
    colours = None
    if packed & 0x80:
        colours = reader.take(3 << ((packed & 7) + 1)) or b""
    gif = Gif(header[6] | header[7] << 8, header[8] | header[9] << 8, colours, header[11])
    control = None
    while True:
        introducer = reader.byte()
        if introducer == 0x21:
            label = reader.byte()
            if label == 0xF9 and as_player:
                size, block, terminator = reader.byte(), reader.take(4), reader.byte()
                if size != 4 or block is None or terminator != 0:
                    break
                control = block
            elif label == 0xF9:
                block = reader.sub_blocks()
                if len(block) >= 4:
                    control = block
            else:
                block_start = reader.pos
                body = reader.sub_blocks()
                identifier = data[block_start + 1:block_start + 12]
                if label == 0xFF and identifier in NETSCAPE_IDS and gif.loop_count is None:
                    loop = body[11:]
                    if len(loop) >= 3 and loop[0] == 1:
                        gif.loop_count = loop[1] | loop[2] << 8
        elif introducer == 0x2C:
            image = read_image(reader)
            if image is None:
                break
            if control is not None:
                image.disposal = (control[0] >> 2) & 7
                image.delay = control[1] | control[2] << 8
                image.transparent = control[3] if control[0] & 1 else None
                control = None
            gif.images.append(image)
        else:
            break
    return gif


def read_image(reader):
    descriptor = reader.take(9)
    if descriptor is None:
        return None
    left, top, width, height = (descriptor[i] | descriptor[i + 1] << 8 for i in (0, 2, 4, 6))
    packed = descriptor[8]
    colours = None
    if packed & 0x80:
        colours = reader.take(3 << ((packed & 7) + 1))
        if colours is None:
            return None
    min_code_size = reader.byte()
    if min_code_size is None:
        return None
    return Image(left, top, width, height, bool(packed & 0x40), colours, min_code_size,
                 reader.sub_blocks())


# ---------------------------------------------------------------- decoding

def lzw_decode(data, min_code_size, limit):
    """The indices the code stream gives, at most `limit` of them; fewer when
    the stream ends early or holds a code that is not yet defined."""
    if not 1 <= min_code_size <= 11:
        return b""
    clear = 1 << min_code_size
    end = clear + 1
    roots = [bytes([i & 0xFF]) for i in range(clear)] + [b"", b""]
    table = list(roots)
    width = min_code_size + 1
    mask = (1 << width) - 1
    out = bytearray()
    previous = None
    bits = count = 0
    for byte in data:
        bits |= byte << count
        count += 8
        while count >= width:
            code = bits & mask
            bits >>= width
            count -= width
            if code == clear:
                table = list(roots)
                width = min_code_size + 1
                mask = (1 << width) - 1
                previous = None
                continue
            if code == end:
                return bytes(out[:limit])
            if code < len(table):
                entry = table[code]
                if previous is not None and len(table) < 4096:
                    table.append(previous + entry[:1])
            elif code == len(table) and previous is not None:
                entry = previous + previous[:1]
                table.append(entry)
            else:
                return bytes(out[:limit])
            out += entry
            if len(out) >= limit:
                return bytes(out[:limit])
            previous = entry
            if len(table) == mask + 1 and width < 12:
                width += 1
                mask = (1 << width) - 1
    return bytes(out[:limit])


def interlaced_rows(height):
    return [y for start, step in ((0, 8), (4, 8), (2, 4), (1, 2))
            for y in range(start, height, step)]


def image_rows(image):
    """The image's rows of indices, top to bottom, as far as they were
    decoded: the list is shorter, and its last row may be short, when the
    data ran out."""
    width = image.width
    if width == 0 or image.height == 0:
        return []
    indices = lzw_decode(image.data, image.min_code_size, width * image.height)
    stored = [indices[i:i + width] for i in range(0, len(indices), width)]
    if not image.interlaced:
        return stored
    rows = [None] * image.height
    for y, line in zip(interlaced_rows(image.height), stored):
        rows[y] = line
    # A row the short data never reached is missing; rows after it may have
    # come from earlier passes, so keep them, empty rows standing in.
    last = max((y for y, line in enumerate(rows) if line is not None), default=-1)
    return [line if line is not None else b"" for line in rows[:last + 1]]


# ---------------------------------------------------------------- colour

def channel_tables(colours):
    """Three 256-byte translation tables, index to red, green and blue.
    Indices beyond the table come out black."""
    padded = (colours or b"")[:768].ljust(768, b"\0")
    return padded[0::3], padded[1::3], padded[2::3]


def to_rgb(indices, tables):
    out = bytearray(3 * len(indices))
    out[0::3] = indices.translate(tables[0])
    out[1::3] = indices.translate(tables[1])
    out[2::3] = indices.translate(tables[2])
    return out


def background_colour(gif, background=None):
    """--background if given, else the global table's background entry, else
    white (no global table, or an index outside it)."""
    if background is not None:
        return bytes(background)
    table = gif.colours or b""
    entry = table[3 * gif.background_index:3 * gif.background_index + 3]
    return entry if len(entry) == 3 else WHITE


def clipped_span(gif, image, y):
    """Screen row, first column and number of columns of image row y that lie
    on the logical screen; None when the row lies off it."""
    screen_y = image.top + y
    if screen_y >= gif.height or image.left >= gif.width:
        return None
    return screen_y, image.left, min(image.width, gif.width - image.left)


# ---------------------------------------------------------------- views

def browser_view(gif, background=None):
    """(picture, delay) per image, composited by the GIF89a rules: each image
    at its position in its own colour table, the transparent index leaving
    what lies below; after it is shown, disposal 2 clears its rectangle to
    the background and disposal 3 puts back the screen from before it."""
    colour = background_colour(gif, background)
    stride = 3 * gif.width
    canvas = bytearray(colour * (gif.width * gif.height))
    shown = []
    for image in gif.images:
        saved = bytes(canvas) if image.disposal == 3 else None
        tables = channel_tables(image.colours if image.colours is not None else gif.colours)
        opaque = None
        if image.transparent is not None:
            opaque = re.compile(b"[^" + re.escape(bytes([image.transparent])) + b"]+")
        for y, row in enumerate(image_rows(image)):
            span = clipped_span(gif, image, y)
            if span is None:
                break
            screen_y, x, count = span
            row = row[:count]
            start = screen_y * stride + 3 * x
            rgb = to_rgb(row, tables)
            if opaque is None:
                canvas[start:start + len(rgb)] = rgb
                continue
            for run in opaque.finditer(row):
                a, b = 3 * run.start(), 3 * run.end()
                canvas[start + a:start + b] = rgb[a:b]
        shown.append((bytes(canvas), image.delay))
        if image.disposal == 2:
            fill_rectangle(canvas, gif, image, colour)
        elif image.disposal == 3:
            canvas[:] = saved
    return shown


def fill_rectangle(canvas, gif, image, colour):
    stride = 3 * gif.width
    for y in range(image.height):
        span = clipped_span(gif, image, y)
        if span is None:
            break
        screen_y, x, count = span
        start = screen_y * stride + 3 * x
        canvas[start:start + 3 * count] = colour * count


def nearest_global(colour, table):
    """The global index of least squared distance to `colour`; the lowest
    index on a tie."""
    best, best_distance = 0, None
    for i in range(len(table) // 3):
        distance = sum((a - b) ** 2 for a, b in zip(colour, table[3 * i:3 * i + 3]))
        if best_distance is None or distance < best_distance:
            best, best_distance = i, distance
    return best


def local_to_global(local, table):
    """A 256-byte translation: each index the local table defines goes to
    its nearest global colour, every other index stays itself."""
    lookup = bytearray(range(256))
    for i in range(len(local) // 3):
        lookup[i] = nearest_global(local[3 * i:3 * i + 3], table)
    return bytes(lookup)


@dataclass
class PlayerView:
    """What the player shows, or why it shows nothing (`refused`). `undefined`
    counts, per picture, the pixels whose colour the player does not fix:
    never painted, left undecoded, or an index beyond the global table."""
    pictures: List[Tuple[bytes, int]]
    undefined: List[int]
    refused: Optional[str] = None


def player_view(gif):
    if not gif.colours:
        return PlayerView([], [], "no global colour table: the player plays nothing")
    count = len(gif.colours) // 3
    tables = channel_tables(gif.colours)
    canvas = bytearray(gif.width * gif.height)
    defined = bytearray(gif.width * gif.height)      # 1 where the player fixed the index
    pictures, undefined = [], []
    for image in gif.images:
        if image.width == 0 or image.height == 0:
            pictures.append((to_rgb(bytes(canvas), tables), image.delay))
            undefined.append(undefined_count(canvas, defined, count))
            continue
        rows = image_rows(image) if 2 <= image.min_code_size <= 9 else []
        lookup = local_to_global(image.colours, gif.colours) if image.colours else None
        for y in range(image.height):
            span = clipped_span(gif, image, y)
            if span is None:
                break
            screen_y, x, width = span
            start = screen_y * gif.width + x
            row = rows[y][:width] if y < len(rows) else b""
            if lookup is not None:
                row = row.translate(lookup)
            canvas[start:start + len(row)] = row
            defined[start:start + len(row)] = b"\1" * len(row)
            # Rows or row ends the decoder never reached keep whatever the
            # frame's uncleared memory held.
            rest = width - len(row)
            defined[start + len(row):start + width] = bytes(rest)
        pictures.append((bytes(to_rgb(bytes(canvas), tables)), image.delay))
        undefined.append(undefined_count(canvas, defined, count))
    return PlayerView(pictures, undefined)


def undefined_count(canvas, defined, colour_count):
    """Pixels not fixed by a decoded frame, or holding an index beyond the
    global table."""
    valid = bytes(1 if i < colour_count else 0 for i in range(256))
    fixed = int.from_bytes(bytes(canvas).translate(valid), "big") & int.from_bytes(defined, "big")
    return len(canvas) - fixed.bit_count()
