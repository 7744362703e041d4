"""Frame pixels in and out of GIF LZW data.

Decoding and encoding go through Pillow's C codec; a frame whose data is
cut short or broken is decoded again here, slowly, to learn how many pixels
it really holds.
"""

import io
import struct
from typing import Optional, Tuple

import numpy as np
from PIL import Image

# Frame sizes are limited by the player's memory before anything is decoded.
Image.MAX_IMAGE_PIXELS = None

from .gif_stream import Frame

_IDENTITY_TABLE = bytes(i for i in range(256) for _ in range(3))


def interlaced_rows(height: int) -> np.ndarray:
    """The image row of each stored line of an interlaced image."""
    order = [range(start, height, step) for start, step in ((0, 8), (4, 8), (2, 4), (1, 2))]
    return np.fromiter((row for rows in order for row in rows), np.int64, height)


def sub_blocks(data: bytes) -> bytes:
    return b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                    for i in range(0, len(data), 255)) + b"\0"


def decode(frame: Frame) -> Tuple[np.ndarray, int]:
    """The frame's indices as a (height, width) array, and how many pixels
    the data really holds in stream order (width * height when complete).
    Pixels past that count are 0 in the array."""
    total = frame.width * frame.height
    if total == 0 or not 2 <= frame.min_code_size <= 8:
        return np.zeros((frame.height, frame.width), np.uint8), 0
    pixels = _decode_with_pillow(frame)
    if pixels is not None:
        return pixels, total
    stream, count = decode_slowly(frame.data, frame.min_code_size, total)
    lines = np.zeros((frame.height, frame.width), np.uint8)
    lines.reshape(-1)[:count] = np.frombuffer(stream, np.uint8, count)
    if frame.interlaced:
        pixels = np.zeros_like(lines)
        pixels[interlaced_rows(frame.height)] = lines
        return pixels, count
    return lines, count


def _decode_with_pillow(frame: Frame) -> Optional[np.ndarray]:
    wrapper = b"".join((
        b"GIF89a", struct.pack("<HHBBB", frame.width, frame.height, 0xF7, 0, 0), _IDENTITY_TABLE,
        b",", struct.pack("<HHHHB", 0, 0, frame.width, frame.height, 0x40 if frame.interlaced else 0),
        bytes([frame.min_code_size]), sub_blocks(frame.data), b";"))
    try:
        with Image.open(io.BytesIO(wrapper)) as image:
            image.load()
            return np.asarray(image, dtype=np.uint8)
    except (OSError, ValueError, SyntaxError):
        return None


def decode_slowly(data: bytes, min_code_size: int, limit: int) -> Tuple[bytes, int]:
    """Decodes until the end code, the end of the data, a code that cannot
    be valid, or `limit` pixels; returns the pixels and their count."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    strings = []
    previous = None
    width = min_code_size + 1
    bits = 0
    count = 0

    def reset():
        nonlocal strings, width, previous
        strings = [bytes([i]) for i in range(clear)] + [b"", b""]
        width = min_code_size + 1
        previous = None

    reset()
    for byte in data:
        bits |= byte << count
        count += 8
        while count >= width:
            code = bits & ((1 << width) - 1)
            bits >>= width
            count -= width
            if code == clear:
                reset()
                continue
            if code == end:
                return bytes(out[:limit]), min(len(out), limit)
            if code < len(strings) and code != clear and code != end:
                entry = strings[code]
                if previous is not None:
                    strings.append(previous + entry[:1])
            elif code == len(strings) and previous is not None:
                entry = previous + previous[:1]
                strings.append(entry)
            else:
                return bytes(out[:limit]), min(len(out), limit)
            if len(strings) > 4096:
                strings.pop()
            out += entry
            if len(out) >= limit:
                return bytes(out[:limit]), limit
            previous = entry
            if len(strings) == (1 << width) and width < 12:
                width += 1
    return bytes(out[:limit]), min(len(out), limit)


def encode(pixels: np.ndarray, bits: int) -> bytes:
    """Image data for a (height, width) array of indices below 2**bits: the
    minimum code size byte, the data sub-blocks and their terminator."""
    bits = max(2, bits)
    image = Image.fromarray(np.ascontiguousarray(pixels, dtype=np.uint8), "P")
    return bytes([bits]) + image.tobytes("gif", "P", bits) + b"\0"
